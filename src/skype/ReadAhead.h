#pragma once

#include "History.h"

#include <array>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Reads chats of a history ahead of the caller, on two long-lived worker threads (more would only
// compete for the two cores of a typical machine). Each worker has a reader of the history of its
// own and serves the chats whose index it is given modulo two, so while one chat is written the
// next two are being read.
//
// What it keeps to: a worker has at most one chat at a time, requested, being read or read and not
// yet taken; a request for a chat whose worker is busy is refused, never queued. No reader is
// destroyed while its worker reads: a worker's thread ends, after its current read, before its
// reader goes. Only one thread, the caller's, uses a ReadAhead.
class ReadAhead final {
public:
    using ReaderFactory = std::function<std::unique_ptr<History>()>;

    // `makeReader` is called on the caller's thread, once per worker, when the worker is first
    // needed; a factory that fails leaves that worker out.
    explicit ReadAhead(ReaderFactory makeReader);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Starts reading the chat on its worker, unless the worker has a chat already (this one
    // included) or could not be made. True when the chat is now requested.
    bool request(size_t chat);
    // Whether the chat was requested and not yet taken.
    bool holds(size_t chat) const;
    // The chat's content, waiting for its read to end, without taking it.
    const History::ChatContent& peek(size_t chat);
    // The chat's content, waiting for its read to end; its worker is free again. Throws what the
    // reader threw. The chat must be held.
    History::ChatContent take(size_t chat);
    // The chats requested and not yet taken.
    std::vector<size_t> held() const;
    // Forgets the chat, if held, waiting for its read if under way.
    void drop(size_t chat);
    // Forgets every chat held, waiting for reads under way; their results and failures are not needed.
    void drop();

    static constexpr size_t kWorkers = 2;

private:
    class Worker;
    Worker* workerFor(size_t chat) const;

    ReaderFactory m_makeReader;
    std::array<std::unique_ptr<Worker>, kWorkers> m_workers;
    std::array<bool, kWorkers> m_failed{};
};
