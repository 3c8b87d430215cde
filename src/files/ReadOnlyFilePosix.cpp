#include "ReadOnlyFile.h"

#include "OpenedFolder.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Why the entry is not a file that may be read, or 0 when it is one.
int refusalOf(const struct stat& status, bool oneName) {
    if (S_ISLNK(status.st_mode))
        return FileSystem::kIsLink;
    if (S_ISDIR(status.st_mode))
        return FileSystem::kIsFolder;
    if (!S_ISREG(status.st_mode))
        return FileSystem::kNotAFile;
    if (oneName && status.st_nlink > 1)
        return FileSystem::kOtherNames;
    return 0;
}

} // namespace

std::unique_ptr<ReadOnlyFile> ReadOnlyFile::open(const OpenedFolder& folder, const QString& name,
                                                 bool oneName, int* error) {
    const QByteArray native = QFile::encodeName(name);
    // Looked at before it is opened: opening a device may do something of its own (a tape rewinds).
    struct stat named{};
    if (::fstatat(folder.fd(), native.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0) {
        *error = errno;
        return nullptr;
    }
    if ((*error = refusalOf(named, oneName)) != 0)
        return nullptr;
    const int fd = ::openat(folder.fd(), native.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno == ELOOP ? FileSystem::kIsLink : errno;
        return nullptr;
    }
    // What was opened is what was looked at: another entry may have taken the name meanwhile.
    struct stat opened{};
    if (::fstat(fd, &opened) != 0) {
        *error = errno;
        ::close(fd);
        return nullptr;
    }
    *error = refusalOf(opened, oneName);
    if (*error == 0 && (opened.st_dev != named.st_dev || opened.st_ino != named.st_ino))
        *error = FileSystem::kNotAFile;
    if (*error != 0) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<ReadOnlyFile> file(new ReadOnlyFile);
    file->m_fd = fd;
    file->m_size = static_cast<qint64>(opened.st_size);
#ifdef SEEK_HOLE
    // Where the file system cannot tell, the whole file counts as data.
    const off_t hole = ::lseek(fd, 0, SEEK_HOLE);
    file->m_holes = hole >= 0 && hole < opened.st_size;
    ::lseek(fd, 0, SEEK_SET);
#endif
    file->m_id = FileId{static_cast<quint64>(opened.st_dev), static_cast<quint64>(opened.st_ino),
                        static_cast<quint64>(opened.st_uid)};
    return file;
}

ReadOnlyFile::~ReadOnlyFile() {
    ::close(m_fd);
}

int ReadOnlyFile::read(char* into, qint64 size, qint64* done) {
    for (;;) {
        const ssize_t read = ::read(m_fd, into, static_cast<size_t>(size));
        if (read >= 0) {
            *done = read;
            return 0;
        }
        if (errno != EINTR)
            return errno;
    }
}
