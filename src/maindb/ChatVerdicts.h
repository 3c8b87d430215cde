#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// Whether each chat of a main.db can be read whole and right: decided in this one place, whichever
// way its messages are then read (along one pass over the table, or by a query of the chat's own).
// The table's rows are tallied per chat as the pass meets them (their row ids and times); the
// client's index on Messages is tallied the same way; a chat on which the two disagree is looked at
// entry by entry. A chat's own query then reads right only the rows that tally as the table's.
class ChatVerdicts final {
public:
    enum class Verdict {
        Read,
        // Its rows cannot all be confirmed.
        Damaged,
        // It holds a value of a kind the pass does not sort or show as the chat's own query does.
        ReadAlone,
    };
    // What a chat's rows add up to: their number and a sum of their row ids and times, mixed so that
    // rows exchanged between chats, or a time changed, change it.
    struct Tally {
        qint64 count = 0;
        quint64 sum = 0;
        bool operator==(const Tally& other) const { return count == other.count && sum == other.sum; }
    };
    // The client's index on Messages (convo_id, ...), and whether it holds the time next.
    struct Index {
        QString name;
        bool holdsTime = false;
    };
    // What `chatOf` gives for a value that names no chat of the history (a conversation since
    // removed, NULL), and for one that is no chat id at all (text, a fraction).
    static constexpr size_t kNoChat = size_t(-1);
    static constexpr size_t kNotAnId = size_t(-2);

    // `chatIds`: the chats' ids, by position. `timeColumn`: the SQL of the messages' time, NULL where
    // the table lacks it. `idsAsText`: the column of chat ids is declared as text, and holds them so.
    ChatVerdicts(const std::vector<qint64>& chatIds, std::optional<Index> index, QString timeColumn,
                 bool idsAsText);

    size_t chats() const { return m_ids.size(); }
    // The chat a message's conversation id names, read as SQLite's own comparison with the chat's id
    // takes it: an integer, a float equal to one, or its digits where the column holds text.
    size_t chatOf(sqlite3_stmt* statement, int column) const;
    // A time as the tallies count it: the value of a whole number, else its kind.
    static qint64 timeOf(sqlite3_stmt* statement, int column);
    void count(Tally& tally, qint64 rowid, qint64 time) const;

    // The table's side, as a pass over it meets the rows.
    void tableRow(size_t chat, qint64 rowid, qint64 time) { count(m_table[chat], rowid, time); }
    // A row met a second time: a page of the table stands where another should.
    void metAgain(size_t chat);
    // Damage the pass read on past: rows may lie unread in it.
    void tableDamaged() { m_tableDamaged = true; }
    void readAlone(size_t chat);
    // The value at the column is no chat id: which chat lacks the message cannot be told.
    void notAnId(sqlite3_stmt* statement, int column);

    // The index's side, on a connection of its own while the table is read: false where there is no
    // index or it cannot be read through.
    bool tallyIndex(sqlite3* db);
    // Decides each chat, through a connection to the same history for the chats on which the table
    // and the index disagree. After both sides.
    void decide(sqlite3* db);

    Verdict verdict(size_t chat) const { return m_verdicts[chat]; }
    // Whether the client's index lists this chat's rows as the table holds them: its own query may
    // go through the index.
    bool indexTells(size_t chat) const { return m_indexTells[chat]; }
    // Whether rows read for the chat, tallied with `count`, are the ones the table gave it.
    bool sameAsTable(size_t chat, const Tally& read) const { return read == m_table[chat]; }
    // Whether the table was read whole and the index told every chat's rows as it did.
    bool agreesWithIndex() const { return m_agrees; }
    // What a message's chat is where it is no chat id ("not a number"), else empty.
    const QString& messageOfNoChat() const { return m_messageOfNoChat; }

private:
    size_t chatOfId(qint64 id) const;
    void lookAt(size_t chat, sqlite3_stmt* entries, sqlite3_stmt* row);

    std::vector<qint64> m_ids;
    std::unordered_map<qint64, size_t> m_chatOf;
    std::optional<Index> m_index;
    QString m_timeColumn;
    bool m_withTime;
    bool m_idsAsText;
    std::vector<Tally> m_table;
    std::optional<std::vector<Tally>> m_indexed;
    std::vector<Verdict> m_verdicts;
    std::vector<bool> m_indexTells;
    bool m_tableDamaged = false;
    bool m_agrees = false;
    QString m_messageOfNoChat;
};
