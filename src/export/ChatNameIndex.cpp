#include "ChatNameIndex.h"

#include <algorithm>

ChatNameIndex::ChatNameIndex(const std::vector<std::optional<QString>>& names) {
    for (size_t i = 0; i < names.size(); ++i) {
        m_starts.push_back(static_cast<int>(m_folded.size()));
        if (names[i])
            m_folded += names[i]->toCaseFolded();
        else
            m_unreadable.push_back(static_cast<int>(i) + 1);
        m_folded += QChar(0);
    }
    for (qsizetype at = 0; at < m_folded.size(); ++at) {
        if (m_folded.at(at) != QChar(0))
            m_suffixes.push_back(static_cast<int>(at));
    }
    const QStringView text(m_folded);
    std::sort(m_suffixes.begin(), m_suffixes.end(),
              [&](int a, int b) { return text.mid(a).compare(text.mid(b)) < 0; });
}

std::vector<int> ChatNameIndex::candidates(const QString& text) const {
    std::vector<int> chats = m_unreadable;
    if (text.isEmpty()) {
        // Every name contains the empty text.
        for (size_t i = 0; i < m_starts.size(); ++i)
            chats.push_back(static_cast<int>(i) + 1);
    } else {
        const QString pattern = text.toCaseFolded();
        const QStringView all(m_folded);
        const auto prefix = [&](int at) { return all.mid(at, pattern.size()); };
        const auto first =
            std::lower_bound(m_suffixes.begin(), m_suffixes.end(), pattern,
                             [&](int at, const QString& p) { return prefix(at).compare(p) < 0; });
        const auto last = std::upper_bound(first, m_suffixes.end(), pattern, [&](const QString& p, int at) {
            return p.compare(prefix(at)) < 0;
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
