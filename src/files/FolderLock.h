#pragma once

#include <QString>

#include <memory>

class OpenedFolder;

// Keeps two runs, of this copy of the program or of another, from writing into one folder at once.
// The lock is a hidden file in the folder itself, `.parlorix.lock`, where every writer of the folder
// sees it and only those who may write there can make it; it goes when the run ends. The system
// holds it for the run (a lock of the file's own on Linux and macOS, a file opened for nobody else
// on Windows), so a run that died leaves no lock that counts; where the file system keeps no locks,
// the file alone marks the run. A lock file the program did not make (one not empty, or another
// user's) is never deleted.
class FolderLock final {
public:
    enum class State {
        Unlocked,   // lock() not called yet
        Held,       // this run holds the lock
        Busy,       // another run holds it
        Unwritable, // no lock file, and none can be made: the folder is gone, full or refuses writing
        Failed      // the lock cannot be had for another reason, which failureMessage() gives
    };

    // `folderText` as the transcripts' paths start: the folder's path, or a folder and a name prefix.
    explicit FolderLock(const QString& folderText);
    // The lock of a folder the run holds open; none when it could not be opened (`openError`).
    FolderLock(std::shared_ptr<const OpenedFolder> folder, const QString& path, int openError);
    // Removes the lock file when the lock is held and the file is the program's own.
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    State lock();
    // True when the lock is now held.
    bool tryLock() { return lock() == State::Held; }
    State state() const { return m_state; }
    // True when this run holds the lock and the system keeps every other run out; false where the
    // file system keeps no locks, so that another run may write there all the same.
    bool exclusive() const { return m_state == State::Held && m_exclusive; }

    // The folder, with the platform's separators.
    const QString& folder() const { return m_folder; }
    static QString fileName();

    // What the user is told when another run holds the lock.
    QString busyMessage() const;
    // What the user is told when it cannot be had for another reason. Another user's file in the
    // lock file's place that the user may not open is named as such, with its owner.
    QString failureMessage() const;
    // The system's error code when the lock file could not be made or opened, else 0.
    int error() const { return m_error; }

private:
    // No lock file, and the folder takes none: every write there would fail the same way.
    static bool cannotCreate(int error);
    // Notes why the lock cannot be had; `exists` tells whether something holds the lock file's name.
    State fail(int error, const QString& reason, bool exists);

    std::shared_ptr<const OpenedFolder> m_opened;
    QString m_folder;
    QString m_path;
    State m_state = State::Unlocked;
    int m_error = 0;
    int m_openError = 0;
    bool m_exclusive = true;
    QString m_reason;
    QString m_otherOwner; // of a lock file the user may not open
#ifdef Q_OS_WIN
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};
