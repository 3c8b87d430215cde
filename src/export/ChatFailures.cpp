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

QString ChatFailures::message(int chats) {
    if (chats == 1)
        return QStringLiteral("1 more chat could not be read or written; its errors are not shown one by "
                              "one. The transcripts it belongs to were left as they were.");
    return QStringLiteral("%1 more chats could not be read or written; their errors are not shown one by "
                          "one. The transcripts they belong to were left as they were.")
        .arg(chats);
}

void ChatFailures::report(MessageBoxes& boxes) const {
    if (m_unshown.empty())
        return;
    boxes.show(message(unshown()), QString(), MessageBoxes::Buttons::Ok, MessageBoxes::Icon::Warning,
               MessageBoxes::Answer::Ok);
}
