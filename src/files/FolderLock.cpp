#include "FolderLock.h"

#include "FileError.h"
#include "OpenedFolder.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString folderOf(const QString& folderText) {
    return QFileInfo(folderText + QStringLiteral("x")).absolutePath();
}

} // namespace

FolderLock::FolderLock(const QString& folderText)
    : FolderLock(nullptr, folderOf(folderText), 0) {
    std::unique_ptr<OpenedFolder> opened = OpenedFolder::open(folderOf(folderText), true, &m_openError);
    m_opened = std::move(opened);
}

FolderLock::FolderLock(std::shared_ptr<const OpenedFolder> folder, const QString& path, int openError)
    : m_opened(std::move(folder))
    , m_folder(QDir::toNativeSeparators(path))
    , m_path(QDir::toNativeSeparators(QDir(path).filePath(fileName())))
    , m_openError(openError) {}

QString FolderLock::fileName() {
    return QStringLiteral(".parlorix.lock");
}

bool FolderLock::cannotCreate(int error) {
    const FileError kind = fileErrorKind(error);
    return kind == FileError::NotFound || kind == FileError::Stale || kind == FileError::DiskFull ||
           kind == FileError::Refused;
}

FolderLock::State FolderLock::fail(int error, const QString& reason, bool exists) {
    m_error = error;
    m_reason = reason.isEmpty() ? fileErrorText(error) : reason;
    return m_state = !exists && cannotCreate(error) ? State::Unwritable : State::Failed;
}

QString FolderLock::busyMessage() const {
    return QStringLiteral(
               "Another export is writing into the folder '%1'. Wait until it has finished, then try "
               "again.")
        .arg(m_folder);
}

QString FolderLock::failureMessage() const {
    if (!m_otherOwner.isEmpty())
        return QStringLiteral(
                   "The folder '%1' cannot be locked against other exports: another user's file is in "
                   "the way, '%2', which belongs to %3 and may not be opened by you. Ask them or an "
                   "administrator to remove it, or choose another folder.")
            .arg(m_folder, m_path, m_otherOwner);
    return QStringLiteral("The folder '%1' cannot be locked against other exports: its lock file '%2' cannot "
                          "be used (%3).")
        .arg(m_folder, m_path, m_reason);
}
