#include "ReadAhead.h"

#include <cassert>
#include <utility>

class ReadAhead::Worker final {
public:
    explicit Worker(std::unique_ptr<History> reader)
        : m_reader(std::move(reader))
        , m_thread([this] { run(); }) {}

    // The thread ends after its current read, before the reader is destroyed.
    ~Worker() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    bool isFree() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_state == State::Free;
    }

    bool holds(size_t chat) const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_state != State::Free && m_chat == chat;
    }

    std::optional<size_t> held() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_state != State::Free ? std::optional<size_t>(m_chat) : std::nullopt;
    }

    void request(size_t chat) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            assert(m_state == State::Free);
            m_chat = chat;
            m_state = State::Requested;
            m_content = History::ChatContent();
            m_error = nullptr;
        }
        m_changed.notify_all();
    }

    // Waits for the read to end; the content stays held.
    const History::ChatContent& wait() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_state == State::Read; });
        if (m_error)
            std::rethrow_exception(m_error);
        return m_content;
    }

    History::ChatContent take() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_state == State::Read; });
        m_state = State::Free;
        if (m_error)
            std::rethrow_exception(std::exchange(m_error, nullptr));
        return std::move(m_content);
    }

    void forget() {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_state == State::Free || m_state == State::Read; });
        m_state = State::Free;
        m_content = History::ChatContent();
        m_error = nullptr;
    }

private:
    enum class State { Free, Requested, Reading, Read };

    void run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_stopping || m_state == State::Requested; });
            if (m_stopping)
                return;
            m_state = State::Reading;
            const size_t chat = m_chat;
            lock.unlock();
            History::ChatContent content;
            std::exception_ptr error;
            try {
                content = m_reader->messages(chat);
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            m_content = std::move(content);
            m_error = error;
            m_state = State::Read;
            m_changed.notify_all();
        }
    }

    std::unique_ptr<History> m_reader;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    State m_state = State::Free;
    size_t m_chat = 0;
    History::ChatContent m_content;
    std::exception_ptr m_error;
    bool m_stopping = false;
    std::thread m_thread; // last: it starts once everything it uses is in place
};

ReadAhead::ReadAhead(ReaderFactory makeReader)
    : m_makeReader(std::move(makeReader)) {}

ReadAhead::~ReadAhead() = default;

ReadAhead::Worker* ReadAhead::workerFor(size_t chat) const {
    return m_workers[chat % kWorkers].get();
}

bool ReadAhead::request(size_t chat) {
    const size_t index = chat % kWorkers;
    if (!m_workers[index] && !m_failed[index]) {
        try {
            m_workers[index] = std::make_unique<Worker>(m_makeReader());
        } catch (...) {
            m_failed[index] = true; // without this reader, its chats are read when asked for
        }
    }
    Worker* worker = m_workers[index].get();
    if (!worker || !worker->isFree())
        return false;
    worker->request(chat);
    return true;
}

bool ReadAhead::holds(size_t chat) const {
    const Worker* worker = workerFor(chat);
    return worker && worker->holds(chat);
}

const History::ChatContent& ReadAhead::peek(size_t chat) {
    assert(holds(chat));
    return workerFor(chat)->wait();
}

History::ChatContent ReadAhead::take(size_t chat) {
    assert(holds(chat));
    return workerFor(chat)->take();
}

std::vector<size_t> ReadAhead::held() const {
    std::vector<size_t> chats;
    for (const std::unique_ptr<Worker>& worker : m_workers) {
        if (worker) {
            if (const std::optional<size_t> chat = worker->held())
                chats.push_back(*chat);
        }
    }
    return chats;
}

void ReadAhead::drop(size_t chat) {
    if (holds(chat))
        workerFor(chat)->forget();
}

void ReadAhead::drop() {
    for (const std::unique_ptr<Worker>& worker : m_workers) {
        if (worker)
            worker->forget();
    }
}
