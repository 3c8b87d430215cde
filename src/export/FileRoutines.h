#pragma once

#include <QString>

// The file routines of the exports. Each write opens, writes and closes its file.

// Writes the text in the system's narrow code page. Write number 1 or less empties the file first,
// 2 or more appends to it; the file is created when missing. Fails with a description.
void WriteTextToFile(const QString& text, const QString& path, int writeNumber);

// True when the path names an existing folder; any failure to ask gives false.
bool FolderExists(const QString& path);

// Deletes the file, a read-only one too, or the link at the path (never what it points to); never
// fails.
void DeleteFileIfPresent(const QString& path);

// The transcript of a contact: the folder text, the contact's file name and ".txt", joined as they
// are. Fails when the handle would put the transcript outside the folder.
QString transcriptPath(const QString& folderText, const QString& handle);

// The name a handle's transcript is written under, ".txt" not included. Elsewhere the handle as it
// is. On Windows, whose file names cannot hold <>:"/\|?*, control characters, a trailing dot or
// blank, or a device name such as CON or COM1 (handles made since 2016 look like
// "live:.cid.1a2b3c"), and where a "~" before a digit could make it a short name of another file,
// each character in the way is written as %XX, its code in hexadecimal, and a
// '%' as %25: the same handle always gives the same name, and two handles never share one.
QString transcriptName(const QString& handle, bool windowsNames);
