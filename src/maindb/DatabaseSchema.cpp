#include "DatabaseSchema.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

namespace {

QString text(const SQLite::Column& column) {
    if (column.isNull())
        return QString();
    return QString::fromUtf8(static_cast<const char*>(column.getText()), column.getBytes());
}

} // namespace

DatabaseSchema::DatabaseSchema(SQLite::Database& db) {
    std::map<QString, QStringList> tables;
    SQLite::Statement names(db, "SELECT name FROM sqlite_master WHERE type = 'table'");
    while (names.executeStep())
        tables[text(names.getColumn(0))];
    for (auto& [table, columns] : tables) {
        SQLite::Statement info(db, "SELECT name FROM pragma_table_info(?)");
        info.bind(1, table.toStdString());
        QStringList& lowered = m_columns[table.toLower()];
        while (info.executeStep())
            lowered.append(text(info.getColumn(0)).toLower());
    }
}

std::optional<QString> DatabaseSchema::column(const QString& table, const QString& name) const {
    const auto found = m_columns.find(table);
    if (found == m_columns.end() || !found->second.contains(name))
        return std::nullopt;
    return name;
}

QString DatabaseSchema::sql(const QString& table, const QString& name, const QString& prefix) const {
    const std::optional<QString> found = column(table, name);
    return found ? prefix + *found : QStringLiteral("NULL");
}
