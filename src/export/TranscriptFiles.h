#pragma once

#include <QStringList>

#include <map>
#include <memory>

class ErrorTrap;
class FileSystem;
class FolderLock;

// The transcripts one run writes. Each is written into a new file beside it and moved over the old
// one only when it is complete, so a run that fails half-way, is killed or meets a full disk leaves
// every contact with its whole old transcript or its whole new one. The move replaces a link in the
// folder instead of writing through it. Files are opened and closed for every write.
//
// A transcript is known by the file it lands in, not by the text of its path: two paths into one
// folder (through a link, or "/out//"), or, where the folder folds letter case, two handles that
// differ only in case, write one file once, with what each brought in the order it came. Every
// folder written into is locked against other runs first.
class TranscriptFiles final {
public:
    explicit TranscriptFiles(FileSystem& fileSystem);
    // Removes the new files that were not moved into place, then the locks.
    ~TranscriptFiles();
    TranscriptFiles(const TranscriptFiles&) = delete;
    TranscriptFiles& operator=(const TranscriptFiles&) = delete;

    // Locks the folder that transcripts under `folderText` go to, as a run does before anything else.
    // Returns what the user is told when the run must not go on (another run writes there, or the
    // lock cannot be had), else an empty text. A folder that is gone, full or refuses writing is no
    // reason to stop here: the first write fails and says so. Stale new files that killed runs left
    // in a locked folder are removed.
    QString lockFolder(const QString& folderText);

    // The transcript at `path` is written anew: its old content no longer counts.
    void restart(const QString& path);
    // Appends the text to the new transcript. One that was not restarted starts as a copy of the old
    // transcript. Fails with a description, and the transcript then counts as spoilt.
    void append(const QString& path, const QString& text);
    // The same for text in UTF-8: written as it is where transcripts are in UTF-8.
    void appendUtf8(const QString& path, const QByteArray& text);
    // Something of this transcript could not be read or written: its old file stays as it is.
    void spoil(const QString& path);
    void spoilAll();

    // Puts the new transcript in place of the old one: moved over it, or, when nothing was written,
    // the old one deleted. A spoilt transcript is left as it was. Fails with a description.
    void commit(const QString& path);
    // The transcripts restarted or written and not yet committed, spoilt or not.
    QStringList pending() const;
    // The transcripts kept as they were because they were spoilt.
    const QStringList& kept() const { return m_kept; }
    // What the user is told about them: the heading, then their paths, one a line.
    QString keptMessage() const;
    static QString keptHeading();

    // True once a write failed in a way that every later one would too: the folder is gone, the disk
    // is full, or writing there is refused. The run then ends and puts nothing more in place.
    bool stopped() const { return !m_stop.isEmpty(); }
    // stopped(), or a step of the trap failed so that every later one would: the history can no
    // longer be read. The run then ends the same way, and the stop message says why.
    bool mustStop(const ErrorTrap& trap);
    // What the user is told then, in one box.
    const QString& stopMessage() const { return m_stop; }
    // Whether a box's text is such a message.
    static bool isStopMessage(const QString& text);

private:
    struct Folder;
    struct Pending {
        QString path;
        Folder* folder = nullptr;
        QString newFile;      // empty until the first write
        bool fromOld = false; // starts as a copy of the old transcript
        bool spoilt = false;
    };

    Folder& folderOf(const QString& absoluteFolder);
    // The folder first found under this folder text, while it existed.
    Folder* earlierFolder(const QString& absoluteFolder) const;
    // Whether a folder other than `folder` is now found under its folder text.
    static bool replacedMeanwhile(const Folder& folder, const QString& absoluteFolder);
    // Throws the failure of a write into a folder removed or replaced during the run, which ends it.
    [[noreturn]] void failReplaced(const QString& what, const QString& path);
    // The key of a transcript: its folder's identity and its name, case-folded where the folder folds.
    QString keyOf(const QString& path, Folder** folder);
    static QString keyIn(const Folder& folder, const QString& name);
    Pending& pendingFor(const QString& path, bool fromOld);
    std::map<QString, Pending>::iterator findPending(const QString& path);
    void createNewFile(Pending& pending);
    void write(const QString& path, const QByteArray& bytes);
    // Throws the failure of a write to the transcript at `path`; notes it when the run must stop.
    [[noreturn]] void fail(const QString& what, const Pending& pending, int error);
    void discard(Pending& pending);

    FileSystem& m_fileSystem;
    // Before the transcripts, so that the locks go last.
    std::map<QString, std::unique_ptr<Folder>> m_folders;
    // The folders by the cleaned text of their path.
    std::map<QString, Folder*> m_folderAt;
    std::map<QString, Pending> m_pending;
    QStringList m_kept;
    QString m_stop;
};
