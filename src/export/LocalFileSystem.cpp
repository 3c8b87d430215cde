#include "LocalFileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef Q_OS_LINUX
#include <sys/xattr.h>
#endif

#include <algorithm>
#include <vector>

namespace {

constexpr qint64 kChunk = 1 << 20;

} // namespace

#ifdef Q_OS_WIN

std::wstring LocalFileSystem::longPath(const QString& path) {
    const std::wstring native = QDir::toNativeSeparators(path).toStdWString();
    if (native.rfind(L"\\\\?\\", 0) == 0 || native.rfind(L"\\\\.\\", 0) == 0)
        return native;
    const DWORD size = GetFullPathNameW(native.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return native;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(native.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size)
        return native;
    full.resize(length);
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

namespace {

int writeAll(HANDLE file, const char* data, qint64 size) {
    while (size > 0) {
        const DWORD part = static_cast<DWORD>(std::min(size, kChunk));
        DWORD written = 0;
        if (!WriteFile(file, data, part, &written, nullptr))
            return static_cast<int>(GetLastError());
        if (written == 0)
            return ERROR_DISK_FULL;
        data += written;
        size -= written;
    }
    return 0;
}

// Never through a link that took the new file's name: that is refused, as elsewhere.
HANDLE openForAppending(const std::wstring& path) {
    const HANDLE file =
        CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION information{};
    if (file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &information) &&
        (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(file);
        SetLastError(ERROR_CANT_ACCESS_FILE);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

bool isRegularFile(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
}

} // namespace

int LocalFileSystem::createNew(const QString& path) {
    const HANDLE file = CreateFileW(longPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return static_cast<int>(GetLastError());
    CloseHandle(file);
    return 0;
}

int LocalFileSystem::append(const QString& path, const QByteArray& bytes) {
    const HANDLE file = openForAppending(longPath(path));
    if (file == INVALID_HANDLE_VALUE)
        return static_cast<int>(GetLastError());
    int error = writeAll(file, bytes.constData(), bytes.size());
    if (!CloseHandle(file) && error == 0)
        error = static_cast<int>(GetLastError());
    return error;
}

int LocalFileSystem::appendCopy(const QString& from, const QString& to) {
    const std::wstring source = longPath(from);
    if (!isRegularFile(GetFileAttributesW(source.c_str())))
        return 0;
    const HANDLE in = CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? 0 : static_cast<int>(error);
    }
    const HANDLE out = openForAppending(longPath(to));
    if (out == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        CloseHandle(in);
        return static_cast<int>(error);
    }
    std::vector<char> buffer(kChunk);
    int error = 0;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            error = static_cast<int>(GetLastError());
            break;
        }
        if (read == 0)
            break;
        error = writeAll(out, buffer.data(), read);
        if (error != 0)
            break;
    }
    CloseHandle(in);
    if (!CloseHandle(out) && error == 0)
        error = static_cast<int>(GetLastError());
    return error;
}

int LocalFileSystem::replace(const QString& from, const QString& to) {
    const std::wstring source = longPath(from);
    const std::wstring target = longPath(to);
    // A link that took the new file's name is not put in place, nor is the old file's security handed
    // on to what it points to.
    const DWORD made = GetFileAttributesW(source.c_str());
    if (made == INVALID_FILE_ATTRIBUTES)
        return static_cast<int>(GetLastError());
    if (made & FILE_ATTRIBUTE_REPARSE_POINT)
        return ERROR_CANT_ACCESS_FILE;
    const DWORD attributes = GetFileAttributesW(target.c_str());
    // A folder of that name: not a refusal to write, as Windows' "access denied" would have it.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ERROR_DIRECTORY;
    if (!isRegularFile(attributes)) {
        // Nothing to keep: a new file, or a link, which is replaced itself.
        return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)
                   ? 0
                   : static_cast<int>(GetLastError());
    }
    // ReplaceFileW keeps the old file's security descriptor; it refuses a read-only file, which
    // stays read-only afterwards.
    const bool readOnly = attributes & FILE_ATTRIBUTE_READONLY;
    if (readOnly)
        SetFileAttributesW(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (ReplaceFileW(target.c_str(), source.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                     nullptr)) {
        if (readOnly)
            SetFileAttributesW(target.c_str(), GetFileAttributesW(target.c_str()) | FILE_ATTRIBUTE_READONLY);
        return 0;
    }
    const DWORD error = GetLastError();
    if (readOnly)
        SetFileAttributesW(target.c_str(), attributes);
    return static_cast<int>(error);
}

int LocalFileSystem::remove(const QString& path) {
    const std::wstring native = longPath(path);
    if (DeleteFileW(native.c_str()))
        return 0;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return 0;
    const DWORD attributes = GetFileAttributesW(native.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ERROR_DIRECTORY;
    // A read-only file: made writable and deleted; never what a link points to.
    if (error == ERROR_ACCESS_DENIED && isRegularFile(attributes) && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesW(native.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        if (DeleteFileW(native.c_str()))
            return 0;
        error = GetLastError();
        SetFileAttributesW(native.c_str(), attributes);
    }
    return static_cast<int>(error);
}

bool LocalFileSystem::foldsCase(const QString& folder, const QString& probe) {
    // Only the probe itself was made there: its name in other letters can only be the same file.
    const QString other = probe.toUpper() != probe ? probe.toUpper() : probe.toLower();
    return GetFileAttributesW(longPath(QDir(folder).filePath(other)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

#else

namespace {

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

int writeAll(int fd, const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(std::min(size, kChunk)));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (written == 0)
            return ENOSPC;
        data += written;
        size -= written;
    }
    return 0;
}

int closeChecked(int fd, int error) {
    // A network file system may report a failed write only when the file is closed.
    if (::close(fd) != 0 && error == 0 && errno != EINTR)
        return errno;
    return error;
}

#ifdef Q_OS_LINUX
constexpr const char* kAccessList = "system.posix_acl_access";

// The file's access list, or nothing when it has none beyond its permissions.
QByteArray accessList(const QByteArray& path) {
    const ssize_t size = ::lgetxattr(path.constData(), kAccessList, nullptr, 0);
    if (size <= 0)
        return QByteArray();
    QByteArray list(size, '\0');
    const ssize_t read = ::lgetxattr(path.constData(), kAccessList, list.data(), list.size());
    return read > 0 ? list.left(read) : QByteArray();
}
#endif

mode_t umaskMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

int LocalFileSystem::createNew(const QString& path) {
    const int fd = ::open(native(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    return closeChecked(fd, 0);
}

int LocalFileSystem::append(const QString& path, const QByteArray& bytes) {
    const int fd = ::open(native(path).constData(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno;
    return closeChecked(fd, writeAll(fd, bytes.constData(), bytes.size()));
}

int LocalFileSystem::appendCopy(const QString& from, const QString& to) {
    // Not blocking on a pipe that took the transcript's name; only a regular file is read.
    const int in = ::open(native(from).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (in < 0)
        return errno == ENOENT || errno == ELOOP ? 0 : errno;
    struct stat status{};
    if (::fstat(in, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(in);
        return 0;
    }
    const int out = ::open(native(to).constData(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    std::vector<char> buffer(kChunk);
    int error = 0;
    for (;;) {
        const ssize_t read = ::read(in, buffer.data(), buffer.size());
        if (read < 0 && errno == EINTR)
            continue;
        if (read < 0) {
            error = errno;
            break;
        }
        if (read == 0)
            break;
        error = writeAll(out, buffer.data(), read);
        if (error != 0)
            break;
    }
    ::close(in);
    return closeChecked(out, error);
}

int LocalFileSystem::replace(const QString& from, const QString& to) {
    const QByteArray source = native(from);
    const QByteArray target = native(to);
    // Owner and permissions go to the new file through a descriptor of its own: a link that took its
    // name meanwhile (someone else may write in the folder) would pass them on to what it points to.
    const int fd = ::open(source.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    struct stat made{};
    const bool known = ::fstat(fd, &made) == 0;
    if (!known || !S_ISREG(made.st_mode)) {
        const int error = known ? EINVAL : errno;
        ::close(fd);
        return error;
    }
    struct stat old{};
    mode_t mode = umaskMode();
    QByteArray list;
    if (::lstat(target.constData(), &old) == 0 && S_ISREG(old.st_mode)) {
        mode = old.st_mode & 0777;
#ifdef Q_OS_LINUX
        list = accessList(target);
#endif
        if (old.st_uid != made.st_uid || old.st_gid != made.st_gid) {
            // Only root may give the file away; the group is kept where the user belongs to it, and
            // where it cannot be, the old group's rights go to nobody.
            if (::fchown(fd, old.st_uid, old.st_gid) != 0 &&
                ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0)
                mode &= ~static_cast<mode_t>(070);
        }
    }
    if (::fchmod(fd, mode) != 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
#ifdef Q_OS_LINUX
    // With an access list, the group bits are its mask, not what the file's group may do: the list
    // goes with them, or where it cannot, the group bits go.
    if (!list.isEmpty() && ::fsetxattr(fd, kAccessList, list.constData(), list.size(), 0) != 0 &&
        ::fchmod(fd, mode & ~static_cast<mode_t>(070)) != 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
#endif
    ::close(fd);
    if (::rename(source.constData(), target.constData()) != 0)
        return errno;
    return 0;
}

int LocalFileSystem::remove(const QString& path) {
    if (::unlink(native(path).constData()) == 0 || errno == ENOENT)
        return 0;
    const int error = errno;
    // A folder of that name: not a refusal to write, whatever the system calls it.
    struct stat status{};
    if (::lstat(native(path).constData(), &status) == 0 && S_ISDIR(status.st_mode))
        return EISDIR;
    return error;
}

bool LocalFileSystem::foldsCase(const QString& folder, const QString& probe) {
    const QString other = probe.toUpper() != probe ? probe.toUpper() : probe.toLower();
    // The same entry, not a link of either kind that someone put there under the other name.
    struct stat named{};
    struct stat folded{};
    return ::lstat(native(QDir(folder).filePath(probe)).constData(), &named) == 0 &&
           ::lstat(native(QDir(folder).filePath(other)).constData(), &folded) == 0 &&
           S_ISREG(named.st_mode) && named.st_nlink == 1 && named.st_dev == folded.st_dev &&
           named.st_ino == folded.st_ino;
}

#endif
