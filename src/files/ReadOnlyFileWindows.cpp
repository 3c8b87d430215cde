#include "ReadOnlyFile.h"

#include "OpenedFolder.h"

#include <windows.h>
#include <winioctl.h>

namespace {

// Whether a file marked sparse leaves a part of itself to no space on the disk: it holds more than one
// run of data, or one that falls short of its size.
bool leavesHoles(HANDLE handle, const BY_HANDLE_FILE_INFORMATION& information, qint64 size) {
    if (!(information.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) || size == 0)
        return false;
    FILE_ALLOCATED_RANGE_BUFFER whole{};
    whole.Length.QuadPart = size;
    FILE_ALLOCATED_RANGE_BUFFER held{};
    DWORD returned = 0;
    if (!DeviceIoControl(handle, FSCTL_QUERY_ALLOCATED_RANGES, &whole, sizeof(whole), &held, sizeof(held),
                         &returned, nullptr))
        return GetLastError() == ERROR_MORE_DATA;
    return returned < sizeof(held) || held.FileOffset.QuadPart != 0 || held.Length.QuadPart < size;
}

} // namespace

std::unique_ptr<ReadOnlyFile> ReadOnlyFile::open(const OpenedFolder& folder, const QString& name,
                                                 bool oneName, int* error) {
    // The link itself, never what it names; a folder opens too, to be told for what it is.
    const HANDLE handle = CreateFileW(
        folder.longPath(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = static_cast<int>(GetLastError());
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information))
        *error = static_cast<int>(GetLastError());
    else if (OpenedFolder::isLink(handle))
        *error = FileSystem::kIsLink;
    else if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        *error = FileSystem::kIsFolder;
    else if (GetFileType(handle) != FILE_TYPE_DISK)
        *error = FileSystem::kNotAFile;
    else if (oneName && information.nNumberOfLinks > 1)
        *error = FileSystem::kOtherNames;
    else
        *error = 0;
    if (*error != 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::unique_ptr<ReadOnlyFile> file(new ReadOnlyFile);
    file->m_handle = handle;
    file->m_size = static_cast<qint64>((quint64(information.nFileSizeHigh) << 32) | information.nFileSizeLow);
    file->m_holes = leavesHoles(handle, information, file->m_size);
    file->m_id = FileId{information.dwVolumeSerialNumber,
                        (quint64(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
    return file;
}

ReadOnlyFile::~ReadOnlyFile() {
    CloseHandle(m_handle);
}

int ReadOnlyFile::read(char* into, qint64 size, qint64* done) {
    DWORD read = 0;
    if (!ReadFile(m_handle, into, static_cast<DWORD>(qMin<qint64>(size, 1 << 30)), &read, nullptr))
        return static_cast<int>(GetLastError());
    *done = read;
    return 0;
}
