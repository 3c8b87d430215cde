#include "DatabaseWriter.h"
#include "HistoryFiles.h"
#include "fakes/OrdinaryUser.h"

#include "skype/DatabaseHistory.h"

#include "base/Failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <SQLiteCpp/Database.h>

#include <gtest/gtest.h>

namespace {

QStringList senders(const std::vector<HistoryMessage>& messages) {
    QStringList out;
    for (const HistoryMessage& m : messages)
        out.append(m.senderName() + QStringLiteral(": ") + m.body());
    return out;
}

TEST(DatabaseHistory, ReadsTheSkype6Sample) {
    DatabaseHistory history(HistoryFiles::fixture("skype6-main.db"));
    // The phone-only contact has no handle and lists as "".
    EXPECT_EQ(history.contacts(), (QStringList{QString(), QStringLiteral("+93123432123"),
                                               QStringLiteral("echo123"), QStringLiteral("gohanuskas")}));
    const auto& chats = history.chats();
    ASSERT_EQ(chats.size(), 3u);
    EXPECT_EQ(chats[1].name, QStringLiteral("gohanuskas"));
    EXPECT_EQ(chats[1].partner, QStringLiteral("gohanuskas"));
    EXPECT_EQ(history.timeStamp(1), 1425314422LL);
    EXPECT_EQ(senders(history.messages(1).messages),
              (QStringList{QStringLiteral("renesto testing: (rocknroll)"),
                           QStringLiteral("renesto testing: exactly :)"),
                           QStringLiteral("Aleksandar Kovacevic: hahaha, that is funny :)"),
                           QStringLiteral("renesto testing: (poolparty)"),
                           QStringLiteral("renesto testing: let's me show you some smileys as well"),
                           QStringLiteral("renesto testing: hey whats up"),
                           QStringLiteral("renesto testing: Please add me as a contact")}));
    EXPECT_TRUE(history.messages(0).messages.empty());
}

TEST(DatabaseHistory, ReadsTheSmsSample) {
    DatabaseHistory history(HistoryFiles::fixture("skype-sms-main.db"));
    EXPECT_FALSE(history.contacts().isEmpty());
    size_t messages = 0;
    for (size_t chat = 0; chat < history.chats().size(); ++chat) {
        for (const HistoryMessage& m : history.messages(chat).messages) {
            EXPECT_FALSE(m.body().isEmpty());
            ++messages;
        }
    }
    EXPECT_GT(messages, 0u);
}

TEST(DatabaseHistory, NewestFirstByTimeThenIdAndOnlyShownKinds) {
    HistoryFiles files;
    const QString path = files.database("main.db", QByteArray(QByteArray(DatabaseWriter::kSchema) + R"(
        INSERT INTO Accounts (skypename) VALUES ('me');
        INSERT INTO Contacts (skypename, is_permanent) VALUES ('me', 1), ('ann', 1), ('Zed', 1), (NULL, 1),
               ('seen.in.group', 0), ('bob', 1);
        INSERT INTO Conversations VALUES (7, 'ann', 1, 'Ann', 0), (3, '19:x@thread.skype', 2, 'G', 100),
               (9, 'carol', 1, 'Carol', NULL);
        INSERT INTO Messages (id, convo_id, author, from_dispname, timestamp, type, body_xml) VALUES
            (1, 7, 'ann', 'Ann', 500, 61, 'first'),
            (3, 7, 'me', '', 600, 61, 'same second, higher id'),
            (2, 7, 'me', NULL, 600, 61, 'same second, lower id'),
            (4, 7, 'ann', 'Ann', 700, 61, ''),
            (5, 7, 'ann', 'Ann', 800, 10, 'event'),
            (6, 7, 'ann', 'Ann', 900, 30, NULL),
            (8, 7, 'ann', 'Ann', 400, 13, 'left, earliest of all'),
            (10, 3, 'bob', 'Bob', 50, 61, 'group');
    )")
                                                       .constData());
    DatabaseHistory history(path);
    EXPECT_EQ(history.contacts(), (QStringList{QString(), QStringLiteral("ann"), QStringLiteral("bob"),
                                               QStringLiteral("carol"), QStringLiteral("Zed")}));
    const auto& chats = history.chats();
    ASSERT_EQ(chats.size(), 3u);
    EXPECT_EQ(chats[0].name, QStringLiteral("19:x@thread.skype"));
    EXPECT_EQ(chats[0].partner, QString());
    EXPECT_EQ(history.timeStamp(0), 100);
    // No creation time: the earliest message of any kind.
    EXPECT_EQ(history.timeStamp(1), 400);
    EXPECT_EQ(history.timeStamp(2), std::nullopt);
    EXPECT_EQ(senders(history.messages(1).messages),
              (QStringList{QStringLiteral("Ann: Call started"), QStringLiteral("me: same second, higher id"),
                           QStringLiteral("me: same second, lower id"), QStringLiteral("Ann: first")}));
}

// Absurd stored times are damaged data: they read as no time, never as a date in year 246105574.
TEST(DatabaseHistory, TimesOutsideTheYearsOneTo9999ReadAsNoTime) {
    HistoryFiles files;
    const QString path = files.database("absurd.db", R"(
        CREATE TABLE Accounts (id INTEGER PRIMARY KEY);
        CREATE TABLE Conversations (id INTEGER PRIMARY KEY, identity TEXT, type INTEGER,
                                    creation_timestamp INTEGER);
        CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INTEGER, author TEXT, timestamp INTEGER,
                               type INTEGER, body_xml TEXT);
        INSERT INTO Conversations VALUES (1, 'ann', 1, 99999999999999999), (2, 'bob', 1, NULL),
                                         (3, 'cy', 1, -9223372036854775808);
        INSERT INTO Messages VALUES (1, 1, 'ann', 9223372036854775807, 61, 'late'),
                                    (2, 1, 'ann', 50, 61, 'fine'),
                                    (3, 2, 'bob', -9223372036854775807, 61, 'early');
    )");
    DatabaseHistory history(path);
    EXPECT_EQ(history.timeStamp(0), 50); // the earliest readable message
    EXPECT_EQ(history.timeStamp(1), std::nullopt);
    EXPECT_EQ(history.timeStamp(2), std::nullopt);
}

