#include "LocalFileSystem.h"

#include <chrono>
#include <thread>
#include <vector>

int LocalFileSystem::append(const OpenedFolder& folder, const QString& name, const FileId& id,
                            const QByteArray& bytes) {
    Handle file = kNoHandle;
    const int error = openStaged(folder, name, id, &file);
    if (error != 0)
        return error;
    return close(file, writeAll(file, bytes.constData(), bytes.size()));
}

int LocalFileSystem::appendCopy(const OpenedFolder& folder, const QString& from, const QString& to,
                                const FileId& id) {
    Handle in = kNoHandle;
    int error = openOld(folder, from, &in);
    if (error != 0 || in == kNoHandle)
        return error;
    Handle out = kNoHandle;
    error = openStaged(folder, to, id, &out);
    if (error != 0)
        return close(in, error);
    std::vector<char> buffer(1 << 20);
    for (;;) {
        qint64 done = 0;
        error = read(in, buffer.data(), static_cast<qint64>(buffer.size()), &done);
        if (error != 0 || done == 0)
            break;
        error = writeAll(out, buffer.data(), done);
        if (error != 0)
            break;
    }
    close(in, 0);
    return close(out, error);
}

int LocalFileSystem::flush(const OpenedFolder& folder, const QString& name, const FileId& id) {
    Handle file = kNoHandle;
    const int error = openStaged(folder, name, id, &file);
    if (error != 0)
        return error;
    return close(file, flushFile(file));
}

void LocalFileSystem::pauseBeforeRetry() {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}
