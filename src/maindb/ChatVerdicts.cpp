#include "ChatVerdicts.h"

#include "SqlStatement.h"

#include <sqlite3.h>

#include <QByteArray>
#include <QByteArrayView>

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace {

// The kinds of value a time that is no whole number is counted by: never a readable time.
constexpr quint64 kNullTime = 0x8000000000000001ULL;
constexpr quint64 kTextTime = 0x8000000000000002ULL;
constexpr quint64 kFloatTime = 0xA5A5A5A5A5A5A5A5ULL;

} // namespace

ChatVerdicts::ChatVerdicts(const std::vector<qint64>& chatIds, std::optional<Index> index, QString timeColumn,
                           bool idsAsText)
    : m_ids(chatIds)
    , m_index(std::move(index))
    , m_timeColumn(std::move(timeColumn))
    , m_withTime(m_index && m_index->holdsTime)
    , m_idsAsText(idsAsText)
    , m_table(chatIds.size())
    , m_verdicts(chatIds.size(), Verdict::Read)
    , m_indexTells(chatIds.size(), false) {
    // Two chats of one id would both claim its messages: which chat they are cannot be told.
    for (size_t chat = 0; chat < chatIds.size(); ++chat) {
        const auto [first, alone] = m_chatOf.emplace(chatIds[chat], chat);
        if (!alone) {
            m_verdicts[first->second] = Verdict::Damaged;
            m_verdicts[chat] = Verdict::Damaged;
        }
    }
}

size_t ChatVerdicts::chatOfId(qint64 id) const {
    const auto found = m_chatOf.find(id);
    return found == m_chatOf.end() ? kNoChat : found->second;
}

size_t ChatVerdicts::chatOf(sqlite3_stmt* statement, int column) const {
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return chatOfId(sqlite3_column_int64(statement, column));
    case SQLITE_NULL:
        return kNoChat; // no chat's query finds it
    case SQLITE_FLOAT: {
        // Only a whole number within the range of ids is converted: any other would be undefined.
        const double value = sqlite3_column_double(statement, column);
        if (!(value >= -9223372036854775808.0 && value < 9223372036854775808.0))
            return kNotAnId;
        const auto id = static_cast<qint64>(value);
        return static_cast<double>(id) == value ? chatOfId(id) : kNotAnId;
    }
    case SQLITE_TEXT: {
        // A column declared as text holds each id as its digits; SQLite compares the chat's id with
        // them as text, so "012" or "12.0" is none.
        if (!m_idsAsText)
            return kNotAnId;
        const QByteArrayView digits(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)),
                                    sqlite3_column_bytes(statement, column));
        bool number = false;
        const qint64 id = digits.toLongLong(&number);
        return number && QByteArray::number(id) == digits ? chatOfId(id) : kNotAnId;
    }
    default:
        return kNotAnId;
    }
}

qint64 ChatVerdicts::timeOf(sqlite3_stmt* statement, int column) {
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return sqlite3_column_int64(statement, column);
    case SQLITE_NULL:
        return static_cast<qint64>(kNullTime);
    case SQLITE_FLOAT: {
        const double value = sqlite3_column_double(statement, column);
        quint64 bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        return static_cast<qint64>(bits ^ kFloatTime);
    }
    default:
        return static_cast<qint64>(kTextTime);
    }
}

void ChatVerdicts::count(Tally& tally, qint64 rowid, qint64 time) const {
    // Each row mixed on its own and the results added, so that the order the rows are met in does
    // not count; a time only where the index holds it, as only then can it be compared.
    quint64 mixed = static_cast<quint64>(rowid) * 0x9e3779b97f4a7c15ULL;
    if (m_withTime)
        mixed ^= static_cast<quint64>(time);
    mixed = (mixed ^ (mixed >> 30)) * 0xbf58476d1ce4e5b9ULL;
    mixed = (mixed ^ (mixed >> 27)) * 0x94d049bb133111ebULL;
    tally.sum += mixed ^ (mixed >> 31);
    ++tally.count;
}

void ChatVerdicts::metAgain(size_t chat) {
    m_tableDamaged = true;
    if (chat < m_verdicts.size())
        m_verdicts[chat] = Verdict::Damaged;
}

void ChatVerdicts::readAlone(size_t chat) {
    if (m_verdicts[chat] == Verdict::Read)
        m_verdicts[chat] = Verdict::ReadAlone;
}

