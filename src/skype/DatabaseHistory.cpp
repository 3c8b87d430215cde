#include "DatabaseHistory.h"

#include "ChatText.h"
#include "HistoryCopy.h"
#include "MessageBody.h"
#include "PlanReader.h"
#include "TableScan.h"

#include "base/Failure.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <system_error>
#include <thread>

namespace {

// How long a reader waits for a lock before it takes the history for one another program uses.
constexpr int kBusyWaitMs = 500;

// The kinds of message a transcript can show; everything else is an event.
const char* const kShownTypes = "61, 60, 50, 64, 30, 39, 68, 63, 201, 253";

QString text(const SQLite::Column& column) {
    if (column.isNull())
        return QString();
    return QString::fromUtf8(static_cast<const char*>(column.getText()), column.getBytes());
}

// The SQL for a column that may be missing: NULL stands in for it.
QString sqlOf(const std::optional<QString>& column, const QString& prefix = QString()) {
    return column ? prefix + *column : QStringLiteral("NULL");
}

// A column the schema gives whole numbers: anything else stored there cannot be read as one, and is
// not taken for another value. NULL stands for a column an older client lacks.
bool isWholeNumberOrNull(int type) {
    return type == SQLITE_INTEGER || type == SQLITE_NULL;
}

// What went wrong, in words a user can act on where SQLite's own are no help.
QString reasonOf(const std::exception& error) {
    const auto* sqlite = dynamic_cast<const SQLite::Exception*>(&error);
    if (sqlite && (sqlite->getErrorCode() == SQLITE_BUSY || sqlite->getErrorCode() == SQLITE_LOCKED))
        return QStringLiteral("Skype is using this history; close Skype and try again");
    // A journal of changes left half-done: they must be undone before the history can be read, and a
    // reader that writes nothing cannot undo them.
    if (sqlite && sqlite->getExtendedErrorCode() == SQLITE_READONLY_ROLLBACK)
        return QStringLiteral("Skype did not close this history cleanly, and the changes it left half-done "
                              "in its '-journal' must be undone first; open it in Skype once and close "
                              "Skype again, then try again");
    return QString::fromUtf8(error.what());
}

// A history in use or left half-written is a Skype history all the same.
bool isHeldOrHalfWritten(const std::exception& error) {
    const auto* sqlite = dynamic_cast<const SQLite::Exception*>(&error);
    return sqlite && (sqlite->getErrorCode() == SQLITE_BUSY || sqlite->getErrorCode() == SQLITE_LOCKED ||
                      sqlite->getExtendedErrorCode() == SQLITE_READONLY_ROLLBACK);
}

// A conversation's kind: type 1 is a dialog. A type that is no number cannot be read as a kind, and
// is not taken for another one: the identity's shape tells it, as a group's is "#creator/$..." or
// "19:...", and a dialog's is the other person's handle.
bool isDialog(const SQLite::Column& type, const QString& identity) {
    if (type.isInteger())
        return type.getInt64() == 1;
    return !identity.isEmpty() && !identity.startsWith(QLatin1Char('#')) &&
           !identity.startsWith(QLatin1String("19:"));
}

QString quotedName(const QString& name) {
    return QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

// The header's read and write versions are 2 in WAL mode.
bool isInWalMode(const QString& path) {
    QFile file(path);
    const QByteArray header = file.open(QIODevice::ReadOnly) ? file.read(20) : QByteArray();
    return header.size() == 20 && header.at(18) == 2 && header.at(19) == 2;
}

qint64 modifiedAt(const QFileInfo& info) {
    return info.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch();
}

} // namespace

// A statement stepped through SQLite's own calls, where the wrapper's per-row checks would cost.
DatabaseHistory::Prepared DatabaseHistory::prepare(SQLite::Database& db, const QString& sql) {
    sqlite3_stmt* statement = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(db.getHandle(), utf8.constData(), static_cast<int>(utf8.size()), &statement,
                           nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        throw SQLite::Exception(db.getHandle(), sqlite3_errcode(db.getHandle()));
    }
    return Prepared(statement, sqlite3_finalize);
}

DatabaseHistory::Source DatabaseHistory::sourceFor(const QString& path) {
    Source source{path, nullptr};
    // Even a read-only connection to a history in WAL mode creates its "-shm" file beside it, and
    // fails where that folder cannot be written to; and a client may write and checkpoint it at any
    // time, which a reader without SQLite's locks (immutable) would misread. A private copy of the
    // file and its "-wal" is read instead, taken as one snapshot.
    if (isInWalMode(path)) {
        source.copy = HistoryCopy::make(path);
        source.name = source.copy->databasePath();
    }
    const QFileInfo opened(source.name);
    source.size = opened.size();
    source.modified = modifiedAt(opened);
    return source;
}

DatabaseHistory::DatabaseHistory(const QString& path)
    : DatabaseHistory(path, sourceFor(path)) {}

DatabaseHistory::DatabaseHistory(QString path, Source source)
    : m_path(std::move(path))
    , m_source(std::move(source))
    , m_messageQuery(nullptr, sqlite3_finalize) {
    try {
        m_db = connect();
        SQLite::Statement tables(*m_db, "SELECT name FROM sqlite_master WHERE type = 'table'");
        while (tables.executeStep())
            m_columns[text(tables.getColumn(0))];
        std::map<QString, QStringList> lowered;
        for (auto& [table, columns] : m_columns) {
            SQLite::Statement info(*m_db, "SELECT name FROM pragma_table_info(?)");
            info.bind(1, table.toStdString());
            QStringList& names = lowered[table.toLower()];
            while (info.executeStep())
                names.append(text(info.getColumn(0)).toLower());
        }
        m_columns = std::move(lowered);
    } catch (const std::exception& error) {
        if (isHeldOrHalfWritten(error))
            fail(error);
        throw Failure(QStringLiteral("'%1' is not a Skype history: %2").arg(m_path, reasonOf(error)));
    }
    for (const char* table : {"accounts", "conversations", "messages"}) {
        if (!m_columns.count(QString::fromLatin1(table)))
            throw Failure(QStringLiteral("'%1' is not a Skype history: it has no %2 table")
                              .arg(m_path, QString::fromLatin1(table)));
    }
    for (const char* required : {"id", "convo_id"}) {
        const QString table =
            QString::fromLatin1(qstrcmp(required, "id") == 0 ? "conversations" : "messages");
        if (!m_columns.at(table).contains(QString::fromLatin1(required)))
            throw Failure(QStringLiteral("'%1' is not a Skype history: its %2 table has no %3 column")
                              .arg(m_path, table, QString::fromLatin1(required)));
    }
}

DatabaseHistory::~DatabaseHistory() = default;

std::unique_ptr<SQLite::Database> DatabaseHistory::connect() const {
    // Each connection is used by one thread at a time: SQLite's own locking is not needed.
    auto db = std::make_unique<SQLite::Database>(m_source.name.toStdString(),
                                                 SQLite::OPEN_READONLY | SQLite::OPEN_NOMUTEX);
    // Readers on other threads take their locks at the same moment: on Windows each briefly takes one
    // byte of the file for itself alone, so that one of them may be refused for an instant. A lock
    // refused for longer than this is another program's.
    db->setBusyTimeout(kBusyWaitMs);
    return db;
}

void DatabaseHistory::fail(const std::exception& error) const {
    const QString description =
        QStringLiteral("Cannot read the Skype history '%1': %2").arg(m_path, reasonOf(error));
    const QString because = endsRunBecause(error);
    if (because.isEmpty())
        throw Failure(description);
    throw Failure::endingRun(description, because);
}

QString DatabaseHistory::endsRunBecause(const std::exception& error) const {
    const auto* sqlite = dynamic_cast<const SQLite::Exception*>(&error);
    if (!sqlite)
        return QString();
    switch (sqlite->getErrorCode()) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("Skype is using the history '%1'").arg(m_path);
    case SQLITE_IOERR:
    case SQLITE_NOTADB:
    case SQLITE_CANTOPEN:
    case SQLITE_CORRUPT: {
        const QFileInfo now(m_source.copy ? m_source.name : m_path);
        if (now.size() != m_source.size || modifiedAt(now) != m_source.modified)
            return QStringLiteral("the Skype history '%1' changed while it was read").arg(m_path);
        // Damage in a file that is as it was opened is that of the chats that meet it.
        if (sqlite->getErrorCode() == SQLITE_CORRUPT)
            return QString();
        return QStringLiteral("the Skype history '%1' can no longer be read").arg(m_path);
    }
    default:
        return QString();
    }
}

