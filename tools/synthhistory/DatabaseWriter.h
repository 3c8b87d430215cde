#pragma once

#include "SyntheticHistory.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <SQLiteCpp/Transaction.h>

#include <memory>

// Writes a synthetic history as a classic client's main.db.
class DatabaseWriter {
public:
    // `index`: the client's index on Messages (convo_id, timestamp).
    DatabaseWriter(const QString& path, const SyntheticHistory& history, bool index);
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
};
