#include "FolderLock.h"

#include "FileRoutines.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include "LocalFileSystem.h"

#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// No lock file, and the folder takes none: every write there would fail the same way.
bool cannotCreate(int error) {
    const FileError kind = fileErrorKind(error);
    return kind == FileError::NotFound || kind == FileError::DiskFull || kind == FileError::Refused;
}

} // namespace

FolderLock::FolderLock(const QString& folderText)
    : m_folder(QDir::toNativeSeparators(QFileInfo(folderText + QStringLiteral("x")).absolutePath()))
    , m_path(QDir(QFileInfo(folderText + QStringLiteral("x")).absolutePath()).filePath(fileName())) {}

QString FolderLock::fileName() {
    return QStringLiteral(".parlorix.lock");
}

#ifdef Q_OS_WIN

FolderLock::~FolderLock() {
    // A lock file this run made was opened to be deleted when closed: it goes with the handle, also
    // when the program dies.
    if (m_handle)
        CloseHandle(m_handle);
}

FolderLock::State FolderLock::lock() {
    if (m_state == State::Held)
        return m_state;
    const std::wstring path = LocalFileSystem::longPath(m_path);
    const auto aLink = [&] {
        m_error = ERROR_CANT_ACCESS_FILE;
        m_reason = QStringLiteral("it is a link");
        return m_state = State::Failed;
    };
    // A few rounds at most: each one that fails found a lock file its holder removed meanwhile.
    for (int round = 0; round < 8; ++round) {
        // A link in its place would have what it points to deleted when the lock goes: it is refused,
        // and the file is opened as itself, never followed, should a link take its name meanwhile.
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return aLink();
        HANDLE handle = CreateFileW(
            path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
            // One this run did not make, left by a system that stopped or put there, is held but not
            // deleted: under Wine a Unix link in its place looks like a plain file, and deleting it
            // would delete what the link points to.
            handle = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
            if (error == ERROR_FILE_NOT_FOUND)
                continue;
            FILE_ATTRIBUTE_TAG_INFO opened{};
            if (!error &&
                GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &opened, sizeof opened) &&
                (opened.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                CloseHandle(handle);
                return aLink();
            }
        }
        if (!error) {
            m_handle = handle;
            m_error = 0;
            return m_state = State::Held;
        }
        if (error == ERROR_SHARING_VIOLATION)
            return m_state = State::Busy;
        m_error = static_cast<int>(error);
        m_reason = fileErrorText(m_error);
        const bool exists = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
        return m_state = !exists && cannotCreate(m_error) ? State::Unwritable : State::Failed;
    }
    // Named, yet never there when opened (under Wine, a Unix link to nothing looks so).
    m_error = ERROR_CANT_ACCESS_FILE;
    m_reason = fileErrorText(m_error);
    return m_state = State::Failed;
}

#else

FolderLock::~FolderLock() {
    if (m_fd >= 0) {
        // Removed while still held, so that no other run takes a file that is no longer there; only
        // while the name is still this lock's: one removed or replaced meanwhile may be another run's.
        const QByteArray path = QFile::encodeName(m_path);
        struct stat named{};
        struct stat held{};
        if (::lstat(path.constData(), &named) == 0 && ::fstat(m_fd, &held) == 0 &&
            named.st_dev == held.st_dev && named.st_ino == held.st_ino)
            ::unlink(path.constData());
        ::close(m_fd);
    }
}

FolderLock::State FolderLock::lock() {
    if (m_state == State::Held)
        return m_state;
    const QByteArray path = QFile::encodeName(m_path);
    // A few rounds at most: each one that fails found a lock file its holder removed meanwhile.
    for (int round = 0; round < 8; ++round) {
        // Opened for reading, so that every user who may write in the folder can take the lock, and
        // never through a link.
        int fd = ::open(path.constData(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        // A lock file another user left in a shared folder with the sticky bit, which the system may
        // refuse to "create" (fs.protected_regular) though it can be opened.
        if (fd < 0 && errno == EACCES) {
            fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0 && errno == ENOENT)
                errno = EACCES;
        }
        if (fd < 0) {
            m_error = errno;
            struct stat status{};
            const bool exists = ::lstat(path.constData(), &status) == 0;
            m_reason = m_error == ELOOP ? QStringLiteral("it is a link") : fileErrorText(m_error);
            return m_state = !exists && cannotCreate(m_error) ? State::Unwritable : State::Failed;
        }
        struct stat opened{};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            m_error = EINVAL;
            m_reason = QStringLiteral("it is not a file");
            return m_state = State::Failed;
        }
        // Every user who may write in the folder must be able to open the file a killed run of this one
        // leaves there, whatever the umask made of its permissions. Only an empty file of this user's
        // with no other name: never a file elsewhere that a hard link brought here.
        if (opened.st_uid == ::geteuid() && opened.st_nlink == 1 && opened.st_size == 0 &&
            (opened.st_mode & 0444) != 0444)
            ::fchmod(fd, (opened.st_mode & 07777) | 0444);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if (error != EWOULDBLOCK && error != EINTR) {
                // A file system that keeps no locks (a network share without its lock service): the
                // file alone marks the run, as no lock at all would block every export there for good.
                m_fd = fd;
                m_exclusive = false;
                return m_state = State::Held;
            }
            ::close(fd);
            return m_state = State::Busy;
        }
        struct stat named{};
        if (::stat(path.constData(), &named) == 0 && named.st_dev == opened.st_dev &&
            named.st_ino == opened.st_ino) {
            m_fd = fd;
            m_error = 0;
            return m_state = State::Held;
        }
        ::close(fd);
    }
    m_error = EAGAIN;
    m_reason = fileErrorText(EAGAIN);
    return m_state = State::Failed;
}

#endif

QString FolderLock::busyMessage() const {
    return QStringLiteral(
               "Another export is writing into the folder '%1'. Wait until it has finished, then try "
               "again.")
        .arg(m_folder);
}

QString FolderLock::failureMessage() const {
    return QStringLiteral("The folder '%1' cannot be locked against other exports: its lock file '%2' cannot "
                          "be used (%3).")
        .arg(m_folder, QDir::toNativeSeparators(m_path), m_reason);
}
