#pragma once

#include <QString>

#include <string>

// Whose a file is, where the exports must tell the user's own files from another user's: only the
// user's own passes its permissions on to a new transcript, is taken for a staged file a killed run
// left, or is named as the user's in a message.
namespace FileOwner {

#ifdef Q_OS_WIN
// Whether the file open as `handle` (which may read its security), or at `path`, is the user's own:
// owned by the user this program runs as, or by the owner the user's token gives new files (an
// administrator's gives them to the Administrators group). False where that cannot be told.
bool isUsers(void* handle);
bool isUsers(const std::wstring& path);
// The owner's account name when the file at `path` is another user's; empty when it is the user's
// own or its owner cannot be read.
QString otherOwner(const std::wstring& path);
#else
// The user whose rights the file operations of this thread have: the effective user, unless the file
// system's user was set apart from it (Linux).
uint currentUser();
// The name of the user of that id, or "user <id>" where it has none.
QString nameOf(uint uid);
#endif

} // namespace FileOwner
