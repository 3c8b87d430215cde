#include "LocalFileSystem.h"

#include "FileOwner.h"
#include "OpenedFolder.h"

#include <windows.h>

#include <aclapi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace {

// The rename by handle with flags (Windows 10 1809 on), not in every SDK's headers.
constexpr int kFileRenameInfoEx = 22;
constexpr DWORD kRenameReplaceIfExists = 0x1;
constexpr DWORD kRenamePosixSemantics = 0x2;
constexpr DWORD kRenameIgnoreReadOnly = 0x40;
// The attributes of the old transcript the new one takes over.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

HANDLE handleOf(qintptr file) {
    return reinterpret_cast<HANDLE>(file);
}

int lastError() {
    return static_cast<int>(GetLastError());
}

// The staged file as this run made it, open as `file`: the same file, no folder, no link, with no
// other name. A sync client may have made it a cloud file meanwhile: it is still this run's.
bool isStagedFile(HANDLE file, const FileId& id) {
    BY_HANDLE_FILE_INFORMATION information{};
    return GetFileInformationByHandle(file, &information) && information.dwVolumeSerialNumber == id.device &&
           ((quint64(information.nFileIndexHigh) << 32) | information.nFileIndexLow) == id.file &&
           information.nNumberOfLinks == 1 && !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !OpenedFolder::isLink(file);
}

// The staged file cannot be opened: when its name now leads to another file (one that someone who may
// write in the folder swapped in, which this user may not open), that is the reason, not a refusal to
// write into the folder.
int openFailure(const OpenedFolder& folder, const QString& name, const FileId& id, int error) {
    const std::optional<FileId> named = folder.entryId(name, false);
    return named && !(*named == id) ? FileSystem::kNotTheStagedFile : error;
}

// Opens the staged file `from` as itself for its move, alone, with the rights to set its attributes and
// security and to rename it; on failure `staged` is invalid and the error is returned.
int openStagedForMove(const OpenedFolder& folder, const QString& from, const FileId& id, HANDLE& staged) {
    staged = CreateFileW(folder.longPath(from).c_str(),
                         DELETE | WRITE_DAC | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (staged == INVALID_HANDLE_VALUE)
        return openFailure(folder, from, id, lastError());
    if (isStagedFile(staged, id))
        return 0;
    CloseHandle(staged);
    staged = INVALID_HANDLE_VALUE;
    return FileSystem::kNotTheStagedFile;
}

// A security descriptor that grants the user alone full access, inheriting nothing from the folder.
class UserOnly final {
public:
    UserOnly() {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return;
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        m_user.resize(size);
        const bool known = size > 0 && GetTokenInformation(token, TokenUser, m_user.data(), size, &size);
        CloseHandle(token);
        if (!known)
            return;
        const PSID sid = reinterpret_cast<TOKEN_USER*>(m_user.data())->User.Sid;
        m_acl.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
        PACL acl = reinterpret_cast<PACL>(m_acl.data());
        m_ready = InitializeAcl(acl, static_cast<DWORD>(m_acl.size()), ACL_REVISION) &&
                  AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
                  InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                  SetSecurityDescriptorDacl(&m_descriptor, TRUE, acl, FALSE) &&
                  SetSecurityDescriptorControl(&m_descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
        m_attributes.nLength = sizeof m_attributes;
        m_attributes.lpSecurityDescriptor = &m_descriptor;
    }
    SECURITY_ATTRIBUTES* attributes() { return m_ready ? &m_attributes : nullptr; }

private:
    std::vector<char> m_user;
    std::vector<char> m_acl;
    SECURITY_DESCRIPTOR m_descriptor{};
    SECURITY_ATTRIBUTES m_attributes{};
    bool m_ready = false;
};

// The staged file takes the old transcript's access list before it takes its place. False when
// there is none to take: the file then gets what the folder hands down, once it is in place.
bool passOnSecurity(HANDLE staged, HANDLE old) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (GetSecurityInfo(old, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return false;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED) ? PROTECTED_DACL_SECURITY_INFORMATION
                                                                   : UNPROTECTED_DACL_SECURITY_INFORMATION);
    const DWORD error = SetSecurityInfo(staged, SE_FILE_OBJECT, what, nullptr, nullptr, dacl, nullptr);
    LocalFree(descriptor);
    return error == ERROR_SUCCESS;
}

// A new transcript in place: what a file made there would get from its folder, instead of the staged
// file's own.
void inheritSecurity(const std::wstring& path) {
    std::vector<char> empty(sizeof(ACL));
    const PACL dacl = reinterpret_cast<PACL>(empty.data());
    if (InitializeAcl(dacl, static_cast<DWORD>(empty.size()), ACL_REVISION))
        SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, dacl, nullptr);
}

