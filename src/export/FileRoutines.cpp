#include "FileRoutines.h"

#include "NarrowText.h"

#include "base/Failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

void WriteTextToFile(const QString& text, const QString& path, int writeNumber) {
    QFile file(path);
    const QIODevice::OpenMode mode = writeNumber <= 1 ? QIODevice::WriteOnly | QIODevice::Truncate
                                                      : QIODevice::WriteOnly | QIODevice::Append;
    if (path.isEmpty() || !file.open(mode))
        throw Failure(QStringLiteral("Cannot write '%1': %2").arg(path, file.errorString()));
    const QByteArray bytes = NarrowText::encode(text);
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw Failure(QStringLiteral("Cannot write '%1': %2").arg(path, file.errorString()));
    file.close();
    if (file.error() != QFileDevice::NoError)
        throw Failure(QStringLiteral("Cannot write '%1': %2").arg(path, file.errorString()));
}

bool FolderExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

void DeleteFileIfPresent(const QString& path) {
    if (path.isEmpty() || QFile::remove(path))
        return;
#ifdef Q_OS_WIN
    // Windows keeps a read-only file from being deleted: make it writable, then try once more. Only
    // the file itself, never what a link points to. Elsewhere a file's own mode does not matter.
    const QFileInfo info(path);
    if (!info.isFile() || info.isSymLink())
        return;
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::WriteOwner | QFileDevice::WriteUser);
    QFile::remove(path);
#endif
}

QString transcriptPath(const QString& folderText, const QString& handle) {
    if (handle == QLatin1String(".") || handle == QLatin1String("..") || handle.contains(QLatin1Char('/')) ||
        handle.contains(QDir::separator()) || handle.contains(QChar(0)))
        throw Failure(QStringLiteral("'%1' cannot name a transcript: it would not stay in the output folder")
                          .arg(handle));
    return folderText + handle + QStringLiteral(".txt");
}
