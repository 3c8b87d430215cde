#include "FolderLock.h"

#include "FileOwner.h"
#include "OpenedFolder.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kName = ".parlorix.lock";

// The program's own lock file, as a run makes it and a killed run leaves it: empty, this user's, with
// no other name.
bool isOwnLockFile(const struct stat& status) {
    return S_ISREG(status.st_mode) && status.st_size == 0 && status.st_uid == FileOwner::currentUser() &&
           status.st_nlink == 1;
}

bool sameFile(const struct stat& one, const struct stat& other) {
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

// Removes the lock file open as `fd` while the name is still it (one removed or replaced meanwhile
// may be another run's), and only the program's own.
void removeOwn(int folder, int fd) {
    struct stat named{};
    struct stat held{};
    if (::fstatat(folder, kName, &named, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(fd, &held) == 0 &&
        sameFile(named, held) && isOwnLockFile(held))
        ::unlinkat(folder, kName, 0);
}

} // namespace

FolderLock::~FolderLock() {
    if (m_fd < 0)
        return;
    // Removed while still held, so that no other run takes a file that is no longer there.
    removeOwn(m_opened->fd(), m_fd);
    ::close(m_fd);
}

FolderLock::State FolderLock::lock() {
    if (m_state == State::Held)
        return m_state;
    if (!m_opened)
        return fail(m_openError, QString(), false);
    const int folder = m_opened->fd();
    const auto exists = [&] {
        struct stat status{};
        return ::fstatat(folder, kName, &status, AT_SYMLINK_NOFOLLOW) == 0;
    };
    // A few rounds at most: each one that fails found a lock file its holder removed meanwhile.
    for (int round = 0; round < 8; ++round) {
        // Never through a link; for writing where allowed (a network file system locks only so), else
        // for reading: another user's lock file in a shared folder.
        const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
        int fd = ::openat(folder, kName, O_RDWR | O_CREAT | O_EXCL | flags, 0644);
        const bool made = fd >= 0;
        if (fd < 0 && errno == EEXIST) {
            fd = ::openat(folder, kName, O_RDWR | flags);
            if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS))
                fd = ::openat(folder, kName, O_RDONLY | flags);
            if (fd < 0 && errno == ENOENT)
                continue;
        }
        if (fd < 0) {
            const int error = errno;
            // Planted by another user, with no rights for anyone else: in the way of every export here.
            struct stat status{};
            if ((error == EACCES || error == EPERM) &&
                ::fstatat(folder, kName, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                status.st_uid != FileOwner::currentUser())
                m_otherOwner = FileOwner::nameOf(status.st_uid);
            return fail(error, error == ELOOP ? QStringLiteral("it is a link") : QString(), exists());
        }
        struct stat opened{};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            return fail(EINVAL, QStringLiteral("it is not a file"), true);
        }
        // Every user who may write in the folder must be able to open the file a killed run of this one
        // leaves there, whatever the umask made of its permissions; never a file elsewhere that a hard
        // link brought here.
        if (isOwnLockFile(opened) && (opened.st_mode & 0444) != 0444)
            ::fchmod(fd, (opened.st_mode & 07777) | 0444);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if (error == ENOLCK || error == EOPNOTSUPP || error == ENOSYS) {
                // A file system that keeps no locks (a network share without its lock service): the
                // file alone marks the run, as no lock at all would block every export there for good.
                m_fd = fd;
                m_exclusive = false;
                return m_state = State::Held;
            }
            if (error != EWOULDBLOCK && error != EINTR && made)
                removeOwn(folder, fd); // a lock file made for nothing is not left behind
            ::close(fd);
            if (error == EWOULDBLOCK)
                return m_state = State::Busy;
            if (error == EINTR)
                continue;
            return fail(error, QString(), true);
        }
        struct stat named{};
        if (::fstatat(folder, kName, &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(named, opened)) {
            m_fd = fd;
            m_error = 0;
            return m_state = State::Held;
        }
        ::close(fd);
    }
    return fail(EAGAIN, QString(), true);
}
