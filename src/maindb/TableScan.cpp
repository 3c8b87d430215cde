#include "TableScan.h"

#include "BatchThread.h"
#include "SqlStatement.h"

#include "base/Failure.h"

#include <SQLiteCpp/Database.h>

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <system_error>
#include <thread>
#include <tuple>

// What a row keeps in the buffer, followed by its two texts as a transcript shows them; cleared
// whole, padding included.
struct TableScan::Head {
    qint64 rowid;
    qint64 time;
    qint64 number;
    quint32 senderSize;
    quint32 bodySize;
    quint8 flags;
};

// A row as read, on its way to the thread that shapes it: followed by its three texts as they lie.
struct TableScan::Raw {
    quint64 chat;
    qint64 rowid;
    qint64 time;
    qint64 number;
    qint64 type;
    quint32 senderSize;
    quint32 authorSize;
    quint32 bodySize;
    quint8 flags;
};

namespace {

constexpr quint8 kTimeNull = 1;
constexpr quint8 kNumberNull = 2;

bool isDamage(int status) {
    const int primary = status & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_FORMAT;
}

QByteArrayView textOf(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? QByteArrayView(text, sqlite3_column_bytes(statement, column)) : QByteArrayView();
}

} // namespace

namespace {

std::vector<size_t> takenLast(size_t chats, const std::vector<size_t>& plan) {
    std::vector<size_t> order;
    std::vector<bool> seen(chats);
    for (auto at = plan.rbegin(); at != plan.rend(); ++at) {
        if (!seen[*at]) {
            seen[*at] = true;
            order.push_back(*at);
        }
    }
    // A chat's first planned read decides when it is taken first.
    std::vector<size_t> first(chats, plan.size());
    for (size_t at = 0; at < plan.size(); ++at)
        first[plan[at]] = std::min(first[plan[at]], at);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return first[a] > first[b]; });
    return order;
}

} // namespace

TableScan::TableScan(SQLite::Database& db, Connect connect, Columns columns, std::vector<qint64> shownTypes,
                     Shape shape, std::shared_ptr<ChatVerdicts> verdicts, const std::vector<size_t>& plan,
                     size_t budget)
    : m_db(db)
    , m_connect(std::move(connect))
    , m_columns(std::move(columns))
    , m_shownTypes(std::move(shownTypes))
    , m_shape(std::move(shape))
    , m_verdicts(std::move(verdicts))
    , m_planned(m_verdicts->chats())
    , m_buffer(m_verdicts->chats(), takenLast(m_verdicts->chats(), plan), budget) {
    std::sort(m_shownTypes.begin(), m_shownTypes.end());
    for (const size_t chat : plan)
        m_planned[chat] = true;
}

TableScan::~TableScan() = default;

void TableScan::run() {
    // The index's own tally on a connection of its own while this one reads the table: both passes
    // run at once. Where no thread can be had, this one takes both.
    std::optional<std::thread> indexPass;
    try {
        indexPass.emplace([this] { tallyIndex(); });
    } catch (const std::system_error&) {
    }
    try {
        // The rows' texts are made what a transcript shows on a thread of their own while the
        // table is read on.
        BatchThread shaper([this](const std::string& batch) { shapeBatch(batch); });
        scanTable(shaper);
        shaper.finish();
    } catch (...) {
        if (indexPass)
            indexPass->join();
        throw;
    }
    if (indexPass)
        indexPass->join();
    else
        tallyIndex();
    m_verdicts->decide(m_db.getHandle());
}

void TableScan::tallyIndex() {
    try {
        const std::unique_ptr<SQLite::Database> db = m_connect();
        m_verdicts->tallyIndex(db->getHandle());
    } catch (...) {
        // an index that cannot be read tells nothing
    }
}

