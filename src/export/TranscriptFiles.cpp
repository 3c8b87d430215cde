#include "TranscriptFiles.h"

#include "FileRoutines.h"

#include "base/Failure.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

#include <filesystem>
#include <system_error>

namespace {

std::filesystem::path nativePath(const QString& path) {
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

// What a file created in place would get: read and write as the user's umask allows (a temporary
// file starts readable by its owner only).
QFileDevice::Permissions newFilePermissions() {
#ifdef Q_OS_WIN
    return QFileDevice::ReadOwner | QFileDevice::WriteOwner;
#else
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const mode_t mode = 0666 & ~mask;
    QFileDevice::Permissions permissions;
    const std::pair<mode_t, QFileDevice::Permission> bits[] = {
        {S_IRUSR, QFileDevice::ReadOwner}, {S_IWUSR, QFileDevice::WriteOwner},
        {S_IRGRP, QFileDevice::ReadGroup}, {S_IWGRP, QFileDevice::WriteGroup},
        {S_IROTH, QFileDevice::ReadOther}, {S_IWOTH, QFileDevice::WriteOther}};
    for (const auto& [bit, permission] : bits) {
        if (mode & bit)
            permissions |= permission;
    }
    return permissions;
#endif
}

// A new, empty file in the transcript's folder; only a file in the same folder can be moved over
// the old one in one step.
QString createNewFile(const QString& path) {
    const QFileInfo transcript(path);
    QTemporaryFile file(transcript.absolutePath() + QStringLiteral("/.") + transcript.fileName() +
                        QStringLiteral(".XXXXXX.part"));
    file.setAutoRemove(false);
    if (!file.open())
        throw Failure(QStringLiteral("Cannot write '%1': %2").arg(path, file.errorString()));
    file.setPermissions(newFilePermissions());
    return file.fileName();
}

} // namespace

TranscriptFiles::~TranscriptFiles() {
    for (auto& [path, pending] : m_pending)
        discard(pending);
}

void TranscriptFiles::discard(Pending& pending) {
    if (!pending.newFile.isEmpty())
        QFile::remove(pending.newFile);
    pending.newFile.clear();
}

void TranscriptFiles::restart(const QString& path) {
    auto found = m_pending.find(path);
    if (found != m_pending.end()) {
        discard(found->second);
        found->second.spoilt = false;
    } else {
        m_pending.emplace(path, Pending());
    }
}

void TranscriptFiles::append(const QString& path, const QString& text) {
    if (!m_pending.count(path))
        restart(path);
    Pending& pending = m_pending.at(path);
    try {
        if (pending.newFile.isEmpty())
            pending.newFile = createNewFile(path);
        WriteTextToFile(text, pending.newFile, 2);
    } catch (...) {
        pending.spoilt = true;
        throw;
    }
}

void TranscriptFiles::spoil(const QString& path) {
    const auto found = m_pending.find(path);
    if (found != m_pending.end())
        found->second.spoilt = true;
}

void TranscriptFiles::spoilAll() {
    for (auto& [path, pending] : m_pending)
        pending.spoilt = true;
}

QStringList TranscriptFiles::pending() const {
    QStringList paths;
    for (const auto& [path, pending] : m_pending)
        paths.append(path);
    return paths;
}

void TranscriptFiles::commit(const QString& path) {
    const auto found = m_pending.find(path);
    if (found == m_pending.end())
        return;
    Pending pending = found->second;
    m_pending.erase(found);
    if (pending.spoilt) {
        discard(pending);
        m_kept.append(path);
        return;
    }
    if (pending.newFile.isEmpty()) {
        // Nothing new for this contact: the old transcript goes, as a fresh run would leave none.
        DeleteFileIfPresent(path);
        if (QFileInfo(path).exists() || QFileInfo(path).isSymLink())
            throw Failure(QStringLiteral("Cannot delete the old transcript '%1'").arg(path));
        return;
    }
#ifdef Q_OS_WIN
    // Windows refuses to replace a read-only file.
    if (QFileInfo(path).isFile() && !QFileInfo(path).isSymLink())
        QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::WriteOwner);
#endif
    std::error_code error;
    std::filesystem::rename(nativePath(pending.newFile), nativePath(path), error);
    if (error) {
        discard(pending);
        throw Failure(
            QStringLiteral("Cannot replace '%1': %2").arg(path, QString::fromStdString(error.message())));
    }
}

QString TranscriptFiles::keptMessage() const {
    return QStringLiteral(
               "These transcripts were left as they were, because a chat of theirs could not be read "
               "or written:\r\n") +
           m_kept.join(QStringLiteral("\r\n"));
}