// Renames the open file to `name` in the folder, replacing what is there, a read-only file too, in
// one step (or, unless `replacing`, failing where the name is taken); false with
// ERROR_INVALID_PARAMETER or the like where the system has no such rename.
bool renameByHandle(HANDLE file, const OpenedFolder& folder, const QString& name, bool replacing = true) {
    const std::wstring target = name.toStdWString();
    const DWORD nameBytes = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::vector<char> buffer(offsetof(FILE_RENAME_INFO, FileName) + nameBytes + sizeof(wchar_t), '\0');
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    // The flags stand where older headers have the one BOOLEAN.
    const DWORD flags = replacing ? kRenameReplaceIfExists | kRenamePosixSemantics | kRenameIgnoreReadOnly
                                  : kRenamePosixSemantics;
    std::memcpy(buffer.data(), &flags, sizeof flags);
    info->RootDirectory = static_cast<HANDLE>(folder.handle());
    info->FileNameLength = nameBytes;
    std::memcpy(info->FileName, target.c_str(), nameBytes);
    return SetFileInformationByHandle(file, static_cast<FILE_INFO_BY_HANDLE_CLASS>(kFileRenameInfoEx), info,
                                      static_cast<DWORD>(buffer.size()));
}

} // namespace

LocalFileSystem::LocalFileSystem() = default;

int LocalFileSystem::createStaged(const OpenedFolder& folder, const QString& name, FileId* id) {
    UserOnly security;
    const HANDLE file = CreateFileW(folder.longPath(name).c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ, security.attributes(), CREATE_NEW,
                                    FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return lastError();
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(file, &information))
        return close(reinterpret_cast<qintptr>(file), lastError());
    *id = FileId{information.dwVolumeSerialNumber,
                 (quint64(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
    return close(reinterpret_cast<qintptr>(file), 0);
}

int LocalFileSystem::openStaged(const OpenedFolder& folder, const QString& name, const FileId& id,
                                Handle* file) {
    const HANDLE handle =
        CreateFileW(folder.longPath(name).c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return openFailure(folder, name, id, lastError());
    if (!isStagedFile(handle, id)) {
        CloseHandle(handle);
        return kNotTheStagedFile;
    }
    *file = reinterpret_cast<qintptr>(handle);
    return 0;
}

int LocalFileSystem::openOld(const OpenedFolder& folder, const QString& name, Handle* file) {
    const HANDLE handle =
        CreateFileW(folder.longPath(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const int error = lastError();
        return error == ERROR_FILE_NOT_FOUND ? 0 : error;
    }
    // A cloud file of a sync client is the old transcript itself: passing it over would lose it.
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information) || GetFileType(handle) != FILE_TYPE_DISK ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || OpenedFolder::isLink(handle)) {
        CloseHandle(handle);
        return 0;
    }
    *file = reinterpret_cast<qintptr>(handle);
    return 0;
}

int LocalFileSystem::read(Handle file, char* data, qint64 size, qint64* done) {
    DWORD read = 0;
    if (!ReadFile(handleOf(file), data, static_cast<DWORD>(size), &read, nullptr))
        return lastError();
    *done = read;
    return 0;
}

int LocalFileSystem::writeAll(Handle file, const char* data, qint64 size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(handleOf(file), data, static_cast<DWORD>(std::min<qint64>(size, 1 << 20)), &written,
                       nullptr))
            return lastError();
        if (written == 0)
            return ERROR_DISK_FULL;
        data += written;
        size -= written;
    }
    return 0;
}

int LocalFileSystem::flushFile(Handle file) {
    return FlushFileBuffers(handleOf(file)) ? 0 : lastError();
}

int LocalFileSystem::close(Handle file, int error) {
    if (!CloseHandle(handleOf(file)) && error == 0)
        return lastError();
    return error;
}

int LocalFileSystem::replace(const OpenedFolder& folder, const QString& from, const FileId& id,
                             const QString& to) {
    // The staged file is opened as itself and known to be the one this run made; its security and
    // attributes are set through this handle, and it is renamed through it, relative to the folder.
    HANDLE staged = INVALID_HANDLE_VALUE;
    if (const int error = openStagedForMove(folder, from, id, staged))
        return error;
    const Handle file = reinterpret_cast<qintptr>(staged);
    const std::wstring target = folder.longPath(to);
    const DWORD old = GetFileAttributesW(target.c_str());
    const bool oldIsFile = old != INVALID_FILE_ATTRIBUTES && !(old & FILE_ATTRIBUTE_REPARSE_POINT);
    // A folder of that name: not a refusal to write, as Windows' "access denied" would have it.
    if (oldIsFile && (old & FILE_ATTRIBUTE_DIRECTORY))
        return close(file, ERROR_DIRECTORY);
    // Only the user's own file passes on what it allowed: one another user put there would hand its
    // readers the new transcript. Its owner and security are read from one handle, so that they are
    // those of one file.
    const HANDLE oldFile = oldIsFile
                               ? CreateFileW(target.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr)
                               : INVALID_HANDLE_VALUE;
    const bool oldIsOwn = oldFile != INVALID_HANDLE_VALUE && FileOwner::isUsers(oldFile);
    const bool inherit = !oldIsOwn || !passOnSecurity(staged, oldFile);
    if (oldFile != INVALID_HANDLE_VALUE)
        CloseHandle(oldFile);
    // The read-only flag is on the new file before it takes the old one's place: a run killed at any
    // point leaves a read-only transcript read-only.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = oldIsOwn ? (old & kKeptAttributes) : FILE_ATTRIBUTE_ARCHIVE;
    if (basic.FileAttributes == 0)
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(staged, FileBasicInfo, &basic, sizeof basic))
        return close(file, lastError());
    if (renameByHandle(staged, folder, to)) {
        close(file, 0);
        if (inherit)
            inheritSecurity(target);
        return 0;
    }
    int error = lastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION)
        return close(file, error);
    // A system without that rename: the old file's read-only flag is lifted for the move, and put back
    // when the move fails.
    close(file, 0);
    const bool readOnly = oldIsFile && (old & FILE_ATTRIBUTE_READONLY);
    if (readOnly)
        SetFileAttributesW(target.c_str(), old & ~FILE_ATTRIBUTE_READONLY);
    if (MoveFileExW(folder.longPath(from).c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        if (inherit)
            inheritSecurity(target);
        return 0;
    }
    error = lastError();
    if (readOnly)
        SetFileAttributesW(target.c_str(), old);
    return error;
}