std::optional<QString> DatabaseHistory::column(const QString& table, const QString& name) const {
    const auto found = m_columns.find(table);
    if (found == m_columns.end() || !found->second.contains(name))
        return std::nullopt;
    return name;
}

QStringList DatabaseHistory::contacts() {
    QStringList handles;
    try {
        QString own;
        if (m_columns.at(QStringLiteral("accounts")).contains(QStringLiteral("skypename"))) {
            SQLite::Statement account(*m_db, "SELECT skypename FROM Accounts ORDER BY rowid LIMIT 1");
            if (account.executeStep())
                own = text(account.getColumn(0));
        }
        const QString contactsTable = QStringLiteral("contacts");
        if (m_columns.count(contactsTable) &&
            m_columns.at(contactsTable).contains(QStringLiteral("is_permanent"))) {
            const QString sql = QStringLiteral("SELECT %1 FROM Contacts WHERE is_permanent = 1")
                                    .arg(sqlOf(column(contactsTable, QStringLiteral("skypename"))));
            SQLite::Statement query(*m_db, sql.toStdString());
            while (query.executeStep()) {
                const SQLite::Column handle = query.getColumn(0);
                if (handle.isNull() || text(handle) != own)
                    handles.append(text(handle));
            }
        }
        const QString conversations = QStringLiteral("conversations");
        const QString sql = QStringLiteral("SELECT %1, %2 FROM Conversations")
                                .arg(sqlOf(column(conversations, QStringLiteral("identity"))),
                                     sqlOf(column(conversations, QStringLiteral("type"))));
        SQLite::Statement query(*m_db, sql.toStdString());
        while (query.executeStep()) {
            const QString identity = text(query.getColumn(0));
            if (isDialog(query.getColumn(1), identity))
                handles.append(identity);
        }
    } catch (const SQLite::Exception& error) {
        fail(error);
    }
    sortHandles(handles);
    return handles;
}

