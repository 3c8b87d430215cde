#include "MessageMerge.h"

#include <QHash>

#include <algorithm>
#include <deque>
#include <limits>
#include <optional>

namespace {

constexpr qint64 kWithin = MessageMerge::kSameMessageWithin;

// What a copy of a message has in common with it, as views into the message's own texts.
struct Key {
    bool byHandle = false;
    QByteArrayView sender;
    QByteArrayView body;
    bool operator==(const Key& other) const {
        return byHandle == other.byHandle && sender == other.sender && body == other.body;
    }
};

size_t qHash(const Key& key, size_t seed) {
    return qHashMulti(seed, key.byHandle, key.sender, key.body);
}

// A message on its way to the merged chat, with its key.
struct Entry {
    const HistoryMessage* message;
    qint64 time;
    Key key;
};

// The earliest and the latest time a copy of a message at `time` may have, as far as a number holds:
// a damaged history's times may lie at either end of it.
qint64 reachFrom(qint64 time) {
    return time < std::numeric_limits<qint64>::min() + kWithin ? std::numeric_limits<qint64>::min()
                                                               : time - kWithin;
}
qint64 reachTo(qint64 time) {
    return time > std::numeric_limits<qint64>::max() - kWithin ? std::numeric_limits<qint64>::max()
                                                               : time + kWithin;
}

bool isEarlier(const Entry& a, const Entry& b) {
    return a.time < b.time;
}

bool hasTime(const Entry& entry) {
    return entry.time != HistoryMessage::kNoTime;
}

// The texts of a message that holds them as text only, kept for the keys that view them.
using Owned = std::deque<QByteArray>;

Key keyOf(const HistoryMessage& message, Owned& owned) {
    Key key;
    key.byHandle = !message.senderHandle().isEmpty();
    if (const std::optional<Message::Utf8> texts = message.utf8()) {
        key.sender = key.byHandle ? message.senderHandle() : texts->senderName;
        key.body = texts->body;
        return key;
    }
    key.sender = key.byHandle ? message.senderHandle()
                              : QByteArrayView(owned.emplace_back(message.senderName().toUtf8()));
    key.body = owned.emplace_back(message.body().toUtf8());
    return key;
}

// A history's messages, oldest first (newest first reversed, so that messages of equal times keep
// their history's order), in order of their times.
std::vector<Entry> entriesOf(const std::vector<HistoryMessage>& messages, Owned& owned) {
    std::vector<Entry> entries;
    entries.reserve(messages.size());
    for (auto message = messages.rbegin(); message != messages.rend(); ++message)
        entries.push_back({&*message, message->time(), keyOf(*message, owned)});
    // A history that orders a message without a time elsewhere than first.
    if (!std::is_sorted(entries.begin(), entries.end(), isEarlier))
        std::stable_sort(entries.begin(), entries.end(), isEarlier);
    return entries;
}

// The messages merged so far that a later history's copies may match: those with a time within reach
// of the later history's, grouped by key, each group in order of time. A group's messages lie side by
// side; those matched are passed over by following `next` to one that is not.
class Candidates {
public:
    Candidates(const std::vector<Entry>& merged, qint64 from, qint64 to) {
        const auto first =
            std::lower_bound(merged.begin(), merged.end(), Entry{nullptr, from, {}}, isEarlier);
        const auto last = std::upper_bound(first, merged.end(), Entry{nullptr, to, {}}, isEarlier);
        std::vector<std::pair<int, qint64>> groupAndTime;
        for (auto entry = first; entry != last; ++entry) {
            if (!hasTime(*entry))
                continue;
            const auto found = m_groups.constFind(entry->key);
            const int group = found != m_groups.constEnd() ? *found : static_cast<int>(m_groups.size());
            if (found == m_groups.constEnd())
                m_groups.insert(entry->key, group);
            groupAndTime.emplace_back(group, entry->time);
        }
        // Each group's place, by counting.
        m_start.assign(static_cast<size_t>(m_groups.size()) + 1, 0);
        for (const auto& [group, time] : groupAndTime)
            ++m_start[static_cast<size_t>(group) + 1];
        for (size_t group = 1; group < m_start.size(); ++group)
            m_start[group] += m_start[group - 1];
        std::vector<int> at(m_start.begin(), m_start.end() - 1);
        m_times.resize(groupAndTime.size());
        for (const auto& [group, time] : groupAndTime)
            m_times[static_cast<size_t>(at[static_cast<size_t>(group)]++)] = time;
        m_next.resize(m_times.size() + 1);
        for (size_t slot = 0; slot <= m_times.size(); ++slot)
            m_next[slot] = static_cast<int>(slot);
    }

