#pragma once

#include "SyntheticHistory.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <SQLiteCpp/Transaction.h>

#include <memory>

// Writes a synthetic history as a classic client's main.db.
class DatabaseWriter {
public:
    // How the messages lie in the file. A client appends them as they arrive, all conversations
    // interleaved, with ids in that order; grouped by conversation is what a tool writing one
    // conversation at a time would give, and makes every per-chat read cheaper than real ones.
    enum class Layout { Arrival, Grouped };

    // `index`: the client's index on Messages (convo_id, timestamp).
    DatabaseWriter(const QString& path, const SyntheticHistory& history, bool index,
                   Layout layout = Layout::Arrival);
    void add(const SyntheticHistory::Conversation& conversation);
    void finish();

    static int typeOf(SyntheticHistory::Kind kind, qint64 id);

    // The tables of a classic main.db, as far as the program reads them.
    static const char* const kSchema;

private:
    SQLite::Database m_db;
    std::unique_ptr<SQLite::Transaction> m_transaction;
    std::unique_ptr<SQLite::Statement> m_insertMessage;
    QString m_me;
    bool m_index;
    Layout m_layout;
};
