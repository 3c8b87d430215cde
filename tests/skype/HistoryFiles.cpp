#include "HistoryFiles.h"

#include <QFile>

#include <SQLiteCpp/Database.h>

#include <archive.h>
#include <archive_entry.h>

const char* const kSkypeSchema =
    "CREATE TABLE Accounts (id INTEGER PRIMARY KEY, skypename TEXT, fullname TEXT);"
    "CREATE TABLE Contacts (id INTEGER PRIMARY KEY, skypename TEXT, fullname TEXT, displayname TEXT, "
    "is_permanent INTEGER, buddystatus INTEGER);"
    "CREATE TABLE Conversations (id INTEGER PRIMARY KEY, identity TEXT, type INTEGER, displayname TEXT, "
    "creation_timestamp INTEGER);"
    "CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INTEGER, chatname TEXT, author TEXT, "
    "from_dispname TEXT, timestamp INTEGER, type INTEGER, body_xml TEXT, edited_timestamp INTEGER, "
    "identities TEXT);";

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
    archive* tar = archive_write_new();
    archive_write_set_format_pax_restricted(tar);
    archive_write_open_filename(tar, QFile::encodeName(path(name)).constData());
    for (const auto& [member, content] : members) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, member.constData());
        archive_entry_set_size(entry, content.size());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_write_header(tar, entry);
        archive_write_data(tar, content.constData(), static_cast<size_t>(content.size()));
        archive_entry_free(entry);
    }
    archive_write_close(tar);
    archive_write_free(tar);
    return path(name);
}

QString HistoryFiles::fixture(const char* name) {
    return QStringLiteral(PARLORIX_FIXTURES_DIR "/") + QString::fromUtf8(name);
}
