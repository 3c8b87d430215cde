#include "cli/CliHarness.h"

#include "export/ExportWindow.h"
#include "fakes/FakeFileSystem.h"
#include "fakes/FakeSkype.h"
#include "fakes/MemorySettingsStore.h"
#include "fakes/ScopedEnv.h"
#include "skype/HistoryFiles.h"

#include "cli/CommandLine.h"
#include "cli/ProgressLine.h"
#include "export/GroupChatNames.h"
#include "files/FolderLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>

#ifndef Q_OS_WIN
#include <csignal>

#include <unistd.h>
#endif

namespace {

const QString kSkype6 = QStringLiteral(PARLORIX_FIXTURES_DIR "/skype6-main.db");
// 2 March 2015, 16:40:22 UTC.
QByteArray gohanuskas() {
    return headerAt(1425314422) + "renesto testing: Please add me as a contact\r\n"
                                  "renesto testing: hey whats up\r\n"
                                  "renesto testing: let's me show you some smileys as well\r\n"
                                  "renesto testing: (poolparty)\r\n"
                                  "Aleksandar Kovacevic: hahaha, that is funny :)\r\n"
                                  "renesto testing: exactly :)\r\n"
                                  "renesto testing: (rocknroll)\r\n";
}

// The program started from a test: a machine may have no locale but C and C.UTF-8 installed (a fresh
// Debian), and Qt warns on standard error in a locale that is not UTF-8. The dates of C are those
// of English (United States), as the tests' own en_US.
QProcessEnvironment childEnvironment() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    // Its start cleans the cache folder: the test's own home's, never the user's.
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), QDir::homePath() + QStringLiteral("/.cache"));
    return environment;
}

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override { env.set("LANG", "en_US.UTF-8").set("TZ", "UTC"); }
    QString outFolder() const { return out.filePath(QStringLiteral("transcripts")); }
    QStringList exportTo(const QStringList& more = {}) const {
        return QStringList{QStringLiteral("export"), QStringLiteral("--out"), outFolder()} + more;
    }

    ScopedEnv env;
    QTemporaryDir out;
    HistoryFiles files;
};

TEST_F(CommandLineTest, AHistoryThatCannotBeReadIsNamedAndEndsWithTwo) {
    const QString missing = out.filePath(QStringLiteral("gone/main.db"));
    const QString notHistory = files.file("notes.txt", "just some notes");
    for (const QString& history : {missing, notHistory}) {
        for (const QString& command : {QStringLiteral("contacts"), QStringLiteral("export")}) {
            QStringList arguments = command == QLatin1String("export") ? exportTo() : QStringList{command};
            const CliResult result = runCli(arguments << QStringLiteral("--history") << history);
            EXPECT_EQ(result.status, 2);
            ASSERT_EQ(result.errLines().size(), 1) << result.err.toStdString();
            EXPECT_TRUE(result.err.startsWith(QStringLiteral("parlorix-cli: '") + history +
                                              QStringLiteral("' is not a Skype history: ")))
                << result.err.toStdString();
            EXPECT_TRUE(result.out.isEmpty());
        }
    }
    EXPECT_FALSE(QFileInfo::exists(outFolder()));
    // Nothing named and nothing found.
    const CliResult none = runCli(exportTo());
    EXPECT_EQ(none.status, 2);
    EXPECT_TRUE(none.err.startsWith(QStringLiteral("parlorix-cli: No Skype history was found.")))
        << none.err.toStdString();
}

