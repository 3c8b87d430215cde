#include "DatabaseWriter.h"
#include "fakes/OrdinaryUser.h"
#include "fakes/ScopedEnv.h"
#include "skype/HistoryFiles.h"

#include "maindb/DatabaseHistory.h"
#include "maindb/HistoryCopy.h"

#include "base/Failure.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QTemporaryDir>

#include <SQLiteCpp/Database.h>

#include <sqlite3.h>

#include <gtest/gtest.h>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

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
    EXPECT_EQ(linesOf(history.messages(1).messages),
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
    EXPECT_EQ(linesOf(history.messages(1).messages),
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
    EXPECT_EQ(linesOf(history.messages(0).messages),
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
        {files.file("truncated.db", whole.left(20000)), "it is cut short: the file ends after 20000 of the"},
        {files.file("header.db", whole.left(60)), "it is cut short: the file ends after 60 bytes"},
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
    EXPECT_EQ(linesOf(history.messages(0).messages), QStringList{QStringLiteral("ann: hi")});
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
            EXPECT_EQ(linesOf(reader.messages(0).messages), expected);
            EXPECT_EQ(linesOf(reader.reader()->messages(0).messages), expected);
        }
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), before);
        QFile::setPermissions(folder.path(),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
}

// A history in WAL mode whose client is running: its messages so far wait in the "-wal".
class RunningClient {
public:
    explicit RunningClient(const QString& path)
        : m_db(path.toStdString(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE) {
        m_db.exec("PRAGMA journal_mode=WAL");
        m_db.exec("PRAGMA wal_autocheckpoint=0");
        m_db.exec(DatabaseWriter::kSchema);
        m_db.exec("INSERT INTO Conversations (id, identity, type) VALUES (1, 'ann', 1)");
        for (int i = 1; i <= 3; ++i)
            add(i);
    }
    void add(int message) {
        m_db.exec(QStringLiteral("INSERT INTO Messages (id, convo_id, author, timestamp, type, body_xml) "
                                 "VALUES (%1, 1, 'ann', %1, 61, 'm%1')")
                      .arg(message)
                      .toStdString());
    }
    SQLite::Database& db() { return m_db; }

private:
    SQLite::Database m_db;
};

// The client checkpoints between the copy of the database and the copy of its log, and its log
// starts over: a copy of the two would lose every checkpointed message. The copy is taken again.
TEST(DatabaseHistory, AWalCopyRacingACheckpointIsTakenAgain) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("main.db"));
    RunningClient client(path);
    int copies = 0;
    HistoryCopy::setBetweenCopies([&] {
        if (copies++ == 0) {
            client.db().exec("PRAGMA wal_checkpoint(RESTART)");
            client.add(4);
        }
    });
    std::optional<DatabaseHistory> history;
    try {
        history.emplace(path);
    } catch (const Failure& failure) {
        ADD_FAILURE() << failure.description().toStdString();
    }
    HistoryCopy::setBetweenCopies({});
    ASSERT_TRUE(history);
    EXPECT_EQ(copies, 2);
    EXPECT_EQ(linesOf(history->messages(0).messages),
              (QStringList{QStringLiteral("ann: m4"), QStringLiteral("ann: m3"), QStringLiteral("ann: m2"),
                           QStringLiteral("ann: m1")}));
}

// The client closes between the copy of the database and the copy of its log: its last checkpoint
// empties the log into the database and removes it. That is no failure: the database alone is
// then the whole history.
TEST(DatabaseHistory, AClientClosingDuringTheWalCopyIsNoFailure) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("main.db"));
    std::optional<RunningClient> client(std::in_place, path);
    HistoryCopy::setBetweenCopies([&] { client.reset(); });
    std::optional<DatabaseHistory> history;
    try {
        history.emplace(path);
    } catch (const Failure& failure) {
        ADD_FAILURE() << failure.description().toStdString();
    }
    HistoryCopy::setBetweenCopies({});
    ASSERT_FALSE(client);
    ASSERT_FALSE(QFileInfo::exists(path + QStringLiteral("-wal")));
    ASSERT_TRUE(history);
    EXPECT_EQ(linesOf(history->messages(0).messages).size(), 3);
}

