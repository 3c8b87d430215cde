#pragma once

#include "FileSystem.h"

#include <QtGlobal>

#include <memory>

class OpenedFolder;

// A regular file opened for reading by its name in an opened folder, never through a link: what a
// link, a folder, a pipe or a device of that name stands for is not opened, nor read.
class ReadOnlyFile final {
public:
    // Nothing, with the system's error code, when the name holds no regular file: FileSystem::kIsLink
    // for a link, kNotAFile for a pipe, a device or a socket, kOtherNames, where `oneName`, for a file
    // with a second name (a hard link), kIsFolder for a folder.
    static std::unique_ptr<ReadOnlyFile> open(const OpenedFolder& folder, const QString& name, bool oneName,
                                              int* error);
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // As it was when opened.
    qint64 size() const { return m_size; }
    const FileId& id() const { return m_id; }
    // Whether it has holes, parts the disk does not hold (a sparse file), as it was when opened.
    bool hasHoles() const { return m_holes; }

    // Reads up to `size` bytes from where the last read ended; `done` is 0 at the end. Returns 0 or the
    // system's error code.
    int read(char* into, qint64 size, qint64* done);

private:
    ReadOnlyFile() = default;

    qint64 m_size = 0;
    FileId m_id;
    bool m_holes = false;
#ifdef Q_OS_WIN
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};