const std::vector<HistoryChat>& DatabaseHistory::chats() {
    if (!m_list) {
        try {
            loadChats();
        } catch (const SQLite::Exception& error) {
            fail(error);
        }
    }
    return m_list->chats;
}

void DatabaseHistory::loadChats() {
    const QString conversations = QStringLiteral("conversations");
    const QString sql = QStringLiteral("SELECT id, %1, %2, %3, %4 FROM Conversations ORDER BY id")
                            .arg(sqlOf(column(conversations, QStringLiteral("identity"))),
                                 sqlOf(column(conversations, QStringLiteral("type"))),
                                 sqlOf(column(conversations, QStringLiteral("creation_timestamp"))),
                                 sqlOf(column(conversations, QStringLiteral("displayname"))));
    SQLite::Statement query(*m_db, sql.toStdString());
    auto list = std::make_shared<ChatList>();
    list->messageOfNoChat = messageOfNoChat();
    bool stampMissing = false;
    while (query.executeStep()) {
        const QString identity = text(query.getColumn(1));
        list->chats.push_back({identity, isDialog(query.getColumn(2), identity) ? identity : QString(),
                               text(query.getColumn(4))});
        list->ids.push_back(query.getColumn(0).getInt64());
        // A creation time that is no whole number is not read as some other number: the chat cannot
        // be read.
        list->unreadable.push_back(
            isWholeNumberOrNull(query.getColumn(3).getType()) ? QString() : QStringLiteral("time"));
        const qint64 created = query.getColumn(3).isInteger() ? query.getColumn(3).getInt64() : 0;
        const bool readable = created != 0 && isReadableTime(created);
        stampMissing = stampMissing || !readable;
        list->stamps.push_back(readable ? ChatTime(created) : std::nullopt);
    }
    if (!stampMissing || !m_columns.at(QStringLiteral("messages")).contains(QStringLiteral("timestamp"))) {
        m_list = std::move(list);
        return;
    }
    // Chats without a creation time take the time of their earliest message, of any kind; one of
    // whose times is no whole number cannot tell which is the earliest.
    std::map<qint64, std::pair<std::optional<qint64>, bool>> earliest;
    SQLite::Statement first(*m_db,
                            "SELECT convo_id, MIN(CASE WHEN timestamp BETWEEN ? AND ? THEN timestamp END), "
                            "MAX(typeof(timestamp) NOT IN ('integer', 'null')) FROM Messages GROUP BY "
                            "convo_id");
    first.bind(1, static_cast<int64_t>(kEarliestTime));
    first.bind(2, static_cast<int64_t>(kLatestTime));
    while (first.executeStep()) {
        const SQLite::Column time = first.getColumn(1);
        earliest[first.getColumn(0).getInt64()] = {
            time.isNull() ? std::nullopt : std::optional(time.getInt64()), first.getColumn(2).getInt() != 0};
    }
    for (size_t i = 0; i < list->chats.size(); ++i) {
        const auto found = earliest.find(list->ids[i]);
        if (list->stamps[i] || found == earliest.end())
            continue;
        list->stamps[i] = found->second.first;
        if (found->second.second && list->unreadable[i].isEmpty())
            list->unreadable[i] = QStringLiteral("time");
    }
    m_list = std::move(list);
}

