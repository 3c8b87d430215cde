#include "ChatNameIndex.h"

#include <algorithm>
#include <numeric>

namespace {

// The suffix array of `text` by prefix doubling: each round sorts by the ranks of the first 2k code
// units, given those of the first k, with two stable counting sorts. At most log2(n) rounds of
// linear work, whatever the text: a name of one character repeated costs no more than any other.
std::vector<int> suffixArray(QStringView text) {
    const int n = static_cast<int>(text.size());
    std::vector<int> order(static_cast<size_t>(n));
    std::vector<int> rank(static_cast<size_t>(n));
    if (n == 0)
        return order;
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return text.at(a).unicode() < text.at(b).unicode(); });
    rank[static_cast<size_t>(order[0])] = 0;
    for (int i = 1; i < n; ++i) {
        const int previous = order[static_cast<size_t>(i - 1)];
        const int current = order[static_cast<size_t>(i)];
        rank[static_cast<size_t>(current)] =
            rank[static_cast<size_t>(previous)] + (text.at(current) != text.at(previous) ? 1 : 0);
    }
    std::vector<int> bySecond(static_cast<size_t>(n));
    std::vector<int> next(static_cast<size_t>(n));
    std::vector<int> count(static_cast<size_t>(n) + 1);
    // A suffix that ends within the first k units sorts before every longer one it is a prefix of.
    const auto secondRank = [&](int at, int k) {
        return at + k < n ? rank[static_cast<size_t>(at + k)] : -1;
    };
    for (int k = 1; rank[static_cast<size_t>(order[static_cast<size_t>(n - 1)])] < n - 1 && k < n; k *= 2) {
        // By the rank of the second half: the suffixes without one first, then in the current order.
        int filled = 0;
        for (int at = n - k; at < n; ++at)
            bySecond[static_cast<size_t>(filled++)] = at;
        for (const int at : order) {
            if (at >= k)
                bySecond[static_cast<size_t>(filled++)] = at - k;
        }
        // Then, stably, by the rank of the first half.
        std::fill(count.begin(), count.end(), 0);
        for (const int at : bySecond)
            ++count[static_cast<size_t>(rank[static_cast<size_t>(at)]) + 1];
        std::partial_sum(count.begin(), count.end(), count.begin());
        for (const int at : bySecond)
            order[static_cast<size_t>(count[static_cast<size_t>(rank[static_cast<size_t>(at)])]++)] = at;
        next[static_cast<size_t>(order[0])] = 0;
        for (int i = 1; i < n; ++i) {
            const int previous = order[static_cast<size_t>(i - 1)];
            const int current = order[static_cast<size_t>(i)];
            const bool same = rank[static_cast<size_t>(current)] == rank[static_cast<size_t>(previous)] &&
                              secondRank(current, k) == secondRank(previous, k);
            next[static_cast<size_t>(current)] = next[static_cast<size_t>(previous)] + (same ? 0 : 1);
        }
        rank.swap(next);
    }
    return order;
}

} // namespace

ChatNameIndex::ChatNameIndex(const std::vector<std::optional<QString>>& names) {
    for (size_t i = 0; i < names.size(); ++i) {
        m_starts.push_back(static_cast<int>(m_folded.size()));
        if (names[i])
            m_folded += names[i]->toCaseFolded();
        else
            m_unreadable.push_back(static_cast<int>(i) + 1);
        m_folded += QChar(0);
    }
    for (const int at : suffixArray(m_folded)) {
        if (m_folded.at(at) != QChar(0))
            m_suffixes.push_back(at);
    }
}

int ChatNameIndex::comparePrefix(int at, QStringView pattern) const {
    // By code units, as the suffixes are sorted; a suffix shorter than the pattern is less.
    const QStringView suffix = QStringView(m_folded).mid(at);
    const qsizetype length = std::min(suffix.size(), pattern.size());
    for (qsizetype i = 0; i < length; ++i) {
        if (suffix.at(i) != pattern.at(i))
            return suffix.at(i).unicode() < pattern.at(i).unicode() ? -1 : 1;
    }
    return suffix.size() < pattern.size() ? -1 : 0;
}

std::vector<int> ChatNameIndex::candidates(const QString& text) const {
    std::vector<int> chats = m_unreadable;
    if (text.isEmpty()) {
        // Every name contains the empty text.
        for (size_t i = 0; i < m_starts.size(); ++i)
            chats.push_back(static_cast<int>(i) + 1);
    } else {
        const QString pattern = text.toCaseFolded();
        const auto first =
            std::lower_bound(m_suffixes.begin(), m_suffixes.end(), pattern,
                             [&](int at, const QString& p) { return comparePrefix(at, p) < 0; });
        const auto last = std::upper_bound(first, m_suffixes.end(), pattern, [&](const QString& p, int at) {
            return comparePrefix(at, p) > 0;
        });
        for (auto it = first; it != last; ++it) {
            const auto chat = std::upper_bound(m_starts.begin(), m_starts.end(), *it) - m_starts.begin();
            chats.push_back(static_cast<int>(chat));
        }
    }
    std::sort(chats.begin(), chats.end());
    chats.erase(std::unique(chats.begin(), chats.end()), chats.end());
    return chats;
}
