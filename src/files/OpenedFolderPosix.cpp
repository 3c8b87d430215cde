#include "OpenedFolder.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::unique_ptr<OpenedFolder> OpenedFolder::open(const QString& path, bool followLink, int* error) {
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    const int fd = ::open(QFile::encodeName(path).constData(), flags);
    struct stat status{};
    if (fd < 0 || ::fstat(fd, &status) != 0) {
        *error = errno == ELOOP ? ENOTDIR : errno;
        if (fd >= 0)
            ::close(fd);
        return nullptr;
    }
    std::unique_ptr<OpenedFolder> folder(new OpenedFolder);
    folder->m_path = QDir::cleanPath(QDir::fromNativeSeparators(path));
    folder->m_fd = fd;
    folder->m_id = FileId{static_cast<quint64>(status.st_dev), static_cast<quint64>(status.st_ino)};
    *error = 0;
    return folder;
}

std::unique_ptr<OpenedFolder> OpenedFolder::makeFolder(const QString& name, int* error) const {
    const QByteArray native = QFile::encodeName(name);
    if (::mkdirat(m_fd, native.constData(), 0777) != 0 && errno != EEXIST) {
        *error = errno;
        return nullptr;
    }
    const int fd = ::openat(m_fd, native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat status{};
    if (fd < 0) {
        *error = errno;
        if (::fstatat(m_fd, native.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            !S_ISDIR(status.st_mode))
            *error = S_ISLNK(status.st_mode) ? FileSystem::kIsLink : FileSystem::kNotAFolder;
        return nullptr;
    }
    if (::fstat(fd, &status) != 0) {
        *error = errno;
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<OpenedFolder> folder(new OpenedFolder);
    folder->m_path = m_path + QLatin1Char('/') + name;
    folder->m_fd = fd;
    folder->m_id = FileId{static_cast<quint64>(status.st_dev), static_cast<quint64>(status.st_ino)};
    *error = 0;
    return folder;
}

OpenedFolder::~OpenedFolder() {
    ::close(m_fd);
}

bool OpenedFolder::removed() const {
    struct stat status{};
    return ::fstat(m_fd, &status) == 0 && status.st_nlink == 0;
}

std::optional<FileId> OpenedFolder::entryId(const QString& name, bool followLink) const {
    struct stat status{};
    if (::fstatat(m_fd, QFile::encodeName(name).constData(), &status, followLink ? 0 : AT_SYMLINK_NOFOLLOW) !=
        0)
        return std::nullopt;
    return FileId{static_cast<quint64>(status.st_dev), static_cast<quint64>(status.st_ino),
                  static_cast<quint64>(status.st_uid)};
}

bool OpenedFolder::isFile(const QString& name) const {
    struct stat status{};
    return ::fstatat(m_fd, QFile::encodeName(name).constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(status.st_mode);
}

QStringList OpenedFolder::names() const {
    QStringList names;
    const int fd = ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return names;
    }
    while (const dirent* entry = ::readdir(dir))
        names.append(QFile::decodeName(entry->d_name));
    ::closedir(dir);
    return names;
}

qsizetype OpenedFolder::nameLimit() const {
    const long limit = ::fpathconf(m_fd, _PC_NAME_MAX);
    return limit > 0 ? limit : 255;
}

qsizetype OpenedFolder::nameLength(const QString& name) {
    return QFile::encodeName(name).size();
}
