#include "DatabaseHistory.h"

#include "ChatQuery.h"
#include "ChatVerdicts.h"
#include "PlanReader.h"
#include "TableScan.h"

#include "base/Failure.h"
#include "messages/MessageBody.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include <sqlite3.h>

#include <algorithm>
#include <map>

namespace {

QString text(const SQLite::Column& column) {
    if (column.isNull())
        return QString();
    return QString::fromUtf8(static_cast<const char*>(column.getText()), column.getBytes());
}

// A column the schema gives whole numbers: anything else stored there cannot be read as one, and is
// not taken for another value. NULL stands for a column an older client lacks.
bool isWholeNumberOrNull(int type) {
    return type == SQLITE_INTEGER || type == SQLITE_NULL;
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

} // namespace

DatabaseHistory::DatabaseHistory(const QString& path)
    : DatabaseHistory(DatabaseSource(path)) {}

DatabaseHistory::DatabaseHistory(DatabaseSource source)
    : m_source(std::move(source)) {
    try {
        m_db = m_source.connect();
        m_schema = DatabaseSchema(*m_db);
    } catch (const std::exception& error) {
        m_source.failOpening(error);
    }
    for (const char* table : {"accounts", "conversations", "messages"}) {
        if (!m_schema.hasTable(QString::fromLatin1(table)))
            throw Failure(QStringLiteral("'%1' is not a Skype history: it has no %2 table")
                              .arg(m_source.path(), QString::fromLatin1(table)));
    }
    for (const char* required : {"id", "convo_id"}) {
        const QString table =
            QString::fromLatin1(qstrcmp(required, "id") == 0 ? "conversations" : "messages");
        if (!m_schema.column(table, QString::fromLatin1(required)))
            throw Failure(QStringLiteral("'%1' is not a Skype history: its %2 table has no %3 column")
                              .arg(m_source.path(), table, QString::fromLatin1(required)));
    }
    m_query = std::make_unique<ChatQuery>(*m_db, m_schema);
}

DatabaseHistory::~DatabaseHistory() = default;

QStringList DatabaseHistory::contacts() {
    QStringList handles;
    try {
        QString own;
        if (m_schema.column(QStringLiteral("accounts"), QStringLiteral("skypename"))) {
            SQLite::Statement account(*m_db, "SELECT skypename FROM Accounts ORDER BY rowid LIMIT 1");
            if (account.executeStep())
                own = text(account.getColumn(0));
        }
        const QString contactsTable = QStringLiteral("contacts");
        if (m_schema.column(contactsTable, QStringLiteral("is_permanent"))) {
            const QString sql = QStringLiteral("SELECT %1 FROM Contacts WHERE is_permanent = 1")
                                    .arg(m_schema.sql(contactsTable, QStringLiteral("skypename")));
            SQLite::Statement query(*m_db, sql.toStdString());
            while (query.executeStep()) {
                const SQLite::Column handle = query.getColumn(0);
                if (handle.isNull() || text(handle) != own)
                    handles.append(text(handle));
            }
        }
        const QString conversations = QStringLiteral("conversations");
        const QString sql = QStringLiteral("SELECT %1, %2 FROM Conversations")
                                .arg(m_schema.sql(conversations, QStringLiteral("identity")),
                                     m_schema.sql(conversations, QStringLiteral("type")));
        SQLite::Statement query(*m_db, sql.toStdString());
        while (query.executeStep()) {
            const QString identity = text(query.getColumn(0));
            if (isDialog(query.getColumn(1), identity))
                handles.append(identity);
        }
    } catch (const SQLite::Exception& error) {
        m_source.fail(error);
    }
    sortHandles(handles);
    return handles;
}

const std::vector<HistoryChat>& DatabaseHistory::chats() {
    if (!m_list) {
        try {
            loadChats();
        } catch (const SQLite::Exception& error) {
            m_source.fail(error);
        }
    }
    return m_list->chats;
}

void DatabaseHistory::loadChats() {
    const QString conversations = QStringLiteral("conversations");
    const QString sql = QStringLiteral("SELECT id, %1, %2, %3, %4 FROM Conversations ORDER BY id")
                            .arg(m_schema.sql(conversations, QStringLiteral("identity")),
                                 m_schema.sql(conversations, QStringLiteral("type")),
                                 m_schema.sql(conversations, QStringLiteral("creation_timestamp")),
                                 m_schema.sql(conversations, QStringLiteral("displayname")));
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
    if (!stampMissing || !m_schema.column(QStringLiteral("messages"), QStringLiteral("timestamp"))) {
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
    const QString messages = QStringLiteral("messages");
    const std::optional<QString> time = m_schema.column(messages, QStringLiteral("timestamp"));
    if (const std::optional<QString> name = conversationIndex()) {
        SQLite::Statement second(*m_db, "SELECT name FROM pragma_index_info(?) WHERE seqno = 1");
        second.bind(1, name->toStdString());
        index = ChatVerdicts::Index{*name, time && second.executeStep() &&
                                               text(second.getColumn(0)).toLower() == *time};
    }
    SQLite::Statement declared(*m_db, "SELECT type FROM pragma_table_info('Messages') WHERE name = "
                                      "'convo_id' COLLATE NOCASE");
    const bool idsAsText = declared.executeStep() && holdsText(text(declared.getColumn(0)));
    return std::make_shared<ChatVerdicts>(m_list->ids, index,
                                          m_schema.sql(messages, QStringLiteral("timestamp")), idsAsText);
}

std::unique_ptr<TableScan> DatabaseHistory::newScan(const std::vector<size_t>& plan, size_t budget) {
    const QString messages = QStringLiteral("messages");
    const auto field = [&](const char* name) { return m_schema.sql(messages, QString::fromLatin1(name)); };
    return std::make_unique<TableScan>(
        *m_db, [this] { return m_source.connect(); },
        TableScan::Columns{field("timestamp"), field("id"), field("type"), field("from_dispname"),
                           field("author"), field("body_xml")},
        ChatQuery::shownTypes(), shownOf, newVerdicts(), plan, budget);
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
                .arg(m_source.path(), verdicts.messageOfNoChat()),
            QStringLiteral("the Skype history '%1' is damaged where it tells which chat a message belongs to")
                .arg(m_source.path()));
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
            .arg(m_source.path(), m_list->chats.at(chat).name));
}