void TableScan::scanTable(BatchThread& shaper) {
    const QByteArray sql =
        QStringLiteral("SELECT rowid, convo_id, %1, %2, %3, %4, %5, %6 FROM Messages NOT INDEXED "
                       "WHERE rowid >= ? ORDER BY rowid")
            .arg(m_columns.time, m_columns.number, m_columns.type, m_columns.sender, m_columns.author,
                 m_columns.body)
            .toUtf8();
    sqlite3* db = m_db.getHandle();
    // Cells that point outside their page are found as damage rather than read.
    sqlite3_exec(db, "PRAGMA cell_size_check = ON", nullptr, nullptr, nullptr);
    SqlStatement query(db, sql);
    sqlite3_stmt* statement = query.get();
    // Where the next read starts. Rows before the first readable one are taken to have positive ids.
    qint64 from = std::numeric_limits<qint64>::min();
    // Whether a read that starts at `start` gets a row.
    const auto startsAt = [&](qint64 start) {
        sqlite3_reset(statement);
        sqlite3_bind_int64(statement, 1, start);
        return sqlite3_step(statement) == SQLITE_ROW;
    };
    std::string batch;
    const auto handLast = [&] {
        if (!batch.empty())
            shaper.hand(batch);
    };
    for (;;) {
        sqlite3_reset(statement);
        sqlite3_bind_int64(statement, 1, from);
        int status;
        while ((status = sqlite3_step(statement)) == SQLITE_ROW) {
            take(statement, batch);
            if (batch.size() >= BatchThread::kBatchBytes)
                shaper.hand(batch);
            if (*m_lastRowid == std::numeric_limits<qint64>::max())
                return handLast();
            // Never back: rows met again after a skip (stale copies of earlier ones) would lead the
            // next skip to the same place, for ever.
            from = std::max(from, *m_lastRowid + 1);
        }
        if (status == SQLITE_DONE)
            return handLast();
        if (!isDamage(sqlite3_extended_errcode(db)) && !isDamage(status))
            throw SQLite::Exception(db, status);
        m_verdicts->tableDamaged();
        if (!m_lastRowid)
            from = std::max<qint64>(from, 1);
        // Past the damage: reads that start further and further on, until one gets a row, then the
        // earliest start between the last that failed and it.
        qint64 failed = from;
        std::optional<qint64> past;
        for (int skip = 0; skip < 62 && !past; ++skip) {
            const qint64 step = qint64(1) << skip;
            if (from > std::numeric_limits<qint64>::max() - step)
                break;
            if (startsAt(from + step))
                past = from + step;
            else
                failed = from + step;
        }
        if (!past)
            return handLast(); // nothing readable lies beyond
        while (*past - failed > 1) {
            const qint64 middle = failed + (*past - failed) / 2;
            if (startsAt(middle))
                past = middle;
            else
                failed = middle;
        }
        from = *past;
    }
}

void TableScan::take(sqlite3_stmt* statement, std::string& batch) {
    const qint64 rowid = sqlite3_column_int64(statement, 0);
    const bool again = m_lastRowid && rowid <= *m_lastRowid;
    if (!again)
        m_lastRowid = rowid;
    const size_t chat = m_verdicts->chatOf(statement, 1);
    if (again) {
        // A row met twice: a page of the table stands where another should.
        m_verdicts->metAgain(chat);
        return;
    }
    if (chat >= m_planned.size()) {
        if (chat == ChatVerdicts::kNotAnId)
            m_verdicts->notAnId(statement, 1);
        return;
    }
    // The time read once, for the verdicts and for the row: it is read for every row.
    const int timeKind = sqlite3_column_type(statement, 2);
    const qint64 time =
        timeKind == SQLITE_INTEGER ? sqlite3_column_int64(statement, 2) : ChatVerdicts::timeOf(statement, 2);
    m_verdicts->tableRow(chat, rowid, time);
    if (!m_planned[chat] || !m_holding.load(std::memory_order_relaxed))
        return;
    Raw head;
    std::memset(&head, 0, sizeof head);
    head.chat = chat;
    head.rowid = rowid;
    bool plain = true;
    const auto integer = [&](int column, qint64& value, quint8 nullFlag) {
        const int kind = sqlite3_column_type(statement, column);
        if (kind == SQLITE_INTEGER)
            value = sqlite3_column_int64(statement, column);
        else if (kind == SQLITE_NULL)
            head.flags |= nullFlag;
        else
            plain = false;
    };
    if (timeKind == SQLITE_INTEGER)
        head.time = time;
    else if (timeKind == SQLITE_NULL)
        head.flags |= kTimeNull;
    else
        plain = false;
    integer(3, head.number, kNumberNull);
    // NULL is no type at all: the chat's own query does not show it either.
    bool shown = false;
    const int typeKind = sqlite3_column_type(statement, 4);
    if (typeKind == SQLITE_INTEGER) {
        head.type = sqlite3_column_int64(statement, 4);
        shown = std::binary_search(m_shownTypes.begin(), m_shownTypes.end(), head.type);
    } else if (typeKind != SQLITE_NULL) {
        plain = false;
    }
    QByteArrayView texts[3];
    if (plain && shown) {
        for (int column = 5; column <= 7; ++column) {
            const int kind = sqlite3_column_type(statement, column);
            if (kind == SQLITE_TEXT)
                texts[column - 5] = textOf(statement, column);
            else if (kind != SQLITE_NULL)
                plain = false;
        }
    }
    if (!plain)
        m_verdicts->readAlone(chat);
    // A row a transcript does not show is not kept: the verdicts counted it already.
    if (!plain || !shown)
        return;
    head.senderSize = static_cast<quint32>(texts[0].size());
    head.authorSize = static_cast<quint32>(texts[1].size());
    head.bodySize = static_cast<quint32>(texts[2].size());
    batch.append(reinterpret_cast<const char*>(&head), sizeof head);
    for (const QByteArrayView text : texts)
        batch.append(text.data(), static_cast<size_t>(text.size()));
}