TEST_F(CommandLineTest, AFolderThatCannotBeWrittenEndsWithTwo) {
    const QString file = files.file("plain", "x");
    const CliResult notFolder = runCli(
        {QStringLiteral("export"), QStringLiteral("--out"), file, QStringLiteral("--history"), kSkype6});
    EXPECT_EQ(notFolder.status, 2);
    EXPECT_EQ(notFolder.err,
              QStringLiteral("parlorix-cli: '%1' is not a folder\n").arg(QDir::toNativeSeparators(file)));

    const QString below = file + QStringLiteral("/sub");
    const CliResult cannotMake = runCli(
        {QStringLiteral("export"), QStringLiteral("--out"), below, QStringLiteral("--history"), kSkype6});
    EXPECT_EQ(cannotMake.status, 2);
    EXPECT_EQ(cannotMake.err,
              QStringLiteral("parlorix-cli: Cannot create the folder '%1': '%2' is not a folder\n")
                  .arg(QDir::toNativeSeparators(below), QDir::toNativeSeparators(file)));

#ifndef Q_OS_WIN
    const QString locked = out.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkdir(locked));
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QFile probe(locked + QStringLiteral("/probe"));
    if (!probe.open(QIODevice::WriteOnly)) { // not where the user may write anywhere, as root may
        const CliResult cannotWrite = runCli({QStringLiteral("export"), QStringLiteral("--out"), locked,
                                              QStringLiteral("--history"), kSkype6});
        EXPECT_EQ(cannotWrite.status, 2);
        EXPECT_TRUE(cannotWrite.err.startsWith(
            QStringLiteral("parlorix-cli: Cannot write into the folder '%1': ").arg(locked)))
            << cannotWrite.err.toStdString();
    }
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
#endif
}

TEST_F(CommandLineTest, AnotherExportWritingIntoTheFolderEndsWithTwo) {
    ASSERT_TRUE(QDir().mkdir(outFolder()));
    FolderLock lock(outFolder() + QDir::separator());
    ASSERT_TRUE(lock.tryLock());
    const CliResult result = runCli(exportTo({QStringLiteral("--history"), kSkype6}));
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.errLines(), QStringList{QStringLiteral("parlorix-cli: ") + lock.busyMessage()});
    // Nothing but the other run's lock.
    EXPECT_EQ(filesBelow(outFolder()).keys(), QStringList{FolderLock::fileName()});
}

TEST_F(CommandLineTest, WrongOptionsGiveTheUsageAndTwo) {
    const QString dir = outFolder();
    const QList<QStringList> wrong{
        {},
        {QStringLiteral("frobnicate")},
        {QStringLiteral("export"), QStringLiteral("--bogus")},
        {QStringLiteral("export")},
        {QStringLiteral("export"), QStringLiteral("--out")},
        {QStringLiteral("export"), QStringLiteral("--out"), dir, QStringLiteral("extra")},
        {QStringLiteral("contacts"), QStringLiteral("--out"), dir},
        {QStringLiteral("histories"), QStringLiteral("--history"), kSkype6},
        {QStringLiteral("export"), QStringLiteral("--out"), dir, QStringLiteral("--out"), dir},
        {QStringLiteral("export"), QStringLiteral("--out"), dir, QStringLiteral("--from"),
         QStringLiteral("2021-01-01"), QStringLiteral("--to"), QStringLiteral("2021-02-01")},
        {QStringLiteral("export"), QStringLiteral("--out"), dir, QStringLiteral("--older"),
         QStringLiteral("--from"), QStringLiteral("2021-01-01")},
        {QStringLiteral("export"), QStringLiteral("--out"), dir, QStringLiteral("--older"),
         QStringLiteral("--from"), QStringLiteral("31.8.2021"), QStringLiteral("--to"),
         QStringLiteral("2021-09-01")},
        {QStringLiteral("export"), QStringLiteral("--out"), dir, QStringLiteral("--older"),
         QStringLiteral("--from"), QStringLiteral("1500-01-01"), QStringLiteral("--to"),
         QStringLiteral("2021-09-01")},
        {QStringLiteral("export"), QStringLiteral("--out"), dir, QStringLiteral("--older"),
         QStringLiteral("--from"), QStringLiteral("2021-09-02"), QStringLiteral("--to"),
         QStringLiteral("2021-09-01T23:59:59")},
    };
    for (const QStringList& arguments : wrong) {
        const CliResult result = runCli(arguments + QStringList{QStringLiteral("--history"), kSkype6});
        EXPECT_EQ(result.status, 2) << arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(result.err.startsWith(QStringLiteral("parlorix-cli: "))) << result.err.toStdString();
        EXPECT_TRUE(result.err.endsWith(CommandLine::usage())) << result.err.toStdString();
        EXPECT_TRUE(result.out.isEmpty());
    }
    EXPECT_FALSE(QFileInfo::exists(dir));
}