History::ChatContent DatabaseHistory::messages(size_t chat) {
    chats();
    if (m_damaged.count(chat))
        failDamaged(chat);
    if (!m_list->unreadable.at(chat).isEmpty())
        throw Failure(QStringLiteral("Cannot read the Skype history '%1': it is damaged where it holds the "
                                     "chat '%2': its %3 is not a number")
                          .arg(m_source.path(), m_list->chats.at(chat).name, m_list->unreadable.at(chat)));
    try {
        if (std::optional<ChatContent> planned = plannedMessages(chat))
            return std::move(*planned);
        // The same verdicts as along a plan, and the rows read must be the ones the table gave the
        // chat: where the client's index tells them otherwise, they are read from the table.
        const ChatVerdicts& verdicts = this->verdicts();
        mustBeReadable(chat, verdicts);
        const bool throughIndex = verdicts.indexTells(chat);
        std::optional<ChatContent> content =
            queried(chat, throughIndex ? ChatQuery::Route::Index : ChatQuery::Route::Table);
        if (!content && throughIndex)
            content = queried(chat, ChatQuery::Route::Table);
        if (!content) {
            m_damaged.insert(chat);
            failDamaged(chat);
        }
        return std::move(*content);
    } catch (const SQLite::Exception& error) {
        m_source.fail(error);
    }
}

std::optional<History::ChatContent> DatabaseHistory::queried(size_t chat, ChatQuery::Route route) {
    ChatQuery::Result result = m_query->read(chat, m_list->ids.at(chat), *m_verdicts, route);
    if (!result.sameAsTable)
        return std::nullopt;
    if (result.unreadable)
        throw Failure(
            QStringLiteral("Cannot read the Skype history '%1': it is damaged where it holds "
                           "the messages of '%2': a message's %3 is not a number")
                .arg(m_source.path(), m_list->chats.at(chat).name, QLatin1String(result.unreadable)));
    ChatContent content;
    content.messages = std::move(result.messages);
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
    std::unique_ptr<DatabaseHistory> reader(new DatabaseHistory(m_source));
    // The chats by the ids this reader resolved, and the verdicts on them: not found again.
    reader->m_list = m_list;
    reader->m_verdicts = m_verdicts;
    return reader;
}

ChatTime DatabaseHistory::timeStamp(size_t chat) {
    chats();
    return m_list->stamps.at(chat);
}