bool DatabaseHistory::messageOfNoChat() const {
    try {
        const std::optional<QString> index = conversationIndex();
        if (!index)
            return false;
        SQLite::Statement query(*m_db, QStringLiteral("SELECT 1 FROM Messages INDEXED BY %1 WHERE convo_id > "
                                                      "9223372036854775807 LIMIT 1")
                                           .arg(quotedName(*index))
                                           .toStdString());
        return query.executeStep();
    } catch (const SQLite::Exception&) {
        return false; // each chat's own read finds the damage it meets
    }
}

std::optional<QString> DatabaseHistory::conversationIndex() const {
    SQLite::Statement query(*m_db, "SELECT list.name FROM pragma_index_list('Messages') AS list, "
                                   "pragma_index_info(list.name) AS info WHERE info.seqno = 0 AND "
                                   "info.name = 'convo_id' COLLATE NOCASE AND list.partial = 0");
    if (!query.executeStep())
        return std::nullopt;
    return text(query.getColumn(0));
}

// A page of the index overwritten by another one (a misdirected write) leaves the table whole and
// the index readable: the per-chat queries would get other rows, or fewer, and no error. So the
// messages are counted, and their row ids and conversations summed, once through the index and
// once from the table alone; they must agree. A table that cannot be read whole leaves nothing to
// check against: each chat's own read then finds the damage it meets.
bool DatabaseHistory::indexAgreesWithTable(const QString& index) const {
    const auto tally = [](SQLite::Database& db, const QString& from) {
        SQLite::Statement query(db, QStringLiteral("SELECT COUNT(*), SUM(rowid % 4294967296), "
                                                   "SUM(convo_id % 4294967296) FROM Messages %1")
                                        .arg(from)
                                        .toStdString());
        query.executeStep();
        return QStringList{text(query.getColumn(0)), text(query.getColumn(1)), text(query.getColumn(2))};
    };
    // The table's tally on a connection of its own while this one takes the index's: the two passes
    // over every message run at once. Where that connection cannot be had, this one takes both.
    enum class Side { NotDone, Done, Failed };
    Side side = Side::NotDone;
    QStringList table;
    std::optional<std::thread> tableTally;
    try {
        tableTally.emplace([&] {
            try {
                const std::unique_ptr<SQLite::Database> db = connect();
                try {
                    table = tally(*db, QStringLiteral("NOT INDEXED"));
                    side = Side::Done;
                } catch (const SQLite::Exception&) {
                    side = Side::Failed;
                }
            } catch (...) {
                side = Side::NotDone;
            }
        });
    } catch (const std::system_error&) {
        // the system will not start the thread: this connection takes both, as without a connection
    }
    const auto tableTallied = [&] {
        if (tableTally)
            tableTally->join();
    };
    QStringList indexed;
    std::optional<bool> indexInItsOrder;
    bool indexFailed = false;
    try {
        if (std::optional<IndexPass> pass = indexPass(index)) {
            indexed = pass->tally;
            indexInItsOrder = pass->inOrder;
        } else {
            indexed = tally(*m_db, QStringLiteral("INDEXED BY ") + quotedName(index));
        }
    } catch (const SQLite::Exception&) {
        indexFailed = true;
    } catch (...) {
        tableTallied();
        throw;
    }
    tableTallied();
    if (side == Side::NotDone) {
        try {
            table = tally(*m_db, QStringLiteral("NOT INDEXED"));
            side = Side::Done;
        } catch (const SQLite::Exception&) {
            side = Side::Failed;
        }
    }
    if (side == Side::Failed)
        return true;
    try {
        return !indexFailed && indexed == table && (indexInItsOrder ? *indexInItsOrder : indexInOrder(index));
    } catch (const SQLite::Exception&) {
        return false;
    }
}

