#include "DatabaseHistory.h"

#include "MessageBody.h"

#include "base/Failure.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <sqlite3.h>

#include <map>

namespace {

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

// What went wrong, in words a user can act on where SQLite's own are no help.
QString reasonOf(const std::exception& error) {
    const auto* sqlite = dynamic_cast<const SQLite::Exception*>(&error);
    if (sqlite && (sqlite->getErrorCode() == SQLITE_BUSY || sqlite->getErrorCode() == SQLITE_LOCKED))
        return QStringLiteral("Skype is using this history; close Skype and try again");
    return QString::fromUtf8(error.what());
}

// The header's read and write versions are 2 in WAL mode.
bool isInWalMode(const QString& path) {
    QFile file(path);
    const QByteArray header = file.open(QIODevice::ReadOnly) ? file.read(20) : QByteArray();
    return header.size() == 20 && header.at(18) == 2 && header.at(19) == 2;
}

} // namespace

DatabaseHistory::Source DatabaseHistory::sourceFor(const QString& path) {
    if (!isInWalMode(path))
        return {path, false, nullptr};
    // Even a read-only connection to a history in WAL mode creates its "-shm" file beside it, and
    // fails where that folder cannot be written to. Without changes waiting in its "-wal", the
    // file alone holds the whole history: it is read as immutable, which writes nothing.
    const QFileInfo wal(path + QStringLiteral("-wal"));
    if (!wal.exists() || wal.size() == 0) {
        const QString uri =
            QString::fromLatin1(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded());
        return {uri + QStringLiteral("?immutable=1"), true, nullptr};
    }
    // Otherwise a private copy of both is read.
    auto copy = std::make_shared<QTemporaryDir>();
    const QString name = copy->filePath(QStringLiteral("main.db"));
    if (!copy->isValid() || !QFile::copy(path, name) ||
        !QFile::copy(wal.filePath(), name + QStringLiteral("-wal")))
        throw Failure(
            QStringLiteral("'%1' cannot be read: it is in WAL mode, and no private copy of it could be "
                           "made in the temporary folder")
                .arg(path));
    return {name, false, std::move(copy)};
}

DatabaseHistory::DatabaseHistory(const QString& path)
    : DatabaseHistory(path, sourceFor(path)) {}

