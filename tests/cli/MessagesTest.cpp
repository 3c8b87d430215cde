#include "cli/CliHarness.h"

#include "fakes/FakeSkype.h"
#include "fakes/ScopedEnv.h"
#include "skype/HistoryFiles.h"

#include "base/AppInfo.h"
#include "export/ChatFailures.h"
#include "export/GroupChatNames.h"

#include <QDir>
#include <QFile>
#include <QTimeZone>

#include <SQLiteCpp/Database.h>

#include <archive.h>
#include <archive_entry.h>

#include <gtest/gtest.h>

#include <functional>

namespace {

const char* const kDatabase = R"(
    CREATE TABLE Accounts (id INTEGER PRIMARY KEY, skypename TEXT);
    INSERT INTO Accounts VALUES (1, 'me');
    CREATE TABLE Conversations (id INTEGER PRIMARY KEY, identity TEXT, type INTEGER, displayname TEXT,
                                creation_timestamp INTEGER);
    CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INTEGER, author TEXT, from_dispname TEXT,
                           timestamp INTEGER, type INTEGER, body_xml TEXT);
    INSERT INTO Conversations VALUES (1, 'ann', 1, 'Ann', 1630424530),
                                     (2, 'bo' || char(10) || 'b\cy', 1, 'Bob', 1630424530),
                                     (3, 'nu' || char(0) || 'l', 1, 'Nul', 1630424530),
                                     (4, 'v' || char(11) || 't' || char(8232), 1, 'Vt', 1630424530);
    INSERT INTO Messages VALUES (1, 1, 'ann', 'Ann', 1630424531, 61, 'hi'),
                                (2, 2, 'bob', 'Bob', 1630424531, 61, 'hello');
)";

// A tar member as its header says, whatever it is: a pipe, a folder, a sparse file ('S', its real
// size after the map of its one stretch of data).
QByteArray member(const QByteArray& name, char type, const QByteArray& content = QByteArray(),
                  qint64 realSize = 0) {
    QByteArray header(512, '\0');
    const auto put = [&](int at, const QByteArray& field) { header.replace(at, field.size(), field); };
    const auto octal = [](qint64 value) { return QByteArray::number(value, 8).rightJustified(11, '0'); };
    put(0, name);
    put(100, "0000644");
    put(108, "0000000");
    put(116, "0000000");
    put(124, octal(content.size()));
    put(136, "00000000000");
    put(148, "        ");
    header[156] = type;
    put(257, QByteArray("ustar  \0", 8)); // GNU's
    if (type == 'S') {
        put(386, octal(0));
        put(398, octal(content.size()));
        put(483, octal(realSize));
    }
    int sum = 0;
    for (const char c : header)
        sum += static_cast<unsigned char>(c);
    put(148, QByteArray::number(sum, 8).rightJustified(6, '0') + QByteArray("\0 ", 2));
    return header + content + QByteArray((512 - content.size() % 512) % 512, '\0');
}

#ifndef Q_OS_WIN // the Windows build reads no compression
// A file compressed as gzip does, holding no archive.
void gzip(const QString& path, const QByteArray& content) {
    archive* out = archive_write_new();
    archive_write_add_filter_gzip(out);
    archive_write_set_format_raw(out);
    archive_write_open_filename(out, QFile::encodeName(path).constData());
    archive_entry* entry = archive_entry_new();
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_size(entry, content.size());
    archive_write_header(out, entry);
    archive_write_data(out, content.constData(), static_cast<size_t>(content.size()));
    archive_entry_free(entry);
    archive_write_close(out);
    archive_write_free(out);
}
#endif

// A history whose client stopped in the middle of a change: the file and the journal of the change
// as they were then, with no client holding them.
QString historyWithHotJournal(HistoryFiles& files) {
    const QString live = files.database("live.db", kDatabase);
    const QString copy = files.path("unclean.db");
    SQLite::Database client(live.toStdString(), SQLite::OPEN_READWRITE);
    // More changes than its cache holds, so that they reach the file and the journal is complete.
    client.exec("PRAGMA cache_size = 2");
    client.exec(
        "BEGIN; WITH RECURSIVE n(i) AS (SELECT 10 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
        "INSERT INTO Messages SELECT i, 1, 'ann', 'Ann', 1630424531, 61, hex(randomblob(100)) FROM n");
    QFile::copy(live, copy);
    QFile::copy(live + QStringLiteral("-journal"), copy + QStringLiteral("-journal"));
    client.exec("ROLLBACK");
    return copy;
}

