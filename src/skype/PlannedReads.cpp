#include "PlannedReads.h"

#include <algorithm>

PlannedReads::PlannedReads(History& history)
    : m_history(history) {}

PlannedReads::~PlannedReads() = default;

History::ChatContent PlannedReads::read(size_t chat) {
    if (m_historyPlans)
        return m_history.messages(chat);
    // The chat asked last, asked again: its read failed, and the caller, going on after the error,
    // asks it once more. That is the same step of the plan, not a new one: the chats read ahead after
    // it are still the ones wanted.
    const bool again = m_lastAsked && chat == *m_lastAsked;
    m_lastAsked = chat;
    if (!(again && m_lastInThisPlan))
        advancePlan(chat);
    m_lastInThisPlan = true;
    ReadAhead& ahead = readAhead();
    std::optional<History::ChatContent> content;
    if (ahead.holds(chat))
        content = ahead.take(chat);
    // Not read ahead, or no worker has started on it yet: read here rather than wait.
    History::ChatContent read = content ? std::move(*content) : m_history.messages(chat);
    const std::vector<size_t> wanted = toReadNext();
    // A chat read ahead that is not wanted next (the caller passed over it, or left the plan) must
    // not keep its worker from the ones that are.
    for (const size_t held : ahead.held()) {
        if (std::find(wanted.begin(), wanted.end(), held) == wanted.end())
            ahead.drop(held);
    }
    for (const size_t nextChat : wanted) {
        if (!ahead.holds(nextChat))
            ahead.request(nextChat);
    }
    return read;
}

// The plan's next chats; a chat it does not name comes in between, and the plan goes on after it.
std::vector<size_t> PlannedReads::toReadNext() const {
    std::vector<size_t> wanted;
    for (size_t later = m_planAt; later < m_plan.size() && wanted.size() < ReadAhead::kAhead; ++later) {
        if (std::find(wanted.begin(), wanted.end(), m_plan[later]) == wanted.end())
            wanted.push_back(m_plan[later]);
    }
    return wanted;
}

// The plan goes on after the chat's place in it, if it has one from where the plan stands.
void PlannedReads::advancePlan(size_t chat) {
    const auto from = m_plan.begin() + static_cast<std::ptrdiff_t>(qMin(m_planAt, m_plan.size()));
    const auto found = std::find(from, m_plan.end(), chat);
    if (found != m_plan.end())
        m_planAt = static_cast<size_t>(found - m_plan.begin()) + 1;
}

void PlannedReads::plan(std::vector<size_t> chats) {
    m_historyPlans = m_history.planReads(chats);
    if (m_historyPlans) {
        // The history reads along the plan itself: nothing is read ahead here.
        if (m_readAhead)
            m_readAhead->drop();
        chats.clear();
    }
    m_plan = std::move(chats);
    m_planAt = 0;
    m_lastInThisPlan = false;
}

ReadAhead& PlannedReads::readAhead() {
    if (!m_readAhead)
        m_readAhead = std::make_unique<ReadAhead>([this] { return m_history.reader(); });
    return *m_readAhead;
}

std::optional<ChatTime> PlannedReads::stampReadAhead(size_t chat) {
    if (!m_readAhead || !m_readAhead->holds(chat))
        return std::nullopt;
    try {
        const History::ChatContent& content = m_readAhead->peek(chat);
        if (content.timeStampKnown)
            return content.timeStamp;
    } catch (...) {
        // the history is asked itself, and reports its own failure
    }
    return std::nullopt;
}
