#pragma once

#include "FileSystem.h"

#include <QString>

#include <functional>
#include <memory>

class OpenedFolder;

// One file copied into an opened folder from a source read in bounded pieces: written into a new
// hidden file there that only its owner may read, flushed to the disk, then put in place under a name
// that nothing else holds; a file, a link or a folder in the way stays as it is. A copy not put in
// place is removed when it goes, and a run interrupted or killed meanwhile leaves nothing the next
// run's removeLeftovers() does not take away.
class StagedCopy final {
public:
    // Gives the next bytes into `into`, up to `size` of them, 0 after the last; throws what stops it.
    using Source = std::function<qint64(char* into, qint64 size)>;

    StagedCopy(FileSystem& fileSystem, std::shared_ptr<OpenedFolder> folder);
    ~StagedCopy();
    StagedCopy(const StagedCopy&) = delete;
    StagedCopy& operator=(const StagedCopy&) = delete;

    // Makes the staged file and copies the source into it. 0 or the system's error code; on an error,
    // or when the source throws (which goes on), nothing of it stays.
    int write(const Source& source);
    // Flushes the staged file, then puts it in place under `name` where nothing of that name is. 0, or
    // an error code: FileError::Exists where the name is taken (the staged file stays for another
    // name), FileSystem::kExchangedAfterMove where the name leads to another file right after the move.
    int place(const QString& name);

    // Whether the entry `name` is a file that holds exactly the bytes the source gives: the sizes are
    // compared first, and the bytes only where they agree. A link, a folder or a device is not such a
    // file. 0 or the system's error code for the file; the source's failure goes on.
    static int holdsSame(const OpenedFolder& folder, const QString& name, qint64 size, const Source& source,
                         bool* same);
    // Removes the staged files of copies that a killed run left in the folder: only its names, as the
    // program makes such files (the user's own, private, with no other name).
    static void removeLeftovers(FileSystem& fileSystem, const OpenedFolder& folder);
    static bool isStagedName(const QString& name);
    // ".parlorix-copy.XXXXcc.part": four random letters and two that check them.
    static QString stagedName(const QString& random);

    // The pieces the copies are read and written in: large files never lie whole in memory.
    static constexpr qint64 kPieceSize = qint64(1) << 20;

private:
    void discard();

    FileSystem& m_fileSystem;
    std::shared_ptr<OpenedFolder> m_folder;
    QString m_staged; // empty until made, and once placed or removed
    FileId m_id;
    int m_interruptEntry = -1;
    bool m_flushed = false;
};
