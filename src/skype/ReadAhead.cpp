#include "ReadAhead.h"

#include <algorithm>
#include <cassert>
#include <system_error>
#include <utility>

ReadAhead::ReadAhead(ReaderFactory makeReader)
    : m_makeReader(std::move(makeReader)) {}

// The threads end after their current reads, before the readers are destroyed.
ReadAhead::~ReadAhead() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

void ReadAhead::run(History& reader) {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        std::list<Slot>::iterator slot;
        m_changed.wait(lock, [&] {
            slot = std::find_if(m_slots.begin(), m_slots.end(),
                                [](const Slot& each) { return each.state == State::Requested; });
            return m_stopping || slot != m_slots.end();
        });
        if (m_stopping)
            return;
        // A slot being read stays where it is: only its reader's thread changes it, and nobody
        // removes it meanwhile.
        slot->state = State::Reading;
        const size_t chat = slot->chat;
        lock.unlock();
        History::ChatContent content;
        std::exception_ptr error;
        try {
            content = reader.messages(chat);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        slot->content = std::move(content);
        slot->error = error;
        slot->state = State::Read;
        m_changed.notify_all();
    }
}

std::list<ReadAhead::Slot>::iterator ReadAhead::find(size_t chat) {
    return std::find_if(m_slots.begin(), m_slots.end(), [&](const Slot& slot) { return slot.chat == chat; });
}

std::list<ReadAhead::Slot>::const_iterator ReadAhead::find(size_t chat) const {
    return std::find_if(m_slots.begin(), m_slots.end(), [&](const Slot& slot) { return slot.chat == chat; });
}

void ReadAhead::waitWhileReading(std::unique_lock<std::mutex>& lock, std::list<Slot>::iterator slot) {
    m_changed.wait(lock, [&] { return slot->state != State::Reading; });
}

bool ReadAhead::request(size_t chat) {
    if (!m_started) {
        m_started = true;
        for (size_t i = 0; i < kWorkers; ++i) {
            try {
                m_readers.push_back(m_makeReader());
            } catch (...) {
                // without this reader, its share is read by the other worker or when asked for
            }
        }
        m_threads.reserve(m_readers.size());
        for (const std::unique_ptr<History>& reader : m_readers) {
            try {
                m_threads.emplace_back([this, history = reader.get()] { run(*history); });
            } catch (const std::system_error&) {
                // a thread the system will not start leaves its worker out, as a failed reader does
            }
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_threads.empty() || m_slots.size() >= kAhead || find(chat) != m_slots.end())
            return false;
        m_slots.push_back(Slot{chat, State::Requested, {}, nullptr});
    }
    m_changed.notify_all();
    return true;
}

bool ReadAhead::holds(size_t chat) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return find(chat) != m_slots.end();
}

const History::ChatContent& ReadAhead::peek(size_t chat) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto slot = find(chat);
    assert(slot != m_slots.end());
    m_changed.wait(lock, [&] { return slot->state == State::Read; });
    if (slot->error)
        std::rethrow_exception(slot->error);
    return slot->content;
}

std::optional<History::ChatContent> ReadAhead::take(size_t chat) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto slot = find(chat);
    assert(slot != m_slots.end());
    if (slot->state == State::Requested) {
        m_slots.erase(slot);
        return std::nullopt;
    }
    m_changed.wait(lock, [&] { return slot->state == State::Read; });
    History::ChatContent content = std::move(slot->content);
    const std::exception_ptr error = slot->error;
    m_slots.erase(slot);
    if (error)
        std::rethrow_exception(error);
    return content;
}

std::vector<size_t> ReadAhead::held() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<size_t> chats;
    for (const Slot& slot : m_slots)
        chats.push_back(slot.chat);
    return chats;
}

void ReadAhead::drop(size_t chat) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto slot = find(chat);
    if (slot == m_slots.end())
        return;
    waitWhileReading(lock, slot);
    m_slots.erase(slot);
}

void ReadAhead::drop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    // The chats no worker has started on go first, so that none starts on them while the others end.
    m_slots.remove_if([](const Slot& slot) { return slot.state == State::Requested; });
    while (!m_slots.empty()) {
        waitWhileReading(lock, m_slots.begin());
        m_slots.pop_front();
    }
}
