#include "ChatQuery.h"

#include "ChatVerdicts.h"
#include "SqlStatement.h"

#include "messages/ChatText.h"
#include "messages/MessageBody.h"

#include <SQLiteCpp/Database.h>

#include <sqlite3.h>

#include <algorithm>
#include <utility>

namespace {

// The kinds of message a transcript can show; everything else is an event.
const char* const kShownTypes = "61, 60, 50, 64, 30, 39, 68, 63, 201, 253";

// A column the schema gives whole numbers: anything else stored there cannot be read as one, and is
// not taken for another value. NULL stands for a column an older client lacks.
bool isWholeNumberOrNull(int type) {
    return type == SQLITE_INTEGER || type == SQLITE_NULL;
}

QByteArrayView columnBytes(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? QByteArrayView(text, sqlite3_column_bytes(statement, column)) : QByteArrayView();
}

} // namespace

ChatQuery::ChatQuery(SQLite::Database& db, DatabaseSchema schema)
    : m_db(db)
    , m_schema(std::move(schema)) {}

ChatQuery::~ChatQuery() = default;

std::vector<qint64> ChatQuery::shownTypes() {
    std::vector<qint64> shown;
    for (const QString& type : QString::fromLatin1(kShownTypes).split(QLatin1Char(',')))
        shown.push_back(type.trimmed().toLongLong());
    std::sort(shown.begin(), shown.end());
    return shown;
}

SqlStatement& ChatQuery::statement(Route route) {
    std::unique_ptr<SqlStatement>& prepared = route == Route::Index ? m_throughIndex : m_fromTable;
    if (prepared)
        return *prepared;
    const QString messages = QStringLiteral("messages");
    const auto field = [&](const char* name) {
        return m_schema.sql(messages, QString::fromLatin1(name), QStringLiteral("m."));
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
            m_db.exec(
                QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS chat_order AS SELECT convo_id, %1 AS time, "
                               "%2 AS number, rowid AS message FROM Messages NOT INDEXED;"
                               "CREATE INDEX IF NOT EXISTS temp.chat_order_key ON chat_order "
                               "(convo_id, time, number)")
                    .arg(m_schema.sql(messages, QStringLiteral("timestamp")),
                         m_schema.sql(messages, QStringLiteral("id")))
                    .toStdString());
            from = QStringLiteral("temp.chat_order AS o JOIN Messages AS m ON m.rowid = o.message");
            chat = QStringLiteral("o.convo_id");
            order = QStringLiteral("o.time DESC, o.number DESC");
        } catch (const SQLite::Exception&) {
            try {
                m_db.exec("DROP TABLE IF EXISTS temp.chat_order");
            } catch (const SQLite::Exception&) {
            }
        }
    }
    // Every row of the chat comes along, events too, so that they can be told against the table's.
    const QString sql = QStringLiteral("SELECT %1, %2, %3, %4, %5, m.rowid FROM %6 WHERE %7 = ? ORDER BY %8")
                            .arg(field("from_dispname"), field("author"), field("type"), field("body_xml"),
                                 field("timestamp"), from, chat, order);
    prepared = std::make_unique<SqlStatement>(m_db.getHandle(), sql.toUtf8());
    return *prepared;
}

ChatQuery::Result ChatQuery::read(size_t chat, qint64 id, const ChatVerdicts& verdicts, Route route) {
    static const std::vector<qint64> shown = shownTypes();
    // Each page as SQLite reads any, not as the pass read the table: the rows read must add up as the
    // pass counted them, and a cell that cannot be read fails the read all the same. The pass's check
    // of every cell of a page it loads would fail a chat here for another row's damage on its page,
    // where the pass, which found that page loaded already, read the chat whole.
    sqlite3_exec(m_db.getHandle(), "PRAGMA cell_size_check = OFF", nullptr, nullptr, nullptr);
    sqlite3_stmt* query = statement(route).get();
    sqlite3_reset(query);
    sqlite3_bind_int64(query, 1, id);
    // Kept in UTF-8, as SQLite holds it, all the way to a transcript in UTF-8.
    ChatText text;
    ChatText::LastName names;
    ChatText::LastName authors;
    std::vector<std::pair<ChatText::Span, ChatText::Span>> spans;
    ChatVerdicts::Tally tally;
    // A type or time that is no whole number fails the chat, once its rows are known to be the chat's.
    Result result;
    int status;
    while ((status = sqlite3_step(query)) == SQLITE_ROW) {
        verdicts.count(tally, sqlite3_column_int64(query, 5), ChatVerdicts::timeOf(query, 4));
        const int typeKind = sqlite3_column_type(query, 2);
        if (typeKind == SQLITE_NULL || result.unreadable)
            continue;
        if (typeKind != SQLITE_INTEGER) {
            result.unreadable = "type";
            continue;
        }
        const qint64 type = sqlite3_column_int64(query, 2);
        if (!std::binary_search(shown.begin(), shown.end(), type))
            continue;
        if (!isWholeNumberOrNull(sqlite3_column_type(query, 4))) {
            result.unreadable = "time";
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
        throw SQLite::Exception(m_db.getHandle(), status);
    result.sameAsTable = verdicts.sameAsTable(chat, tally);
    if (!result.sameAsTable || result.unreadable)
        return result;
    result.messages.reserve(spans.size());
    for (const auto& [sender, body] : spans)
        result.messages.push_back(text.message(sender, body));
    return result;
}
