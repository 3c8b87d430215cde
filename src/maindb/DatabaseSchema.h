#pragma once

#include <QString>
#include <QStringList>

#include <map>
#include <optional>

namespace SQLite {
class Database;
} // namespace SQLite

// The tables of a main.db and their columns, names in lower case. Older clients lack some columns,
// which read as NULL.
class DatabaseSchema final {
public:
    DatabaseSchema() = default;
    // Fails with SQLite's error.
    explicit DatabaseSchema(SQLite::Database& db);

    bool hasTable(const QString& table) const { return m_columns.count(table) != 0; }
    // The column's name when the table has it.
    std::optional<QString> column(const QString& table, const QString& name) const;
    // The SQL for a column that may be missing: its name after `prefix`, or NULL in its stead.
    QString sql(const QString& table, const QString& name, const QString& prefix = QString()) const;

private:
    // table -> its columns
    std::map<QString, QStringList> m_columns;
};
