#pragma once

#include <QString>

// What an error of the operating system (errno; on Windows, GetLastError()'s code) means for a file
// the exports write.
enum class FileError {
    None,
    NotFound,    // the file, or a folder on its path, is missing
    Exists,      // a file of that name is already there
    DiskFull,    // no space left, or the user's disk quota used up
    Refused,     // writing there is not allowed, or the disk is read-only
    NameTooLong, // the name or the path is longer than the file system takes
    InUse,       // another program holds the file for a moment (a virus scanner, a sync client)
    Stale,       // the folder is no longer there for this run: removed on the server of a network share
    Other
};
FileError fileErrorKind(int code);

// The reason in words, as a box shows it after "Cannot write '…': ".
QString fileErrorText(int code);
QString fileErrorText(FileError kind);
