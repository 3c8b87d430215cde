#pragma once

#include <QStringList>

#include "files/FileSystem.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

class ChatFailures;
class ErrorTrap;
class FlushWorkers;
class FolderLock;
class OpenedFolder;
struct TranscriptFolder;

// The transcripts one run writes. Each is written into a new file beside it and moved over the old
// one only when it is complete and flushed to the disk, so a run that fails half-way, is killed, meets
// a full disk or a power cut leaves every contact with its whole old transcript or its whole new one.
// Each folder is opened once and everything in it done through that handle; a new file is reachable
// by nobody else and checked to be the same file whenever it is opened again. The move replaces a
// link in the folder instead of writing through it.
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
    // in a locked folder are removed, only those the program made: its names, the user's files.
    // `followLink`: whether the folder may be a link (the folder the user picked may; a folder the
    // program makes for itself may not). `unwritable`, when given, receives why nothing can be made
    // in the folder, if so.
    QString lockFolder(const QString& folderText, bool followLink = true, QString* unwritable = nullptr);
    // The folder `name` in the folder that transcripts under `folderText` go to, made there when
    // missing and entered through the folder this run opened (never through a link), so that a folder
    // moved away and made again under its path meanwhile is not the one written to; transcripts under
    // `folderText` + `name` + a separator go there. Locked as lockFolder() locks, with the same
    // result. `error` receives the system's error code (FileSystem::kIsLink, kNotAFolder among them)
    // when it cannot be made or entered.
    QString lockSubfolder(const QString& folderText, const QString& name, int* error);
    // Whether this run opened the folder that transcripts under `folderText` go to and it is still
    // there, wherever it was moved since.
    bool holds(const QString& folderText) const;
    // The folder this run opened and locked at `folderPath` (as a transcript's absolute folder path
    // names it), where it may write; else null. Other files of the run go into it through this handle.
    std::shared_ptr<OpenedFolder> openedFolder(const QString& folderPath) const;
    // The history being read: a transcript that is it, or its -wal or -journal, is never written.
    void protect(const QString& historyFile);

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
    // The transcript is no longer wanted (its contact was unticked during the run): its old file stays
    // as it is, nothing more is written to it, and it is not reported.
    void leave(const QString& path);

    // Puts the new transcript in place of the old one. A transcript that got nothing new, or was
    // spoilt or left, keeps its old file as it is: a transcript is only ever replaced by its new
    // content, never deleted. Fails with a description.
    void commit(const QString& path);
    // The same in the background, for a run that goes on meanwhile: the new file is flushed on
    // another thread, and moved into place in the order of these calls, before the trap of `failures`
    // reports its next failure, when many wait, or at finish(). A failure is then reported as one of
    // step `line` of the transcript numbered `transcript` (ChatFailures::reportLate()), as if it had
    // come at once: before anything reported later, in the order the transcripts were handed over,
    // shown or only counted as it would have been. One that ends the run (its folder gone, the disk
    // full) ends it there: nothing handed over after it is put in place or named among the kept, and
    // the failures of what the run did after it, which it would not have done, are not reported.
    void commitLater(const QString& path, ChatFailures& failures, int transcript, int line);
    // Puts in place what was handed over, then the names of the folders written into on the disk:
    // what a run does before it says "Done.". Lets go of the failures commitLater() was given, which
    // must not go before.
    void finish();
    // Whether the transcript at `path` got nothing new in this run although it was started afresh,
    // and an old file of its name stays as it was.
    bool unchanged(const QString& path);
    // The transcripts restarted or written and not yet committed, spoilt or not.
    QStringList pending() const;
    // The transcripts kept as they were because they were spoilt.
    const QStringList& kept() const { return m_kept; }
    // Another pass goes on with these files: the kept ones were told.
    void forgetKept() { m_kept.clear(); }
    // What the user is told about them: the heading, then their paths, one a line.
    QString keptMessage() const;
    static QString keptHeading();

    // True once a write failed in a way that every later one would too: the folder is gone, the disk
    // is full, or writing there is refused. The run then ends and puts nothing more in place. What
    // was handed to commitLater() counts once it was put in place (finish()).
    bool stopped() const { return !m_stop.isEmpty(); }
    // stopped(), or a step of the trap failed so that every later one would: the history can no
    // longer be read. The run then ends the same way, and the stop message says why.
    bool mustStop(const ErrorTrap& trap);
    // What the user is told then, in one box.
    const QString& stopMessage() const { return m_stop; }
    // Whether a box's text is such a message.
    static bool isStopMessage(const QString& text);

