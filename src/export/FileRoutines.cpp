#include "FileRoutines.h"

#include "NarrowText.h"

#include "base/Failure.h"
#include "base/MainView.h"

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

void DeleteFileIfPresent(const QString& path, MainView& view) {
    view.processEvents();
    if (path.isEmpty() || QFile::remove(path) || !QFileInfo(path).isFile())
        return;
    // A read-only file: make it writable, then try once more.
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::WriteOwner | QFileDevice::WriteUser);
    QFile::remove(path);
}

QString transcriptPath(const QString& folderText, const QString& handle) {
    if (handle == QLatin1String(".") || handle == QLatin1String("..") || handle.contains(QLatin1Char('/')) ||
        handle.contains(QDir::separator()) || handle.contains(QChar(0)))
        throw Failure(QStringLiteral("'%1' cannot name a transcript: it would not stay in the output folder")
                          .arg(handle));
    return folderText + handle + QStringLiteral(".txt");
}