int LocalFileSystem::place(const OpenedFolder& folder, const QString& from, const FileId& id,
                           const QString& to) {
    HANDLE staged = INVALID_HANDLE_VALUE;
    if (const int error = openStagedForMove(folder, from, id, staged))
        return error;
    const Handle file = reinterpret_cast<qintptr>(staged);
    // No longer hidden once in place; hidden again when it stays staged, as the next run knows it.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    if (!SetFileInformationByHandle(staged, FileBasicInfo, &basic, sizeof basic))
        return close(file, lastError());
    const std::wstring target = folder.longPath(to);
    int error = renameByHandle(staged, folder, to, false) ? 0 : lastError();
    const bool noSuchRename =
        error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
    if (error != 0 && !noSuchRename) {
        basic.FileAttributes = FILE_ATTRIBUTE_HIDDEN;
        SetFileInformationByHandle(staged, FileBasicInfo, &basic, sizeof basic);
        return close(file, error);
    }
    close(file, 0);
    if (noSuchRename && !MoveFileExW(folder.longPath(from).c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) {
        error = lastError();
        SetFileAttributesW(folder.longPath(from).c_str(), FILE_ATTRIBUTE_HIDDEN);
        return error;
    }
    inheritSecurity(target);
    return 0;
}

int LocalFileSystem::remove(const OpenedFolder& folder, const QString& name) {
    const std::wstring native = folder.longPath(name);
    if (DeleteFileW(native.c_str()))
        return 0;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return 0;
    const DWORD attributes = GetFileAttributesW(native.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ERROR_DIRECTORY;
    // A read-only file: made writable and deleted; never what a link points to.
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesW(native.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        if (DeleteFileW(native.c_str()))
            return 0;
        error = GetLastError();
        SetFileAttributesW(native.c_str(), attributes);
    }
    return static_cast<int>(error);
}

int LocalFileSystem::removeLeftover(const OpenedFolder& folder, const QString& name) {
    // Opened as itself and deleted through that handle: the file looked at is the file removed.
    const HANDLE file =
        CreateFileW(folder.longPath(name).c_str(), DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const int error = lastError();
        return error == ERROR_FILE_NOT_FOUND ? 0 : error;
    }
    BY_HANDLE_FILE_INFORMATION information{};
    const bool own = GetFileInformationByHandle(file, &information) &&
                     !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                     (information.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) &&
                     information.nNumberOfLinks == 1 && !OpenedFolder::isLink(file) &&
                     FileOwner::isUsers(file);
    if (!own)
        return close(reinterpret_cast<qintptr>(file), kNotTheStagedFile);
    FILE_DISPOSITION_INFO disposition{TRUE};
    const bool marked =
        SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
    return close(reinterpret_cast<qintptr>(file), marked ? 0 : lastError());
}

bool LocalFileSystem::heldOpen(const OpenedFolder& folder, const QString& name) {
    // Asking for delete access fails with a sharing violation while another program has the file open
    // without delete sharing; a user who lacks the right to delete it is refused access instead.
    const HANDLE file = CreateFileW(
        folder.longPath(name).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}

int LocalFileSystem::flushFolder(const OpenedFolder& folder) {
    // The folder's names reach the disk through a handle that may write it.
    const HANDLE handle = CreateFileW(OpenedFolder::longForm(folder.path()).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return lastError();
    return close(reinterpret_cast<qintptr>(handle), FlushFileBuffers(handle) ? 0 : lastError());
}

bool LocalFileSystem::foldsCase(const OpenedFolder& folder, const QString& probe) {
    // Only the probe itself was made there: its name in other letters can only be the same file.
    const QString other = probe.toUpper() != probe ? probe.toUpper() : probe.toLower();
    return GetFileAttributesW(folder.longPath(other).c_str()) != INVALID_FILE_ATTRIBUTES;
}