DatabaseHistory::DatabaseHistory(QString path, Source source)
    : m_path(std::move(path))
    , m_source(std::move(source))
    , m_messageQuery(nullptr, sqlite3_finalize) {
    try {
        // Each connection is used by one thread at a time: SQLite's own locking is not needed.
        m_db = std::make_unique<SQLite::Database>(m_source.name.toStdString(),
                                                  SQLite::OPEN_READONLY | SQLite::OPEN_NOMUTEX |
                                                      (m_source.isUri ? SQLite::OPEN_URI : 0));
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

void DatabaseHistory::fail(const std::exception& error) const {
    throw Failure(QStringLiteral("Cannot read the Skype history '%1': %2").arg(m_path, reasonOf(error)));
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
        const QString sql = QStringLiteral("SELECT %1 FROM Conversations WHERE %2 = 1")
                                .arg(sqlOf(column(conversations, QStringLiteral("identity"))),
                                     sqlOf(column(conversations, QStringLiteral("type"))));
        SQLite::Statement query(*m_db, sql.toStdString());
        while (query.executeStep())
            handles.append(text(query.getColumn(0)));
    } catch (const SQLite::Exception& error) {
        fail(error);
    }
    sortHandles(handles);
    return handles;
}

const std::vector<HistoryChat>& DatabaseHistory::chats() {
    if (!m_chatsLoaded) {
        try {
            loadChats();
        } catch (const SQLite::Exception& error) {
            fail(error);
        }
        m_chatsLoaded = true;
    }
    return m_chats;
}

void DatabaseHistory::loadChats() {
    const QString conversations = QStringLiteral("conversations");
    const QString sql = QStringLiteral("SELECT id, %1, %2, %3, %4 FROM Conversations ORDER BY id")
                            .arg(sqlOf(column(conversations, QStringLiteral("identity"))),
                                 sqlOf(column(conversations, QStringLiteral("type"))),
                                 sqlOf(column(conversations, QStringLiteral("creation_timestamp"))),
                                 sqlOf(column(conversations, QStringLiteral("displayname"))));
    SQLite::Statement query(*m_db, sql.toStdString());
    bool stampMissing = false;
    while (query.executeStep()) {
        const QString identity = text(query.getColumn(1));
        const bool oneToOne = !query.getColumn(2).isNull() && query.getColumn(2).getInt64() == 1;
        m_chats.push_back({identity, oneToOne ? identity : QString(), text(query.getColumn(4))});
        m_chatIds.push_back(query.getColumn(0).getInt64());
        const qint64 created = query.getColumn(3).isNull() ? 0 : query.getColumn(3).getInt64();
        const bool readable = created != 0 && isReadableTime(created);
        stampMissing = stampMissing || !readable;
        m_stamps.push_back(readable ? ChatTime(created) : std::nullopt);
    }
    if (!stampMissing || !m_columns.at(QStringLiteral("messages")).contains(QStringLiteral("timestamp")))
        return;
    // Chats without a creation time take the time of their earliest message, of any kind.
    std::map<qint64, qint64> earliest;
    SQLite::Statement first(*m_db, "SELECT convo_id, MIN(timestamp) FROM Messages WHERE timestamp BETWEEN ? "
                                   "AND ? GROUP BY convo_id");
    first.bind(1, static_cast<int64_t>(kEarliestTime));
    first.bind(2, static_cast<int64_t>(kLatestTime));
    while (first.executeStep())
        earliest[first.getColumn(0).getInt64()] = first.getColumn(1).getInt64();
    for (size_t i = 0; i < m_chats.size(); ++i) {
        const auto found = earliest.find(m_chatIds[i]);
        if (!m_stamps[i] && found != earliest.end())
            m_stamps[i] = found->second;
    }
}

bool DatabaseHistory::hasConversationIndex() const {
    SQLite::Statement query(*m_db, "SELECT 1 FROM pragma_index_list('Messages') AS list, "
                                   "pragma_index_info(list.name) AS info WHERE info.seqno = 0 AND "
                                   "info.name = 'convo_id' COLLATE NOCASE");
    return query.executeStep();
}

void DatabaseHistory::prepareMessageQuery() {
    const QString messages = QStringLiteral("messages");
    const auto field = [&](const char* name) {
        return sqlOf(column(messages, QString::fromLatin1(name)), QStringLiteral("m."));
    };
    QString from = QStringLiteral("Messages AS m");
    QString chat = QStringLiteral("m.convo_id");
    QString order = QStringLiteral("%1 DESC, %2 DESC").arg(field("timestamp"), field("id"));
    if (!hasConversationIndex()) {
        // Without the client's index every chat would cost a scan of all messages: one scan
        // builds a private index in the connection's temporary storage instead.
        m_db->exec(
            QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS chat_order AS SELECT convo_id, %1 AS time, "
                           "%2 AS number, rowid AS message FROM Messages;"
                           "CREATE INDEX IF NOT EXISTS temp.chat_order_key ON chat_order "
                           "(convo_id, time, number)")
                .arg(sqlOf(column(messages, QStringLiteral("timestamp"))),
                     sqlOf(column(messages, QStringLiteral("id"))))
                .toStdString());
        from = QStringLiteral("temp.chat_order AS o JOIN Messages AS m ON m.rowid = o.message");
        chat = QStringLiteral("o.convo_id");
        order = QStringLiteral("o.time DESC, o.number DESC");
    }
    const QString sql =
        QStringLiteral("SELECT %1, %2, %3, %4 FROM %5 WHERE %6 = ? AND %3 IN (%7) ORDER BY %8")
            .arg(field("from_dispname"), field("author"), field("type"), field("body_xml"), from, chat,
                 QString::fromLatin1(kShownTypes), order);
    sqlite3_stmt* statement = nullptr;
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(m_db->getHandle(), utf8.constData(), static_cast<int>(utf8.size()), &statement,
                           nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        throw SQLite::Exception(m_db->getHandle(), sqlite3_errcode(m_db->getHandle()));
    }
    m_messageQuery.reset(statement);
}

namespace {

QString columnText(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(statement, column)) : QString();
}

// Consecutive messages mostly share a sender: the text already made is used again.
class SenderCache {
public:
    const QString& sender(sqlite3_stmt* statement, int column) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        const int bytes = sqlite3_column_bytes(statement, column);
        if (!text)
            return m_empty;
        if (m_bytes != QByteArrayView(text, bytes)) {
            m_bytes = QByteArray(text, bytes);
            m_text = QString::fromUtf8(m_bytes);
        }
        return m_text;
    }

private:
    QByteArray m_bytes;
    QString m_text;
    QString m_empty;
};

} // namespace

History::ChatContent DatabaseHistory::messages(size_t chat) {
    chats();
    ChatContent content;
    std::vector<HistoryMessage>& result = content.messages;
    try {
        if (!m_messageQuery)
            prepareMessageQuery();
        sqlite3_stmt* query = m_messageQuery.get();
        sqlite3_reset(query);
        sqlite3_bind_int64(query, 1, m_chatIds.at(chat));
        SenderCache names;
        SenderCache authors;
        int status;
        while ((status = sqlite3_step(query)) == SQLITE_ROW) {
            const MessageKind kind = MessageBody::kindOfDatabaseType(sqlite3_column_int(query, 2));
            if (kind == MessageKind::Event)
                continue;
            std::optional<QString> shown = MessageBody::bodyFor(kind, columnText(query, 3));
            if (!shown)
                continue;
            const QString& name = names.sender(query, 0);
            result.emplace_back(name.isEmpty() ? authors.sender(query, 1) : name, std::move(*shown));
        }
        if (status != SQLITE_DONE)
            throw SQLite::Exception(m_db->getHandle(), status);
    } catch (const SQLite::Exception& error) {
        fail(error);
    }
    return content;
}

std::unique_ptr<History> DatabaseHistory::reader() const {
    return std::unique_ptr<History>(new DatabaseHistory(m_path, m_source));
}

ChatTime DatabaseHistory::timeStamp(size_t chat) {
    chats();
    return m_stamps.at(chat);
}
