#pragma once

#include <QString>

#include <optional>
#include <vector>

// Finds the chats whose name contains a text, ignoring letter case, without testing every chat:
// a suffix array over all the names, so that matching every row against every chat stays far
// from rows times chats. Building it takes O(n log n) in the names' total length n.
class ChatNameIndex final {
public:
    // The names of chats 1, 2, ...; nothing where a name could not be read.
    explicit ChatNameIndex(const std::vector<std::optional<QString>>& names);

    // Ascending positions of the chats whose name contains the text, together with every chat
    // whose name could not be read (its test is for the caller to repeat).
    std::vector<int> candidates(const QString& text) const;

private:
    // The suffix at `at` against the pattern, over the pattern's length: <0, 0 or >0.
    int comparePrefix(int at, QStringView pattern) const;

    QString m_folded;            // every name case-folded, each followed by U+0000
    std::vector<int> m_starts;   // where each chat's name begins in m_folded
    std::vector<int> m_suffixes; // the suffixes of m_folded, sorted
    std::vector<int> m_unreadable;
};
