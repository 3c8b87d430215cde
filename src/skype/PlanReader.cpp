#include "PlanReader.h"

#include "base/Failure.h"

#include <system_error>

PlanReader::PlanReader(std::unique_ptr<TableScan> scan, std::vector<size_t> plan, Assemble assemble)
    : m_scan(std::move(scan))
    , m_plan(std::move(plan))
    , m_readAgain(m_plan.size())
    , m_assemble(std::move(assemble)) {
    std::vector<bool> later;
    for (size_t at = m_plan.size(); at-- > 0;) {
        if (m_plan[at] >= later.size())
            later.resize(m_plan[at] + 1);
        m_readAgain[at] = later[m_plan[at]];
        later[m_plan[at]] = true;
    }
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
    Ready ready{place, {m_scan->verdict(chat), std::nullopt}};
    if (ready.result.verdict == TableScan::Verdict::Read) {
        try {
            QByteArray bytes;
            ready.result.messages = m_assemble(m_scan->rowsOf(chat, bytes));
        } catch (const Failure&) {
            // the temporary file failed: the chat is read on its own
        }
    }
    if (!m_readAgain[place])
        m_scan->release(chat);
    return ready;
}

void PlanReader::run() {
    for (size_t place = 0; place < m_plan.size(); ++place) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_changed.wait(lock, [&] { return m_stopping || m_ready.size() < kAhead; });
            if (m_stopping)
                return;
        }
        Ready ready = prepare(place);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ready.push_back(std::move(ready));
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
            m_ready.pop_front();
            m_changed.notify_all();
        }
        if (!m_ready.empty() && m_ready.front().place == place) {
            Result result = std::move(m_ready.front().result);
            m_ready.pop_front();
            m_changed.notify_all();
            return result;
        }
        m_changed.wait(lock);
    }
}