// The index's tally and its order in one pass: the tally as SQLite's SUM gives it for whole numbers.
// A conversation id of another kind is left to SQLite's own arithmetic: nothing is returned.
std::optional<DatabaseHistory::IndexPass> DatabaseHistory::indexPass(const QString& index) const {
    constexpr qint64 kModulus = 4294967296;
    const Prepared query = prepare(
        *m_db, QStringLiteral("SELECT rowid, convo_id FROM Messages INDEXED BY %1").arg(quotedName(index)));
    sqlite3_stmt* statement = query.get();
    qint64 count = 0;
    qint64 messages = 0;
    qint64 chats = 0;
    bool chatSeen = false;
    std::optional<qint64> last;
    IndexPass pass;
    int status;
    while ((status = sqlite3_step(statement)) == SQLITE_ROW) {
        ++count;
        // Fewer than 2^31 rows of values below 2^32 cannot overflow; more are left to SQLite.
        if (__builtin_add_overflow(messages, sqlite3_column_int64(statement, 0) % kModulus, &messages))
            return std::nullopt;
        switch (sqlite3_column_type(statement, 1)) {
        case SQLITE_NULL:
            // NULL sorts first, and SUM passes over it.
            pass.inOrder = pass.inOrder && !last;
            break;
        case SQLITE_INTEGER: {
            const qint64 chat = sqlite3_column_int64(statement, 1);
            if (__builtin_add_overflow(chats, chat % kModulus, &chats))
                return std::nullopt;
            chatSeen = true;
            pass.inOrder = pass.inOrder && !(last && chat < *last);
            last = chat;
            break;
        }
        default:
            return std::nullopt;
        }
    }
    if (status != SQLITE_DONE)
        throw SQLite::Exception(m_db->getHandle(), status);
    pass.tally = QStringList{QString::number(count), count ? QString::number(messages) : QString(),
                             chatSeen ? QString::number(chats) : QString()};
    return pass;
}

// Two pages of the index swapped (two misdirected writes) keep its count and sums, but not its
// order: read in the index's own order, the conversations must never go back.
bool DatabaseHistory::indexInOrder(const QString& index) const {
    SQLite::Statement query(
        *m_db,
        QStringLiteral("SELECT convo_id FROM Messages INDEXED BY %1").arg(quotedName(index)).toStdString());
    std::optional<qint64> last;
    while (query.executeStep()) {
        const SQLite::Column chat = query.getColumn(0);
        // NULL sorts first; a value of another kind leaves the order to SQLite's rules, unchecked.
        if (chat.isNull()) {
            if (last)
                return false;
        } else if (chat.isInteger()) {
            if (last && chat.getInt64() < *last)
                return false;
            last = chat.getInt64();
        } else {
            return true;
        }
    }
    return true;
}

// A page of the table overwritten by another one of it shows in a scan as row ids that go back.
bool DatabaseHistory::tableInOrder() const {
    try {
        SQLite::Statement query(*m_db, "SELECT rowid FROM Messages NOT INDEXED");
        std::optional<qint64> last;
        while (query.executeStep()) {
            const qint64 id = query.getColumn(0).getInt64();
            if (last && id <= *last)
                return false;
            last = id;
        }
    } catch (const SQLite::Exception&) {
        return false;
    }
    return true;
}

// A table page that lost a write is in order and readable, but lacks messages the index still
// lists: those chats cannot be read whole from the table either.
std::set<qint64> DatabaseHistory::chatsTheTableLacks(const QString& index) const {
    std::set<qint64> lacking;
    try {
        SQLite::Statement query(*m_db,
                                QStringLiteral("SELECT DISTINCT i.convo_id FROM Messages AS i INDEXED BY %1 "
                                               "WHERE NOT EXISTS (SELECT 1 FROM Messages AS t NOT INDEXED "
                                               "WHERE t.rowid = i.rowid AND t.convo_id IS i.convo_id)")
                                    .arg(quotedName(index))
                                    .toStdString());
        while (query.executeStep()) {
            if (query.getColumn(0).isInteger())
                lacking.insert(query.getColumn(0).getInt64());
        }
    } catch (const SQLite::Exception&) {
        // Which chats it lacks cannot be told: each chat's own read finds what it meets.
    }
    return lacking;
}

