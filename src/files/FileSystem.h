#pragma once

#include <QByteArray>
#include <QString>

#include <QtGlobal>

class OpenedFolder;

// What a file is, whatever its name: device and inode (on Windows, volume and file id).
struct FileId {
    quint64 device = 0;
    quint64 file = 0;
    quint64 owner = 0; // of a staged file: the user who made it; not part of what the file is
    bool operator==(const FileId& other) const { return device == other.device && file == other.file; }
};

// The file operations through which the exports put transcripts in place, each inside a folder opened
// once and named by its handle, never by its path. Each returns 0 or the system's error code (errno;
// on Windows, GetLastError()'s), so that a full disk, a missing folder and a refusal can be told
// apart. Tests hand in a file system that folds letter case, fills up or records what was done.
class FileSystem {
public:
    // Returned when a staged file is no longer the one this run made (another file, a link, a second
    // name for it, another owner): it is not written.
    static constexpr int kNotTheStagedFile = -1;
    // Returned for a move refused because another program holds the file open and lets nobody delete
    // it meanwhile (on Windows, and under Wine, such a move is refused as if access were denied).
    static constexpr int kHeldOpen = -2;
    // Returned when, after a move, the transcript's name does not lead to the staged file: someone who
    // may write in the folder exchanged it for a file of theirs as it was moved.
    static constexpr int kExchangedAfterMove = -3;
    // Returned where a folder is to be made or entered and its name holds a link, or something else
    // that is no folder.
    static constexpr int kIsLink = -4;
    static constexpr int kNotAFolder = -5;
    // Returned where a regular file is to be read and the name holds a pipe, a device or a socket.
    static constexpr int kNotAFile = -6;
    // Returned where a file of one name is to be read and it has another name too (a hard link).
    static constexpr int kOtherNames = -7;
    // Returned where a file is to be read and the name holds a folder.
    static constexpr int kIsFolder = -8;

    virtual ~FileSystem() = default;

    // Creates a staged file, which must not exist yet, never through a link, readable and writable by
    // its owner only (on Windows also hidden); `id` tells it from any file that takes its name later.
    virtual int createStaged(const OpenedFolder& folder, const QString& name, FileId* id) = 0;
    // Appends the bytes to the staged file, which must still be the one made.
    virtual int append(const OpenedFolder& folder, const QString& name, const FileId& id,
                       const QByteArray& bytes) = 0;
    // Appends the content of `from` to the staged file `to` when `from` is a regular file; a link, a
    // pipe or a missing file gives nothing to copy.
    virtual int appendCopy(const OpenedFolder& folder, const QString& from, const QString& to,
                           const FileId& id) = 0;
    // Puts the staged file's content on the disk, so that it survives a power cut once moved. Called
    // on several threads at once, for different files, while other files are written.
    virtual int flush(const OpenedFolder& folder, const QString& name, const FileId& id) = 0;
    // Puts the staged file in the place of `to` in one step. A regular file at `to` passes on its
    // permissions (and owner, where that may be kept; on Windows its security and read-only flag);
    // otherwise the new file gets what a file created in place would get. A link at `to` is
    // replaced, never written through.
    virtual int replace(const OpenedFolder& folder, const QString& from, const FileId& id,
                        const QString& to) = 0;
    // Moves the staged file to `to` in one step, only where nothing of that name is there: a file, a
    // link or a folder in the way stays as it is, and the move fails as for an existing file
    // (FileError::Exists). The file then gets what a file created in place would get.
    virtual int place(const OpenedFolder& folder, const QString& from, const FileId& id,
                      const QString& to) = 0;
    // Removes the file, a read-only one too, or the link (never what it points to). A file that is
    // not there counts as removed.
    virtual int remove(const OpenedFolder& folder, const QString& name) = 0;
    // Removes a staged file that a run which was killed left, only when it is as the program makes
    // one: a regular file of the user's own with no other name, readable and writable by the user
    // alone (on Windows: hidden). Returns kNotTheStagedFile, and leaves it, otherwise.
    virtual int removeLeftover(const OpenedFolder& folder, const QString& name) = 0;
    // Whether another program holds the file open so that it cannot be deleted or replaced now (on
    // Windows: opened without delete sharing). Never so where the system knows no such hold.
    virtual bool heldOpen(const OpenedFolder& folder, const QString& name) = 0;
    // Puts the folder's names on the disk after its moves.
    virtual int flushFolder(const OpenedFolder& folder) = 0;
    // Whether names differing only in letter case name one file in the folder; `probe` is the name of
    // a file that exists in it.
    virtual bool foldsCase(const OpenedFolder& folder, const QString& probe) = 0;
    // Waits a moment before a move refused because another program holds the file is tried again.
    virtual void pauseBeforeRetry() = 0;
};
