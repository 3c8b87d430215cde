#pragma once

#include "ChatBuffer.h"
#include "History.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class BatchThread;
struct sqlite3_stmt;

namespace SQLite {
class Database;
} // namespace SQLite

// The messages of the chats a caller will read, gathered in one pass over the Messages table in the
// order its rows lie: each page is read once, however many chats share it. Their texts are made
// what a transcript shows while the table is read, on a thread of their own. What does not fit the
// budget is set aside in a temporary file. The table is trusted as it reads; where the client's
// index says otherwise about a chat's rows, or the table cannot be read whole, the chats concerned
// are damaged.
class TableScan final {
public:
    using Connect = std::function<std::unique_ptr<SQLite::Database>()>;
    // The SQL of each column read; NULL where the table lacks it.
    struct Columns {
        QString time;
        QString number;
        QString type;
        QString sender;
        QString author;
        QString body;
    };
    // What a transcript shows of a row: its sender's name and its body, in UTF-8.
    struct Shown {
        QByteArray sender;
        QByteArray body;
    };
    // Makes a row's texts what a transcript shows; false where it shows nothing of the row. Called
    // on the scan's own thread.
    using Shape = std::function<bool(int type, QByteArrayView sender, QByteArrayView author,
                                     QByteArrayView body, Shown& shown)>;
    // One message of a chat, its texts lying in the bytes `rowsOf` filled.
    struct Row {
        qint64 rowid = 0;
        qint64 time = 0;
        qint64 number = 0;
        bool timeNull = false;
        bool numberNull = false;
        HistoryMessage::Span sender;
        HistoryMessage::Span body;
    };
    enum class Verdict {
        Read,
        // Its rows cannot all be confirmed.
        Damaged,
        // It holds a value of a kind the scan does not sort or show as the chat's own query does.
        ReadAlone,
    };

    // `shownTypes`: the message types a transcript shows. `plan`: positions in `chatIds`, in the
    // order they will be taken, a chat possibly more than once. `index`: the client's index on
    // Messages (convo_id, ...), if any.
    TableScan(SQLite::Database& db, Connect connect, Columns columns, std::vector<qint64> shownTypes,
              Shape shape, const std::vector<qint64>& chatIds, const std::vector<size_t>& plan,
              std::optional<QString> index, size_t budget);
    ~TableScan();
    TableScan(const TableScan&) = delete;
    TableScan& operator=(const TableScan&) = delete;

    // Reads the table; fails with SQLite's error where the history cannot be read for another
    // reason than damage, and with a Failure where the temporary file fails.
    void run();
    Verdict verdict(size_t chat) const { return m_verdicts[chat]; }
    // The chat's shown messages, newest first (time, then number, NULL last), pointing into `bytes`.
    std::vector<Row> rowsOf(size_t chat, QByteArray& bytes) const;
    void release(size_t chat);
    bool usedFile() const { return m_buffer.usedFile(); }
    // Whether the table was read whole and the client's index told every chat's rows as it did.
    bool agreesWithIndex() const { return m_agrees; }

private:
    struct Tally {
        qint64 count = 0;
        quint64 sum = 0;
        bool operator==(const Tally& other) const { return count == other.count && sum == other.sum; }
        void add(qint64 rowid);
    };
    struct Head;
    struct Raw;
    void scanTable(BatchThread& shaper);
    void take(sqlite3_stmt* statement, std::string& batch);
    void shapeBatch(const std::string& batch);
    std::optional<std::vector<Tally>> tallyIndex() const;
    void compareWithIndex(const std::vector<Tally>& indexed);
    std::vector<qint64> rowidsOf(size_t chat) const;

    SQLite::Database& m_db;
    Connect m_connect;
    Columns m_columns;
    std::vector<qint64> m_shownTypes;
    Shape m_shape;
    std::vector<qint64> m_chatIds;
    std::unordered_map<qint64, size_t> m_chatOf;
    std::vector<bool> m_planned;
    std::optional<QString> m_index;
    ChatBuffer m_buffer;
    std::vector<Verdict> m_verdicts;
    std::vector<Tally> m_tallies;
    bool m_damaged = false;
    bool m_agrees = false;
    std::optional<qint64> m_lastRowid;
};
