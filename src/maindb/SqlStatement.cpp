#include "SqlStatement.h"

#include <SQLiteCpp/Exception.h>

#include <sqlite3.h>

SqlStatement::SqlStatement(sqlite3* db, const QByteArray& sql) {
    if (sqlite3_prepare_v2(db, sql.constData(), static_cast<int>(sql.size()), &m_statement, nullptr) !=
        SQLITE_OK) {
        sqlite3_finalize(m_statement);
        throw SQLite::Exception(db, sqlite3_errcode(db));
    }
}

SqlStatement::~SqlStatement() {
    sqlite3_finalize(m_statement);
}

QByteArray SqlStatement::quoted(const QString& name) {
    return (QLatin1Char('"') + QString(name).replace(QLatin1Char('"'), QLatin1String("\"\"")) +
            QLatin1Char('"'))
        .toUtf8();
}