void ChatVerdicts::notAnId(sqlite3_stmt* statement, int column) {
    if (!m_messageOfNoChat.isEmpty())
        return;
    m_messageOfNoChat = sqlite3_column_type(statement, column) == SQLITE_FLOAT
                            ? QStringLiteral("a message's chat is not a whole number")
                            : QStringLiteral("a message's chat is not a number");
}

bool ChatVerdicts::tallyIndex(sqlite3* db) {
    if (!m_index)
        return false;
    try {
        SqlStatement query(db, "SELECT rowid, convo_id, " +
                                   (m_withTime ? m_timeColumn : QStringLiteral("NULL")).toUtf8() +
                                   " FROM Messages INDEXED BY " + SqlStatement::quoted(m_index->name));
        std::vector<Tally> tallies(m_ids.size());
        int status;
        while ((status = sqlite3_step(query.get())) == SQLITE_ROW) {
            const size_t chat = chatOf(query.get(), 1);
            if (chat < tallies.size())
                count(tallies[chat], sqlite3_column_int64(query.get(), 0), timeOf(query.get(), 2));
        }
        if (status != SQLITE_DONE)
            return false;
        m_indexed = std::move(tallies);
        return true;
    } catch (...) {
        return false; // an index that cannot be read tells nothing
    }
}

// Where the table and the index tell a chat otherwise, each row the index lists for it is looked up
// in the table. A row the index lists for a chat that the table does not give it (lost, unreadable,
// another chat's, or at another time) leaves the chat damaged, and the chat the table gives it
// too. A row the table gives the chat that the index lacks is the index's loss where the table was
// read whole; in a table that was not, the chat is not confirmed.
void ChatVerdicts::decide(sqlite3* db) {
    if (!m_indexed) {
        // Nothing to tell the chats the damage touches from the others.
        if (m_tableDamaged)
            std::fill(m_verdicts.begin(), m_verdicts.end(), Verdict::Damaged);
        return;
    }
    std::vector<size_t> differing;
    for (size_t chat = 0; chat < m_ids.size(); ++chat) {
        m_indexTells[chat] = m_table[chat] == (*m_indexed)[chat];
        if (!m_indexTells[chat])
            differing.push_back(chat);
    }
    m_agrees = differing.empty() && !m_tableDamaged;
    if (differing.empty())
        return;
    const QByteArray time = (m_withTime ? m_timeColumn : QStringLiteral("NULL")).toUtf8();
    try {
        // The entry's own conversation is read with it: a damaged index can hand a seek entries of
        // another conversation, which are that conversation's, not this one's.
        SqlStatement entries(db, "SELECT rowid, convo_id, " + time + " FROM Messages INDEXED BY " +
                                     SqlStatement::quoted(m_index->name) + " WHERE convo_id = ?");
        SqlStatement row(db, "SELECT convo_id, " + time + " FROM Messages NOT INDEXED WHERE rowid = ?");
        for (const size_t chat : differing) {
            if (m_verdicts[chat] != Verdict::Damaged)
                lookAt(chat, entries.get(), row.get());
        }
    } catch (...) {
        for (const size_t chat : differing)
            m_verdicts[chat] = Verdict::Damaged;
    }
}

void ChatVerdicts::lookAt(size_t chat, sqlite3_stmt* entries, sqlite3_stmt* row) {
    sqlite3_reset(entries);
    sqlite3_bind_int64(entries, 1, m_ids[chat]);
    Tally confirmed;
    std::unordered_set<qint64> seen;
    bool damaged = false;
    int status;
    while ((status = sqlite3_step(entries)) == SQLITE_ROW) {
        if (chatOf(entries, 1) != chat)
            continue;
        const qint64 rowid = sqlite3_column_int64(entries, 0);
        if (!seen.insert(rowid).second)
            continue; // listed twice: the index's fault alone
        const qint64 time = timeOf(entries, 2);
        sqlite3_reset(row);
        sqlite3_bind_int64(row, 1, rowid);
        if (sqlite3_step(row) != SQLITE_ROW) {
            damaged = true;
            continue;
        }
        const size_t owner = chatOf(row, 0);
        if (owner != chat || (m_withTime && timeOf(row, 1) != time)) {
            damaged = true;
            if (owner < m_verdicts.size())
                m_verdicts[owner] = Verdict::Damaged;
            continue;
        }
        count(confirmed, rowid, time);
    }
    sqlite3_reset(row);
    if (status != SQLITE_DONE || (!(confirmed == m_table[chat]) && m_tableDamaged))
        damaged = true;
    if (damaged)
        m_verdicts[chat] = Verdict::Damaged;
}
