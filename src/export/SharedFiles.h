#pragma once

#include "messages/SharedFile.h"

#include <QSet>
#include <QStringList>

#include <functional>

#include <map>
#include <memory>
#include <set>
#include <vector>

class ErrorTrap;
class FileSystem;
class MessageBoxes;
class OpenedFolder;
class TranscriptFiles;

// The files people shared in the chats a run writes, saved beside the transcripts: those of the chats
// in "<folder><stem>.txt" go to "<folder>Shared files/<stem>/", so a group chat's to "Group chats/Shared
// files/<its name>/", each named "<date time> <name the sender gave it>" (SharedFileNames), in the order
// of the messages. Saved with the transcripts' care: through the folders the run opened, into new
// private files flushed to the disk before they take a name that nothing else holds; the folders
// made and entered through their parents, never through a link. A file already there with the same
// bytes stays as it is; a different one in the way stays too, and the new one takes the next free
// name, " (2)", " (3)". The transcripts are written as they would be without them.
//
// A file the export does not hold is no error: the run says once, at its end, how many the export
// lacks. One the export holds as a link, a folder, a device or a sparse file, or that cannot be
// written, is named as not saved with the reason. A full disk, a folder that is gone or writing
// refused stops the saving for every file after it, as it stops the transcripts; so does an export
// that changes or fails while it is read. What is in place stays.
class SharedFiles final {
public:
    explicit SharedFiles(FileSystem& fileSystem);
    ~SharedFiles();
    SharedFiles(const SharedFiles&) = delete;
    SharedFiles& operator=(const SharedFiles&) = delete;

    // The files the chat (by its position) shared, which the run wrote into the transcript at `path`;
    // a chat given again for the same transcript adds nothing.
    void want(const QString& transcriptPath, int chat, const std::vector<SharedFile>& files);
    // The transcript is no longer wanted (its contact was unticked during the run): nor are its files.
    void forget(const QString& transcriptPath);

    // Saves the files wanted into the folders `transcripts` opened and holds, each store looked up
    // once, then tells in boxes what was not done: the files not saved and why, why the saving
    // stopped, and how many files the export lacks. Nothing is saved once the transcripts stopped.
    // `meanwhile` is called between the pieces of the files, so that a window stays responsive.
    void save(ErrorTrap& trap, MessageBoxes& boxes, TranscriptFiles& transcripts,
              const std::function<void()>& meanwhile = nullptr);

    static QString subfolderName();
    static QString notSavedHeading();
    // The one box about the files the export does not hold; true for its text.
    static QString lackingMessage(int files);
    static bool isLackingMessage(const QString& text);
    // Lines the box of files not saved lists at most, the others counted.
    static constexpr int kListed = 20;

private:
    struct Destination {
        QString folderPath; // the transcript's folder, absolute
        QString stem;       // the transcript's name without ".txt"
        std::vector<SharedFile> files;
        std::set<int> chats;
        bool left = false; // its contact was unticked: no more files of it
    };
    class Saving;

    FileSystem& m_fileSystem;
    std::vector<Destination> m_destinations; // in the order the run first wrote them
    std::map<QString, size_t> m_byPath;      // by the transcript's path
};
