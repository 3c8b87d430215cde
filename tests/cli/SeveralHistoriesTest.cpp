#include "cli/CliHarness.h"

#include "export/ExportWindow.h"
#include "fakes/ScopedEnv.h"
#include "skype/HistoryFiles.h"

#include "export/GroupChatNames.h"
#include "skype/HistoryRoot.h"

#include <QDir>
#include <QFile>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <functional>

namespace {

// 13 May 2014, 16:53:20 UTC.
constexpr qint64 kT0 = 1400000000;

const char* const kSchema = R"(
    CREATE TABLE Accounts (id INTEGER PRIMARY KEY, skypename TEXT);
    INSERT INTO Accounts VALUES (1, 'me');
    CREATE TABLE Contacts (id INTEGER PRIMARY KEY, skypename TEXT, is_permanent INTEGER);
    CREATE TABLE Conversations (id INTEGER PRIMARY KEY, identity TEXT, type INTEGER, displayname TEXT,
                                creation_timestamp INTEGER);
    CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INTEGER, author TEXT, from_dispname TEXT,
                           timestamp INTEGER, type INTEGER, body_xml TEXT);
)";

// The old laptop's profile: the early years. Its own messages carry no name, as the client wrote them.
QByteArray oldLaptop() {
    return QByteArray(kSchema) + QStringLiteral(R"(
        INSERT INTO Contacts VALUES (1, 'ann', 1), (2, 'bob', 1);
        INSERT INTO Conversations VALUES (1, 'ann', 1, 'Ann', %1), (2, '#me/$ann;1a2b', 2, 'Old group', %2),
                                         (3, '19:g1@thread.skype', 2, 'Family', %3);
        INSERT INTO Messages VALUES (1, 1, 'ann', 'Ann', %4, 61, 'hi'), (2, 1, 'me', NULL, %5, 61, 'hello'),
            (3, 1, 'ann', 'Ann', %6, 61, 'ok'), (4, 1, 'ann', 'Ann', %7, 61, 'ok'),
            (5, 2, 'ann', 'Ann', %8, 61, 'old times'), (6, 3, 'bob', 'Bob', %9, 61, 'family one');
    )")
                                     .arg(kT0)
                                     .arg(kT0 + 10)
                                     .arg(kT0 + 20)
                                     .arg(kT0 + 100)
                                     .arg(kT0 + 200)
                                     .arg(kT0 + 300)
                                     .arg(kT0 + 310)
                                     .arg(kT0 + 400)
                                     .arg(kT0 + 500)
                                     .toUtf8();
}

// The second computer, whose clock ran a minute ahead: it holds the end of the old one's years too.
QByteArray secondComputer() {
    const qint64 ahead = 60;
    return QByteArray(kSchema) + QStringLiteral(R"(
        INSERT INTO Contacts VALUES (1, 'ann', 1), (2, 'carol', 1);
        INSERT INTO Conversations VALUES (1, '19:g1@thread.skype', 2, 'Family', %1), (2, 'ann', 1, 'Ann', %2),
                                         (3, 'carol', 1, 'Carol', %3);
        INSERT INTO Messages VALUES (1, 2, 'ann', 'Ann Smith', %4, 61, 'ok'), (2, 2, 'ann', 'Ann Smith', %5, 61, 'ok'),
            (3, 2, 'me', NULL, %6, 61, 'later'), (4, 1, 'bob', 'Bob', %7, 61, 'family one'),
            (5, 1, 'bob', 'Bob', %8, 61, 'family two'), (6, 3, 'carol', 'Carol', %9, 61, 'hey');
    )")
                                     .arg(kT0 + 5000 + ahead)
                                     .arg(kT0 + 4000 + ahead)
                                     .arg(kT0 + 4500 + ahead)
                                     .arg(kT0 + 300 + ahead)
                                     .arg(kT0 + 310 + ahead)
                                     .arg(kT0 + 6000 + ahead)
                                     .arg(kT0 + 500 + ahead)
                                     .arg(kT0 + 7000 + ahead)
                                     .arg(kT0 + 4600 + ahead)
                                     .toUtf8();
}

QByteArray arrival(qint64 seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc())
        .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.123Z"))
        .toLatin1();
}

QByteArray message(const char* from, const char* name, qint64 time, const char* content) {
    return "{\"id\":\"" + QByteArray::number(time) + "\",\"displayName\":" + name +
           ",\"originalarrivaltime\":\"" + arrival(time) + "\",\"messagetype\":\"RichText\",\"content\":\"" +
           content + "\",\"from\":\"" + from + "\",\"properties\":null}";
}

