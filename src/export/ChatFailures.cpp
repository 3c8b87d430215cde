#include "ChatFailures.h"

#include "base/ErrorTrap.h"
#include "base/MessageBoxes.h"

#include <algorithm>

ChatFailures::ChatFailures(ErrorTrap& trap)
    : m_trap(trap) {}

ChatFailures::Scope::Scope(ChatFailures& failures, int chat)
    : m_failures(failures)
    , m_chat(chat)
    , m_failedBefore(failures.m_trap.failures())
    , m_shownBefore(failures.m_trap.shown()) {
    failures.m_trap.limitBoxes(std::max(0, kShownBoxes - failures.m_shown));
}

ChatFailures::Scope::~Scope() {
    ErrorTrap& trap = m_failures.m_trap;
    // The steps after the chats' (putting transcripts in place) show every box again.
    trap.limitBoxes(-1);
    const int shown = trap.shown() - m_shownBefore;
    m_failures.m_shown += shown;
    if (shown > 0) {
        m_failures.m_shownChats.insert(m_chat);
        m_failures.m_unshown.erase(m_chat);
    } else if (trap.failures() != m_failedBefore && m_failures.m_shownChats.count(m_chat) == 0) {
        m_failures.m_unshown.insert(m_chat);
    }
}

void ChatFailures::reportLate(int chat, int line, const std::exception_ptr& error) {
    if (m_trap.reportLate(line, error, m_shown < kShownBoxes)) {
        ++m_shown;
        m_shownChats.insert(chat);
        m_unshown.erase(chat);
    } else if (m_shownChats.count(chat) == 0) {
        m_unshown.insert(chat);
    }
}

QString ChatFailures::message(int chats) {
    if (chats == 1)
        return QStringLiteral("1 more chat could not be read or written; its errors are not shown one by "
                              "one. The transcripts it belongs to were left as they were.");
    return QStringLiteral("%1 more chats could not be read or written; their errors are not shown one by "
                          "one. The transcripts they belong to were left as they were.")
        .arg(chats);
}

QString ChatFailures::transcriptsMessage(int transcripts) {
    if (transcripts == 1)
        return QStringLiteral("1 more transcript could not be put in place; its error is not shown.");
    return QStringLiteral("%1 more transcripts could not be put in place; their errors are not shown one by "
                          "one.")
        .arg(transcripts);
}

int ChatFailures::unshown() const {
    return static_cast<int>(
        std::count_if(m_unshown.begin(), m_unshown.end(), [](int chat) { return chat > 0; }));
}

void ChatFailures::report(MessageBoxes& boxes) const {
    const int chats = unshown();
    const int transcripts = static_cast<int>(m_unshown.size()) - chats;
    if (chats > 0)
        boxes.show(message(chats), QString(), MessageBoxes::Buttons::Ok, MessageBoxes::Icon::Warning,
                   MessageBoxes::Answer::Ok);
    if (transcripts > 0)
        boxes.show(transcriptsMessage(transcripts), QString(), MessageBoxes::Buttons::Ok,
                   MessageBoxes::Icon::Warning, MessageBoxes::Answer::Ok);
}
