#include "DatabaseWriter.h"

#include <QFile>

namespace {

std::string utf8(const QString& text) {
    return text.toStdString();
}

// The database is written anew, never added to.
std::string freshFile(const QString& path) {
    QFile::remove(path);
    return path.toStdString();
}

} // namespace

const char* const DatabaseWriter::kSchema =
    "CREATE TABLE Accounts (id INTEGER PRIMARY KEY, skypename TEXT, fullname TEXT);"
    "CREATE TABLE Contacts (id INTEGER PRIMARY KEY, skypename TEXT, fullname TEXT, displayname TEXT, "
    "is_permanent INTEGER, buddystatus INTEGER);"
    "CREATE TABLE Conversations (id INTEGER PRIMARY KEY, identity TEXT, type INTEGER, displayname TEXT, "
    "creation_timestamp INTEGER);"
    "CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INTEGER, chatname TEXT, author TEXT, "
    "from_dispname TEXT, timestamp INTEGER, type INTEGER, body_xml TEXT, edited_timestamp INTEGER, "
    "identities TEXT);";

DatabaseWriter::DatabaseWriter(const QString& path, const SyntheticHistory& history, bool index,
                               Layout layout)
    : m_db(freshFile(path), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE)
    , m_me(history.me().handle)
    , m_index(index)
    , m_layout(layout) {
    m_db.exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA page_size = 4096;");
    m_db.exec(kSchema);
    // Arriving messages are collected per conversation first, then moved in order of arrival.
    if (m_layout == Layout::Arrival)
        m_db.exec("CREATE TEMP TABLE Arriving AS SELECT * FROM Messages WHERE 0");
    m_transaction = std::make_unique<SQLite::Transaction>(m_db);

    SQLite::Statement account(m_db, "INSERT INTO Accounts (skypename, fullname) VALUES (?, ?)");
    account.bind(1, utf8(history.me().handle));
    account.bind(2, utf8(history.me().name));
    account.exec();

    SQLite::Statement contact(m_db, "INSERT INTO Contacts (skypename, fullname, displayname, is_permanent, "
                                    "buddystatus) VALUES (?, ?, ?, ?, ?)");
    const auto addContact = [&](const SyntheticHistory::Person& person, bool permanent) {
        contact.reset();
        contact.bind(1, utf8(person.handle));
        contact.bind(2, utf8(person.name));
        contact.bind(3, utf8(person.name));
        contact.bind(4, permanent ? 1 : 0);
        contact.bind(5, permanent ? 3 : 0);
        contact.exec();
    };
    addContact(history.me(), true);
    for (const SyntheticHistory::Person& person : history.people())
        addContact(person, person.inContactList);

    m_insertMessage = std::make_unique<SQLite::Statement>(
        m_db,
        std::string("INSERT INTO ") + (m_layout == Layout::Arrival ? "temp.Arriving" : "Messages") +
            " (id, convo_id, chatname, author, from_dispname, timestamp, type, body_xml, edited_timestamp, "
            "identities) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, NULL)");
}

int DatabaseWriter::typeOf(SyntheticHistory::Kind kind, qint64 id) {
    switch (kind) {
    case SyntheticHistory::Kind::Text:
        return 61;
    case SyntheticHistory::Kind::Emote:
        return 60;
    case SyntheticHistory::Kind::ContactRequest:
        return 50;
    case SyntheticHistory::Kind::Sms:
        return 64;
    case SyntheticHistory::Kind::CallStarted:
        return 30;
    case SyntheticHistory::Kind::CallEnded:
        return 39;
    case SyntheticHistory::Kind::Files:
        return 68;
    case SyntheticHistory::Kind::Contacts:
        return 63;
    case SyntheticHistory::Kind::Media:
        return id % 2 ? 201 : 253;
    case SyntheticHistory::Kind::Event:
        break;
    }
    return 10;
}

void DatabaseWriter::add(const SyntheticHistory::Conversation& conversation) {
    SQLite::Statement insert(
        m_db, "INSERT INTO Conversations (id, identity, type, displayname, creation_timestamp) "
              "VALUES (?, ?, ?, ?, ?)");
    insert.bind(1, static_cast<int64_t>(conversation.id));
    insert.bind(2, utf8(conversation.identity));
    insert.bind(3, conversation.group ? 2 : 1);
    insert.bind(4, utf8(conversation.topic));
    if (conversation.created)
        insert.bind(5, static_cast<int64_t>(*conversation.created));
    else
        insert.bind(5);
    insert.exec();

    const std::string chatname = "#" + utf8(conversation.identity);
    for (const SyntheticHistory::Message& m : conversation.messages) {
        SQLite::Statement& row = *m_insertMessage;
        row.reset();
        row.bind(1, static_cast<int64_t>(m.id));
        row.bind(2, static_cast<int64_t>(conversation.id));
        row.bind(3, chatname);
        row.bind(4, utf8(m.author->handle));
        // The user's own messages carry no display name, as in real histories.
        if (m.author->handle != m_me)
            row.bind(5, utf8(m.author->name));
        else
            row.bind(5, std::string());
        row.bind(6, static_cast<int64_t>(m.time));
        row.bind(7, typeOf(m.kind, m.id));
        row.bind(8, utf8(m.markup));
        if (m.edited)
            row.bind(9, static_cast<int64_t>(m.time + 30));
        else
            row.bind(9);
        row.exec();
    }
}

void DatabaseWriter::finish() {
    if (m_layout == Layout::Arrival) {
        // Ids in order of arrival, as a client gives them; within one second the earlier id first.
        m_insertMessage.reset();
        m_db.exec(
            "INSERT INTO Messages (id, convo_id, chatname, author, from_dispname, timestamp, type, "
            "body_xml, edited_timestamp, identities) SELECT row_number() OVER (ORDER BY timestamp, id), "
            "convo_id, chatname, author, from_dispname, timestamp, type, body_xml, edited_timestamp, "
            "identities FROM temp.Arriving ORDER BY timestamp, id;"
            "DROP TABLE temp.Arriving");
    }
    if (m_index)
        m_db.exec("CREATE INDEX IX_Messages_convo_id_timestamp ON Messages (convo_id, timestamp)");
    m_transaction->commit();
}
