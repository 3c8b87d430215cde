#include "DatabaseHistory.h"

#include "ChatText.h"
#include "ChatVerdicts.h"
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

// The header's read and write versions are 2 in WAL mode.
bool isInWalMode(const QString& path) {
    QFile file(path);
    const QByteArray header = file.open(QIODevice::ReadOnly) ? file.read(20) : QByteArray();
    return header.size() == 20 && header.at(18) == 2 && header.at(19) == 2;
}

qint64 modifiedAt(const QFileInfo& info) {
    return info.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch();
}

quint32 bigEndian(const QByteArray& bytes, int at, int size) {
    quint32 value = 0;
    for (int i = 0; i < size; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

// How the file is shorter than its header says (a copy or a download that did not finish), else
// empty. A header from before SQLite 3.7 gives no size, and tells nothing.
QString cutShortIn(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray header = file.read(100);
    const qint64 size = file.size();
    if (!header.startsWith(QByteArrayLiteral("SQLite format 3\0")))
        return QString();
    if (header.size() < 100)
        return QStringLiteral("the file ends after %1 bytes, inside its header").arg(size);
    const quint32 pageSize = bigEndian(header, 16, 2) == 1 ? 65536 : bigEndian(header, 16, 2);
    const quint32 pages = bigEndian(header, 28, 4);
    // The size in the header counts only where the header's two change counters agree.
    if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0 || pages == 0 ||
        header.mid(24, 4) != header.mid(92, 4))
        return QString();
    const qint64 whole = qint64(pageSize) * pages;
    if (size >= whole)
        return QString();
    return QStringLiteral("the file ends after %1 of the %2 bytes its header gives").arg(size).arg(whole);
}

// A history is read with the files of these names beside it. One that is no file (a pipe, which an
// open would wait on for ever, a device, a folder) fails the history as the history itself would.
void checkFilesBeside(const QString& path) {
    for (const char* suffix : {"-wal", "-journal", "-shm"}) {
        const QFileInfo beside(path + QLatin1String(suffix));
        if (beside.exists() && !beside.isFile())
            throw Failure(
                QStringLiteral("Cannot read the Skype history '%1': '%2' beside it is not a file but "
                               "a pipe, a device, a socket or a folder, where a history keeps a "
                               "file of that name; remove it and try again")
                    .arg(path, beside.fileName()));
    }
}

// The kinds of message a transcript shows, in order.
std::vector<qint64> shownTypes() {
    std::vector<qint64> shown;
    for (const QString& type : QString::fromLatin1(kShownTypes).split(QLatin1Char(',')))
        shown.push_back(type.trimmed().toLongLong());
    std::sort(shown.begin(), shown.end());
    return shown;
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
    checkFilesBeside(path);
    Source source;
    source.name = path;
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
    source.cutShort = cutShortIn(source.name);
    return source;
}

DatabaseHistory::DatabaseHistory(const QString& path)
    : DatabaseHistory(path, sourceFor(path)) {}

DatabaseHistory::DatabaseHistory(QString path, Source source)
    : m_path(std::move(path))
    , m_source(std::move(source))
    , m_indexQuery(nullptr, sqlite3_finalize)
    , m_tableQuery(nullptr, sqlite3_finalize) {
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
        // SQLite opens no history shorter than its header says; cut short, it is one all the same.
        if (isHeldOrHalfWritten(error) || !m_source.cutShort.isEmpty())
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

QString DatabaseHistory::reasonOf(const std::exception& error) const {
    const auto* sqlite = dynamic_cast<const SQLite::Exception*>(&error);
    if (sqlite && (sqlite->getErrorCode() == SQLITE_BUSY || sqlite->getErrorCode() == SQLITE_LOCKED))
        return QStringLiteral("Skype is using this history; close Skype and try again");
    // A journal of changes left half-done: they must be undone before the history can be read, and a
    // reader that writes nothing cannot undo them.
    if (sqlite && sqlite->getExtendedErrorCode() == SQLITE_READONLY_ROLLBACK)
        return QStringLiteral("Skype did not close this history cleanly, and the changes it left half-done "
                              "in its '-journal' must be undone first; open it in Skype once and close "
                              "Skype again, then try again");
    // "Malformed" says nothing of a file whose end is missing.
    if (!m_source.cutShort.isEmpty())
        return QStringLiteral("it is cut short: %1; part of it is missing, as when a copy or a download "
                              "did not finish")
            .arg(m_source.cutShort);
    return QString::fromUtf8(error.what());
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

std::optional<QString> DatabaseHistory::conversationIndex() const {
    SQLite::Statement query(*m_db, "SELECT list.name FROM pragma_index_list('Messages') AS list, "
                                   "pragma_index_info(list.name) AS info WHERE info.seqno = 0 AND "
                                   "info.name = 'convo_id' COLLATE NOCASE AND list.partial = 0");
    if (!query.executeStep())
        return std::nullopt;
    return text(query.getColumn(0));
}

namespace {

QByteArrayView columnBytes(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? QByteArrayView(text, sqlite3_column_bytes(statement, column)) : QByteArrayView();
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

// Which SQLite declares a column of this type to hold text: its type names characters and no integer.
bool holdsText(const QString& declared) {
    const QString type = declared.toUpper();
    return !type.contains(QLatin1String("INT")) &&
           (type.contains(QLatin1String("CHAR")) || type.contains(QLatin1String("CLOB")) ||
            type.contains(QLatin1String("TEXT")));
}

} // namespace

std::shared_ptr<ChatVerdicts> DatabaseHistory::newVerdicts() const {
    std::optional<ChatVerdicts::Index> index;
    const std::optional<QString> time = column(QStringLiteral("messages"), QStringLiteral("timestamp"));
    if (const std::optional<QString> name = conversationIndex()) {
        SQLite::Statement second(*m_db, "SELECT name FROM pragma_index_info(?) WHERE seqno = 1");
        second.bind(1, name->toStdString());
        index = ChatVerdicts::Index{*name, time && second.executeStep() &&
                                               text(second.getColumn(0)).toLower() == *time};
    }
    SQLite::Statement declared(*m_db, "SELECT type FROM pragma_table_info('Messages') WHERE name = "
                                      "'convo_id' COLLATE NOCASE");
    const bool idsAsText = declared.executeStep() && holdsText(text(declared.getColumn(0)));
    return std::make_shared<ChatVerdicts>(m_list->ids, index, sqlOf(time), idsAsText);
}

std::unique_ptr<TableScan> DatabaseHistory::newScan(const std::vector<size_t>& plan, size_t budget) {
    const QString messages = QStringLiteral("messages");
    const auto field = [&](const char* name) { return sqlOf(column(messages, QString::fromLatin1(name))); };
    return std::make_unique<TableScan>(
        *m_db, [this] { return connect(); },
        TableScan::Columns{field("timestamp"), field("id"), field("type"), field("from_dispname"),
                           field("author"), field("body_xml")},
        shownTypes(), shownOf, newVerdicts(), plan, budget);
}

const ChatVerdicts& DatabaseHistory::verdicts() {
    if (!m_verdicts) {
        const std::unique_ptr<TableScan> scan = newScan({}, 0);
        scan->run();
        m_verdicts = scan->sharedVerdicts();
    }
    return *m_verdicts;
}

void DatabaseHistory::mustBeReadable(size_t chat, const ChatVerdicts& verdicts) {
    if (!verdicts.messageOfNoChat().isEmpty())
        throw Failure::endingRun(
            QStringLiteral("Cannot read the Skype history '%1': it is damaged where it tells which chat a "
                           "message belongs to (%2), so no chat can be read whole")
                .arg(m_path, verdicts.messageOfNoChat()),
            QStringLiteral("the Skype history '%1' is damaged where it tells which chat a message belongs to")
                .arg(m_path));
    if (verdicts.verdict(chat) == ChatVerdicts::Verdict::Damaged) {
        m_damaged.insert(chat);
        failDamaged(chat);
    }
}

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
    if (!m_list->unreadable.at(chat).isEmpty())
        throw Failure(QStringLiteral("Cannot read the Skype history '%1': it is damaged where it holds the "
                                     "chat '%2': its %3 is not a number")
                          .arg(m_path, m_list->chats.at(chat).name, m_list->unreadable.at(chat)));
    try {
        if (std::optional<ChatContent> planned = plannedMessages(chat))
            return std::move(*planned);
        // The same verdicts as along a plan, and the rows read must be the ones the table gave the
        // chat: where the client's index tells them otherwise, they are read from the table.
        const ChatVerdicts& verdicts = this->verdicts();
        mustBeReadable(chat, verdicts);
        const bool throughIndex = verdicts.indexTells(chat);
        std::optional<ChatContent> content = queried(chat, throughIndex ? Route::Index : Route::Table);
        if (!content && throughIndex)
            content = queried(chat, Route::Table);
        if (!content) {
            m_damaged.insert(chat);
            failDamaged(chat);
        }
        return std::move(*content);
    } catch (const SQLite::Exception& error) {
        fail(error);
    }
}

sqlite3_stmt* DatabaseHistory::messageQuery(Route route) {
    Prepared& prepared = route == Route::Index ? m_indexQuery : m_tableQuery;
    if (prepared)
        return prepared.get();
    const QString messages = QStringLiteral("messages");
    const auto field = [&](const char* name) {
        return sqlOf(column(messages, QString::fromLatin1(name)), QStringLiteral("m."));
    };
    // Through the client's index, as SQLite's own planning takes it for a chat's messages.
    QString from = QStringLiteral("Messages AS m");
    QString chat = QStringLiteral("m.convo_id");
    QString order = QStringLiteral("%1 DESC, %2 DESC").arg(field("timestamp"), field("id"));
    if (route == Route::Table) {
        from = QStringLiteral("Messages AS m NOT INDEXED");
        // From the table: one scan of it builds a private index in the connection's temporary
        // storage, so that no chat costs a scan of every message. Without room for it, each chat
        // is read by a scan of its own.
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
        } catch (const SQLite::Exception&) {
            try {
                m_db->exec("DROP TABLE IF EXISTS temp.chat_order");
            } catch (const SQLite::Exception&) {
            }
        }
    }
    // Every row of the chat comes along, events too, so that they can be told against the table's.
    const QString sql = QStringLiteral("SELECT %1, %2, %3, %4, %5, m.rowid FROM %6 WHERE %7 = ? ORDER BY %8")
                            .arg(field("from_dispname"), field("author"), field("type"), field("body_xml"),
                                 field("timestamp"), from, chat, order);
    prepared = prepare(*m_db, sql);
    return prepared.get();
}

std::optional<History::ChatContent> DatabaseHistory::queried(size_t chat, Route route) {
    const ChatVerdicts& verdicts = *m_verdicts;
    static const std::vector<qint64> shown = shownTypes();
    // Each page as SQLite reads any, not as the pass read the table: the rows read must add up as the
    // pass counted them, and a cell that cannot be read fails the read all the same. The pass's check
    // of every cell of a page it loads would fail a chat here for another row's damage on its page,
    // where the pass, which found that page loaded already, read the chat whole.
    sqlite3_exec(m_db->getHandle(), "PRAGMA cell_size_check = OFF", nullptr, nullptr, nullptr);
    sqlite3_stmt* query = messageQuery(route);
    sqlite3_reset(query);
    sqlite3_bind_int64(query, 1, m_list->ids.at(chat));
    // Kept in UTF-8, as SQLite holds it, all the way to a transcript in UTF-8.
    ChatText text;
    ChatText::LastName names;
    ChatText::LastName authors;
    std::vector<std::pair<ChatText::Span, ChatText::Span>> spans;
    ChatVerdicts::Tally tally;
    // A type or time that is no whole number fails the chat rather than losing the message or placing
    // it elsewhere; once its rows are known to be the chat's.
    const char* unreadable = nullptr;
    int status;
    while ((status = sqlite3_step(query)) == SQLITE_ROW) {
        verdicts.count(tally, sqlite3_column_int64(query, 5), ChatVerdicts::timeOf(query, 4));
        const int typeKind = sqlite3_column_type(query, 2);
        if (typeKind == SQLITE_NULL || unreadable)
            continue;
        if (typeKind != SQLITE_INTEGER) {
            unreadable = "type";
            continue;
        }
        const qint64 type = sqlite3_column_int64(query, 2);
        if (!std::binary_search(shown.begin(), shown.end(), type))
            continue;
        if (!isWholeNumberOrNull(sqlite3_column_type(query, 4))) {
            unreadable = "time";
            continue;
        }
        const MessageKind kind = MessageBody::kindOfDatabaseType(static_cast<int>(type));
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
    if (!verdicts.sameAsTable(chat, tally))
        return std::nullopt;
    if (unreadable)
        throw Failure(QStringLiteral("Cannot read the Skype history '%1': it is damaged where it holds "
                                     "the messages of '%2': a message's %3 is not a number")
                          .arg(m_path, m_list->chats.at(chat).name, QLatin1String(unreadable)));
    ChatContent content;
    content.messages.reserve(spans.size());
    for (const auto& [sender, body] : spans)
        content.messages.push_back(text.message(sender, body));
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
    mustBeReadable(chat, *m_verdicts);
    PlanReader::Result result = m_reader->take(at);
    if (!result.messages)
        return std::nullopt;
    ChatContent content;
    content.messages = std::move(*result.messages);
    return content;
}

// One pass over the table for every chat of the plan. Where it cannot be made (the history is
// locked, out of memory), each chat is read by its own query, which reports what it meets.
void DatabaseHistory::scanTable() {
    try {
        std::unique_ptr<TableScan> scan = newScan(m_plan, m_bufferBytes);
        scan->run();
        m_verdicts = scan->sharedVerdicts();
        m_tableAgreed = m_verdicts->agreesWithIndex();
        m_reader = std::make_unique<PlanReader>(std::move(scan), m_plan);
    } catch (const std::exception&) {
        m_byQueries = true;
    }
}

std::unique_ptr<History> DatabaseHistory::reader() const {
    std::unique_ptr<DatabaseHistory> reader(new DatabaseHistory(m_path, m_source));
    // The chats by the ids this reader resolved, and the verdicts on them: not found again.
    reader->m_list = m_list;
    reader->m_verdicts = m_verdicts;
    return reader;
}

ChatTime DatabaseHistory::timeStamp(size_t chat) {
    chats();
    return m_list->stamps.at(chat);
}
