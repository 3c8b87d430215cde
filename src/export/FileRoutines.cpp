#include "FileRoutines.h"

#include "NarrowText.h"

#include "base/Failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#endif

#ifdef Q_OS_WIN
namespace {

// Not in every SDK's headers.
constexpr int kDiskQuotaExceeded = 1295;

} // namespace
#endif

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

namespace {

#ifdef Q_OS_WIN
constexpr bool kWindowsNames = true;
#else
constexpr bool kWindowsNames = false;
#endif

QString escaped(QChar c) {
    return QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
}

bool isDeviceName(const QString& name) {
    // "CON", "con.txt" and "COM1.log" all name the device.
    const QString stem = name.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    static const QStringList devices{QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"),
                                     QStringLiteral("NUL")};
    if (devices.contains(stem))
        return true;
    // "COM¹", "COM²", "COM³" and the same for LPT name the ports too.
    return stem.size() == 4 &&
           (stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT"))) &&
           ((stem.at(3) >= QLatin1Char('0') && stem.at(3) <= QLatin1Char('9')) ||
            QStringView(u"\u00B9\u00B2\u00B3").contains(stem.at(3)));
}

} // namespace

QString transcriptName(const QString& handle, bool windowsNames) {
    if (!windowsNames)
        return handle;
    QString name;
    name.reserve(handle.size());
    qsizetype keep = handle.size();
    while (keep > 0 && (handle.at(keep - 1) == QLatin1Char('.') || handle.at(keep - 1) == QLatin1Char(' ')))
        --keep;
    for (qsizetype i = 0; i < handle.size(); ++i) {
        const QChar c = handle.at(i);
        const bool inTheWay = c.unicode() < 0x20 || QStringView(u"<>:\"/\\|?*%").contains(c) || i >= keep;
        name += inTheWay ? escaped(c) : QString(c);
    }
    if (isDeviceName(name))
        name.replace(0, 1, escaped(name.at(0)));
    return name;
}

QString transcriptPath(const QString& folderText, const QString& handle) {
    const QString name = transcriptName(handle, kWindowsNames);
    if (name == QLatin1String(".") || name == QLatin1String("..") || name.contains(QLatin1Char('/')) ||
        name.contains(QDir::separator()) || name.contains(QChar(0)))
        throw Failure(QStringLiteral("'%1' cannot name a transcript: it would not stay in the output folder")
                          .arg(handle));
    return folderText + name + QStringLiteral(".txt");
}

FileError fileErrorKind(int code) {
    switch (code) {
    case 0:
        return FileError::None;
#ifdef Q_OS_WIN
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return FileError::NotFound;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return FileError::Exists;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kDiskQuotaExceeded:
        return FileError::DiskFull;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return FileError::Refused;
    case ERROR_FILENAME_EXCED_RANGE:
        return FileError::NameTooLong;
#else
    case ENOENT:
    case ENOTDIR:
        return FileError::NotFound;
    case EEXIST:
        return FileError::Exists;
    case ENOSPC:
    case EDQUOT:
        return FileError::DiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
        return FileError::Refused;
    case ENAMETOOLONG:
        return FileError::NameTooLong;
#endif
    default:
        return FileError::Other;
    }
}

QString fileErrorText(FileError kind) {
    switch (kind) {
    case FileError::None:
        return QStringLiteral("no error");
    case FileError::NotFound:
        return QStringLiteral("the file or its folder does not exist");
    case FileError::Exists:
        return QStringLiteral("a file of that name is already there");
    case FileError::DiskFull:
        return QStringLiteral("the disk is full");
    case FileError::Refused:
        return QStringLiteral("access is denied");
    case FileError::NameTooLong:
        return QStringLiteral("the name is too long");
    case FileError::Other:
        break;
    }
    return QStringLiteral("unknown error");
}

QString fileErrorText(int code) {
    // Where one kind has several causes, the exact one.
    switch (code) {
#ifdef Q_OS_WIN
    case kDiskQuotaExceeded:
        return QStringLiteral("the disk quota is used up");
    case ERROR_WRITE_PROTECT:
        return QStringLiteral("the disk is write-protected");
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return QStringLiteral("another program is using the file");
    case ERROR_DIRECTORY:
        return QStringLiteral("it is a folder");
#else
    case EDQUOT:
        return QStringLiteral("the disk quota is used up");
    case EROFS:
        return QStringLiteral("the disk is read-only");
    case EPERM:
        return QStringLiteral("the operation is not permitted");
    case EFBIG:
        return QStringLiteral("the file is too large");
    case EISDIR:
        return QStringLiteral("it is a folder");
    case EIO:
        return QStringLiteral("the disk reported an error");
#endif
    default:
        break;
    }
    const FileError kind = fileErrorKind(code);
    if (kind != FileError::Other)
        return fileErrorText(kind);
    // The system's own words, never an empty reason.
#ifdef Q_OS_WIN
    // Asked by number: Qt's own lookup takes small numbers for the C library's.
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    const QString text =
        length > 0 ? QString::fromWCharArray(buffer, static_cast<qsizetype>(length)).trimmed() : QString();
    LocalFree(buffer);
#else
    const QString text = qt_error_string(code);
#endif
    return text.isEmpty() ? QStringLiteral("error %1").arg(code) : text;
}
