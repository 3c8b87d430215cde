#include "LocalFileSystem.h"

#include "FileOwner.h"
#include "OpenedFolder.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef Q_OS_LINUX
#include <sys/xattr.h>
#endif

namespace {

QByteArray native(const QString& name) {
    return QFile::encodeName(name);
}

int fdOf(qintptr file) {
    return static_cast<int>(file);
}

// Read where the system tells it (Linux); elsewhere set and set back, once, before any thread runs.
mode_t currentUmask() {
#ifdef Q_OS_LINUX
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            bool ok = false;
            const uint mask = line.startsWith("Umask:") ? line.mid(6).trimmed().toUInt(&ok, 8) : 0;
            if (ok)
                return static_cast<mode_t>(mask);
        }
    }
#endif
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

bool isFile(const struct stat& status, const FileId& id) {
    return static_cast<quint64>(status.st_dev) == id.device && static_cast<quint64>(status.st_ino) == id.file;
}

// The staged file as this run made it: the same file, regular, this user's, with no other name.
bool isStagedFile(const struct stat& status, const FileId& id) {
    return S_ISREG(status.st_mode) && isFile(status, id) && status.st_nlink == 1 &&
           static_cast<quint64>(status.st_uid) == id.owner;
}

// The staged file cannot be opened: when its name now leads to another file (one that someone who may
// write in the folder swapped in, which this user may not open; it may even have the number the staged
// file had), that is the reason, not a refusal to write into the folder. A refusal while the name can
// be looked up is one too: the user may always open the file they made for themselves, and someone
// exchanging names back and forth may have put the staged file back by the time it is looked at.
int openFailure(const OpenedFolder& folder, const QByteArray& name, const FileId& id, int error) {
    if (error == ELOOP || error == ENXIO)
        return FileSystem::kNotTheStagedFile;
    struct stat named{};
    if (::fstatat(folder.fd(), name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        (!isStagedFile(named, id) || error == EACCES || error == EPERM))
        return FileSystem::kNotTheStagedFile;
    return error;
}

// A staged file as the program makes one, whatever run made it: regular, the user's, with no other
// name, readable and writable by the user alone.
bool isOwnLeftover(const struct stat& status) {
    return S_ISREG(status.st_mode) && status.st_uid == FileOwner::currentUser() && status.st_nlink == 1 &&
           (status.st_mode & 07777) == 0600;
}

// On the disk itself: on macOS fsync leaves the data in the drive's cache, and only F_FULLFSYNC
// empties it; a file system that takes no such flush (a network share) gets the plain one.
int syncToDisk(int fd) {
#ifdef F_FULLFSYNC
    if (::fcntl(fd, F_FULLFSYNC) == 0)
        return 0;
#endif
    return ::fsync(fd) == 0 ? 0 : errno;
}

#ifdef Q_OS_LINUX
constexpr const char* kAccessList = "system.posix_acl_access";

// The access list of a file in the folder, or nothing when it has none beyond its permissions. Read
// through the folder's descriptor, never by a path that may lead elsewhere now.
QByteArray accessList(const OpenedFolder& folder, const QString& name) {
    const QByteArray path = "/proc/self/fd/" + QByteArray::number(folder.fd()) + '/' + native(name);
    const ssize_t size = ::lgetxattr(path.constData(), kAccessList, nullptr, 0);
    if (size <= 0)
        return QByteArray();
    QByteArray list(size, '\0');
    const ssize_t read = ::lgetxattr(path.constData(), kAccessList, list.data(), list.size());
    return read > 0 ? list.left(read) : QByteArray();
}
#endif

} // namespace

LocalFileSystem::LocalFileSystem()
    : m_creationMode(static_cast<int>(0666 & ~currentUmask())) {}

