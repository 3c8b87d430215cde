#pragma once

#include "DatabaseSchema.h"

#include "messages/History.h"

#include <memory>
#include <vector>

class ChatVerdicts;
class SqlStatement;

namespace SQLite {
class Database;
} // namespace SQLite

// A chat's messages read by a query of its own, where no pass over the table gives them: through the
// client's index, as SQLite's own planning takes it, or from the table itself (through a private
// index built from it, or, without room for one, a scan of its own). Every row of the chat comes
// along, events too, and is tallied as the verdicts tally the table's. The statements are prepared
// once, at their first use.
class ChatQuery final {
public:
    enum class Route { Index, Table };
    struct Result {
        // Whether the rows read are the ones the table gave the chat.
        bool sameAsTable = false;
        // What of a shown message is no whole number ("type", "time"), else null: the chat cannot be
        // read, rather than lose the message or place it elsewhere.
        const char* unreadable = nullptr;
        // The shown messages, newest first; only where the rows are the table's and all readable.
        std::vector<HistoryMessage> messages;
    };

    ChatQuery(SQLite::Database& db, DatabaseSchema schema);
    ~ChatQuery();
    ChatQuery(const ChatQuery&) = delete;
    ChatQuery& operator=(const ChatQuery&) = delete;

    // The messages of the chat at position `chat`, whose id is `id`; fails with SQLite's error.
    Result read(size_t chat, qint64 id, const ChatVerdicts& verdicts, Route route);

    // The kinds of message a transcript can show, in order; everything else is an event.
    static std::vector<qint64> shownTypes();

private:
    SqlStatement& statement(Route route);

    SQLite::Database& m_db;
    DatabaseSchema m_schema;
    std::unique_ptr<SqlStatement> m_throughIndex;
    std::unique_ptr<SqlStatement> m_fromTable;
};
