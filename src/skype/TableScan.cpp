#include "TableScan.h"

#include "BatchThread.h"
#include "SqlStatement.h"

#include <SQLiteCpp/Database.h>

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <set>
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
// A row the chat holds and a transcript does not show: kept for its row id alone.
constexpr quint8 kHidden = 4;

bool isDamage(int status) {
    const int primary = status & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_FORMAT;
}

QByteArrayView textOf(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? QByteArrayView(text, sqlite3_column_bytes(statement, column)) : QByteArrayView();
}

} // namespace

void TableScan::Tally::add(qint64 rowid) {
    // A mix of the row id, so that two rows exchanged between chats change both chats' sums.
    quint64 mixed = static_cast<quint64>(rowid) + 0x9e3779b97f4a7c15ULL;
    mixed = (mixed ^ (mixed >> 30)) * 0xbf58476d1ce4e5b9ULL;
    mixed = (mixed ^ (mixed >> 27)) * 0x94d049bb133111ebULL;
    sum += mixed ^ (mixed >> 31);
    ++count;
}

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
                     Shape shape, const std::vector<qint64>& chatIds, const std::vector<size_t>& plan,
                     std::optional<QString> index, size_t budget)
    : m_db(db)
    , m_connect(std::move(connect))
    , m_columns(std::move(columns))
    , m_shownTypes(std::move(shownTypes))
    , m_shape(std::move(shape))
    , m_chatIds(chatIds)
    , m_planned(chatIds.size())
    , m_index(std::move(index))
    , m_buffer(chatIds.size(), takenLast(chatIds.size(), plan), budget)
    , m_verdicts(chatIds.size(), Verdict::Read)
    , m_tallies(chatIds.size()) {
    std::sort(m_shownTypes.begin(), m_shownTypes.end());
    for (size_t chat = 0; chat < chatIds.size(); ++chat)
        m_chatOf.emplace(chatIds[chat], chat);
    for (const size_t chat : plan)
        m_planned[chat] = true;
}

TableScan::~TableScan() = default;

