#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Works through batches of bytes on a thread of its own while the caller makes the next ones. At
// most a few megabytes wait at a time; the caller waits beyond that. Where no thread can be had,
// the caller's own thread works through each batch as it hands it over.
class BatchThread final {
public:
    using Work = std::function<void(const std::string& batch)>;
    static constexpr size_t kBatchBytes = size_t(1) << 20;

    explicit BatchThread(Work work);
    // Stops without working through what still waits.
    ~BatchThread();
    BatchThread(const BatchThread&) = delete;
    BatchThread& operator=(const BatchThread&) = delete;

    // Takes the batch; `batch` is left empty. Fails as the work on an earlier batch failed.
    void hand(std::string& batch);
    // Waits until every batch handed over is worked through; fails as the work failed.
    void finish();

private:
    static constexpr size_t kQueued = 4;
    void run();

    Work m_work;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::string> m_queue;
    size_t m_queuedBytes = 0;
    std::vector<std::string> m_spare;
    std::exception_ptr m_failure;
    bool m_stopping = false;
    bool m_finishing = false;
    std::thread m_thread; // last: joined before anything it uses goes
};
