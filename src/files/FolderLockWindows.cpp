#include "FolderLock.h"

#include "FileOwner.h"
#include "OpenedFolder.h"

#include <windows.h>

FolderLock::~FolderLock() {
    // A lock file this run made was opened to be deleted when closed: it goes with the handle, also
    // when the program dies. One it did not make is held and kept.
    if (m_handle)
        CloseHandle(m_handle);
}

FolderLock::State FolderLock::lock() {
    if (m_state == State::Held)
        return m_state;
    if (!m_opened)
        return fail(m_openError, QString(), false);
    const std::wstring path = m_opened->longPath(fileName());
    const auto aLink = [&] { return fail(ERROR_CANT_ACCESS_FILE, QStringLiteral("it is a link"), true); };
    // A few rounds at most: each one that fails found a lock file its holder removed meanwhile.
    for (int round = 0; round < 8; ++round) {
        // A link in its place would have what it points to deleted when the lock goes: it is refused,
        // and the file is opened as itself, never followed, should a link take its name meanwhile. A
        // sync client's cloud file (one a system that stopped left in OneDrive) is no link.
        WIN32_FIND_DATAW found{};
        const HANDLE search = FindFirstFileW(path.c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            FindClose(search);
            if (OpenedFolder::isLink(found.dwFileAttributes, found.dwReserved0))
                return aLink();
        }
        HANDLE handle = CreateFileW(
            path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
            FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
            // One this run did not make, left by a system that stopped or put there, is held but not
            // deleted: under Wine a Unix link in its place looks like a plain file, and deleting it
            // would delete what the link points to. For writing where allowed.
            handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
                handle = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
            error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
            if (error == ERROR_FILE_NOT_FOUND)
                continue;
            if (!error && OpenedFolder::isLink(handle)) {
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
        // Put there by another user, with no rights for anyone else: in the way of every export here.
        if (error == ERROR_ACCESS_DENIED)
            m_otherOwner = FileOwner::otherOwner(path);
        return fail(static_cast<int>(error), QString(),
                    GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES);
    }
    // Named, yet never there when opened (under Wine, a Unix link to nothing looks so).
    return fail(ERROR_CANT_ACCESS_FILE, QString(), true);
}