void TableScan::run() {
    // The index's own tally on a connection of its own while this one reads the table: both passes
    // run at once. Where no thread or connection can be had, this one takes both.
    std::optional<std::vector<Tally>> indexed;
    bool indexDone = false;
    std::optional<std::thread> indexPass;
    if (m_index) {
        try {
            indexPass.emplace([&] {
                indexed = tallyIndex();
                indexDone = true;
            });
        } catch (const std::system_error&) {
        }
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
    if (m_index && !indexDone)
        indexed = tallyIndex();
    if (indexed) {
        compareWithIndex(*indexed);
    } else if (m_damaged) {
        // Nothing to tell the chats the damage touches from the others.
        std::fill(m_verdicts.begin(), m_verdicts.end(), Verdict::Damaged);
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
            from = *m_lastRowid + 1;
        }
        if (status == SQLITE_DONE)
            return handLast();
        if (!isDamage(sqlite3_extended_errcode(db)) && !isDamage(status))
            throw SQLite::Exception(db, status);
        m_damaged = true;
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
    size_t chat = 0;
    switch (sqlite3_column_type(statement, 1)) {
    case SQLITE_INTEGER: {
        const auto found = m_chatOf.find(sqlite3_column_int64(statement, 1));
        if (found == m_chatOf.end())
            return;
        chat = found->second;
        break;
    }
    case SQLITE_FLOAT: {
        // Equal to an integer id in the chat's own query: that query reads the chat.
        const double value = sqlite3_column_double(statement, 1);
        const auto found = m_chatOf.find(static_cast<qint64>(value));
        if (found != m_chatOf.end() && static_cast<double>(found->first) == value)
            m_verdicts[found->second] = Verdict::ReadAlone;
        return;
    }
    default:
        return; // no chat's own query meets it
    }
    if (again) {
        // A row met twice: a page of the table stands where another should.
        m_damaged = true;
        m_verdicts[chat] = Verdict::Damaged;
        return;
    }
    m_tallies[chat].add(rowid);
    if (!m_planned[chat])
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
    integer(2, head.time, kTimeNull);
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
        m_verdicts[chat] = Verdict::ReadAlone;
    if (!plain || !shown) {
        head.flags |= kHidden;
    } else {
        head.senderSize = static_cast<quint32>(texts[0].size());
        head.authorSize = static_cast<quint32>(texts[1].size());
        head.bodySize = static_cast<quint32>(texts[2].size());
    }
    batch.append(reinterpret_cast<const char*>(&head), sizeof head);
    if (!(head.flags & kHidden)) {
        for (const QByteArrayView text : texts)
            batch.append(text.data(), static_cast<size_t>(text.size()));
    }
}

// The rows of a batch into the buffer, their texts as a transcript shows them.
void TableScan::shapeBatch(const std::string& batch) {
    Shown shown;
    const char* const data = batch.data();
    for (size_t at = 0; at < batch.size();) {
        Raw raw;
        std::memcpy(&raw, data + at, sizeof raw);
        at += sizeof raw;
        Head head;
        std::memset(&head, 0, sizeof head);
        head.rowid = raw.rowid;
        head.time = raw.time;
        head.number = raw.number;
        head.flags = raw.flags;
        if (!(raw.flags & kHidden)) {
            const QByteArrayView sender(data + at, raw.senderSize);
            at += raw.senderSize;
            const QByteArrayView author(data + at, raw.authorSize);
            at += raw.authorSize;
            const QByteArrayView body(data + at, raw.bodySize);
            at += raw.bodySize;
            if (m_shape(static_cast<int>(raw.type), sender, author, body, shown)) {
                head.senderSize = static_cast<quint32>(shown.sender.size());
                head.bodySize = static_cast<quint32>(shown.body.size());
            } else {
                head.flags |= kHidden;
            }
        }
        const auto chat = static_cast<size_t>(raw.chat);
        m_buffer.append(chat, reinterpret_cast<const char*>(&head), sizeof head);
        if (!(head.flags & kHidden)) {
            m_buffer.append(chat, shown.sender.constData(), static_cast<size_t>(shown.sender.size()));
            m_buffer.append(chat, shown.body.constData(), static_cast<size_t>(shown.body.size()));
        }
    }
}

std::optional<std::vector<TableScan::Tally>> TableScan::tallyIndex() const {
    try {
        const std::unique_ptr<SQLite::Database> db = m_connect();
        SqlStatement query(db->getHandle(), "SELECT rowid, convo_id FROM Messages INDEXED BY " +
                                                SqlStatement::quoted(*m_index));
        std::vector<Tally> tallies(m_chatIds.size());
        int status;
        while ((status = sqlite3_step(query.get())) == SQLITE_ROW) {
            if (sqlite3_column_type(query.get(), 1) != SQLITE_INTEGER)
                continue;
            const auto found = m_chatOf.find(sqlite3_column_int64(query.get(), 1));
            if (found != m_chatOf.end())
                tallies[found->second].add(sqlite3_column_int64(query.get(), 0));
        }
        if (status != SQLITE_DONE)
            return std::nullopt;
        return tallies;
    } catch (...) {
        // an index that cannot be read tells nothing
        return std::nullopt;
    }
}

// The chats whose rows the index and the table tell otherwise are looked at row by row. A row the
// index lists for a chat and the table does not give it (lost, unreadable, or the table's own
// conversation differs) leaves the chat damaged; so does a row the table gives a chat that the index
// lists for another one. A row the index lacks altogether is the index's loss, where the table was
// read whole: the table is read; in a table that was not, it is not confirmed.
void TableScan::compareWithIndex(const std::vector<Tally>& indexed) {
    std::vector<size_t> differing;
    for (size_t chat = 0; chat < m_chatIds.size(); ++chat) {
        if (!(m_tallies[chat] == indexed[chat]))
            differing.push_back(chat);
    }
    m_agrees = differing.empty() && !m_damaged;
    if (differing.empty())
        return;
    // The entry's own conversation is read with it: a damaged index can hand a seek entries of
    // another conversation, which are that conversation's, not this one's.
    SqlStatement query(m_db.getHandle(), "SELECT rowid, convo_id FROM Messages INDEXED BY " +
                                             SqlStatement::quoted(*m_index) + " WHERE convo_id = ?");
    std::vector<std::set<qint64>> listed(m_chatIds.size());
    std::unordered_map<qint64, size_t> listedFor;
    for (const size_t chat : differing) {
        sqlite3_reset(query.get());
        sqlite3_bind_int64(query.get(), 1, m_chatIds[chat]);
        int status;
        while ((status = sqlite3_step(query.get())) == SQLITE_ROW) {
            if (sqlite3_column_type(query.get(), 1) != SQLITE_INTEGER ||
                sqlite3_column_int64(query.get(), 1) != m_chatIds[chat])
                continue;
            const qint64 rowid = sqlite3_column_int64(query.get(), 0);
            listed[chat].insert(rowid);
            listedFor[rowid] = chat;
        }
        if (status != SQLITE_DONE)
            m_verdicts[chat] = Verdict::Damaged;
    }
    for (const size_t chat : differing) {
        if (!m_planned[chat] || m_verdicts[chat] == Verdict::Damaged)
            continue;
        const std::vector<qint64> table = rowidsOf(chat);
        const std::set<qint64> given(table.begin(), table.end());
        bool damaged = false;
        for (const qint64 rowid : listed[chat])
            damaged = damaged || !given.count(rowid);
        for (const qint64 rowid : given) {
            const auto owner = listedFor.find(rowid);
            if (owner == listedFor.end())
                damaged = damaged || m_damaged; // from a table that was not read whole: not confirmed
            else
                damaged = damaged || owner->second != chat;
        }
        if (damaged)
            m_verdicts[chat] = Verdict::Damaged;
    }
}

std::vector<qint64> TableScan::rowidsOf(size_t chat) const {
    const QByteArray bytes = m_buffer.bytesOf(chat);
    std::vector<qint64> rowids;
    for (qsizetype at = 0; at < bytes.size();) {
        Head head;
        std::memcpy(&head, bytes.constData() + at, sizeof head);
        rowids.push_back(head.rowid);
        at += static_cast<qsizetype>(sizeof head);
        if (!(head.flags & kHidden))
            at += static_cast<qsizetype>(head.senderSize) + head.bodySize;
    }
    return rowids;
}

std::vector<TableScan::Row> TableScan::rowsOf(size_t chat, QByteArray& bytes) const {
    bytes = m_buffer.bytesOf(chat);
    std::vector<Row> rows;
    const char* data = bytes.constData();
    for (qsizetype at = 0; at < bytes.size();) {
        Head head;
        std::memcpy(&head, data + at, sizeof head);
        at += static_cast<qsizetype>(sizeof head);
        if (head.flags & kHidden)
            continue;
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
