#pragma once

#include "messages/History.h"

#include <condition_variable>
#include <exception>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Reads chats of a history ahead of the caller, on two long-lived worker threads (more would only
// compete for the two cores of a typical machine). Each worker has a reader of the history of its
// own; the chats requested wait in one queue, in the order they were asked for, and whichever
// worker is free reads the next, so a long chat on one worker does not leave the other idle.
//
// What it keeps to: at most kAhead chats are held at a time, requested, being read or read and not
// yet taken; a request beyond that is refused, never queued. No reader is destroyed while its
// worker reads: the workers' threads end, after their current reads, before the readers go. Only
// one thread, the caller's, uses a ReadAhead.
class ReadAhead final {
public:
    using ReaderFactory = std::function<std::unique_ptr<History>()>;

    // `makeReader` is called on the caller's thread, once per worker, at the first request; a
    // factory that fails, or a thread the system will not start, leaves that worker out.
    explicit ReadAhead(ReaderFactory makeReader);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Queues the chat for reading, unless kAhead chats are held already (this one included) or no
    // worker could be made. True when the chat is now requested.
    bool request(size_t chat);
    // Whether the chat was requested and not yet taken.
    bool holds(size_t chat) const;
    // The chat's content, waiting for its read to end, without taking it.
    const History::ChatContent& peek(size_t chat);
    // The chat's content, waiting for its read to end; its place is free again. Throws what the
    // reader threw. Nothing when no worker has started on the chat yet: it is no longer held, and
    // the caller, who would otherwise wait, reads it itself. The chat must be held.
    std::optional<History::ChatContent> take(size_t chat);
    // The chats requested and not yet taken, in the order they were asked for.
    std::vector<size_t> held() const;
    // Forgets the chat, if held, waiting for its read if under way.
    void drop(size_t chat);
    // Forgets every chat held, waiting for reads under way; their results and failures are not needed.
    void drop();

    static constexpr size_t kWorkers = 2;
    static constexpr size_t kAhead = 4;

private:
    enum class State { Requested, Reading, Read };
    struct Slot {
        size_t chat = 0;
        State state = State::Requested;
        History::ChatContent content;
        std::exception_ptr error;
    };

    void run(History& reader);
    std::list<Slot>::iterator find(size_t chat);
    std::list<Slot>::const_iterator find(size_t chat) const;
    void waitWhileReading(std::unique_lock<std::mutex>& lock, std::list<Slot>::iterator slot);

    ReaderFactory m_makeReader;
    bool m_started = false;
    std::vector<std::unique_ptr<History>> m_readers;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::list<Slot> m_slots;
    bool m_stopping = false;
    std::vector<std::thread> m_threads; // last: joined before anything they use goes
};
