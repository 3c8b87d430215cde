#include "FolderCreation.h"

#include "FileError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include "OpenedFolder.h"

#include <windows.h>
#else
#include <cerrno>
#include <sys/stat.h>
#endif

namespace FolderCreation {

namespace {

QString native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// Why a link on the way cannot be followed: it leads back to itself, or to nothing.
QString brokenLink(const QString& path, bool loop) {
    if (loop)
        return QStringLiteral("'%1' is a link that leads back to itself").arg(native(path));
    return QStringLiteral("'%1' is a link to '%2', which does not exist")
        .arg(native(path), native(QFileInfo(path).symLinkTarget()));
}

// Makes one folder whose parent is there; empty when it is there afterwards.
QString makeOne(const QString& path) {
#ifdef Q_OS_WIN
    if (CreateDirectoryW(OpenedFolder::longForm(path).c_str(), nullptr))
        return QString();
    const int code = static_cast<int>(GetLastError());
    if (QFileInfo(path).isDir())
        return QString();
    if (QFileInfo(path).isSymLink())
        return brokenLink(path, code == ERROR_CANT_RESOLVE_FILENAME);
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS)
        return QStringLiteral("'%1' is not a folder").arg(native(path));
    return fileErrorText(code);
#else
    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0777) == 0)
        return QString();
    const int code = errno;
    struct stat info{};
    if (::stat(name.constData(), &info) == 0)
        return S_ISDIR(info.st_mode) ? QString() : QStringLiteral("'%1' is not a folder").arg(native(path));
    // There, but not to be followed: a link to nothing, or a loop of links.
    if (code == EEXIST || errno == ELOOP)
        return brokenLink(path, errno == ELOOP);
    return fileErrorText(code);
#endif
}

} // namespace

QString make(const QString& path, Parents parents) {
    // From the top down, so that the first folder that cannot be made is the one the reason is about.
    QStringList missing;
    QString at = QDir::cleanPath(QDir(path).absolutePath());
    if (parents == Parents::Keep)
        return makeOne(at);
    while (!QFileInfo(at).isDir()) {
        missing.prepend(at);
        const QString parent = QFileInfo(at).path();
        if (parent == at)
            break;
        at = parent;
    }
    for (const QString& folder : std::as_const(missing)) {
        const QString why = makeOne(folder);
        if (!why.isEmpty())
            return why;
    }
    return QString();
}

} // namespace FolderCreation