// A copy that cannot be made in the cache folder, as when its disk is full, is made where temporary
// files go, and the cache folder is left as it was.
TEST(DatabaseHistory, AWalCopyThatFailsInTheCacheIsMadeInTheTemporaryFolder) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("main.db"));
    RunningClient client(path);
    const QDir root(HistoryCopy::root());
    QString blocked;
    HistoryCopy::setBetweenCopies([&] {
        if (!blocked.isEmpty())
            return;
        // The copy's folder gives way to a file: its log cannot be written there.
        const QStringList copies = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        ASSERT_EQ(copies.size(), 1);
        blocked = root.filePath(copies.first());
        ASSERT_TRUE(QDir(blocked).removeRecursively());
        QFile file(blocked);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    });
    std::optional<DatabaseHistory> history;
    try {
        history.emplace(path);
    } catch (const Failure& failure) {
        ADD_FAILURE() << failure.description().toStdString();
    }
    HistoryCopy::setBetweenCopies({});
    ASSERT_FALSE(blocked.isEmpty());
    QFile::remove(blocked);
    ASSERT_TRUE(history);
    EXPECT_EQ(linesOf(history->messages(0).messages).size(), 3);
    EXPECT_TRUE(root.entryList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot).isEmpty())
        << root.entryList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot)
               .join(QLatin1Char(' '))
               .toStdString();
}

// A run killed while it read a copy leaves the copy behind: the next start removes it, and only
// copies whose program has ended.
TEST(DatabaseHistory, CopiesLeftByAKilledRunAreRemovedAndLiveOnesKept) {
    QTemporaryDir home;
    ScopedEnv env("HOME", home.path().toUtf8());
    env.set("XDG_CACHE_HOME", (home.path() + QStringLiteral("/.cache")).toUtf8());
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("main.db"));
    RunningClient client(path);
    const QDir root(HistoryCopy::root());
    ASSERT_TRUE(QDir().mkpath(root.path()));
    const QString dead = root.filePath(QStringLiteral("killed-run"));
    ASSERT_TRUE(QDir().mkpath(dead));
    QFile big(dead + QStringLiteral("/main.db"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    big.write(QByteArray(1 << 16, 'x'));
    big.close();
    // The copy of a read-only history is read-only too, which Windows would keep from being deleted.
    ASSERT_TRUE(big.setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadUser));
    QFile marker(dead + QStringLiteral("/.parlorix-history-copy"));
    ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    marker.close();
    // A folder the program did not make, without its marker, stays whatever its lock says.
    const QString foreign = root.filePath(QStringLiteral("foreign"));
    ASSERT_TRUE(QDir().mkpath(foreign));
    // The lock of a program that has ended: as QLockFile writes it, with an id no process has. Its
    // host is named as QLockFile names it (on Windows the COMPUTERNAME, which may differ from the
    // host name in case), else the lock would count as another computer's and be kept.
    QByteArray text;
    {
        QTemporaryDir scratch;
        QLockFile model(scratch.filePath(QStringLiteral("model.lock")));
        ASSERT_TRUE(model.tryLock(0));
        QFile written(scratch.filePath(QStringLiteral("model.lock")));
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        text = written.readAll();
    }
    ASSERT_GT(text.indexOf('\n'), 0);
    QFile lock(dead + QStringLiteral(".lock"));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write("2147483000" + text.mid(text.indexOf('\n')));
    lock.close();
    ASSERT_TRUE(QFile::copy(dead + QStringLiteral(".lock"), foreign + QStringLiteral(".lock")));

    std::optional<DatabaseHistory> live;
    live.emplace(path);
    EXPECT_FALSE(QFileInfo::exists(dead));
    EXPECT_FALSE(QFileInfo::exists(dead + QStringLiteral(".lock")));
    // The copy in use has a folder and a lock of its own, which a second start keeps.
    const QStringList inUse = root.entryList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot);
    EXPECT_EQ(inUse.size(), 4) << inUse.join(QLatin1Char(' ')).toStdString();
    HistoryCopy::removeLeftovers();
    EXPECT_EQ(root.entryList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot), inUse);
    EXPECT_EQ(linesOf(live->messages(0).messages).size(), 3);
    live.reset();
    EXPECT_EQ(root.entryList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("foreign"), QStringLiteral("foreign.lock")}));
}