private:
    using Folder = TranscriptFolder;
    struct Pending {
        QString path;
        QString name; // in its folder
        Folder* folder = nullptr;
        QString staged; // empty until the first write
        FileId stagedId;
        int interruptEntry = -1; // the staged file's, see InterruptCleanup
        bool fromOld = false;    // starts as a copy of the old transcript
        bool spoilt = false;
        bool left = false;
        QString refusal; // why nothing of it may be written, if so
    };

    // The folder under this folder text: the one opened under it first in this run, or another text's
    // when both name one folder.
    Folder& folderOf(const QString& absoluteFolder, bool followLink = true);
    Folder& addFolder(const QString& text, std::shared_ptr<OpenedFolder> opened, int openError);
    void removeLeftovers(const OpenedFolder& folder);
    Folder* knownFolder(const QString& absoluteFolder);
    Folder* knownAs(const QString& text, const OpenedFolder* opened);
    QString keyOf(const Folder& folder, const QString& name) const;
    Pending& pendingFor(const QString& path, bool fromOld);
    std::map<QString, Pending>::iterator findPending(const QString& path);
    void createStaged(Pending& pending);
    void write(const QString& path, const QByteArray& bytes);
    // Throws the failure of a write to the transcript; notes it when the run must stop, as every later
    // new file would fail alike.
    [[noreturn]] void fail(const QString& what, const Pending& pending, int error);
    // Throws the failure of a move or delete: that transcript is kept, the run goes on.
    [[noreturn]] void failOne(const QString& what, Pending& pending, int error);
    void discard(Pending& pending);
    void flushFolders();
    // Moves the flushed new file over the old one; fails, as commit() does, when its flush failed
    // (`flushed`), its folder is gone or the move fails.
    void putInPlace(Pending& pending, int flushed);
    // Puts the first `count` transcripts handed to commitLater() in place, in order, and reports
    // what fails through its trap.
    void settle(size_t count);
    void settleOne();
    // Before the trap reports a failure: false when what was handed over ended the run.
    bool settleBeforeFailure();
    // Tries again a moment later while another program holds the file.
    int whileInUse(const std::function<int()>& operation);

    FileSystem& m_fileSystem;
    // Before the transcripts, so that the locks go last.
    std::vector<std::unique_ptr<Folder>> m_folders;
    // The folders by the cleaned text of their path.
    std::map<QString, Folder*> m_folderAt;
    std::map<QString, Pending> m_pending;
    // A transcript handed to commitLater(), waiting for its turn to be put in place.
    struct Handed {
        QString key;
        Pending pending;
        bool keep = false; // spoilt or refused: its old file stays, and it is named among the kept
        quint64 flush = 0; // the ticket of its flush
        int transcript = 0;
        int line = 0;
    };
    std::deque<Handed> m_handed;
    ChatFailures* m_failures = nullptr; // of the handed transcripts
    bool m_settling = false;
    // A handed transcript ended the run: what the run did after it is not reported.
    bool m_stoppedLate = false;
    std::set<QString> m_unchanged; // by key
    std::vector<FileId> m_protected;
    QStringList m_kept;
    QString m_stop;
    std::unique_ptr<FlushWorkers> m_flushes; // made with the first transcript handed over
};
