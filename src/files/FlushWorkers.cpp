#include "FlushWorkers.h"

#include <algorithm>
#include <system_error>
#include <utility>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/resource.h>
#endif

namespace {

// A flush holds its file open: where the process may open few files (a low "ulimit -n"), the
// threads take at most half of those it may still open, and the run's own files still open. Windows
// sets no such limit.
size_t threadsTheLimitAllows() {
#ifndef Q_OS_WIN
    constexpr rlim_t kAmple = 4096;
    struct rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur < kAmple) {
        rlim_t open = 0;
        for (rlim_t fd = 0; fd < limit.rlim_cur; ++fd) {
            if (::fcntl(static_cast<int>(fd), F_GETFD) != -1)
                ++open;
        }
        return std::min(FlushWorkers::kThreads,
                        static_cast<size_t>((limit.rlim_cur - std::min(open, limit.rlim_cur)) / 2));
    }
#endif
    return FlushWorkers::kThreads;
}

} // namespace

FlushWorkers::FlushWorkers(FileSystem& fileSystem)
    : m_fileSystem(fileSystem)
    , m_mostThreads(threadsTheLimitAllows()) {}

FlushWorkers::~FlushWorkers() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_waiting.clear();
    }
    m_jobAdded.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

quint64 FlushWorkers::start(std::shared_ptr<const OpenedFolder> folder, const QString& name,
                            const FileId& id) {
    quint64 ticket = 0;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        ticket = m_nextTicket++;
        m_waiting.push_back(Job{ticket, std::move(folder), name, id});
        if (m_idle < m_waiting.size())
            addThread();
    }
    m_jobAdded.notify_one();
    return ticket;
}

// One more thread while there are fewer than kThreads, or than the open files allow. A thread that
// cannot be started leaves its share to the others, or to the thread that waits.
void FlushWorkers::addThread() {
    if (m_threads.size() >= m_mostThreads || m_cannotStart)
        return;
    try {
        m_threads.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
        m_cannotStart = true;
    }
}

int FlushWorkers::wait(quint64 ticket) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto waiting = std::find_if(m_waiting.begin(), m_waiting.end(),
                                      [&](const Job& job) { return job.ticket == ticket; });
    if (waiting != m_waiting.end()) {
        const Job job = std::move(*waiting);
        m_waiting.erase(waiting);
        lock.unlock();
        return flush(job);
    }
    m_jobDone.wait(lock, [&] { return m_results.count(ticket) > 0; });
    const auto found = m_results.find(ticket);
    const Result result = found->second;
    m_results.erase(found);
    if (result.exception)
        std::rethrow_exception(result.exception);
    return result.error;
}

void FlushWorkers::work() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        ++m_idle;
        m_jobAdded.wait(lock, [&] { return m_stopping || !m_waiting.empty(); });
        --m_idle;
        if (m_stopping)
            return;
        const Job job = std::move(m_waiting.front());
        m_waiting.pop_front();
        lock.unlock();
        Result result;
        try {
            result.error = flush(job);
        } catch (...) {
            result.exception = std::current_exception(); // out of memory: told to the thread that asks
        }
        lock.lock();
        m_results.emplace(job.ticket, result);
        m_jobDone.notify_all();
    }
}

int FlushWorkers::flush(const Job& job) {
    return m_fileSystem.flush(*job.folder, job.name, job.id);
}