#ifndef Q_OS_WIN
// The cleaner removes copies, never what a link among them names; and a copy of a history is as
// private as a temporary folder would keep it, whatever the cache folder's permissions.
TEST(DatabaseHistory, CopiesAreKeptPrivateAndTheirCleanerFollowsNoLink) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("main.db"));
    RunningClient client(path);
    const QDir root(HistoryCopy::root());
    ASSERT_TRUE(QDir().mkpath(root.path()));
    QTemporaryDir elsewhere;
    const QString kept = elsewhere.filePath(QStringLiteral("kept.txt"));
    QFile file(kept);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("mine");
    file.close();
    const QString link = root.filePath(QStringLiteral("linked"));
    ASSERT_TRUE(QFile::link(elsewhere.path(), link));
    {
        const std::shared_ptr<HistoryCopy> copy = HistoryCopy::make(path);
        ASSERT_TRUE(copy);
        const QFileInfo copyFolder(QFileInfo(copy->databasePath()).path());
        EXPECT_EQ(copyFolder.permissions() &
                      ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser),
                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    HistoryCopy::removeLeftovers();
    EXPECT_TRUE(QFileInfo::exists(kept));
    QFile::remove(link);
    QFile::remove(link + QStringLiteral(".lock"));
}
#endif

#ifndef Q_OS_WIN
// Every entry below the folder, folders too, by its path relative to it.
QStringList entriesBelow(const QString& folder) {
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries.append(QDir(folder).relativeFilePath(it.next()));
    entries.sort();
    return entries;
}

// A link as the copies' folder or as a level above it, down from the cache folder, is never gone
// through: the cleaner leaves what it names alone, though that looks like a killed run's copy, and
// no copy is made there. A link the program would have made is named in the history's error; a
// linked cache folder sends the copy to the temporary folder.
TEST(DatabaseHistory, NoCopyIsMadeOrRemovedThroughALink) {
    const struct {
        QString below; // from the link down to the copies' folder
        bool refused;
    } rows[] = {{QString(), true},
                {QStringLiteral("history-copies"), true},
                {QStringLiteral("parlorix/history-copies"), false}};
    for (const auto& row : rows) {
        QTemporaryDir home;
        ScopedEnv env("HOME", home.path().toUtf8());
        env.set("XDG_CACHE_HOME", (home.path() + QStringLiteral("/.cache")).toUtf8());
        const QString root = HistoryCopy::root();
        const QString link = row.below.isEmpty() ? root : root.chopped(row.below.size() + 1);
        QTemporaryDir elsewhere;
        const QString bait = QDir(elsewhere.path()).filePath(row.below + QStringLiteral("/stale"));
        ASSERT_TRUE(QDir().mkpath(bait));
        QFile marker(bait + QStringLiteral("/.parlorix-history-copy"));
        ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
        marker.close();
        ASSERT_TRUE(QDir().mkpath(QFileInfo(link).path()));
        ASSERT_TRUE(QFile::link(elsewhere.path(), link));
        const QStringList before = entriesBelow(elsewhere.path());

        HistoryCopy::removeLeftovers();
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("main.db"));
        RunningClient client(path);
        try {
            DatabaseHistory history(path);
            EXPECT_FALSE(row.refused) << link.toStdString();
            EXPECT_EQ(linesOf(history.messages(0).messages).size(), 3);
        } catch (const Failure& failure) {
            EXPECT_TRUE(row.refused) << failure.description().toStdString();
            EXPECT_TRUE(failure.description().contains(QLatin1Char('\'') + link + QLatin1String("', where")))
                << failure.description().toStdString();
        }
        EXPECT_EQ(entriesBelow(elsewhere.path()), before) << link.toStdString();
    }
}
#endif