TEST_F(CommandLineTest, HelpAndVersionAsUsersExpect) {
    for (const QStringList& arguments :
         QList<QStringList>{{QStringLiteral("--help")},
                            {QStringLiteral("-h")},
                            {QStringLiteral("export"), QStringLiteral("--help")}}) {
        const CliResult result = runCli(arguments);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, CommandLine::usage());
        EXPECT_TRUE(result.err.isEmpty());
    }
    for (const QString& option : {QStringLiteral("--version"), QStringLiteral("-V")}) {
        const CliResult result = runCli({option});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, QStringLiteral("parlorix-cli 1.0.0\n"));
    }
}

TEST_F(CommandLineTest, ContactsPrintsTheWindowsRows) {
    const CliResult result = runCli({QStringLiteral("contacts"), QStringLiteral("--history"), kSkype6});
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_EQ(result.out, QStringLiteral("+93123432123\necho123\ngohanuskas\n"));
    EXPECT_TRUE(result.err.isEmpty());
}

// A list that did not get out (a full disk, a closed pipe) is no list: a script must not take it for
// the whole one.
TEST_F(CommandLineTest, OutputThatCannotBeWrittenEndsWithTwo) {
    MemorySettingsStore settings;
    for (const QStringList& arguments :
         {QStringList{QStringLiteral("contacts"), QStringLiteral("--history"), kSkype6},
          QStringList{QStringLiteral("--help")}}) {
        BufferConsole console;
        console.outBroken = true;
        CommandLine commandLine(console, settings);
        EXPECT_EQ(commandLine.run(QStringList{QStringLiteral("parlorix-cli")} + arguments), 2)
            << arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(console.errText, QStringLiteral("parlorix-cli: Cannot write standard output\n"));
    }
#ifndef Q_OS_WIN
    // The real program: a full disk says so; a reader that went away (`| head -1`) ends it quietly,
    // with the same status, rather than by the signal.
    const struct {
        bool closedPipe;
        QByteArray err;
    } rows[] = {{false, "parlorix-cli: Cannot write standard output\n"}, {true, ""}};
    for (const auto& row : rows) {
        QProcess process;
        process.setProcessEnvironment(childEnvironment());
        if (row.closedPipe) {
            process.setChildProcessModifier([] {
                std::signal(SIGPIPE, SIG_DFL);
                int ends[2];
                if (::pipe(ends) != 0 || ::dup2(ends[1], STDOUT_FILENO) < 0)
                    ::_exit(99);
                ::close(ends[0]);
                ::close(ends[1]);
            });
        } else {
            process.setStandardOutputFile(QStringLiteral("/dev/full"));
        }
        process.start(QStringLiteral(PARLORIX_CLI_PATH),
                      {QStringLiteral("contacts"), QStringLiteral("--history"), kSkype6});
        ASSERT_TRUE(process.waitForFinished(120000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << row.closedPipe;
        EXPECT_EQ(process.exitCode(), 2) << row.closedPipe;
        EXPECT_EQ(process.readAllStandardError(), row.err);
    }
#endif
}

// A folder named in bytes that are not UTF-8 would be read with a replacement character and made
// beside the one given.
TEST(CommandLineArguments, OnlyUtf8ArgumentsAreTaken) {
    const char* const good[] = {"parlorix-cli", "export", "--out", "\xC3\x84rger \xE6\x9D\xB1", ""};
    EXPECT_EQ(CommandLine::notUtf8Argument(5, good), std::nullopt);
    const char* const bad[] = {"parlorix-cli", "export", "--out", "bad\xFF", "b\xC3"};
    EXPECT_EQ(CommandLine::notUtf8Argument(5, bad), QStringLiteral("bad\uFFFD"));
    const char* const surrogate[] = {"parlorix-cli", "\xED\xA0\x80"};
    EXPECT_TRUE(CommandLine::notUtf8Argument(2, surrogate).has_value());
}

TEST_F(CommandLineTest, AContactNotInTheListIsNamedAndNothingIsWritten) {
    const CliResult result = runCli(
        exportTo({QStringLiteral("--history"), kSkype6, QStringLiteral("--contact"),
                  QStringLiteral("gohanuskas"), QStringLiteral("--contact"), QStringLiteral("nobody")}));
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(
        result.errLines(),
        QStringList{QStringLiteral(
            "parlorix-cli: 'nobody' is not in the contact list; 'parlorix-cli contacts' prints the list")});
    EXPECT_FALSE(QFileInfo::exists(outFolder()));
}

TEST_F(CommandLineTest, OnlyTheNamedContactsAreWritten) {
    const CliResult result = runCli(exportTo(
        {QStringLiteral("--history"), kSkype6, QStringLiteral("--contact"), QStringLiteral("echo123")}));
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_TRUE(filesBelow(outFolder()).isEmpty());
    const CliResult all = runCli(exportTo({QStringLiteral("--history"), kSkype6}));
    EXPECT_EQ(filesBelow(outFolder()),
              (QMap<QString, QByteArray>{{QStringLiteral("gohanuskas.txt"), gohanuskas()}}));
}

TEST_F(CommandLineTest, ExitOneNamesTheTranscriptsKeptAsTheyWere) {
    FakeSkype skype;
    skype.contacts = {QStringLiteral("ann"), QStringLiteral("bob")};
    const QDateTime stamp(QDate(2021, 8, 31), QTime(15, 42, 10));
    skype.addChat(QStringLiteral("ann"), stamp, {QStringLiteral("Ann: hi"), QStringLiteral("Me: hello")});
    skype.addChat(QStringLiteral("bob"), stamp, {QStringLiteral("Bob: yo")});
    skype.failing.insert(QStringLiteral("body#1.1"));
    ASSERT_TRUE(QDir().mkdir(outFolder()));
    const QString ann = QDir::toNativeSeparators(outFolder() + QStringLiteral("/ann.txt"));
    writeFile(ann, "old");
    MemorySettingsStore settings;
    const CliResult result = runCli(exportTo(), &settings, &skype);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(contents(ann), QByteArray("old"));
    EXPECT_EQ(contents(outFolder() + QStringLiteral("/bob.txt")),
              QByteArray("[8/31/2021 3:42:10 PM]Bob: yo\r\n"));
    const QStringList lines = result.errLines();
    ASSERT_EQ(lines.size(), 4) << result.err.toStdString();
    EXPECT_TRUE(lines.at(0).startsWith(QStringLiteral("parlorix-cli: ")));
    EXPECT_TRUE(lines.at(0).contains(QStringLiteral("PushButton7_Click at line 142")))
        << lines.at(0).toStdString();
    EXPECT_FALSE(lines.at(0).contains(QLatin1Char('\r')));
    EXPECT_EQ(lines.at(1),
              QStringLiteral("parlorix-cli: These transcripts were left as they were, because a chat "
                             "of theirs could not be read or written:"));
    EXPECT_EQ(lines.at(2), QStringLiteral("parlorix-cli: Done."));
    EXPECT_EQ(lines.at(3), QStringLiteral("parlorix-cli: kept as it was: ") + ann);
    // No box waited for an answer, and the window's settings were not touched.
    EXPECT_TRUE(settings.writes.isEmpty());
}

// A contact the history holds no chat of keeps the transcript it has, and one line names such
// contacts: nothing failed, so the run ends with 0, also with the group chats after it.
TEST_F(CommandLineTest, AContactWithoutAChatKeepsItsTranscriptAndEndsWithZero) {
    FakeSkype skype;
    skype.contacts = {QStringLiteral("ann"), QStringLiteral("bob"), QStringLiteral("cid"),
                      QStringLiteral("dee")};
    const QDateTime stamp(QDate(2021, 8, 31), QTime(15, 42, 10));
    skype.addChat(QStringLiteral("ann"), stamp, {QStringLiteral("Ann: hi")});
    FakeSkype::FakeChat& group = skype.addChat(QString(), stamp, {QStringLiteral("Ann: all")});
    group.name = QStringLiteral("#ann/$family");
    group.topic = QStringLiteral("Family");
    ASSERT_TRUE(QDir().mkdir(outFolder()));
    for (const char* handle : {"ann", "bob", "dee"})
        writeFile(outFolder() + QLatin1Char('/') + QLatin1String(handle) + QStringLiteral(".txt"), "old");
    for (const QStringList& more : {QStringList(), QStringList{QStringLiteral("--group-chats")}}) {
        SCOPED_TRACE(more.join(QLatin1Char(' ')).toStdString());
        MemorySettingsStore settings;
        const CliResult result = runCli(exportTo(more), &settings, &skype);
        EXPECT_EQ(result.status, 0) << result.err.toStdString();
        EXPECT_EQ(
            result.errLines(),
            (QStringList{QStringLiteral("parlorix-cli: These contacts have no chat in this history, so their "
                                        "transcripts were left as they were: bob dee"),
                         QStringLiteral("parlorix-cli: Done.")}));
        EXPECT_EQ(contents(outFolder() + QStringLiteral("/ann.txt")),
                  QByteArray("[8/31/2021 3:42:10 PM]Ann: hi\r\n"));
        EXPECT_EQ(contents(outFolder() + QStringLiteral("/bob.txt")), QByteArray("old"));
        EXPECT_EQ(contents(outFolder() + QStringLiteral("/dee.txt")), QByteArray("old"));
        EXPECT_FALSE(QFileInfo::exists(outFolder() + QStringLiteral("/cid.txt")));
    }
}

TEST_F(CommandLineTest, ADiskThatFillsUpEndsWithTwoAndWritesNoGroupChats) {
    FakeSkype skype;
    skype.contacts = {QStringLiteral("ann"), QStringLiteral("bob")};
    const QDateTime stamp(QDate(2021, 8, 31), QTime(15, 42, 10));
    skype.addChat(QStringLiteral("ann"), stamp, {QStringLiteral("Ann: hi")});
    skype.addChat(QStringLiteral("bob"), stamp, {QStringLiteral("Bob: yo")});
    ASSERT_TRUE(QDir().mkdir(outFolder()));
    const QString ann = outFolder() + QStringLiteral("/ann.txt");
    writeFile(ann, "old");
    FakeFileSystem disk;
    disk.failAppendsFrom = 1;
#ifdef Q_OS_WIN
    disk.appendError = 112; // ERROR_DISK_FULL
#else
    disk.appendError = ENOSPC;
#endif
    const CliResult result =
        runCli(exportTo({QStringLiteral("--group-chats")}), nullptr, &skype, false, &disk);
    EXPECT_EQ(result.status, 2) << result.err.toStdString();
    EXPECT_EQ(contents(ann), QByteArray("old"));
    EXPECT_FALSE(QFileInfo::exists(outFolder() + QStringLiteral("/Group chats")));
    EXPECT_TRUE(
        result.err.contains(QStringLiteral("The export stopped because it cannot write into the folder")))
        << result.err.toStdString();
}

TEST_F(CommandLineTest, TheStoredDropIsReadAndNoSettingIsWritten) {
    MemorySettingsStore settings;
    settings.set(QStringLiteral("Skype History"), kSkype6);
    settings.set(QStringLiteral("Output Folder"), QStringLiteral("/elsewhere/"));
    const CliResult result = runCli(exportTo(), &settings);
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_EQ(contents(outFolder() + QStringLiteral("/gohanuskas.txt")), gohanuskas());
    EXPECT_TRUE(settings.writes.isEmpty());
    EXPECT_EQ(settings.get(QStringLiteral("Output Folder")), QStringLiteral("/elsewhere/"));
}

TEST_F(CommandLineTest, HistoriesListsWhatIsFoundOnThisMachine) {
    QTemporaryDir home;
#ifdef Q_OS_WIN
    env.set("APPDATA", QFile::encodeName(home.path()));
#else
    env.set("HOME", QFile::encodeName(home.path()));
#endif
#ifdef Q_OS_WIN
    const QString root = home.filePath(QStringLiteral("Skype/ann"));
#else
    const QString root = home.filePath(QStringLiteral(".Skype/ann"));
#endif
    ASSERT_TRUE(QDir().mkpath(root));
    ASSERT_TRUE(QFile::copy(kSkype6, root + QStringLiteral("/main.db")));
    env.set("PARLORIX_SKYPE_DATA", "/named/export.tar");
    MemorySettingsStore settings;
    settings.set(QStringLiteral("Skype History"), QStringLiteral("/dropped/main.db"));
    const CliResult result = runCli({QStringLiteral("histories")}, &settings);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, QStringLiteral("/named/export.tar\n/dropped/main.db\n") +
                              QDir::toNativeSeparators(root + QStringLiteral("/main.db")) +
                              QLatin1Char('\n'));
    // Several read as one, named or dropped: each on a line of its own, the profile found once.
    env.set("PARLORIX_SKYPE_DATA", QFile::encodeName(QStringLiteral("/named/a.db") + QDir::listSeparator() +
                                                     QStringLiteral("/named/export.tar")));
    settings.set(QStringLiteral("Skype History"),
                 QStringLiteral("/dropped/main.db") + QDir::listSeparator() +
                     QDir::toNativeSeparators(root + QStringLiteral("/main.db")));
    const CliResult several = runCli({QStringLiteral("histories")}, &settings);
    EXPECT_EQ(several.status, 0);
    EXPECT_EQ(several.out, QStringLiteral("/named/a.db\n/named/export.tar\n/dropped/main.db\n") +
                               QDir::toNativeSeparators(root + QStringLiteral("/main.db")) +
                               QLatin1Char('\n'));
}

TEST_F(CommandLineTest, AProgressLineOnlyOnATerminalAndNotWhenQuiet) {
    MemorySettingsStore settings;
    const QStringList arguments = exportTo({QStringLiteral("--history"), kSkype6});
    const CliResult piped = runCli(arguments, &settings, nullptr, false);
    EXPECT_EQ(piped.err, QStringLiteral("parlorix-cli: Done.\n"));
    const CliResult quiet =
        runCli(arguments + QStringList{QStringLiteral("--quiet")}, &settings, nullptr, true);
    EXPECT_EQ(quiet.err, QStringLiteral("parlorix-cli: Done.\n"));
    // With the group chats too: telling them apart before the first pass moves no line, and every
    // line drawn names what it counts.
    for (const QStringList& more : {QStringList(), QStringList{QStringLiteral("--group-chats")}}) {
        const CliResult terminal = runCli(arguments + more, &settings, nullptr, true);
        EXPECT_EQ(terminal.status, 0);
        EXPECT_TRUE(terminal.err.startsWith(QStringLiteral("\r1 of 3 chats, ")))
            << terminal.err.toStdString();
        EXPECT_FALSE(terminal.err.contains(QRegularExpression(QStringLiteral("\\d of \\d+ ,"))))
            << terminal.err.toStdString();
        EXPECT_TRUE(terminal.err.contains(QStringLiteral(" messages/s"))) << terminal.err.toStdString();
        // Taken off the screen before the box's line.
        EXPECT_TRUE(terminal.err.endsWith(QStringLiteral("\rparlorix-cli: Done.\n")))
            << terminal.err.toStdString();
    }
}

// The older export counts contacts: what the link hears of its chats (their number, the plan it is
// told, the chat asked) does not move that line.
TEST(ProgressLine, CountedByRowsTheChatsDoNotMoveIt) {
    BufferConsole console(true);
    ProgressLine line(console, true);
    line.begin(QStringLiteral("contacts"), ProgressLine::Counting::Rows);
    line.setTotal(3);
    line.chatsCounted(40);
    line.chatsPlanned({9, 2, 5});
    line.chatAsked(9);
    line.setDone(1);
    EXPECT_TRUE(line.text().startsWith(QStringLiteral("1 of 3 contacts, "))) << line.text().toStdString();
    line.begin(QStringLiteral("chats"));
    line.chatsCounted(40);
    line.chatAsked(10);
    EXPECT_TRUE(line.text().startsWith(QStringLiteral("9 of 40 chats, "))) << line.text().toStdString();
    // The contacts' chats, the groups left out, whatever the link hears; none when all are groups.
    for (const std::vector<int>& counted : {std::vector<int>{2, 5, 9}, std::vector<int>()}) {
        line.begin(QStringLiteral("chats"));
        line.countOnly(counted);
        line.chatsCounted(40);
        line.chatsPlanned({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
        line.chatAsked(6);
        const QString expected =
            counted.empty() ? QStringLiteral("0 of 0 chats, ") : QStringLiteral("2 of 3 chats, ");
        EXPECT_TRUE(line.text().startsWith(expected)) << line.text().toStdString();
    }
}

// The time left is guessed only from a few chats over a few seconds, counted from the first chat
// done: a history may read most of itself before it hands over its first chat, and a run of two
// seconds is promised no minutes. Each row: when each chat was done (ms), what the line then ends with.
TEST(ProgressLine, TheTimeLeftIsShownOnlyOnceItMeansSomething) {
    const struct {
        const char* name;
        std::vector<qint64> doneAt;
        int total;
        const char* ends;
    } rows[] = {
        {"one chat after a long read", {1900}, 330, "messages/s"},
        {"all the others at once after it", {1900, 1950, 2000, 2050, 2100}, 330, "messages/s"},
        {"a few chats in a few seconds", {1000, 2000, 3000, 4000}, 10, ", 0:06 left"},
        {"the same chats over a long read", {60000, 61000, 62000, 63000}, 10, ", 0:06 left"},
        {"too few chats however slowly", {1000, 60000}, 10, "messages/s"},
    };
    for (const auto& row : rows) {
        BufferConsole console(true);
        qint64 now = 0;
        ProgressLine line(console, true, [&] { return now; });
        line.begin(QStringLiteral("chats"));
        line.chatsCounted(row.total);
        for (size_t chat = 0; chat < row.doneAt.size(); ++chat) {
            now = row.doneAt[chat];
            line.chatAsked(static_cast<int>(chat) + 2);
        }
        EXPECT_TRUE(line.text().endsWith(QLatin1String(row.ends)))
            << row.name << ": " << line.text().toStdString();
    }
}

// The real program, as a script runs it: standard error a pipe, a history and a folder named with
// letters outside ASCII, the user's settings file left as it was.
TEST_F(CommandLineTest, TheProgramItself) {
    QTemporaryDir config;
    const QByteArray conf =
        "[Parlorix%20Suite]\nOutput%20Folder=/elsewhere/\nSkype%20History=/dropped/main.db\n";
    writeFile(config.filePath(QStringLiteral("Corvantix.conf")), conf);
    const QString history = out.filePath(QStringLiteral("Ärger и 東京/main.db"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(history).path()));
    ASSERT_TRUE(QFile::copy(kSkype6, history));
    const QString folder = out.filePath(QStringLiteral("Ausgabe ß/"));

    QProcess process;
    QProcessEnvironment environment = childEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    environment.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
    environment.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
    environment.remove(QStringLiteral("PARLORIX_SKYPE_DATA"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(PARLORIX_CLI_PATH), {QStringLiteral("export"), QStringLiteral("--history"),
                                                      history, QStringLiteral("--out"), folder});
    ASSERT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    // A line on its own, with no progress line before it (Windows ends it with CR LF).
    EXPECT_EQ(process.readAllStandardError().replace("\r\n", "\n"), QByteArray("parlorix-cli: Done.\n"));
    EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
    EXPECT_EQ(contents(folder + QStringLiteral("gohanuskas.txt")), gohanuskas());
    EXPECT_EQ(contents(config.filePath(QStringLiteral("Corvantix.conf"))), conf);

    process.start(QStringLiteral(PARLORIX_CLI_PATH), {QStringLiteral("export"), QStringLiteral("--bogus")});
    ASSERT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_TRUE(process.readAllStandardError().startsWith("parlorix-cli: Unknown option 'bogus'."));

    process.start(QStringLiteral(PARLORIX_CLI_PATH),
                  {QStringLiteral("contacts"), QStringLiteral("--history"), history});
    ASSERT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(process.readAllStandardOutput().replace("\r\n", "\n"),
              QByteArray("+93123432123\necho123\ngohanuskas\n"));
}

#ifndef Q_OS_WIN
// The command line's start removes a private copy of a history that a killed run left, whatever the
// command, and keeps a folder there that the program did not make.
TEST_F(CommandLineTest, TheStartRemovesCopiesLeftByAKilledRun) {
    QTemporaryDir home;
    const QString copies = home.filePath(QStringLiteral("cache/parlorix/history-copies"));
    const QString left = copies + QStringLiteral("/0b5c2e4a-6f1d-4c3b-9a8e-7d6f5e4c3b2a");
    const QString foreign = copies + QStringLiteral("/foreign");
    for (const QString& folder : {left, foreign})
        ASSERT_TRUE(QDir().mkpath(folder));
    for (const QString& folder : {home.filePath(QStringLiteral("cache/parlorix")), copies})
        ASSERT_TRUE(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ExeOwner));
    writeFile(left + QStringLiteral("/.parlorix-history-copy"), "");
    writeFile(left + QStringLiteral("/main.db"), "copy");
    writeFile(foreign + QStringLiteral("/notes.txt"), "mine");
    QProcess process;
    QProcessEnvironment environment = childEnvironment();
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(PARLORIX_CLI_PATH), {QStringLiteral("--version")});
    ASSERT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(QDir(copies).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("foreign")});
    EXPECT_EQ(contents(foreign + QStringLiteral("/notes.txt")), QByteArray("mine"));
}
#endif

// The history lies in the folder under the name of a contact's transcript: that contact keeps it,
// with a box that says why, and the history is not touched.
TEST_F(CommandLineTest, TheHistoryInTheFolderIsNeverWritten) {
    ASSERT_TRUE(QDir().mkdir(outFolder()));
    const QString history = QDir::toNativeSeparators(outFolder() + QStringLiteral("/gohanuskas.txt"));
    ASSERT_TRUE(QFile::copy(kSkype6, history));
    const QByteArray before = contents(history);
    const CliResult result = runCli(exportTo({QStringLiteral("--history"), history}));
    EXPECT_EQ(result.status, 1) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains(
        QStringLiteral("Cannot write '%1': it is the Skype history being read").arg(history)))
        << result.err.toStdString();
    EXPECT_TRUE(
        result.err.endsWith(QStringLiteral("parlorix-cli: kept as it was: ") + history + QLatin1Char('\n')));
    EXPECT_EQ(contents(history), before);
}

