#pragma once

#include <QByteArray>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;

// A statement stepped through SQLite's own calls, where the wrapper's per-row checks would cost.
// Fails with SQLite's error where it cannot be prepared.
class SqlStatement final {
public:
    SqlStatement(sqlite3* db, const QByteArray& sql);
    ~SqlStatement();
    SqlStatement(const SqlStatement&) = delete;
    SqlStatement& operator=(const SqlStatement&) = delete;

    sqlite3_stmt* get() const { return m_statement; }

    // A table's or an index's name as SQL takes it, quoted.
    static QByteArray quoted(const QString& name);

private:
    sqlite3_stmt* m_statement = nullptr;
};
