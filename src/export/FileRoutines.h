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

// The transcript of a contact: the folder text, the contact's handle and ".txt", joined as they are.
// Fails when the handle would put the transcript outside the folder.
QString transcriptPath(const QString& folderText, const QString& handle);