std::set<qint64> DatabaseHistory::chatsTheIndexMisreads(const QString& index) const {
    using Tally = std::map<QString, std::pair<qint64, qint64>>;
    const auto tally = [&](const QString& from) {
        Tally result;
        SQLite::Statement query(*m_db,
                                QStringLiteral("SELECT quote(convo_id), COUNT(*), SUM(rowid % 4294967296) "
                                               "FROM Messages %1 GROUP BY convo_id")
                                    .arg(from)
                                    .toStdString());
        while (query.executeStep())
            result[text(query.getColumn(0))] = {query.getColumn(1).getInt64(), query.getColumn(2).getInt64()};
        return result;
    };
    std::set<qint64> misread;
    try {
        const Tally table = tally(QStringLiteral("NOT INDEXED"));
        const Tally indexed = tally(QStringLiteral("INDEXED BY ") + quotedName(index));
        const auto disagree = [&](const Tally& one, const Tally& other) {
            for (const auto& [chat, counts] : one) {
                const auto found = other.find(chat);
                bool number = false;
                const qint64 id = chat.toLongLong(&number);
                if ((found == other.end() || found->second != counts) && number)
                    misread.insert(id);
            }
        };
        disagree(table, indexed);
        disagree(indexed, table);
    } catch (const SQLite::Exception&) {
        // Which chats it misreads cannot be told: each chat's own read finds what it meets.
    }
    return misread;
}

void DatabaseHistory::prepareMessageQuery() {
    const QString messages = QStringLiteral("messages");
    const auto field = [&](const char* name) {
        return sqlOf(column(messages, QString::fromLatin1(name)), QStringLiteral("m."));
    };
    QString from = QStringLiteral("Messages AS m");
    QString chat = QStringLiteral("m.convo_id");
    QString order = QStringLiteral("%1 DESC, %2 DESC").arg(field("timestamp"), field("id"));
    const std::optional<QString> index = conversationIndex();
    if (index && !m_indexCheck) {
        IndexCheck check{indexAgreesWithTable(*index)};
        check.tableInOrder = check.trusted || tableInOrder();
        m_indexCheck = std::make_shared<const IndexCheck>(check);
    }
    if (index && !m_indexCheck->tableInOrder) {
        // The table is the damaged one: a private index built from it would lose and repeat
        // messages. The client's index serves the chats on which both agree; the others fail.
        m_misread = chatsTheIndexMisreads(*index);
    } else if (!index || !m_indexCheck->trusted) {
        // Without the client's index every chat would cost a scan of all messages, and a damaged
        // one gives the wrong messages: one scan of the table itself builds a private index in
        // the connection's temporary storage instead.
        try {
            m_db->exec(
                QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS chat_order AS SELECT convo_id, %1 AS time, "
                               "%2 AS number, rowid AS message FROM Messages NOT INDEXED;"
                               "CREATE INDEX IF NOT EXISTS temp.chat_order_key ON chat_order "
                               "(convo_id, time, number)")
                    .arg(sqlOf(column(messages, QStringLiteral("timestamp"))),
                         sqlOf(column(messages, QStringLiteral("id"))))
                    .toStdString());
            from = QStringLiteral("temp.chat_order AS o JOIN Messages AS m ON m.rowid = o.message");
            chat = QStringLiteral("o.convo_id");
            order = QStringLiteral("o.time DESC, o.number DESC");
            if (index)
                m_misread = chatsTheTableLacks(*index);
        } catch (const SQLite::Exception&) {
            if (!index)
                throw;
            // No room for a private index: the client's serves the chats it reads right.
            m_misread = chatsTheIndexMisreads(*index);
        }
    }
    // A type or time that is no whole number comes along, so that its chat fails rather than losing
    // the message or placing it elsewhere. (The id is the row's own, always a whole number.)
    const QString sql =
        QStringLiteral("SELECT %1, %2, %3, %4, %5, m.convo_id FROM %6 WHERE %7 = ? AND (%3 IN (%8) OR "
                       "typeof(%3) NOT IN ('integer', 'null')) ORDER BY %9")
            .arg(field("from_dispname"), field("author"), field("type"), field("body_xml"),
                 field("timestamp"), from, chat, QString::fromLatin1(kShownTypes), order);
    m_messageQuery = prepare(*m_db, sql);
}

namespace {

QByteArrayView columnBytes(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? QByteArrayView(text, sqlite3_column_bytes(statement, column)) : QByteArrayView();
}

// Whether the row read for a chat is the chat's own: its conversation id, read with it.
bool belongsTo(sqlite3_stmt* statement, int column, qint64 chat) {
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return sqlite3_column_int64(statement, column) == chat;
    case SQLITE_FLOAT:
        return sqlite3_column_double(statement, column) == static_cast<double>(chat);
    default:
        return false;
    }
}

