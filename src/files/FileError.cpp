#include "FileError.h"

#include "FileSystem.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#endif

#ifdef Q_OS_WIN
namespace {

// Not in every SDK's headers.
constexpr int kDiskQuotaExceeded = 1295;
constexpr int kUnableToRemoveReplaced = 1175;

} // namespace
#endif

FileError fileErrorKind(int code) {
    switch (code) {
    case 0:
        return FileError::None;
    case FileSystem::kHeldOpen:
        return FileError::InUse;
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
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case kUnableToRemoveReplaced:
        return FileError::InUse;
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
    case EBUSY:
    case ETXTBSY:
        return FileError::InUse;
    case ESTALE:
        return FileError::Stale;
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
    case FileError::InUse:
        return QStringLiteral("another program is using the file");
    case FileError::Stale:
        return QStringLiteral("its folder is no longer there");
    case FileError::Other:
        break;
    }
    return QStringLiteral("unknown error");
}

QString fileErrorText(int code) {
    // Where one kind has several causes, the exact one.
    switch (code) {
    case FileSystem::kNotTheStagedFile:
        return QStringLiteral("its new file was replaced by another while it was written");
    case FileSystem::kIsLink:
        return QStringLiteral("it is a link");
    case FileSystem::kNotAFolder:
        return QStringLiteral("it is not a folder");
    case FileSystem::kNotAFile:
        return QStringLiteral("it is a pipe, a device or a socket, not a file");
    case FileSystem::kOtherNames:
        return QStringLiteral("it is a file with another name too (a hard link)");
    case FileSystem::kIsFolder:
        return QStringLiteral("it is a folder");
    case FileSystem::kExchangedAfterMove:
        return QStringLiteral("its new file was exchanged for another file as it was moved into place, so "
                              "what that name holds now was not written by this export");
#ifdef Q_OS_WIN
    case kDiskQuotaExceeded:
        return QStringLiteral("the disk quota is used up");
    case ERROR_WRITE_PROTECT:
        return QStringLiteral("the disk is write-protected");
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
