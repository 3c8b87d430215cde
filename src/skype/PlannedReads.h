#pragma once

#include "ReadAhead.h"

#include "messages/History.h"

#include <memory>
#include <optional>
#include <vector>

// Reads the chats of one history along the plan its caller tells. A history that reads along a plan
// itself is asked for each chat; for any other, the plan's next four chats are read ahead on two
// other threads while the caller works on one. A chat the plan does not name comes in between, and
// the plan goes on after it.
class PlannedReads final {
public:
    // The history must outlive this.
    explicit PlannedReads(History& history);
    ~PlannedReads();
    PlannedReads(const PlannedReads&) = delete;
    PlannedReads& operator=(const PlannedReads&) = delete;

    // The chats the caller will read next, in this order but not one after the other.
    void plan(std::vector<size_t> chats);
    // The chat's messages, as the history gives them.
    History::ChatContent read(size_t chat);
    // The stamp of a chat being read ahead, once its read told it: waited for, not taken, so that the
    // reads ahead go on as they were. Nothing when no read ahead holds it or told it.
    std::optional<ChatTime> stampReadAhead(size_t chat);

private:
    ReadAhead& readAhead();
    void advancePlan(size_t chat);
    std::vector<size_t> toReadNext() const;

    History& m_history;
    std::unique_ptr<ReadAhead> m_readAhead;
    std::optional<size_t> m_lastAsked;
    // Whether the history itself reads along the plan it was told.
    bool m_historyPlans = false;
    std::vector<size_t> m_plan;
    // Where in the plan the next chat to read stands.
    size_t m_planAt = 0;
    // Whether the chat asked last was asked under the plan that holds now.
    bool m_lastInThisPlan = false;
};