#ifdef Q_OS_LINUX
// A copies' folder that belongs to another user is neither cleaned nor written to: its owner could
// swap a folder for a link between the cleaner's look and its removal. The copy goes where
// temporary files go.
TEST(DatabaseHistory, ACopiesFolderOfAnotherUserIsLeftAlone) {
    if (geteuid() != 0)
        GTEST_SKIP() << "handing a folder to another user takes root";
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("main.db"));
    RunningClient client(path);
    const QDir root(HistoryCopy::root());
    ASSERT_TRUE(QDir().mkpath(root.path()));
    const QString dead = root.filePath(QStringLiteral("someone-elses"));
    ASSERT_TRUE(QDir().mkpath(dead));
    const QByteArray native = QFile::encodeName(root.path());
    ASSERT_EQ(chown(native.constData(), 65534, 65534), 0);
    {
        const std::shared_ptr<HistoryCopy> copy = HistoryCopy::make(path);
        ASSERT_TRUE(copy);
        EXPECT_FALSE(copy->databasePath().startsWith(root.path())) << copy->databasePath().toStdString();
        EXPECT_TRUE(QFileInfo::exists(dead));
    }
    ASSERT_EQ(chown(native.constData(), 0, 0), 0);
    QDir(dead).removeRecursively();
}
#endif

#ifdef Q_OS_LINUX
// Whether nothing in the folder can be removed now (`on`), or again; false where that cannot be
// made. Root removes anything a folder's permissions forbid, but not from an immutable folder.
bool pinned(const QString& folder, bool on) {
    if (geteuid() != 0)
        return QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                 (on ? QFileDevice::Permissions() : QFileDevice::WriteOwner));
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        ::close(fd);
    return done;
}

// A copy whose removal was cut short (a kill, a file another program holds) keeps its marker, so
// that the next start removes the rest instead of leaving a whole history behind for good.
TEST(DatabaseHistory, ACopyWhoseRemovalWasCutShortIsRemovedAtTheNextStart) {
    QTemporaryDir home;
    ScopedEnv env("HOME", home.path().toUtf8());
    env.set("XDG_CACHE_HOME", (home.path() + QStringLiteral("/.cache")).toUtf8());
    const QString copy = HistoryCopy::root() + QStringLiteral("/killed-run");
    const QString held = copy + QStringLiteral("/held");
    ASSERT_TRUE(QDir().mkpath(held));
    for (const QString& name : {QStringLiteral("/main.db"), QStringLiteral("/.parlorix-history-copy"),
                                QStringLiteral("/held/main.db-shm")}) {
        QFile file(copy + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    if (!pinned(held, true))
        GTEST_SKIP() << "this file system keeps no folder from being emptied";
    HistoryCopy::removeLeftovers();
    const bool markerKept = QFileInfo::exists(copy + QStringLiteral("/.parlorix-history-copy"));
    ASSERT_TRUE(pinned(held, false));
    EXPECT_TRUE(markerKept);
    HistoryCopy::removeLeftovers();
    EXPECT_FALSE(QFileInfo::exists(copy));
}
#endif

#ifdef Q_OS_LINUX
// A "-wal" that holds changes but cannot be read is no empty one: reading the database alone would
// leave out its messages without a word.
TEST(DatabaseHistory, AWalThatCannotBeReadFailsTheHistory) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("main.db"));
    RunningClient client(path);
    client.db().exec("PRAGMA wal_checkpoint(PASSIVE)");
    client.add(4);
    const auto open = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                      QFileDevice::ReadOther | QFileDevice::ExeOther;
    ASSERT_TRUE(QFile::setPermissions(folder.path(), open));
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadOther));
    ASSERT_TRUE(QFile::setPermissions(path + QStringLiteral("-wal"), QFileDevice::ReadOwner));
    {
        OrdinaryUser user;
        try {
            DatabaseHistory history(path);
            EXPECT_EQ(linesOf(history.messages(0).messages).size(), 4);
        } catch (const Failure& failure) {
            EXPECT_TRUE(failure.description().contains(QLatin1String("-wal")))
                << failure.description().toStdString();
        }
    }
    QFile::setPermissions(path + QStringLiteral("-wal"), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}
