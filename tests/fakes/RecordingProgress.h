#pragma once

#include "skype/ReadProgress.h"

#include <vector>

// Keeps what the link told.
class RecordingProgress final : public ReadProgress {
public:
    void chatsCounted(int total) override { counted.push_back(total); }
    void chatsPlanned(const std::vector<int>& positions) override {
        plans.push_back(positions);
        askedSincePlan.clear();
    }
    void chatAsked(int position) override {
        // A chat asked for several times in a row is read once.
        if (askedSincePlan.empty() || askedSincePlan.back() != position)
            askedSincePlan.push_back(position);
    }
    void messageRead() override { ++messages; }

    std::vector<int> counted;
    std::vector<std::vector<int>> plans;
    std::vector<int> askedSincePlan;
    qint64 messages = 0;
};