// What a transcript shows of a row a pass over the table gave, by the steps a chat's own query takes
// with it. A row of a kind that pass does not show as that query does never comes here: its chat is
// read by the query.
bool shownOf(int type, QByteArrayView senderName, QByteArrayView author, QByteArrayView markup,
             TableScan::Shown& shown) {
    const MessageKind kind = MessageBody::kindOfDatabaseType(type);
    if (kind == MessageKind::Event)
        return false;
    if (kind == MessageKind::Text && MessageBody::isPlainUtf8(markup)) {
        if (markup.isEmpty())
            return false;
        shown.body.resize(0);
        shown.body.append(markup);
    } else {
        std::optional<QByteArray> body = MessageBody::bodyForUtf8(kind, markup);
        if (!body)
            return false;
        shown.body = std::move(*body);
    }
    const QByteArrayView name = senderName.isEmpty() ? author : senderName;
    shown.sender.resize(0);
    if (MessageBody::isReadAsItIs(name))
        shown.sender.append(name);
    else
        shown.sender = MessageBody::readableUtf8(name);
    return true;
}

} // namespace

void DatabaseHistory::failDamaged(size_t chat) const {
    // Either the table or its index is damaged there: which one cannot always be told.
    throw Failure(
        QStringLiteral("Cannot read the Skype history '%1': it is damaged where it holds the messages of "
                       "'%2'")
            .arg(m_path, m_list->chats.at(chat).name));
}

History::ChatContent DatabaseHistory::messages(size_t chat) {
    chats();
    if (m_damaged.count(chat))
        failDamaged(chat);
    if (m_list->messageOfNoChat)
        throw Failure::endingRun(
            QStringLiteral("Cannot read the Skype history '%1': it is damaged where it tells which chat a "
                           "message belongs to (a message's chat is not a number), so no chat can be read "
                           "whole")
                .arg(m_path),
            QStringLiteral("the Skype history '%1' is damaged where it tells which chat a message belongs to")
                .arg(m_path));
    if (!m_list->unreadable.at(chat).isEmpty())
        throw Failure(QStringLiteral("Cannot read the Skype history '%1': it is damaged where it holds the "
                                     "chat '%2': its %3 is not a number")
                          .arg(m_path, m_list->chats.at(chat).name, m_list->unreadable.at(chat)));
    if (std::optional<ChatContent> planned = plannedMessages(chat))
        return std::move(*planned);
    ChatContent content;
    std::vector<HistoryMessage>& result = content.messages;
    try {
        if (!m_messageQuery)
            prepareMessageQuery();
        const qint64 id = m_list->ids.at(chat);
        if (m_misread && m_misread->count(id))
            failDamaged(chat);
        sqlite3_stmt* query = m_messageQuery.get();
        sqlite3_reset(query);
        sqlite3_bind_int64(query, 1, id);
        // Kept in UTF-8, as SQLite holds it, all the way to a transcript in UTF-8.
        ChatText text;
        ChatText::LastName names;
        ChatText::LastName authors;
        std::vector<std::pair<ChatText::Span, ChatText::Span>> spans;
        int status;
        while ((status = sqlite3_step(query)) == SQLITE_ROW) {
            // A row the index gave for the chat that the table holds for another one: the index
            // cannot be trusted for this chat.
            if (!belongsTo(query, 5, id)) {
                m_damaged.insert(chat);
                failDamaged(chat);
            }
            const char* unreadable = sqlite3_column_type(query, 2) != SQLITE_INTEGER       ? "type"
                                     : !isWholeNumberOrNull(sqlite3_column_type(query, 4)) ? "time"
                                                                                           : nullptr;
            if (unreadable)
                throw Failure(
                    QStringLiteral("Cannot read the Skype history '%1': it is damaged where it holds "
                                   "the messages of '%2': a message's %3 is not a number")
                        .arg(m_path, m_list->chats.at(chat).name, QLatin1String(unreadable)));
            const MessageKind kind = MessageBody::kindOfDatabaseType(sqlite3_column_int(query, 2));
            if (kind == MessageKind::Event)
                continue;
            const std::optional<ChatText::Span> body = text.addBody(kind, columnBytes(query, 3));
            if (!body)
                continue;
            ChatText::Span sender = text.addName(columnBytes(query, 0), names);
            if (sender.size == 0)
                sender = text.addName(columnBytes(query, 1), authors);
            spans.emplace_back(sender, *body);
        }
        if (status != SQLITE_DONE)
            throw SQLite::Exception(m_db->getHandle(), status);
        result.reserve(spans.size());
        for (const auto& [sender, body] : spans)
            result.push_back(text.message(sender, body));
    } catch (const SQLite::Exception& error) {
        fail(error);
    }
    return content;
}