#endif

#ifdef Q_OS_UNIX
// A pipe (or anything but a file) named like the history's "-wal", "-journal" or "-shm" would keep
// the open waiting for ever: it is checked as the history itself is, and named.
TEST(DatabaseHistory, APipeBesideTheHistoryFailsItAtOnce) {
    for (const char* beside : {"-wal", "-journal", "-shm"}) {
        for (const bool walMode : {false, true}) {
            QTemporaryDir folder;
            const QString path = folder.filePath(QStringLiteral("main.db"));
            {
                SQLite::Database writer(path.toStdString(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
                if (walMode)
                    writer.exec("PRAGMA journal_mode=WAL");
                writer.exec(DatabaseWriter::kSchema);
                writer.exec("INSERT INTO Conversations (id, identity, type) VALUES (1, 'ann', 1);"
                            "INSERT INTO Messages (id, convo_id, author, timestamp, type, body_xml) "
                            "VALUES (1, 1, 'ann', 10, 61, 'hi')");
            }
            const QString pipe = path + QString::fromLatin1(beside);
            ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0) << beside;
            try {
                DatabaseHistory history(path);
                history.messages(0);
                ADD_FAILURE() << "no failure for " << beside << (walMode ? " in WAL mode" : "");
            } catch (const Failure& failure) {
                EXPECT_TRUE(failure.description().contains(path)) << failure.description().toStdString();
                EXPECT_TRUE(failure.description().contains(
                    QStringLiteral("'main.db%1' beside it is not a file").arg(QString::fromLatin1(beside))))
                    << failure.description().toStdString();
            }
        }
    }
}
#endif

// The readers of one history read the chats its first reader listed, by the same ids, whatever the
// client changed in between.
TEST(DatabaseHistory, ReadersReadTheChatsTheFirstReaderListed) {
    HistoryFiles files;
    const QString path = files.database("main.db", R"(
        CREATE TABLE Accounts (id INTEGER PRIMARY KEY);
        CREATE TABLE Conversations (id INTEGER PRIMARY KEY, identity TEXT, type INTEGER);
        CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INTEGER, author TEXT, timestamp INTEGER,
                               type INTEGER, body_xml TEXT);
        CREATE INDEX IX_Messages_convo_id_timestamp ON Messages (convo_id, timestamp);
        INSERT INTO Conversations VALUES (1, 'ann', 1), (2, 'bob', 1), (3, 'cat', 1);
        INSERT INTO Messages VALUES (1, 1, 'ann', 10, 61, 'to ann'), (2, 2, 'bob', 10, 61, 'to bob'),
                                    (3, 3, 'cat', 10, 61, 'to cat');
    )");
    DatabaseHistory history(path);
    ASSERT_EQ(history.chats().size(), 3u);
    {
        SQLite::Database client(path.toStdString(), SQLite::OPEN_READWRITE);
        client.exec("DELETE FROM Conversations WHERE id = 1; DELETE FROM Messages WHERE convo_id = 1");
    }
    const std::unique_ptr<History> reader = history.reader();
    ASSERT_EQ(reader->chats().size(), 3u);
    EXPECT_TRUE(reader->messages(0).messages.empty());
    EXPECT_EQ(linesOf(reader->messages(1).messages), QStringList{QStringLiteral("bob: to bob")});
    EXPECT_EQ(linesOf(reader->messages(2).messages), QStringList{QStringLiteral("cat: to cat")});
}