// The folder stays locked from the contacts to the group chats: a second run cannot slip in between.
TEST_F(CommandLineTest, TheLockIsHeldAcrossBothPasses) {
    FakeSkype skype;
    skype.contacts = {QStringLiteral("ann")};
    const QDateTime stamp(QDate(2021, 8, 31), QTime(15, 42, 10));
    skype.addChat(QStringLiteral("ann"), stamp, {QStringLiteral("Ann: hi")});
    FakeSkype::FakeChat& group = skype.addChat(QString(), stamp, {QStringLiteral("Ann: all")});
    group.name = QStringLiteral("#ann/$family");
    group.topic = QStringLiteral("Family");
    QList<FolderLock::State> others;
    // Each pass asks whether the history is there before it starts.
    skype.onTouch = [&](const QString& operation, const QString&) {
        if (operation == QLatin1String("running") && QFileInfo(outFolder()).isDir())
            others.append(FolderLock(outFolder() + QDir::separator()).lock());
    };
    const CliResult result = runCli(exportTo({QStringLiteral("--group-chats")}), nullptr, &skype);
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    ASSERT_FALSE(others.isEmpty());
    EXPECT_EQ(others.last(), FolderLock::State::Busy);
    EXPECT_TRUE(
        QFileInfo::exists(outFolder() + QStringLiteral("/Group chats/") +
                          GroupChatNames::nameOf(QStringLiteral("Family"), QStringLiteral("#ann/$family")) +
                          QStringLiteral(".txt")));
}

} // namespace