bool DatabaseHistory::planReads(const std::vector<size_t>& chats) {
    // A plan that the one being read goes on with, from where it stands, is read along with it: a
    // run that told every pass's chats before its first reads the table once for all of them.
    if (!m_plan.empty() && m_planAt <= m_plan.size() && chats.size() <= m_plan.size() - m_planAt &&
        std::equal(chats.begin(), chats.end(), m_plan.begin() + static_cast<std::ptrdiff_t>(m_planAt)))
        return true;
    m_plan.clear();
    m_planAt = 0;
    m_reader.reset();
    m_byQueries = false;
    try {
        this->chats();
    } catch (const Failure&) {
        return false;
    }
    for (const size_t chat : chats) {
        if (chat < m_list->ids.size())
            m_plan.push_back(chat);
    }
    return true;
}

std::optional<History::ChatContent> DatabaseHistory::plannedMessages(size_t chat) {
    const auto from = m_plan.begin() + static_cast<std::ptrdiff_t>(std::min(m_planAt, m_plan.size()));
    const auto found = std::find(from, m_plan.end(), chat);
    if (found == m_plan.end())
        return std::nullopt;
    const auto at = static_cast<size_t>(found - m_plan.begin());
    m_planAt = at + 1;
    if (!m_reader && !m_byQueries) {
        // A table read whole earlier in this run, that its index told as it was, leaves a plan of a
        // few chats (the groups after every contact) to their own queries through that index.
        std::vector<bool> planned(m_list->ids.size());
        size_t chats = 0;
        for (const size_t one : m_plan) {
            chats += planned[one] ? 0 : 1;
            planned[one] = true;
        }
        if (m_tableAgreed && chats * 4 < m_list->ids.size())
            m_byQueries = true;
        else
            scanTable();
    }
    if (!m_reader)
        return std::nullopt;
    PlanReader::Result result = m_reader->take(at);
    if (result.verdict == TableScan::Verdict::Damaged) {
        m_damaged.insert(chat);
        failDamaged(chat);
    }
    if (!result.messages)
        return std::nullopt;
    ChatContent content;
    content.messages = std::move(*result.messages);
    return content;
}

// One pass over the table for every chat of the plan. Where it cannot be made (the history is
// locked, the temporary file fails), each chat is read by its own query, which reports what it meets.
void DatabaseHistory::scanTable() {
    const QString messages = QStringLiteral("messages");
    const auto field = [&](const char* name) { return sqlOf(column(messages, QString::fromLatin1(name))); };
    std::vector<qint64> shown;
    for (const QString& type : QString::fromLatin1(kShownTypes).split(QLatin1Char(',')))
        shown.push_back(type.trimmed().toLongLong());
    try {
        auto scan = std::make_unique<TableScan>(
            *m_db, [this] { return connect(); },
            TableScan::Columns{field("timestamp"), field("id"), field("type"), field("from_dispname"),
                               field("author"), field("body_xml")},
            shown, shownOf, m_list->ids, m_plan, conversationIndex(), m_bufferBytes);
        scan->run();
        m_tableAgreed = scan->agreesWithIndex();
        if (m_tableAgreed)
            m_indexCheck = std::make_shared<const IndexCheck>(IndexCheck{true, true});
        m_reader = std::make_unique<PlanReader>(std::move(scan), m_plan);
    } catch (const std::exception&) {
        m_byQueries = true;
    }
}

std::unique_ptr<History> DatabaseHistory::reader() const {
    std::unique_ptr<DatabaseHistory> reader(new DatabaseHistory(m_path, m_source));
    // The chats by the ids this reader resolved, and its verdict on the index: not found again.
    reader->m_list = m_list;
    reader->m_indexCheck = m_indexCheck;
    return reader;
}

ChatTime DatabaseHistory::timeStamp(size_t chat) {
    chats();
    return m_list->stamps.at(chat);
}
