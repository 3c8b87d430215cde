#pragma once

#include "ChatBuffer.h"
#include "ChatVerdicts.h"

#include "messages/History.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class BatchThread;
struct sqlite3_stmt;

namespace SQLite {
class Database;
} // namespace SQLite

// The messages of the chats a caller will read, gathered in one pass over the Messages table in the
// order its rows lie: each page is read once, however many chats share it. Their texts are made
// what a transcript shows while the table is read, on a thread of their own. What does not fit the
// budget is set aside in a temporary file; where none can be made, the rows are let go and the pass
// goes on for the verdicts alone, each chat then read by its own query. Every row is told to the
// verdicts, which the client's index is tallied for on a connection of its own meanwhile.
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

    // `shownTypes`: the message types a transcript shows. `plan`: positions of chats, in the order
    // they will be taken, a chat possibly more than once; none for a pass that gives verdicts alone.
    TableScan(SQLite::Database& db, Connect connect, Columns columns, std::vector<qint64> shownTypes,
              Shape shape, std::shared_ptr<ChatVerdicts> verdicts, const std::vector<size_t>& plan,
              size_t budget);
    ~TableScan();
    TableScan(const TableScan&) = delete;
    TableScan& operator=(const TableScan&) = delete;

    // Reads the table and decides the verdicts; fails with SQLite's error where the history cannot be
    // read for another reason than damage.
    void run();
    const ChatVerdicts& verdicts() const { return *m_verdicts; }
    std::shared_ptr<const ChatVerdicts> sharedVerdicts() const { return m_verdicts; }
    // The chat's shown messages, newest first (time, then number, NULL last), pointing into `bytes`.
    // Fails where the rows were let go, or the temporary file cannot be read.
    std::vector<Row> rowsOf(size_t chat, QByteArray& bytes) const;
    void release(size_t chat);
    bool usedFile() const { return m_buffer.usedFile(); }

private:
    struct Head;
    struct Raw;
    void scanTable(BatchThread& shaper);
    void take(sqlite3_stmt* statement, std::string& batch);
    void shapeBatch(const std::string& batch);
    void tallyIndex();

    SQLite::Database& m_db;
    Connect m_connect;
    Columns m_columns;
    std::vector<qint64> m_shownTypes;
    Shape m_shape;
    std::shared_ptr<ChatVerdicts> m_verdicts;
    std::vector<bool> m_planned;
    ChatBuffer m_buffer;
    std::atomic<bool> m_holding{true};
    std::optional<qint64> m_lastRowid;
};
