#pragma once

#include "FileSystem.h"

#include <QtGlobal>

// The file system of the machine. The umask is read once, when it is made, at the program's start:
// setting it to 0 and back to read it would change it under the threads that run meanwhile.
class LocalFileSystem : public FileSystem {
public:
    LocalFileSystem();

    int createStaged(const OpenedFolder& folder, const QString& name, FileId* id) override;
    int append(const OpenedFolder& folder, const QString& name, const FileId& id,
               const QByteArray& bytes) override;
    int appendCopy(const OpenedFolder& folder, const QString& from, const QString& to,
                   const FileId& id) override;
    int flush(const OpenedFolder& folder, const QString& name, const FileId& id) override;
    int replace(const OpenedFolder& folder, const QString& from, const FileId& id,
                const QString& to) override;
    int place(const OpenedFolder& folder, const QString& from, const FileId& id, const QString& to) override;
    int remove(const OpenedFolder& folder, const QString& name) override;
    int removeLeftover(const OpenedFolder& folder, const QString& name) override;
    bool heldOpen(const OpenedFolder& folder, const QString& name) override;
    int flushFolder(const OpenedFolder& folder) override;
    bool foldsCase(const OpenedFolder& folder, const QString& probe) override;
    void pauseBeforeRetry() override;

private:
    // An open file: a descriptor, or on Windows a handle.
    using Handle = qintptr;
    static constexpr Handle kNoHandle = -1;

    // The staged file opened again, for appending or flushing; kNotTheStagedFile unless it is still
    // the one made: a regular file of this user's with no other name.
    static int openStaged(const OpenedFolder& folder, const QString& name, const FileId& id, Handle* file);
    // The old transcript opened for reading; kNoHandle and 0 when it is no regular file, or missing.
    static int openOld(const OpenedFolder& folder, const QString& name, Handle* file);
    static int read(Handle file, char* data, qint64 size, qint64* done);
    static int writeAll(Handle file, const char* data, qint64 size);
    static int flushFile(Handle file);
    // Closes the file; a network file system may report a failed write only then.
    static int close(Handle file, int error);

    // What a file created in place would get: 0666 less the umask. Unused on Windows.
    int m_creationMode = 0644;
};
