#include "PlanReader.h"

#include "base/Failure.h"

#include <system_error>
#include <type_traits>
#include <utility>

namespace {

std::function<void(size_t)>& beforeEachChat() {
    static std::function<void(size_t)> seam;
    return seam;
}

} // namespace

void PlanReader::setBeforeEachChat(std::function<void(size_t chat)> seam) {
    beforeEachChat() = std::move(seam);
}

PlanReader::PlanReader(std::unique_ptr<TableScan> scan, std::vector<size_t> plan)
    : m_scan(std::move(scan))
    , m_plan(std::move(plan))
    , m_readAgain(m_plan.size()) {
    std::vector<bool> later;
    for (size_t at = m_plan.size(); at-- > 0;) {
        if (m_plan[at] >= later.size())
            later.resize(m_plan[at] + 1);
        m_readAgain[at] = later[m_plan[at]];
        later[m_plan[at]] = true;
    }
    // Room for every chat made ready, taken before the thread starts: handing one over on the thread
    // never allocates, so running out of memory there cannot end the program.
    m_ready.reserve(kAhead);
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        m_inline = true;
    }
}

PlanReader::~PlanReader() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

PlanReader::Ready PlanReader::prepare(size_t place) {
    const size_t chat = m_plan[place];
    if (beforeEachChat())
        beforeEachChat()(chat);
    Ready ready{place, {m_scan->verdicts().verdict(chat), std::nullopt, nullptr}};
    if (ready.result.verdict == ChatVerdicts::Verdict::Read)
        ready.result.messages = assemble(chat, m_readAgain[place]);
    if (!m_readAgain[place]) {
        m_scan->release(chat);
        const auto kept = m_kept.find(chat);
        if (kept != m_kept.end()) {
            m_keptBytes -= kept->second.bytes;
            m_kept.erase(kept);
        }
    }
    return ready;
}

// A chat named again later is made once and kept, within kKeptBytes, in place of its rows.
std::optional<std::vector<HistoryMessage>> PlanReader::assemble(size_t chat, bool again) {
    const auto kept = m_kept.find(chat);
    if (kept != m_kept.end())
        return kept->second.messages; // the texts' block is shared, not copied
    std::vector<HistoryMessage> messages;
    try {
        QByteArray bytes;
        const std::vector<TableScan::Row> rows = m_scan->rowsOf(chat, bytes);
        messages.reserve(rows.size());
        for (const TableScan::Row& row : rows)
            messages.emplace_back(bytes, row.sender, row.body);
    } catch (const Failure&) {
        return std::nullopt; // the temporary file failed: the chat is read on its own
    }
    if (again) {
        size_t bytes = messages.capacity() * sizeof(HistoryMessage);
        for (const HistoryMessage& message : messages)
            bytes += message.textBytes();
        if (m_keptBytes + bytes <= kKeptBytes) {
            m_kept[chat] = {messages, bytes};
            m_keptBytes += bytes;
            m_scan->release(chat); // its rows are not needed again
        }
    }
    return messages;
}

void PlanReader::run() {
    for (size_t place = 0; place < m_plan.size(); ++place) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [&] { return m_stopping || m_ready.size() < kAhead; });
            if (m_stopping)
                return;
        }
        Ready ready;
        try {
            ready = prepare(place);
        } catch (...) {
            // Out of memory, say: the chat fails where it is taken, as it would on the caller's
            // thread, rather than ending the program here.
            ready.place = place;
            ready.result.failure = std::current_exception();
        }
        static_assert(std::is_nothrow_move_constructible_v<Ready>, "handing over must not throw");
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ready.push_back(std::move(ready)); // within the room reserved
        }
        m_changed.notify_all();
    }
}

PlanReader::Result PlanReader::take(size_t place) {
    if (m_inline) {
        for (; m_next < place; ++m_next) {
            if (!m_readAgain[m_next])
                m_scan->release(m_plan[m_next]);
        }
        m_next = place + 1;
        return prepare(place).result;
    }
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        while (!m_ready.empty() && m_ready.front().place < place) {
            m_ready.erase(m_ready.begin());
            m_changed.notify_all();
        }
        if (!m_ready.empty() && m_ready.front().place == place) {
            Result result;
            std::swap(result, m_ready.front().result);
            m_ready.erase(m_ready.begin());
            m_changed.notify_all();
            if (result.failure)
                std::rethrow_exception(result.failure);
            return result;
        }
        m_changed.wait(lock);
    }
}