// The data export of the later years: the server's clock. It names the user's own messages by
// no name, and holds a contact the classic client never met.
QByteArray theExport() {
    return "{\"userId\":\"8:me\",\"exportDate\":\"2021-08-31T15:42\",\"conversations\":[{\"id\":\"8:ann\","
           "\"displayName\":\"Ann\",\"properties\":{},\"threadProperties\":null,\"MessageList\":[" +
           message("8:ann", "\"Ann\"", kT0 + 9000, "see you") + "," +
           message("8:me", "null", kT0 + 6000, "later") +
           "]},{\"id\":\"8:dave\",\"displayName\":\"Dave\",\"properties\":{},\"threadProperties\":null,"
           "\"MessageList\":[" +
           message("8:dave", "\"Dave\"", kT0 + 9500, "yo") +
           "]},{\"id\":\"19:g1@thread.skype\",\"displayName\":\"Family\",\"properties\":{},"
           "\"threadProperties\":{},\"MessageList\":[" +
           message("8:bob", "\"Bob\"", kT0 + 9900, "family three") + "," +
           message("8:bob", "\"Bob\"", kT0 + 7000, "family two") + "]}]}";
}

class SeveralHistories : public ::testing::Test {
protected:
    void SetUp() override {
        env.set("LANG", "en_US.UTF-8").set("TZ", "UTC").set("PARLORIX_SKYPE_DATA", QByteArray());
        for (const char* home : {"HOME", "APPDATA", "LOCALAPPDATA", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
            env.set(home, QFile::encodeName(out.path()));
        old = files.database("old.db", oldLaptop().constData());
        second = files.database("second.db", secondComputer().constData());
        exported = files.file("messages.json", theExport());
    }

    // parlorix-cli export of these histories, with the group chats, into a new folder: its files.
    QMap<QString, QByteArray> exportOf(const QStringList& histories, CliResult* said = nullptr,
                                       const QStringList& more = {}) {
        const QString folder = out.filePath(QStringLiteral("run%1").arg(++m_runs));
        QStringList arguments{QStringLiteral("export"), QStringLiteral("--out"), folder,
                              QStringLiteral("--quiet")};
        for (const QString& history : histories)
            arguments << QStringLiteral("--history") << history;
        const CliResult result = runCli(arguments + more);
        if (said)
            *said = result;
        return filesBelow(folder);
    }

    static QString group(const char* topic, const char* id) {
        return GroupChatNames::nameOf(QString::fromUtf8(topic), QString::fromUtf8(id)) +
               QStringLiteral(".txt");
    }

    ScopedEnv env;
    QTemporaryDir out;
    HistoryFiles files;
    QString old;
    QString second;
    QString exported;

private:
    int m_runs = 0;
};

// What the three give as one, whichever comes first: one row per contact of any, one section per
// chat, each message once (the old laptop's "ok"s a minute later on the second computer, the
// second computer's "later" in the export), the earliest time any gives a chat.
TEST_F(SeveralHistories, AnOldLaptopASecondComputerAndTheExportReadAsOne) {
    const QByteArray ann =
        headerAt(kT0) + "Ann: hi\r\nme: hello\r\nAnn: ok\r\nAnn: ok\r\nme: later\r\nAnn: see you\r\n";
    const QByteArray family =
        headerAt(kT0 + 20) + "Bob: family one\r\nBob: family two\r\nBob: family three\r\n";
    const QMap<QString, QByteArray> expected{
        {QStringLiteral("ann.txt"), ann},
        {QStringLiteral("carol.txt"), headerAt(kT0 + 4560) + "Carol: hey\r\n"},
        {QStringLiteral("dave.txt"), headerAt(kT0 + 9500) + "Dave: yo\r\n"},
        {QStringLiteral("Group chats/") + group("Family", "19:g1@thread.skype"), family},
        {QStringLiteral("Group chats/") + group("Old group", "#me/$ann;1a2b"),
         headerAt(kT0 + 10) + "Ann: old times\r\n"},
    };
    const struct {
        const char* name;
        std::function<QStringList()> histories;
        // What a later history gives where it comes first: its names, and the chat's name from the export.
        QMap<QString, QByteArray> differs;
    } cases[] = {
        {"in the order of their years", [&] { return QStringList{old, second, exported}; }, {}},
        {"the second computer first: its name for Ann",
         [&] { return QStringList{second, old, exported}; },
         {{QStringLiteral("ann.txt"), headerAt(kT0) +
                                          "Ann: hi\r\nme: hello\r\nAnn Smith: ok\r\nAnn Smith: ok\r\n"
                                          "me: later\r\nAnn: see you\r\n"}}},
        {"the export first", [&] { return QStringList{exported, old, second}; }, {}},
        {"the export last but one", [&] { return QStringList{old, exported, second}; }, {}},
    };
    for (const auto& row : cases) {
        QMap<QString, QByteArray> wanted = expected;
        for (auto it = row.differs.begin(); it != row.differs.end(); ++it)
            wanted[it.key()] = it.value();
        CliResult said;
        const QMap<QString, QByteArray> written =
            exportOf(row.histories(), &said, {QStringLiteral("--group-chats")});
        EXPECT_EQ(written.keys(), wanted.keys()) << row.name;
        EXPECT_EQ(written, wanted) << row.name;
        EXPECT_EQ(said.status, 0) << row.name << said.err.toStdString();
    }
    const CliResult contacts =
        runCli({QStringLiteral("contacts"), QStringLiteral("--history"), exported,
                QStringLiteral("--history"), second, QStringLiteral("--history"), old});
    EXPECT_EQ(contacts.out, QStringLiteral("ann\nbob\ncarol\ndave\n"));
}

// A history named again, through a link or as a copy with the same bytes, counts once: nothing is
// read twice, and the transcripts are that history's alone.
TEST_F(SeveralHistories, TheSameHistoryGivenTwiceCountsOnce) {
    const QMap<QString, QByteArray> alone = exportOf({old});
    ASSERT_FALSE(alone.isEmpty());
    const QString copy = out.filePath(QStringLiteral("copy.db"));
    ASSERT_TRUE(QFile::copy(old, copy));
    QDir().mkpath(out.filePath(QStringLiteral("profile")));
    ASSERT_TRUE(QFile::copy(old, out.filePath(QStringLiteral("profile/main.db"))));
    const struct {
        const char* name;
        QStringList histories;
    } cases[] = {
        {"the same path twice", {old, old}},
        {"a copy with the same bytes", {old, copy}},
        {"a profile folder and its main.db",
         {out.filePath(QStringLiteral("profile")), old, out.filePath(QStringLiteral("profile/main.db"))}},
#ifndef Q_OS_WIN
        {"a link to it",
         {old,
          [&] {
              const QString link = out.filePath(QStringLiteral("link.db"));
              QFile::link(old, link);
              return link;
          }()}},
#endif
    };
    for (const auto& row : cases) {
        EXPECT_EQ(exportOf(row.histories), alone) << row.name;
        auto root = std::make_shared<HistoryRoot>([&] { return row.histories; });
        ASSERT_TRUE(root->open());
        EXPECT_EQ(root->historyFiles().size(), 1) << row.name;
    }
    // A copy that differs by one byte is a history of its own.
    QFile changed(copy);
    ASSERT_TRUE(changed.open(QIODevice::ReadWrite));
    changed.seek(changed.size() - 1);
    changed.write("x");
    changed.close();
    auto root = std::make_shared<HistoryRoot>([&] { return QStringList{old, copy}; });
    ASSERT_TRUE(root->open());
    EXPECT_EQ(root->historyFiles(), (QStringList{old, copy}));
}

// A history of the set that cannot be opened ends the run before anything is written, with its
// reason: transcripts made from the others alone would hold less than the user has.
TEST_F(SeveralHistories, OneUnreadableHistoryEndsTheRunBeforeAnythingIsWritten) {
    const QString notes = files.file("notes.txt", "hello");
    const QString missing = out.filePath(QStringLiteral("missing.db"));
    const struct {
        const char* name;
        QStringList histories;
        QString reason;
    } cases[] = {
        {"not a history",
         {old, notes, exported},
         QStringLiteral(
             "'%1' is not a Skype history: it is neither a main.db, a messages.json nor an export .tar")
             .arg(notes)},
        {"missing",
         {old, second, missing},
         QStringLiteral("'%1' is not a Skype history: no such file or folder").arg(missing)},
    };
    for (const auto& row : cases) {
        for (const char* command : {"export", "contacts"}) {
            const QString folder = out.filePath(QStringLiteral("kept"));
            QDir().mkpath(folder);
            writeFile(folder + QStringLiteral("/ann.txt"), "as it was");
            QStringList arguments{QString::fromLatin1(command)};
            if (qstrcmp(command, "export") == 0)
                arguments << QStringLiteral("--out") << folder << QStringLiteral("--group-chats");
            for (const QString& history : row.histories)
                arguments << QStringLiteral("--history") << history;
            const CliResult result = runCli(arguments);
            EXPECT_EQ(result.status, 2) << row.name << command;
            EXPECT_EQ(result.errLines(), QStringList{QStringLiteral("parlorix-cli: ") + row.reason})
                << row.name << command;
            EXPECT_TRUE(result.out.isEmpty()) << row.name << command;
            EXPECT_EQ(filesBelow(folder),
                      (QMap<QString, QByteArray>{{QStringLiteral("ann.txt"), "as it was"}}))
                << row.name << command;
        }
    }
}

// A chat that cannot be read in one of the histories fails as a whole: its contact keeps the
// transcript it had and is named; the others are written.
TEST_F(SeveralHistories, AChatDamagedInOneHistoryFailsThatChatAlone) {
    const QByteArray sql = QByteArray(kSchema) + R"(
        INSERT INTO Conversations VALUES (1, 'carol', 1, 'Carol', 'not a time');
        INSERT INTO Messages VALUES (1, 1, 'carol', 'Carol', 1400000001, 61, 'lost');
    )";
    const QString damaged = files.database("damaged.db", sql.constData());
    const QString folder = out.filePath(QStringLiteral("out"));
    QDir().mkpath(folder);
    writeFile(folder + QStringLiteral("/carol.txt"), "as it was");
    const CliResult result =
        runCli({QStringLiteral("export"), QStringLiteral("--out"), folder, QStringLiteral("--history"), old,
                QStringLiteral("--history"), second, QStringLiteral("--history"), damaged});
    EXPECT_EQ(result.status, 1) << result.err.toStdString();
    const QMap<QString, QByteArray> written = filesBelow(folder);
    EXPECT_EQ(written.value(QStringLiteral("carol.txt")), "as it was");
    EXPECT_TRUE(written.value(QStringLiteral("ann.txt")).startsWith(headerAt(kT0)));
    EXPECT_TRUE(result.err.contains(QStringLiteral("its time is not a number"))) << result.err.toStdString();
    EXPECT_TRUE(result.err.endsWith(QStringLiteral("parlorix-cli: kept as it was: ") +
                                    QDir::toNativeSeparators(folder + QStringLiteral("/carol.txt")) +
                                    QLatin1Char('\n')))
        << result.err.toStdString();
}

// Every history of the set is the history being read: a transcript whose name leads to one of them
// is not written.
TEST_F(SeveralHistories, NoHistoryOfTheSetIsWrittenOver) {
    const QString folder = out.filePath(QStringLiteral("out"));
    QDir().mkpath(folder);
    const QString inTheWay = folder + QStringLiteral("/carol.txt");
    ASSERT_TRUE(QFile::copy(second, inTheWay));
    const CliResult result =
        runCli({QStringLiteral("export"), QStringLiteral("--out"), folder, QStringLiteral("--history"), old,
                QStringLiteral("--history"), inTheWay});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.contains(QStringLiteral("it is the Skype history being read")))
        << result.err.toStdString();
    EXPECT_EQ(contents(inTheWay), contents(second));
    EXPECT_TRUE(contents(folder + QStringLiteral("/ann.txt")).startsWith(headerAt(kT0)));
}

// The older export, both ways, works on the merged chats: "Date Range:" takes a chat by its time and
// writes its newest message, from whichever history holds it.
TEST_F(SeveralHistories, TheOlderExportReadsTheMergedChats) {
    const QStringList set{old, second, exported};
    const QMap<QString, QByteArray> all = exportOf(set, nullptr, {QStringLiteral("--older")});
    EXPECT_EQ(all.value(QStringLiteral("ann.txt")),
              headerAt(kT0) +
                  "\r\nAnn: hi\r\nme: hello\r\nAnn: ok\r\nAnn: ok\r\nme: later\r\nAnn: see you\r\n\r\n" +
                  headerAt(kT0 + 10) + "\r\nAnn: old times\r\n\r\n");
    const auto day = [](qint64 seconds) {
        return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc()).toString(Qt::ISODate).left(19);
    };
    const QMap<QString, QByteArray> range = exportOf(set, nullptr,
                                                     {QStringLiteral("--older"), QStringLiteral("--from"),
                                                      day(kT0), QStringLiteral("--to"), day(kT0 + 5)});
    EXPECT_EQ(range.value(QStringLiteral("ann.txt")), headerAt(kT0) + " \r\nsee you\r\n\r\n\r\n");
}

} // namespace