TEST(DatabaseHistory, OlderClientWithoutOptionalColumns) {
    HistoryFiles files;
    const QString path = files.database("old.db", R"(
        CREATE TABLE Accounts (id INTEGER PRIMARY KEY);
        CREATE TABLE Conversations (id INTEGER PRIMARY KEY, identity TEXT, type INTEGER);
        CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INTEGER, author TEXT, timestamp INTEGER,
                               type INTEGER, body_xml TEXT);
        INSERT INTO Conversations VALUES (1, 'ann', 1);
        INSERT INTO Messages VALUES (1, 1, 'ann', 10, 61, 'hi'), (2, 1, 'ann', 20, 61, 'there');
    )");
    DatabaseHistory history(path);
    EXPECT_EQ(history.contacts(), QStringList{QStringLiteral("ann")});
    EXPECT_EQ(history.timeStamp(0), 10);
    EXPECT_EQ(senders(history.messages(0).messages),
              (QStringList{QStringLiteral("ann: there"), QStringLiteral("ann: hi")}));
}

TEST(DatabaseHistory, UnusableFilesFailWithTheirPathAndReason) {
    HistoryFiles files;
    QFile sample(HistoryFiles::fixture("skype6-main.db"));
    ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
    const QByteArray whole = sample.readAll();
    const struct {
        QString path;
        const char* reason;
    } cases[] = {
        {files.path("missing.db"), "unable to open database file"},
        {files.file("garbage.db", QByteArray(4096, 'x')), "file is not a database"},
        {files.file("truncated.db", whole.left(20000)), "database disk image is malformed"},
        {files.database("other.db", "CREATE TABLE Notes (id INTEGER);"), "it has no accounts table"},
        {files.database("nomessages.db", "CREATE TABLE Accounts (id); CREATE TABLE Conversations (id);"),
         "it has no messages table"},
    };
    for (const auto& c : cases) {
        try {
            DatabaseHistory history(c.path);
            for (size_t chat = 0; chat < history.chats().size(); ++chat)
                history.messages(chat);
            ADD_FAILURE() << "no failure for " << c.path.toStdString();
        } catch (const Failure& failure) {
            EXPECT_TRUE(failure.description().contains(c.path)) << failure.description().toStdString();
            EXPECT_TRUE(failure.description().contains(QLatin1String(c.reason)))
                << failure.description().toStdString();
        }
    }
}

} // namespace

