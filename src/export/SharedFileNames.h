#pragma once

#include <QString>

// The names of the shared files saved beside the transcripts: "<YYYY-MM-DD HH.MM.SS> <name>", the
// message's date and time in local time, so that a contact's files sort as the transcript runs, then
// the name the sender gave the file, made safe as a group's file name is (on Windows its reserved
// characters escaped; nowhere a separator, a control character or a name that leaves the folder) and
// cut to the room a name has, its extension kept.
namespace SharedFileNames {

// "2021-08-31 15.42.10", in local time.
QString timeText(qint64 time);
// The name a file takes, the `copy`th of its name and time: from the second on with " (2)", " (3)"
// before its extension. At most `maxBytes` of UTF-8, also decomposed as macOS stores names.
QString nameOf(qint64 time, const QString& fileName, int copy, int maxBytes, bool windowsNames);
// The extension of a file's name (".jpg"), or empty where it has none a file system would keep as one.
QString extensionOf(const QString& fileName);
// The name of a file the message names without one: the name the export's description gives, else
// the object id with the extension of the file the export holds.
QString standInName(const QString& describedName, const QString& objectId, const QString& extension);

} // namespace SharedFileNames
