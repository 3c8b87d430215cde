#include "HistoryFiles.h"

#include "TarWriter.h"

#include <QFile>

#include <SQLiteCpp/Database.h>

QString HistoryFiles::path(const char* name) const {
    return m_dir.filePath(QString::fromUtf8(name));
}

QString HistoryFiles::database(const char* name, const char* sql) {
    SQLite::Database db(path(name).toStdString(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
    db.exec(sql);
    return path(name);
}

QString HistoryFiles::file(const char* name, const QByteArray& bytes) {
    QFile out(path(name));
    out.open(QIODevice::WriteOnly);
    out.write(bytes);
    return path(name);
}

QString HistoryFiles::tar(const char* name, const QList<QPair<QByteArray, QByteArray>>& members) {
    TarWriter tar(path(name));
    for (const auto& [member, content] : members)
        tar.add(member, content);
    tar.finish();
    return path(name);
}

QString HistoryFiles::fixture(const char* name) {
    return QStringLiteral(PARLORIX_FIXTURES_DIR "/") + QString::fromUtf8(name);
}
