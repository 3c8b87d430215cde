#pragma once

#include "FileSystem.h"

#include <QString>

#include <condition_variable>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class OpenedFolder;

// Flushes staged files on a few threads of their own, in the order they are handed over, while the
// run goes on: a disk takes many flushes at once in little more than the time of one, where one
// after another each waits for the last. A file is open only for its own flush, so no more files are
// open than there are threads, the one that asks among them. A file whose flush has not started when
// its result is asked for is flushed by the thread that asks; where no thread can be started, every
// file is flushed so, one after another, as before.
class FlushWorkers final {
public:
    // How many flushes are under way at once, at most; fewer where the process may open few files.
    static constexpr size_t kThreads = 32;

    explicit FlushWorkers(FileSystem& fileSystem);
    // Waits for the flushes under way; those not started are not made.
    ~FlushWorkers();
    FlushWorkers(const FlushWorkers&) = delete;
    FlushWorkers& operator=(const FlushWorkers&) = delete;

    // Hands the staged file over to be flushed (FileSystem::flush()); returns the number its result
    // is asked for by.
    quint64 start(std::shared_ptr<const OpenedFolder> folder, const QString& name, const FileId& id);
    // Waits until the file is flushed, and returns FileSystem::flush()'s result; asked once a file.
    // Throws what the flush threw (out of memory).
    int wait(quint64 ticket);

private:
    struct Job {
        quint64 ticket = 0;
        std::shared_ptr<const OpenedFolder> folder;
        QString name;
        FileId id;
    };

    struct Result {
        int error = 0;
        std::exception_ptr exception;
    };

    void addThread();
    void work();
    int flush(const Job& job);

    FileSystem& m_fileSystem;
    std::mutex m_mutex;
    std::condition_variable m_jobAdded;
    std::condition_variable m_jobDone;
    std::deque<Job> m_waiting;           // not started
    std::map<quint64, Result> m_results; // flushed, not yet asked for
    quint64 m_nextTicket = 0;
    size_t m_idle = 0; // threads waiting for a file
    size_t m_mostThreads = kThreads;
    bool m_cannotStart = false;
    bool m_stopping = false;
    std::vector<std::thread> m_threads; // last: joined before anything they use goes
};
