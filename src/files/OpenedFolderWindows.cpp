#include "OpenedFolder.h"

#include <QDir>

#include <windows.h>

std::wstring OpenedFolder::longForm(const QString& path) {
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

std::unique_ptr<OpenedFolder> OpenedFolder::open(const QString& path, bool followLink, int* error) {
    // Without delete sharing: the folder cannot be renamed or removed while the run holds it, so its
    // path names this folder until the run ends.
    const HANDLE handle =
        CreateFileW(longForm(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
    BY_HANDLE_FILE_INFORMATION information{};
    if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &information) ||
        !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || isLink(handle)) {
        *error = handle == INVALID_HANDLE_VALUE ? static_cast<int>(GetLastError()) : ERROR_DIRECTORY;
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
        return nullptr;
    }
    std::unique_ptr<OpenedFolder> folder(new OpenedFolder);
    folder->m_path = QDir::cleanPath(QDir::fromNativeSeparators(path));
    folder->m_handle = handle;
    folder->m_id = FileId{information.dwVolumeSerialNumber,
                          (quint64(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
    *error = 0;
    return folder;
}

std::unique_ptr<OpenedFolder> OpenedFolder::makeFolder(const QString& name, int* error) const {
    // This folder is held without delete sharing: its path names it, and the new folder is in it.
    const std::wstring path = longPath(name);
    if (!CreateDirectoryW(path.c_str(), nullptr)) {
        const DWORD code = GetLastError();
        if (code != ERROR_ALREADY_EXISTS) {
            *error = static_cast<int>(code);
            return nullptr;
        }
    }
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(path.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        if (isLink(found.dwFileAttributes, found.dwReserved0)) {
            *error = FileSystem::kIsLink;
            return nullptr;
        }
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            *error = FileSystem::kNotAFolder;
            return nullptr;
        }
    }
    return open(m_path + QLatin1Char('/') + name, false, error);
}

OpenedFolder::~OpenedFolder() {
    CloseHandle(m_handle);
}

bool OpenedFolder::isLink(void* handle) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    return !GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
           isLink(tag.FileAttributes, tag.ReparseTag);
}

bool OpenedFolder::isLink(quint32 attributes, quint32 reparseTag) {
    // The bit of a reparse tag that says it names another place (not in every SDK's headers).
    constexpr quint32 kNameSurrogate = 0x20000000;
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && (reparseTag == 0 || (reparseTag & kNameSurrogate));
}

bool OpenedFolder::removed() const {
    FILE_STANDARD_INFO standard{};
    return GetFileInformationByHandleEx(m_handle, FileStandardInfo, &standard, sizeof standard) &&
           standard.DeletePending;
}

std::wstring OpenedFolder::longPath(const QString& name) const {
    return longForm(m_path + QLatin1Char('/') + name);
}

std::optional<FileId> OpenedFolder::entryId(const QString& name, bool followLink) const {
    const HANDLE file =
        CreateFileW(longPath(name).c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = GetFileInformationByHandle(file, &information);
    CloseHandle(file);
    if (!known)
        return std::nullopt;
    return FileId{information.dwVolumeSerialNumber,
                  (quint64(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}

bool OpenedFolder::isFile(const QString& name) const {
    const DWORD attributes = GetFileAttributesW(longPath(name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
}

QStringList OpenedFolder::names() const {
    return QDir(m_path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

qsizetype OpenedFolder::nameLimit() const {
    return 255;
}

qsizetype OpenedFolder::nameLength(const QString& name) {
    return name.size();
}
