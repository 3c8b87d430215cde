#include "BatchThread.h"

#include <system_error>
#include <utility>

BatchThread::BatchThread(Work work)
    : m_work(std::move(work)) {
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
    }
}

BatchThread::~BatchThread() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void BatchThread::hand(std::string& batch) {
    if (!m_thread.joinable()) {
        m_work(batch);
        batch.clear();
        return;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    // Told by their bytes, not their number: a batch a long row made large counts as such.
    m_changed.wait(lock, [&] { return m_failure || m_queuedBytes < kQueued * kBatchBytes; });
    if (m_failure)
        std::rethrow_exception(m_failure);
    m_queuedBytes += batch.size();
    m_queue.push_back(std::move(batch));
    batch.clear();
    if (!m_spare.empty()) {
        batch = std::move(m_spare.back());
        m_spare.pop_back();
    }
    lock.unlock();
    m_changed.notify_all();
}

void BatchThread::finish() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finishing = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    if (m_failure)
        std::rethrow_exception(m_failure);
}

void BatchThread::run() {
    for (;;) {
        std::string batch;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [&] { return m_stopping || m_finishing || !m_queue.empty(); });
            if (m_stopping || m_queue.empty())
                return;
            batch = std::move(m_queue.front());
            m_queue.pop_front();
            m_queuedBytes -= batch.size();
        }
        m_changed.notify_all();
        try {
            m_work(batch);
            batch.clear();
            std::lock_guard<std::mutex> lock(m_mutex);
            // One a long row made large is let go: kept, it would hold that memory to the end.
            if (m_spare.size() < kQueued && batch.capacity() <= 2 * kBatchBytes)
                m_spare.push_back(std::move(batch));
        } catch (...) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_failure = std::current_exception();
            m_changed.notify_all();
            return;
        }
    }
}