    // Matches the earliest copy within reach not matched yet; false when there is none. Asked in
    // order of time, this matches as many copies as can be matched one to one (the reach is the same
    // for every message), and keeps their order: the n-th of identical messages goes with the n-th.
    bool match(const Entry& later) {
        const auto found = m_groups.constFind(later.key);
        if (found == m_groups.constEnd())
            return false;
        const int start = m_start[static_cast<size_t>(*found)];
        const int end = m_start[static_cast<size_t>(*found) + 1];
        const auto begin = m_times.begin();
        const int at =
            static_cast<int>(std::lower_bound(begin + start, begin + end, reachFrom(later.time)) - begin);
        const int slot = nextFree(at);
        if (slot >= end || m_times[static_cast<size_t>(slot)] > reachTo(later.time))
            return false;
        m_next[static_cast<size_t>(slot)] = slot + 1;
        return true;
    }

private:
    // The first slot from `slot` on not matched yet (past the group's last, when none).
    int nextFree(int slot) {
        int root = slot;
        while (m_next[static_cast<size_t>(root)] != root)
            root = m_next[static_cast<size_t>(root)];
        while (m_next[static_cast<size_t>(slot)] != root) {
            const int next = m_next[static_cast<size_t>(slot)];
            m_next[static_cast<size_t>(slot)] = root;
            slot = next;
        }
        return root;
    }

    QHash<Key, int> m_groups;
    std::vector<int> m_start;
    std::vector<qint64> m_times;
    std::vector<int> m_next;
};

// The time range of the entries that have a time, if any.
std::optional<std::pair<qint64, qint64>> timedRange(const std::vector<Entry>& entries) {
    const auto first = std::find_if(entries.begin(), entries.end(), hasTime);
    if (first == entries.end())
        return std::nullopt;
    return std::pair{first->time, entries.back().time};
}

} // namespace

namespace MessageMerge {

std::vector<HistoryMessage> merge(const std::vector<std::vector<HistoryMessage>>& parts) {
    Owned owned;
    std::vector<Entry> merged;
    for (const std::vector<HistoryMessage>& part : parts) {
        std::vector<Entry> later = entriesOf(part, owned);
        const std::optional<std::pair<qint64, qint64>> mergedRange = timedRange(merged);
        const std::optional<std::pair<qint64, qint64>> laterRange = timedRange(later);
        std::vector<Entry> added;
        if (mergedRange && laterRange) {
            // Only what lies within reach of the other side can be a copy.
            Candidates candidates(merged, reachFrom(laterRange->first), reachTo(laterRange->second));
            for (const Entry& entry : later) {
                const bool inReach = hasTime(entry) && entry.time >= reachFrom(mergedRange->first) &&
                                     entry.time <= reachTo(mergedRange->second);
                if (!inReach || !candidates.match(entry))
                    added.push_back(entry);
            }
        } else {
            added = std::move(later);
        }
        // Of equal times, those merged before come first.
        std::vector<Entry> next;
        next.reserve(merged.size() + added.size());
        std::merge(merged.begin(), merged.end(), added.begin(), added.end(), std::back_inserter(next),
                   isEarlier);
        merged = std::move(next);
    }
    std::vector<HistoryMessage> messages;
    messages.reserve(merged.size());
    for (auto entry = merged.rbegin(); entry != merged.rend(); ++entry)
        messages.push_back(*entry->message);
    return messages;
}

} // namespace MessageMerge