// The line of the error report box for a step of a handler.
QString errorBox(const QString& description, const QString& handler, int line) {
    return QStringLiteral("parlorix-cli: %1 %2at line %3 Please email screenshot of this message to %4")
        .arg(description, AppInfo::location(handler))
        .arg(line)
        .arg(AppInfo::supportAddress());
}

class Messages : public ::testing::Test {
protected:
    void SetUp() override {
        env.set("LANG", "en_US.UTF-8").set("TZ", "UTC").set("PARLORIX_SKYPE_DATA", QByteArray());
        // No history of this machine's user is found.
        for (const char* home : {"HOME", "APPDATA", "LOCALAPPDATA", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
            env.set(home, QFile::encodeName(dir.path()));
    }
    QString at(const QString& name) const { return QDir::toNativeSeparators(dir.filePath(name)); }

    ScopedEnv env;
    QTemporaryDir dir;
    HistoryFiles files;
};

// What the command line says when something is in the way: the lines on standard error (the usage
// that follows wrong options left out), what it prints and its exit status.
struct Said {
    Said(QStringList arguments, QStringList err, int status, QString out = QString())
        : arguments(std::move(arguments))
        , err(std::move(err))
        , status(status)
        , out(std::move(out)) {}
    QStringList arguments;
    QStringList err;
    int status;
    QString out;
};

TEST_F(Messages, EachSaysWhatItFound) {
    const QString history = files.database("main.db", kDatabase);
    const auto exportTo = [&](const QString& out) {
        return QStringList{QStringLiteral("export"), QStringLiteral("--history"), history,
                           QStringLiteral("--out"), out};
    };
    const auto notHistory = [](const QString& path, const QString& why) {
        return QStringLiteral("parlorix-cli: '%1' is not a Skype history: %2").arg(path, why);
    };
    const QString tooLong = at(QString(300, QLatin1Char('a')));
    const QString json = QStringLiteral(R"({"conversations":[]})");
    struct Row {
        const char* what;
        std::function<Said()> make;
    };
    const std::vector<Row> rows{
#ifndef Q_OS_WIN
        {"an output folder that is a link to nothing",
         [&] {
             QFile::link(at(QStringLiteral("nowhere")), at(QStringLiteral("dangling")));
             return Said{
                 exportTo(at(QStringLiteral("dangling/sub"))),
                 {QStringLiteral("parlorix-cli: Cannot create the folder '%1': '%2' is a link to '%3', "
                                 "which does not exist")
                      .arg(at(QStringLiteral("dangling/sub")), at(QStringLiteral("dangling")),
                           at(QStringLiteral("nowhere")))},
                 2};
         }},
        {"an output folder that is a loop of links",
         [&] {
             QFile::link(at(QStringLiteral("loop")), at(QStringLiteral("loop")));
             return Said{exportTo(at(QStringLiteral("loop"))),
                         {QStringLiteral("parlorix-cli: Cannot create the folder '%1': '%1' is a link that "
                                         "leads back to itself")
                              .arg(at(QStringLiteral("loop")))},
                         2};
         }},
        {"an output folder in a folder that may not be written",
         [&]() -> Said {
             const QString locked = at(QStringLiteral("locked"));
             QDir().mkdir(locked);
             QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
             QFile probe(locked + QStringLiteral("/probe"));
             if (probe.open(QIODevice::WriteOnly)) // root may write anywhere
                 return Said{{}, {}, 0};
             return Said{exportTo(locked + QStringLiteral("/sub")),
                         {QStringLiteral("parlorix-cli: Cannot create the folder '%1/sub': access is denied")
                              .arg(locked)},
                         2};
         }},
        // Windows says the name is no valid one.
        {"an output folder whose name is too long",
         [&] {
             return Said{exportTo(tooLong),
                         {QStringLiteral("parlorix-cli: Cannot create the folder '%1': the name is too long")
                              .arg(tooLong)},
                         2};
         }},
#endif
        {"an output folder below a file",
         [&] {
             const QString file = files.file("plain", "x");
             return Said{exportTo(file + QStringLiteral("/sub")),
                         {QStringLiteral("parlorix-cli: Cannot create the folder '%1': '%2' is not a folder")
                              .arg(QDir::toNativeSeparators(file + QStringLiteral("/sub")),
                                   QDir::toNativeSeparators(file))},
                         2};
         }},
        {"a history the client did not close cleanly",
         [&] {
             const QString unclean = historyWithHotJournal(files);
             return Said{{QStringLiteral("contacts"), QStringLiteral("--history"), unclean},
                         {QStringLiteral("parlorix-cli: Cannot read the Skype history '%1': Skype did not "
                                         "close this history cleanly, and the changes it left half-done in "
                                         "its '-journal' must be undone first; open it in Skype once and "
                                         "close Skype again, then try again")
                              .arg(unclean)},
                         2};
         }},
        {"a sparse messages.json in the archive",
         [&] {
             const QString tar = files.file(
                 "sparse.tar", member("messages.json", 'S', json.toUtf8(), 1 << 20) + QByteArray(1024, '\0'));
             return Said{{QStringLiteral("contacts"), QStringLiteral("--history"), tar},
                         {notHistory(tar, QStringLiteral("messages.json in the archive is stored as a sparse "
                                                         "file, with holes in it, as no Skype export is"))},
                         2};
         }},
        {"a pipe for messages.json in the archive",
         [&] {
             const QString tar =
                 files.file("fifo.tar", member("messages.json", '6') + QByteArray(1024, '\0'));
             return Said{
                 {QStringLiteral("contacts"), QStringLiteral("--history"), tar},
                 {notHistory(tar,
                             QStringLiteral("messages.json in the archive is not a file but a pipe (FIFO)"))},
                 2};
         }},
        {"a folder for messages.json in the archive",
         [&] {
             const QString tar =
                 files.file("folder.tar", member("messages.json/", '5') + QByteArray(1024, '\0'));
             return Said{
                 {QStringLiteral("contacts"), QStringLiteral("--history"), tar},
                 {notHistory(tar, QStringLiteral("messages.json in the archive is not a file but a folder"))},
                 2};
         }},
#ifndef Q_OS_WIN // the Windows build reads no compression
        {"a gzipped messages.json",
         [&] {
             const QString gz = files.path("messages.json.gz");
             gzip(gz, json.toUtf8());
             return Said{{QStringLiteral("contacts"), QStringLiteral("--history"), gz},
                         {notHistory(gz, QStringLiteral("it is a file compressed with gzip, not an archive; "
                                                        "uncompress it (it may be a messages.json) and name "
                                                        "what it holds"))},
                         2};
         }},
        {"a history that is a loop of links",
         [&] {
             const QString loop = files.path("loop.db");
             QFile::link(loop, loop);
             return Said{{QStringLiteral("contacts"), QStringLiteral("--history"), loop},
                         {notHistory(loop, QStringLiteral("it is a link that leads back to itself"))},
                         2};
         }},
        {"a profile whose main.db is a link to a device",
         [&] {
             const QString profile = files.path("profile");
             QDir().mkdir(profile);
             QFile::link(QStringLiteral("/dev/null"), profile + QStringLiteral("/main.db"));
             return Said{{QStringLiteral("contacts"), QStringLiteral("--history"), profile},
                         {notHistory(profile + QStringLiteral("/main.db"),
                                     QStringLiteral("it is not a file but a pipe, a device or a socket"))},
                         2};
         }},
#endif
        {"contacts whose handles hold a line break, a backslash and a NUL",
         [&] {
             return Said{{QStringLiteral("contacts"), QStringLiteral("--history"), history},
                         {},
                         0,
                         QStringLiteral("ann\nbo\\nb\\\\cy\nnu\\0l\nv\\u000bt\\u2028\n")};
         }},
        {"a contact named as 'contacts' prints it",
         [&] {
             return Said{exportTo(at(QStringLiteral("out")))
                             << QStringLiteral("--contact") << QStringLiteral("bo\\nb\\\\cy"),
                         {QStringLiteral("parlorix-cli: Done.")},
                         0};
         }},
        {"a contact named with its escapes' hexadecimal digits in upper case",
         [&] {
             return Said{exportTo(at(QStringLiteral("out")))
                             << QStringLiteral("--contact") << QStringLiteral("v\\u000Bt\\u2028"),
                         {QStringLiteral("parlorix-cli: Done.")},
                         0};
         }},
        {"no history on this machine",
         [&] {
             return Said{{QStringLiteral("histories")},
                         {QStringLiteral("parlorix-cli: No Skype history was found on this machine")},
                         1};
         }},
    };
    for (const Row& row : rows) {
        const Said expected = row.make();
        if (expected.arguments.isEmpty())
            continue; // not to be made on this machine
        const CliResult result = runCli(expected.arguments);
        EXPECT_EQ(result.errLines(), expected.err) << row.what;
        EXPECT_EQ(result.status, expected.status) << row.what;
        EXPECT_EQ(result.out, expected.out) << row.what;
    }
    // So that the temporary folder can be removed.
    QFile::setPermissions(at(QStringLiteral("locked")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST_F(Messages, ALocalTimeTheClocksSkipIsNamedSo) {
#ifdef Q_OS_WIN
    GTEST_SKIP() << "Wine keeps the host's time zone, whatever TZ says";
#endif
    const QString history = files.database("main.db", kDatabase);
    struct Row {
        const char* zone;
        const char* from;
        QString firstLine;
        int status;
    };
    // New York put its clocks from 2:00 to 3:00 on 14 March 2021, São Paulo from midnight to 1:00
    // on 4 November 2018.
    const std::vector<Row> rows{
        {"America/New_York", "2021-03-14T02:30:00",
         QStringLiteral("parlorix-cli: '--from' names 2021-03-14T02:30:00, a local time that does not exist "
                        "here: the clocks skip it when they are put forward; give a time before or after "
                        "the skip"),
         2},
        {"America/New_York", "2021-03-14T03:00:00", QStringLiteral("parlorix-cli: Done."), 0},
        // A date alone is its day, however it begins.
        {"America/Sao_Paulo", "2018-11-04", QStringLiteral("parlorix-cli: Done."), 0},
    };
    for (const Row& row : rows) {
        if (!QTimeZone::isTimeZoneIdAvailable(row.zone)) {
            ADD_FAILURE() << "no time zone " << row.zone << " on this machine";
            continue;
        }
        ScopedEnv zone("TZ", row.zone);
        const CliResult result =
            runCli({QStringLiteral("export"), QStringLiteral("--history"), history, QStringLiteral("--out"),
                    at(QStringLiteral("out")), QStringLiteral("--contact"), QStringLiteral("ann"),
                    QStringLiteral("--older"), QStringLiteral("--from"), QString::fromLatin1(row.from),
                    QStringLiteral("--to"), QStringLiteral("2022-01-01")});
        EXPECT_EQ(result.errLines().value(0), row.firstLine) << row.zone << " " << row.from;
        EXPECT_EQ(result.status, row.status) << row.zone << " " << row.from;
    }
}

// With the group chats, "Done." ends the run after their failures, and each is told once.
TEST_F(Messages, TheGroupChatsEndBeforeDone) {
    FakeSkype skype;
    skype.contacts = {QStringLiteral("ann")};
    skype.addChat(QStringLiteral("ann"), QDateTime(QDate(2021, 8, 31), QTime(15, 42, 10)),
                  {QStringLiteral("Ann: hi")});
    for (const char* topic : {"Family", "Work"}) {
        FakeSkype::FakeChat& group = skype.addChat(QString(), QDateTime(QDate(2021, 9, 1), QTime(0, 0)),
                                                   {QStringLiteral("Bob: hello")});
        group.name = QStringLiteral("#bob/$") + QString::fromLatin1(topic);
        group.topic = QString::fromLatin1(topic);
    }
    skype.failing.insert(QStringLiteral("messageCount#3"));
    const QString out = at(QStringLiteral("out"));
    const CliResult result =
        runCli({QStringLiteral("export"), QStringLiteral("--out"), out, QStringLiteral("--group-chats")},
               nullptr, &skype);
    const QString kept = QDir::toNativeSeparators(
        out + QStringLiteral("/Group chats/") +
        GroupChatNames::nameOf(QStringLiteral("Work"), QStringLiteral("#bob/$Work")) +
        QStringLiteral(".txt"));
    EXPECT_EQ(
        result.errLines(),
        (QStringList{
            errorBox(QStringLiteral("Skype failed at messageCount"), QStringLiteral("PushButton7_Click"),
                     124),
            QStringLiteral("parlorix-cli: These transcripts were left as they were, because a chat of "
                           "theirs could not be read or written:"),
            QStringLiteral("parlorix-cli: Done."), QStringLiteral("parlorix-cli: kept as it was: ") + kept}))
        << result.err.toStdString();
    EXPECT_EQ(result.status, 1);
}

// Many chats that cannot be read say so in a few lines and one that counts the others: the command
// line says at most one line per transcript kept, however many boxes each chat would show. The
// failure that ends the run is told past the count, as the box that says why comes after it.
TEST_F(Messages, ManyChatsThatCannotBeReadAreCountedNotEachTold) {
    constexpr int kChats = 40;
    const QString box =
        errorBox(QStringLiteral("Skype failed at messageCount"), QStringLiteral("PushButton7_Click"), 124);
    const QString stop = QStringLiteral("parlorix-cli: The export stopped because the history went away. The "
                                        "transcripts it had not yet put in place were left as they were.");
    const QString kept = QStringLiteral("parlorix-cli: These transcripts were left as they were, because a "
                                        "chat of theirs could not be read or written:");
    for (const bool endsAtTheLast : {false, true}) {
        FakeSkype skype;
        for (int chat = 1; chat <= kChats; ++chat) {
            const QString handle = QStringLiteral("c%1").arg(chat, 2, 10, QLatin1Char('0'));
            skype.contacts.append(handle);
            skype.addChat(handle, QDateTime(QDate(2021, 8, 31), QTime(15, 42, 10)),
                          {QStringLiteral("Ann: hi")});
            skype.failing.insert(QStringLiteral("messageCount#%1").arg(chat));
        }
        if (endsAtTheLast) {
            skype.onTouch = [&](const QString& operation, const QString& object) {
                if (operation == QLatin1String("messageCount") && object == QString::number(kChats))
                    skype.failingEndsRunBecause = QStringLiteral("the history went away");
            };
        }
        const CliResult result = runCli(
            {QStringLiteral("export"), QStringLiteral("--out"), at(QStringLiteral("out"))}, nullptr, &skype);
        const QStringList lines = result.errLines();
        // Each chat fails twice (its count, then its messages): the boxes of two and a half are shown.
        ASSERT_GE(lines.size(), 8) << result.err.toStdString();
        EXPECT_EQ(lines.at(0), box);
        EXPECT_EQ(lines.at(4), box);
        if (endsAtTheLast) {
            EXPECT_EQ(result.status, 2);
            EXPECT_EQ(lines.mid(5),
                      (QStringList{box, QStringLiteral("parlorix-cli: ") + ChatFailures::message(kChats - 4),
                                   stop, QStringLiteral("parlorix-cli: Done.")}));
        } else {
            EXPECT_EQ(result.status, 1);
            ASSERT_EQ(lines.size(), 5 + 1 + 1 + 1 + kChats) << result.err.toStdString();
            EXPECT_EQ(lines.at(5), QStringLiteral("parlorix-cli: ") + ChatFailures::message(kChats - 3));
            EXPECT_EQ(lines.at(6), kept);
            EXPECT_EQ(lines.at(7), QStringLiteral("parlorix-cli: Done."));
            EXPECT_EQ(lines.filter(QStringLiteral("parlorix-cli: kept as it was: ")).size(), kChats);
        }
    }
}

// On a terminal the group chats are counted as groups, not as every chat the history has, and the
// contacts' pass counts the chats that are not groups.
TEST_F(Messages, TheProgressCountsTheGroupChats) {
    FakeSkype skype;
    skype.contacts = {QStringLiteral("ann")};
    for (int chat = 1; chat <= 5; ++chat)
        skype.addChat(QStringLiteral("ann"), QDateTime(QDate(2021, 8, 31), QTime(15, 42, 10)),
                      {QStringLiteral("Ann: hi")});
    for (int group = 1; group <= 3; ++group) {
        FakeSkype::FakeChat& chat = skype.addChat(QString(), QDateTime(QDate(2021, 9, 1), QTime(0, 0)),
                                                  {QStringLiteral("Bob: hello")});
        chat.topic = QStringLiteral("Group %1").arg(group);
        chat.name = QStringLiteral("19:%1@thread.skype").arg(group);
    }
    const CliResult result = runCli({QStringLiteral("export"), QStringLiteral("--out"),
                                     at(QStringLiteral("out")), QStringLiteral("--group-chats")},
                                    nullptr, &skype, true);
    EXPECT_TRUE(result.err.contains(QLatin1String(" of 3 group chats"))) << result.err.toStdString();
    EXPECT_FALSE(result.err.contains(QLatin1String(" of 8 group chats"))) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(QLatin1String(" of 5 chats"))) << result.err.toStdString();
    EXPECT_FALSE(result.err.contains(QLatin1String(" of 8 chats"))) << result.err.toStdString();
    EXPECT_EQ(result.status, 0);
    const CliResult contactsOnly =
        runCli({QStringLiteral("export"), QStringLiteral("--out"), at(QStringLiteral("alone"))}, nullptr,
               &skype, true);
    EXPECT_TRUE(contactsOnly.err.contains(QLatin1String(" of 5 chats"))) << contactsOnly.err.toStdString();
    EXPECT_FALSE(contactsOnly.err.contains(QLatin1String(" of 8 chats"))) << contactsOnly.err.toStdString();
}

} // namespace