TEST(DatabaseHistory, TableNamesWithQuotesAreNoObstacle) {
    HistoryFiles files;
    const QString path = files.database("quoted.db", R"(
        CREATE TABLE Accounts (id INTEGER PRIMARY KEY);
        CREATE TABLE Conversations (id INTEGER PRIMARY KEY, identity TEXT, type INTEGER);
        CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INTEGER, author TEXT, timestamp INTEGER,
                               type INTEGER, body_xml TEXT);
        CREATE TABLE "we""ird" (a);
        CREATE TABLE "a]b" (c);
        INSERT INTO Conversations VALUES (1, 'ann', 1);
        INSERT INTO Messages VALUES (1, 1, 'ann', 10, 61, 'hi');
    )");
    DatabaseHistory history(path);
    EXPECT_EQ(senders(history.messages(0).messages), QStringList{QStringLiteral("ann: hi")});
}

// Even a read-only connection to a history in WAL mode would create "main.db-shm" beside it.
TEST(DatabaseHistory, AHistoryInWalModeIsReadWithoutWritingBesideIt) {
    for (const bool pendingChanges : {false, true}) {
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("main.db"));
        std::optional<SQLite::Database> writer;
        writer.emplace(path.toStdString(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
        writer->exec("PRAGMA journal_mode=WAL");
        writer->exec(DatabaseWriter::kSchema);
        writer->exec("INSERT INTO Conversations (id, identity, type) VALUES (1, 'ann', 1);"
                     "INSERT INTO Messages (id, convo_id, author, timestamp, type, body_xml) "
                     "VALUES (1, 1, 'ann', 10, 61, 'hi')");
        if (pendingChanges) {
            // Keep the change in the -wal, as a client that was killed leaves it.
            writer->exec("PRAGMA wal_autocheckpoint=0");
            writer->exec("INSERT INTO Messages (id, convo_id, author, timestamp, type, body_xml) "
                         "VALUES (2, 1, 'ann', 20, 61, 'there')");
            QFile::copy(path, folder.filePath(QStringLiteral("saved.db")));
            QFile::copy(path + QStringLiteral("-wal"), folder.filePath(QStringLiteral("saved.db-wal")));
        }
        writer.reset();
        QString history = path;
        if (pendingChanges) {
            QFile::remove(path);
            history = folder.filePath(QStringLiteral("saved.db"));
        }
        QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                 QFileDevice::ReadOther | QFileDevice::ExeOther);
        const QStringList before = QDir(folder.path()).entryList(QDir::Files);
        {
#ifdef Q_OS_LINUX
            OrdinaryUser user; // root could write into the read-only folder
#endif
            DatabaseHistory reader(history);
            const QStringList expected =
                pendingChanges ? QStringList{QStringLiteral("ann: there"), QStringLiteral("ann: hi")}
                               : QStringList{QStringLiteral("ann: hi")};
            EXPECT_EQ(senders(reader.messages(0).messages), expected);
            EXPECT_EQ(senders(reader.reader()->messages(0).messages), expected);
        }
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), before);
        QFile::setPermissions(folder.path(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
}

TEST(DatabaseHistory, AHistoryLockedByAnotherProgramSaysSo) {
    HistoryFiles files;
    const QString path = files.database("locked.db", DatabaseWriter::kSchema);
    SQLite::Database skype(path.toStdString(), SQLite::OPEN_READWRITE);
    skype.exec("BEGIN EXCLUSIVE");
    try {
        DatabaseHistory history(path);
        ADD_FAILURE() << "a locked history opened";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.description(), QLatin1Char('\'') + path +
                                             QLatin1String("' is not a Skype history: Skype is using this "
                                                           "history; close Skype and try again"));
    }
}

// A plain clone has nothing beside it: the real histories the tests read live in the checkout.
TEST(TestData, TheRealHistoriesAreInsideTheCheckout) {
    const QString checkout = QDir(QStringLiteral(PARLORIX_SOURCE_DIR)).canonicalPath() + QLatin1Char('/');
    for (const char* name : {"skype6-main.db", "skype-sms-main.db", "NOTICE"}) {
        const QFileInfo file(HistoryFiles::fixture(name));
        EXPECT_TRUE(file.isFile()) << name;
        EXPECT_TRUE(file.canonicalFilePath().startsWith(checkout)) << file.canonicalFilePath().toStdString();
    }
}
