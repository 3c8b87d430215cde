#pragma once

#include "TableScan.h"

#include "messages/History.h"

#include <condition_variable>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Hands over the chats of a plan from a table read once, in the plan's order: a thread of its own
// makes the next ones ready (their rows read back and sorted) while the caller writes one. At most
// kAhead are ready at a time. A chat's rows are let go after its last place in the plan.
class PlanReader final {
public:
    struct Result {
        ChatVerdicts::Verdict verdict = ChatVerdicts::Verdict::Read;
        // Nothing where the chat is not read here: damaged, read alone, or its rows could not be had.
        std::optional<std::vector<HistoryMessage>> messages;
        // What making it ready threw (out of memory), thrown again where it is taken.
        std::exception_ptr failure;
    };

    PlanReader(std::unique_ptr<TableScan> scan, std::vector<size_t> plan);
    ~PlanReader();
    PlanReader(const PlanReader&) = delete;
    PlanReader& operator=(const PlanReader&) = delete;

    // The chat at this place of the plan; the places before it not yet taken are passed over. Places
    // are taken in increasing order.
    Result take(size_t place);

    static constexpr size_t kAhead = 2;
    // What the chats made ready once and named again later may take in memory; beyond it, a chat
    // is made again from its rows.
    static constexpr size_t kKeptBytes = size_t(64) << 20;

    // Called with each chat before it is made ready, on the thread that makes it: a seam for tests.
    static void setBeforeEachChat(std::function<void(size_t chat)> seam);

private:
    struct Ready {
        size_t place = 0;
        Result result;
    };
    Ready prepare(size_t place);
    std::optional<std::vector<HistoryMessage>> assemble(size_t chat, bool again);
    void run();

    std::unique_ptr<TableScan> m_scan;
    std::vector<size_t> m_plan;
    std::vector<bool> m_readAgain;
    // Without a thread of its own, the caller's thread makes each chat ready when it is taken.
    bool m_inline = false;
    size_t m_next = 0;
    struct Kept {
        std::vector<HistoryMessage> messages;
        size_t bytes = 0;
    };
    std::map<size_t, Kept> m_kept;
    size_t m_keptBytes = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    // At most kAhead, in the order of their places.
    std::vector<Ready> m_ready;
    bool m_stopping = false;
    std::thread m_thread; // last: joined before anything it uses goes
};
