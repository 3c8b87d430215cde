#pragma once

#include <QByteArray>
#include <QString>

// The file operations through which the exports put transcripts in place. Each returns 0 or the
// system's error code (errno; on Windows, GetLastError()'s), so that a full disk, a missing folder
// and a refusal can be told apart. Tests hand in a file system that folds letter case or fills up.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Creates the file, which must not exist yet, empty and readable and writable by its owner only.
    virtual int createNew(const QString& path) = 0;
    // Appends the bytes to the file, which must exist: a file removed meanwhile is not made again.
    virtual int append(const QString& path, const QByteArray& bytes) = 0;
    // Appends the content of `from` to the file `to` when `from` is a regular file; a link, a pipe or
    // a missing file gives nothing to copy.
    virtual int appendCopy(const QString& from, const QString& to) = 0;
    // Puts the file `from` in the place of `to` in one step, in the same folder. A regular file at
    // `to` passes on its permissions (and owner, where that may be kept; on Windows its security);
    // otherwise `from` gets what a file created in place would get. A link at `to` is replaced,
    // never written through.
    virtual int replace(const QString& from, const QString& to) = 0;
    // Removes the file at the path, a read-only one too, or the link (never what it points to). A
    // file that is not there counts as removed.
    virtual int remove(const QString& path) = 0;
    // Whether names differing only in letter case name one file in the folder; `probe` is the name of
    // a file that exists in it.
    virtual bool foldsCase(const QString& folder, const QString& probe) = 0;
};