// A type that is no number does not make a dialog a group or the other way round: the identity's
// shape tells the kind.
TEST(DatabaseHistory, AConversationTypeThatCannotBeReadIsToldByTheIdentity) {
    HistoryFiles files;
    const QString path = files.database("main.db", R"(
        CREATE TABLE Accounts (id INTEGER PRIMARY KEY);
        CREATE TABLE Conversations (id INTEGER PRIMARY KEY, identity TEXT, type);
        CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INTEGER);
        INSERT INTO Conversations VALUES (1, 'ann', NULL), (2, '#ann/$bob;1a2b', NULL),
            (3, '19:abc@thread.skype', 'dialog'), (4, 'live:.cid.1a', 'dialog'), (5, 'bob', 1),
            (6, 'cat', 2), (7, 'dan', 1.0), (8, NULL, NULL), (9, '', 'x');
    )");
    DatabaseHistory history(path);
    QStringList partners;
    for (const HistoryChat& chat : history.chats())
        partners.append(chat.partner);
    EXPECT_EQ(partners,
              (QStringList{QStringLiteral("ann"), QString(), QString(), QStringLiteral("live:.cid.1a"),
                           QStringLiteral("bob"), QString(), QStringLiteral("dan"), QString(), QString()}));
    EXPECT_EQ(history.contacts(), (QStringList{QStringLiteral("ann"), QStringLiteral("bob"),
                                               QStringLiteral("dan"), QStringLiteral("live:.cid.1a")}));
}

// The system's own file access, with the first few shared locks on a database refused as busy: what
// a reader meets on Windows when another one takes its lock at the same instant.
class RefusedLocks {
public:
    explicit RefusedLocks(int count) {
        refusals() = count;
        m_vfs = *sqlite3_vfs_find(nullptr);
        system() = sqlite3_vfs_find(nullptr);
        m_vfs.zName = "refused-locks";
        m_vfs.xOpen = open;
        sqlite3_vfs_register(&m_vfs, 1);
    }
    ~RefusedLocks() { sqlite3_vfs_unregister(&m_vfs); }
    RefusedLocks(const RefusedLocks&) = delete;
    RefusedLocks& operator=(const RefusedLocks&) = delete;
    static int left() { return refusals(); }

private:
    static int& refusals() {
        static int count = 0;
        return count;
    }
    static sqlite3_vfs*& system() {
        static sqlite3_vfs* vfs = nullptr;
        return vfs;
    }
    static sqlite3_io_methods& methods() {
        static sqlite3_io_methods table{};
        return table;
    }
    static const sqlite3_io_methods*& systemMethods() {
        static const sqlite3_io_methods* table = nullptr;
        return table;
    }
    // The system's file, its methods the system's but for the lock.
    static int open(sqlite3_vfs*, const char* name, sqlite3_file* file, int flags, int* outFlags) {
        const int status = system()->xOpen(system(), name, file, flags, outFlags);
        if (status == SQLITE_OK && (flags & SQLITE_OPEN_MAIN_DB) && file->pMethods) {
            systemMethods() = file->pMethods;
            methods() = *file->pMethods;
            methods().xLock = lock;
            file->pMethods = &methods();
        }
        return status;
    }
    static int lock(sqlite3_file* file, int level) {
        if (level == SQLITE_LOCK_SHARED && refusals() > 0) {
            --refusals();
            return SQLITE_BUSY;
        }
        return systemMethods()->xLock(file, level);
    }

    sqlite3_vfs m_vfs{};
};

// A shared lock refused for an instant, as readers taking theirs together meet on Windows, is waited
// for: the history reads, and is not taken for one that Skype is using.
TEST(DatabaseHistory, ALockRefusedForAnInstantIsWaitedFor) {
    HistoryFiles files;
    const QString path = files.database("shared.db", DatabaseWriter::kSchema);
    RefusedLocks refused(3);
    try {
        DatabaseHistory history(path);
        EXPECT_TRUE(history.contacts().isEmpty());
    } catch (const Failure& failure) {
        ADD_FAILURE() << failure.description().toStdString();
    }
    EXPECT_EQ(RefusedLocks::left(), 0);
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
        EXPECT_EQ(failure.description(), QLatin1String("Cannot read the Skype history '") + path +
                                             QLatin1String("': Skype is using this history; close Skype and "
                                                           "try again"));
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