// The rows of a batch into the buffer, their texts as a transcript shows them. Where the temporary
// file for what does not fit fails, every row is let go: the pass goes on for the verdicts alone.
void TableScan::shapeBatch(const std::string& batch) {
    if (!m_holding.load(std::memory_order_relaxed))
        return;
    Shown shown;
    const char* const data = batch.data();
    try {
        for (size_t at = 0; at < batch.size();) {
            Raw raw;
            std::memcpy(&raw, data + at, sizeof raw);
            at += sizeof raw;
            const QByteArrayView sender(data + at, raw.senderSize);
            at += raw.senderSize;
            const QByteArrayView author(data + at, raw.authorSize);
            at += raw.authorSize;
            const QByteArrayView body(data + at, raw.bodySize);
            at += raw.bodySize;
            if (!m_shape(static_cast<int>(raw.type), sender, author, body, shown))
                continue;
            Head head;
            std::memset(&head, 0, sizeof head);
            head.rowid = raw.rowid;
            head.time = raw.time;
            head.number = raw.number;
            head.flags = raw.flags;
            head.senderSize = static_cast<quint32>(shown.sender.size());
            head.bodySize = static_cast<quint32>(shown.body.size());
            const auto chat = static_cast<size_t>(raw.chat);
            m_buffer.append(chat, reinterpret_cast<const char*>(&head), sizeof head);
            m_buffer.append(chat, shown.sender.constData(), static_cast<size_t>(shown.sender.size()));
            m_buffer.append(chat, shown.body.constData(), static_cast<size_t>(shown.body.size()));
        }
    } catch (const Failure&) {
        m_holding = false;
        m_buffer.clear();
    }
}

std::vector<TableScan::Row> TableScan::rowsOf(size_t chat, QByteArray& bytes) const {
    if (!m_holding)
        throw Failure(QStringLiteral("the messages read could not be held"));
    bytes = m_buffer.bytesOf(chat);
    std::vector<Row> rows;
    const char* data = bytes.constData();
    for (qsizetype at = 0; at < bytes.size();) {
        Head head;
        std::memcpy(&head, data + at, sizeof head);
        at += static_cast<qsizetype>(sizeof head);
        Row row;
        row.rowid = head.rowid;
        row.time = head.time;
        row.number = head.number;
        row.timeNull = head.flags & kTimeNull;
        row.numberNull = head.flags & kNumberNull;
        row.sender = HistoryMessage::Span{at, head.senderSize};
        at += head.senderSize;
        row.body = HistoryMessage::Span{at, head.bodySize};
        at += head.bodySize;
        rows.push_back(row);
    }
    // Newest first, as the chat's own query orders them: NULL sorts below every number. Rows mostly
    // lie in the order they arrived, oldest first.
    const auto key = [](const Row& row) {
        return std::make_tuple(!row.timeNull, row.timeNull ? 0 : row.time, !row.numberNull,
                               row.numberNull ? 0 : row.number, row.rowid);
    };
    const auto newer = [&](const Row& a, const Row& b) { return key(a) > key(b); };
    std::reverse(rows.begin(), rows.end());
    if (!std::is_sorted(rows.begin(), rows.end(), newer))
        std::sort(rows.begin(), rows.end(), newer);
    return rows;
}

void TableScan::release(size_t chat) {
    m_buffer.release(chat);
}