int LocalFileSystem::createStaged(const OpenedFolder& folder, const QString& name, FileId* id) {
    const int fd = ::openat(folder.fd(), native(name).constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    struct stat status{};
    if (::fstat(fd, &status) != 0)
        return close(fd, errno);
    // Exactly the user's, whatever the umask took away: a run that is killed leaves it so, and the
    // next one knows it by that.
    if ((status.st_mode & 07777) != 0600)
        ::fchmod(fd, 0600);
    *id = FileId{static_cast<quint64>(status.st_dev), static_cast<quint64>(status.st_ino),
                 static_cast<quint64>(status.st_uid)};
    return close(fd, 0);
}

int LocalFileSystem::openStaged(const OpenedFolder& folder, const QString& name, const FileId& id,
                                Handle* file) {
    const QByteArray path = native(name);
    const int fd =
        ::openat(folder.fd(), path.constData(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return openFailure(folder, path, id, errno);
    struct stat status{};
    if (::fstat(fd, &status) != 0 || !isStagedFile(status, id)) {
        ::close(fd);
        return kNotTheStagedFile;
    }
    *file = fd;
    return 0;
}

int LocalFileSystem::openOld(const OpenedFolder& folder, const QString& name, Handle* file) {
    // Not blocking on a pipe that took the transcript's name; only a regular file is read.
    const int fd =
        ::openat(folder.fd(), native(name).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ELOOP ? 0 : errno;
    struct stat status{};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return 0;
    }
    *file = fd;
    return 0;
}

int LocalFileSystem::read(Handle file, char* data, qint64 size, qint64* done) {
    for (;;) {
        const ssize_t read = ::read(fdOf(file), data, static_cast<size_t>(size));
        if (read >= 0) {
            *done = read;
            return 0;
        }
        if (errno != EINTR)
            return errno;
    }
}

int LocalFileSystem::writeAll(Handle file, const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t written =
            ::write(fdOf(file), data, static_cast<size_t>(std::min<qint64>(size, 1 << 20)));
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

int LocalFileSystem::flushFile(Handle file) {
    return syncToDisk(fdOf(file));
}

int LocalFileSystem::close(Handle file, int error) {
    if (::close(fdOf(file)) != 0 && error == 0 && errno != EINTR)
        return errno;
    return error;
}

int LocalFileSystem::replace(const OpenedFolder& folder, const QString& from, const FileId& id,
                             const QString& to) {
    // Owner and permissions go to the staged file through a descriptor of its own, once it is known
    // to be the file this run made: another file that took its name would be given them otherwise.
    Handle file = kNoHandle;
    struct stat made{};
    {
        const QByteArray path = native(from);
        const int fd =
            ::openat(folder.fd(), path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return openFailure(folder, path, id, errno);
        if (::fstat(fd, &made) != 0 || !isStagedFile(made, id)) {
            ::close(fd);
            return kNotTheStagedFile;
        }
        file = fd;
    }
    const int fd = fdOf(file);
    struct stat old{};
    mode_t mode = static_cast<mode_t>(m_creationMode);
    QByteArray list;
    if (::fstatat(folder.fd(), native(to).constData(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
        // A folder of that name: not a refusal to write, whatever the system would call it.
        if (S_ISDIR(old.st_mode))
            return close(file, EISDIR);
        // Only the user's own file passes on what it allowed: one another user put there (in a folder
        // others may write in) would hand its readers the new transcript.
        if (S_ISREG(old.st_mode) && old.st_uid == made.st_uid) {
            mode = old.st_mode & 0777;
#ifdef Q_OS_LINUX
            list = accessList(folder, to);
#endif
            // The group is kept where the user belongs to it; where it cannot be, the old group's
            // rights go to nobody.
            if (old.st_gid != made.st_gid && ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0)
                mode &= ~static_cast<mode_t>(070);
        }
    }
    if (::fchmod(fd, mode) != 0)
        return close(file, errno);
#ifdef Q_OS_LINUX
    // With an access list, the group bits are its mask, not what the file's group may do: the list
    // goes with them, or where it cannot, the group bits go.
    if (!list.isEmpty() && ::fsetxattr(fd, kAccessList, list.constData(), list.size(), 0) != 0 &&
        ::fchmod(fd, mode & ~static_cast<mode_t>(070)) != 0)
        return close(file, errno);
#endif
    close(file, 0);
    return ::renameat(folder.fd(), native(from).constData(), folder.fd(), native(to).constData()) == 0
               ? 0
               : errno;
}

int LocalFileSystem::remove(const OpenedFolder& folder, const QString& name) {
    if (::unlinkat(folder.fd(), native(name).constData(), 0) == 0 || errno == ENOENT)
        return 0;
    const int error = errno;
    struct stat status{};
    if (::fstatat(folder.fd(), native(name).constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(status.st_mode))
        return EISDIR;
    return error;
}

int LocalFileSystem::removeLeftover(const OpenedFolder& folder, const QString& name) {
    const QByteArray path = native(name);
    struct stat status{};
    if (::fstatat(folder.fd(), path.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? 0 : errno;
    if (!isOwnLeftover(status))
        return kNotTheStagedFile;
    return ::unlinkat(folder.fd(), path.constData(), 0) == 0 || errno == ENOENT ? 0 : errno;
}

bool LocalFileSystem::heldOpen(const OpenedFolder&, const QString&) {
    return false; // an open file never keeps its name from being moved over or removed here
}

int LocalFileSystem::flushFolder(const OpenedFolder& folder) {
    return syncToDisk(folder.fd());
}

bool LocalFileSystem::foldsCase(const OpenedFolder& folder, const QString& probe) {
    const QString other = probe.toUpper() != probe ? probe.toUpper() : probe.toLower();
    // The same entry, not a link of either kind that someone put there under the other name.
    struct stat named{};
    struct stat folded{};
    return ::fstatat(folder.fd(), native(probe).constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           ::fstatat(folder.fd(), native(other).constData(), &folded, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(named.st_mode) && named.st_nlink == 1 && named.st_dev == folded.st_dev &&
           named.st_ino == folded.st_ino;
}
