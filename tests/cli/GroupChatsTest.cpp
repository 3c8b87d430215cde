#include "cli/CliHarness.h"

#include "export/ExportWindow.h"
#include "fakes/FakeSkype.h"
#include "fakes/MemorySettingsStore.h"
#include "fakes/ScopedEnv.h"
#include "skype/HistoryFiles.h"

#include "export/GroupChatNames.h"
#include "files/FolderLock.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Six groups: two with one topic and a third whose topic differs only in case, one whose topic no
// file name can hold, one without a topic, one with only events; and a one-to-one chat.
const char* const kDatabase = R"(
    CREATE TABLE Accounts (id INTEGER PRIMARY KEY, skypename TEXT);
    INSERT INTO Accounts VALUES (1, 'me');
    CREATE TABLE Conversations (id INTEGER PRIMARY KEY, identity TEXT, type INTEGER, displayname TEXT,
                                creation_timestamp INTEGER);
    CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INTEGER, author TEXT, from_dispname TEXT,
                           timestamp INTEGER, type INTEGER, body_xml TEXT);
    INSERT INTO Conversations VALUES
        (1, 'ann', 1, 'Ann', 1630424530),
        (2, '#ann/$bob;1', 2, 'Family', 1630424530),
        (3, '#bob/$cy;2', 2, 'Family', 1630454400),
        (4, '#cy/$ann;3', 2, 'a/b: c?', 1630454400),
        (5, '19:abc@thread.skype', 2, NULL, 1630454400),
        (6, '#ann/$dee;4', 2, 'Only events', 1630454400),
        (7, '#dee/$ann;5', 2, 'FAMILY', 1630454400);
    INSERT INTO Messages VALUES
        (1, 1, 'ann', 'Ann', 1630424531, 61, 'one to one'),
        (2, 2, 'ann', 'Ann', 1630424531, 61, 'hi'),
        (3, 2, 'bob', 'Bob', 1630424532, 61, 'hello &amp; <b>welcome</b>'),
        (4, 2, 'ann', 'Ann', 1630424533, 10, ''),
        (5, 3, 'bob', 'Bob', 1630454401, 61, 'second family'),
        (6, 4, 'cy', 'Cy', 1630454401, 61, 'odd name'),
        (7, 5, 'cy', '', 1630454401, 61, 'no topic'),
        (8, 6, 'ann', 'Ann', 1630454401, 10, ''),
        (9, 6, 'ann', 'Ann', 1630454402, 12, ''),
        (10, 7, 'dee', 'Dee', 1630454401, 61, 'third');
)";

// The same chats as a data export; each chat's stamp is its earliest message.
const QByteArray kExport = R"({"userId": "8:me", "exportDate": "2021-09-10T10:00", "conversations": [
  {"id": "8:ann", "displayName": "Ann", "properties": {}, "threadProperties": null, "MessageList": [
    {"id": "1", "displayName": "Ann", "originalarrivaltime": "2021-08-31T15:42:10.000Z",
     "messagetype": "RichText", "content": "one to one", "from": "8:ann", "properties": null}]},
  {"id": "19:fam1@thread.skype", "displayName": "Family", "properties": {},
   "threadProperties": {"members": "[]"}, "MessageList": [
    {"id": "4", "displayName": "Ann", "originalarrivaltime": "2021-08-31T15:42:13Z",
     "messagetype": "ThreadActivity/AddMember", "content": "<addmember/>", "from": "8:ann"},
    {"id": "3", "displayName": "Bob", "originalarrivaltime": "2021-08-31T15:42:12Z",
     "messagetype": "RichText", "content": "hello &amp; <b>welcome</b>", "from": "8:bob"},
    {"id": "2", "displayName": "Ann", "originalarrivaltime": "2021-08-31T15:42:10.5Z",
     "messagetype": "RichText", "content": "hi", "from": "8:ann"}]},
  {"id": "19:fam2@thread.skype", "displayName": "Family", "MessageList": [
    {"id": "5", "displayName": "Bob", "originalarrivaltime": "2021-09-01T00:00:00Z",
     "messagetype": "Text", "content": "second family", "from": "8:bob"}]},
  {"id": "19:odd@thread.skype", "displayName": "a/b: c?", "MessageList": [
    {"id": "6", "displayName": "Cy", "originalarrivaltime": "2021-09-01T00:00:00Z",
     "messagetype": "Text", "content": "odd name", "from": "8:cy"}]},
  {"id": "19:abc@thread.skype", "displayName": null, "MessageList": [
    {"id": "7", "displayName": "", "originalarrivaltime": "2021-09-01T00:00:00Z",
     "messagetype": "Text", "content": "no topic", "from": "8:cy"}]},
  {"id": "19:ev@thread.skype", "displayName": "Only events", "MessageList": [
    {"id": "8", "displayName": "Ann", "originalarrivaltime": "2021-09-01T00:00:00Z",
     "messagetype": "ThreadActivity/DeleteMember", "content": "<deletemember/>", "from": "8:ann"}]},
  {"id": "19:fam3@thread.skype", "displayName": "FAMILY", "MessageList": [
    {"id": "10", "displayName": "Dee", "originalarrivaltime": "2021-09-01T00:00:00Z",
     "messagetype": "Text", "content": "third", "from": "8:dee"}]},
  {"id": "48:calllogs", "displayName": null, "MessageList": []}
]})";

// The two stamps of the chats: 31 August 2021 15:42:10 and 1 September 2021 0:00 UTC.
constexpr qint64 kFirst = 1630424530;
constexpr qint64 kSecond = 1630454400;

class GroupChats : public ::testing::Test {
protected:
    void SetUp() override { env.set("LANG", "en_US.UTF-8").set("TZ", "UTC"); }

    QString groupFile(const QString& name) const {
        return out.filePath(QStringLiteral("Group chats/") + name + QStringLiteral(".txt"));
    }

    // The marks of the two families, the odd name, the group without a topic and the third family.
    void expectTheSixGroups(const QString& history, const QStringList& marks) {
        const CliResult result =
            runCli({QStringLiteral("export"), QStringLiteral("--history"), history, QStringLiteral("--out"),
                    out.path(), QStringLiteral("--group-chats")});
        ASSERT_EQ(result.status, 0) << result.err.toStdString();
        EXPECT_EQ(result.errLines(), QStringList{QStringLiteral("parlorix-cli: Done.")});
#ifdef Q_OS_WIN
        const QString odd = QStringLiteral("a%2Fb%3A c%3F");
        const QString noTopic = QStringLiteral("19%3Aabc@thread.skype");
#else
        const QString odd = QStringLiteral("a%2Fb: c?");
        const QString noTopic = QStringLiteral("19:abc@thread.skype");
#endif
        const auto file = [&](const QString& name, int mark) {
            return QStringLiteral("Group chats/%1 [%2].txt").arg(name, marks.at(mark));
        };
        QMap<QString, QByteArray> expected{
            {QStringLiteral("ann.txt"), headerAt(kFirst) + "Ann: one to one\r\n"},
            {file(QStringLiteral("Family"), 0), headerAt(kFirst) + "Ann: hi\r\nBob: hello & welcome\r\n"},
            {file(QStringLiteral("Family"), 1), headerAt(kSecond) + "Bob: second family\r\n"},
            {file(odd, 2), headerAt(kSecond) + "Cy: odd name\r\n"},
            {file(noTopic, 3), headerAt(kSecond) + "cy: no topic\r\n"},
            {file(QStringLiteral("FAMILY"), 4), headerAt(kSecond) + "Dee: third\r\n"},
        };
        EXPECT_EQ(filesBelow(out.path()), expected);
    }

    ScopedEnv env;
    HistoryFiles files;
    QTemporaryDir out;
};

// What the headers below stand for, in UTC.
TEST_F(GroupChats, HeadersAreTheExportRunsInLocalTime) {
#ifdef Q_OS_WIN
    GTEST_SKIP() << "Wine keeps the host's time zone, whatever TZ says";
#endif
    EXPECT_EQ(headerAt(kFirst), QByteArray("[8/31/2021 3:42:10 PM]"));
    EXPECT_EQ(headerAt(kSecond), QByteArray("[9/1/2021]"));
}

TEST_F(GroupChats, FromADatabase) {
    expectTheSixGroups(files.database("main.db", kDatabase),
                       {QStringLiteral("942083a2a7e1e83a"), QStringLiteral("2754140c7a0b2906"),
                        QStringLiteral("ad3b719a8c664dfe"), QStringLiteral("a6e9303eb142f12b"),
                        QStringLiteral("d2102b97a454f468")});
}

TEST_F(GroupChats, FromADataExport) {
    expectTheSixGroups(files.tar("export.tar", {{"messages.json", kExport}}),
                       {QStringLiteral("46aa6eb1fa77d4d0"), QStringLiteral("a7d58c002f4197a3"),
                        QStringLiteral("8b59960d2961125a"), QStringLiteral("a6e9303eb142f12b"),
                        QStringLiteral("3660eb0be6f27874")});
}

TEST_F(GroupChats, ARunReplacesAGroupsOldTranscriptAndLeavesOtherFilesAlone) {
    const QString history = files.database("main.db", kDatabase);
    ASSERT_TRUE(QDir(out.path()).mkdir(QStringLiteral("Group chats")));
    writeFile(groupFile(QStringLiteral("Family [942083a2]")), "old");
    writeFile(groupFile(QStringLiteral("Family")), "an earlier version's name");
    writeFile(groupFile(QStringLiteral("Only events")), "kept");
    const CliResult result = runCli({QStringLiteral("export"), QStringLiteral("--history"), history,
                                     QStringLiteral("--out"), out.path(), QStringLiteral("--group-chats"),
                                     QStringLiteral("--contact"), QStringLiteral("ann")});
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_EQ(contents(groupFile(QStringLiteral("Family [942083a2]"))),
              headerAt(kFirst) + "Ann: hi\r\nBob: hello & welcome\r\n");
    EXPECT_EQ(contents(groupFile(QStringLiteral("Family"))), QByteArray("an earlier version's name"));
    EXPECT_EQ(contents(groupFile(QStringLiteral("Only events"))), QByteArray("kept"));
}

TEST_F(GroupChats, WithoutTheOptionNoGroupIsWritten) {
    const CliResult result =
        runCli({QStringLiteral("export"), QStringLiteral("--history"), files.database("main.db", kDatabase),
                QStringLiteral("--out"), out.path()});
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_EQ(filesBelow(out.path()).keys(), QStringList{QStringLiteral("ann.txt")});
    EXPECT_FALSE(QFileInfo::exists(out.filePath(QStringLiteral("Group chats"))));
}

// A chat that cannot be read keeps its old transcript, and the run says which.
TEST_F(GroupChats, AChatThatCannotBeReadKeepsItsOldTranscript) {
    FakeSkype skype;
    skype.contacts = {QStringLiteral("ann")};
    const QDateTime stamp(QDate(2021, 8, 31), QTime(15, 42, 10));
    FakeSkype::FakeChat& team =
        skype.addChat(QString(), stamp, {QStringLiteral("Ann: hi"), QStringLiteral("Bob: hello")});
    team.topic = QStringLiteral("Team");
    team.name = QStringLiteral("a");
    FakeSkype::FakeChat& other = skype.addChat(QString(), stamp, {QStringLiteral("Cy: fine")});
    other.topic = QStringLiteral("Other");
    other.name = QStringLiteral("b");
    skype.failing.insert(QStringLiteral("body#1.2"));
    ASSERT_TRUE(QDir(out.path()).mkdir(QStringLiteral("Group chats")));
    writeFile(groupFile(QStringLiteral("Team [ca978112]")), "old");
    MemorySettingsStore settings;
    const CliResult result = runCli(
        {QStringLiteral("export"), QStringLiteral("--out"), out.path(), QStringLiteral("--group-chats")},
        &settings, &skype);
    EXPECT_EQ(result.status, 1) << result.err.toStdString();
    EXPECT_EQ(contents(groupFile(QStringLiteral("Team [ca978112]"))), QByteArray("old"));
    EXPECT_EQ(contents(groupFile(QStringLiteral("Other [3e23e8160039594a]"))),
              QByteArray("[8/31/2021 3:42:10 PM]Cy: fine\r\n"));
    const QStringList lines = result.errLines();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.filter(QStringLiteral("at line 126")).size() == 1) << result.err.toStdString();
    EXPECT_EQ(lines.last(), QStringLiteral("parlorix-cli: kept as it was: ") +
                                QDir::toNativeSeparators(groupFile(QStringLiteral("Team [ca978112]"))));
    // Nothing staged is left behind.
    EXPECT_EQ(filesBelow(out.path()).size(), 2);
}

// A group whose topic cannot be read keeps its old file, whichever that is; the other groups'
// names do not depend on it.
TEST_F(GroupChats, ATopicThatCannotBeReadKeepsThatGroupsFileAlone) {
    FakeSkype skype;
    const QDateTime stamp(QDate(2021, 8, 31), QTime(15, 42, 10));
    for (const char* id : {"a", "b"}) {
        FakeSkype::FakeChat& chat =
            skype.addChat(QString(), stamp, {QStringLiteral("Ann: ") + QLatin1String(id)});
        chat.topic = QStringLiteral("Family");
        chat.name = QString::fromLatin1(id);
    }
    skype.failing.insert(QStringLiteral("topic#1"));
    ASSERT_TRUE(QDir(out.path()).mkdir(QStringLiteral("Group chats")));
    writeFile(groupFile(QStringLiteral("Family [ca978112]")), "old a");
    MemorySettingsStore settings;
    const CliResult result = runCli(
        {QStringLiteral("export"), QStringLiteral("--out"), out.path(), QStringLiteral("--group-chats")},
        &settings, &skype);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(contents(groupFile(QStringLiteral("Family [ca978112]"))), QByteArray("old a"));
    EXPECT_EQ(contents(groupFile(QStringLiteral("Family [3e23e8160039594a]"))),
              QByteArray("[8/31/2021 3:42:10 PM]Ann: b\r\n"));
    EXPECT_EQ(filesBelow(out.path()).size(), 2);
}

// Groups of one topic come, go and change their topic from one run to the next: a file that held
// one group's chat never gets another's. Each row is the next run's history, its groups as id and
// topic in the history's order.
TEST_F(GroupChats, AGroupsFileNeverGetsAnotherGroupsChatAcrossRuns) {
    using Groups = QList<QPair<QString, QString>>;
    const QString family = QStringLiteral("Family");
    const QList<Groups> runs{
        {{QStringLiteral("a"), family}, {QStringLiteral("b"), family}},
        {{QStringLiteral("b"), family}},                                // the first group is gone
        {{QStringLiteral("c"), family}, {QStringLiteral("b"), family}}, // a new one comes first
        {{QStringLiteral("c"), family}, {QStringLiteral("b"), QStringLiteral("Cousins")}}, // a new topic
    };
    QMap<QString, QByteArray> owner; // file name: the line of the group whose chat it held
    for (const Groups& groups : runs) {
        FakeSkype skype;
        for (const auto& [id, topic] : groups) {
            FakeSkype::FakeChat& chat = skype.addChat(QString(), QDateTime(QDate(2021, 8, 31), QTime(0, 0)),
                                                      {QStringLiteral("Ann: ") + id});
            chat.name = id;
            chat.topic = topic;
        }
        MemorySettingsStore settings;
        const CliResult result = runCli(
            {QStringLiteral("export"), QStringLiteral("--out"), out.path(), QStringLiteral("--group-chats")},
            &settings, &skype);
        ASSERT_EQ(result.status, 0) << result.err.toStdString();
        for (auto [path, bytes] : filesBelow(out.path()).asKeyValueRange()) {
            const QByteArray line = bytes.mid(bytes.indexOf(']') + 1);
            EXPECT_EQ(owner.value(path, line), line) << path.toStdString();
            owner.insert(path, line);
        }
    }
    // Every group has its file, and b's chat stands under its old topic and its new one.
    EXPECT_EQ(owner.keys(), (QStringList{QStringLiteral("Group chats/Cousins [3e23e8160039594a].txt"),
                                         QStringLiteral("Group chats/Family [2e7d2c03a9507ae2].txt"),
                                         QStringLiteral("Group chats/Family [3e23e8160039594a].txt"),
                                         QStringLiteral("Group chats/Family [ca978112ca1bbdca].txt")}));
}

// Two ids whose marks agree in their first eight digits, as earlier versions named the files with.
const QString kOneEarlierMark = QStringLiteral("19:0000886b@thread.skype");
const QString kTheOtherOne = QStringLiteral("19:0000cc51@thread.skype");

// Groups that would have one file's name are each written to a file of their own, and a file named
// by an earlier version is its group's where it can be no other's. Each row: the groups of the
// history (id and line) and the files before the run; the files after it.
TEST_F(GroupChats, GroupsThatWouldShareANameAreToldApart) {
    using Files = QMap<QString, QByteArray>;
    const QString earlier = QStringLiteral("Group chats/Family [02ab1224].txt");
    const QString one = QStringLiteral("Group chats/Family [02ab122408e3bdce].txt");
    const QString other = QStringLiteral("Group chats/Family [02ab122449e85f4d].txt");
    ASSERT_EQ(GroupChatNames::mark(kOneEarlierMark, 8), GroupChatNames::mark(kTheOtherOne, 8));
    const QByteArray header = "[8/31/2021]";
    const struct {
        const char* name;
        QList<QPair<QString, QString>> groups;
        Files before;
        Files after;
    } rows[] = {
        {"two groups whose earlier marks agree",
         {{kOneEarlierMark, QStringLiteral("Ann: one")}, {kTheOtherOne, QStringLiteral("Bob: other")}},
         {},
         {{one, header + "Ann: one\r\n"}, {other, header + "Bob: other\r\n"}}},
        {"an earlier version's file that either could be",
         {{kTheOtherOne, QStringLiteral("Bob: other")}, {kOneEarlierMark, QStringLiteral("Ann: one")}},
         {{earlier, "old"}},
         {{earlier, "old"}, {one, header + "Ann: one\r\n"}, {other, header + "Bob: other\r\n"}}},
        {"an earlier version's file of the one group that has its name",
         {{kOneEarlierMark, QStringLiteral("Ann: one")}},
         {{earlier, "old"}},
         {{earlier, header + "Ann: one\r\n"}}},
        {"one group listed twice",
         {{kOneEarlierMark, QStringLiteral("Ann: one")}, {kOneEarlierMark, QStringLiteral("Ann: again")}},
         {},
         {{one, header + "Ann: one\r\n"},
          {QStringLiteral("Group chats/Family [02ab122408e3bdce] (2).txt"), header + "Ann: again\r\n"}}},
    };
    for (const auto& row : rows) {
        QTemporaryDir folder;
        ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("Group chats")));
        for (auto [name, bytes] : row.before.asKeyValueRange())
            writeFile(folder.filePath(name), bytes);
        FakeSkype skype;
        for (const auto& [id, line] : row.groups) {
            FakeSkype::FakeChat& chat =
                skype.addChat(QString(), QDateTime(QDate(2021, 8, 31), QTime(0, 0)), {line});
            chat.name = id;
            chat.topic = QStringLiteral("Family");
        }
        MemorySettingsStore settings;
        const CliResult result = runCli({QStringLiteral("export"), QStringLiteral("--out"), folder.path(),
                                         QStringLiteral("--group-chats")},
                                        &settings, &skype);
        EXPECT_EQ(result.status, 0) << row.name << "\n" << result.err.toStdString();
        EXPECT_EQ(result.errLines(), QStringList{QStringLiteral("parlorix-cli: Done.")}) << row.name;
        EXPECT_EQ(filesBelow(folder.path()), row.after) << row.name;
    }
}

// A group without an id cannot be told from another group of its topic: one run's such group never
// replaces the file an earlier run wrote for another.
TEST_F(GroupChats, AGroupWithoutAnIdIsNotWritten) {
    for (const char* line : {"Ann: first", "Bob: second"}) {
        FakeSkype skype;
        FakeSkype::FakeChat& chat =
            skype.addChat(QString(), QDateTime(QDate(2021, 8, 31), QTime(0, 0)), {QLatin1String(line)});
        chat.name = QString();
        chat.topic = QStringLiteral("Family");
        MemorySettingsStore settings;
        const CliResult result = runCli(
            {QStringLiteral("export"), QStringLiteral("--out"), out.path(), QStringLiteral("--group-chats")},
            &settings, &skype);
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(result.err.contains(QStringLiteral("The group chat 'Family' has no id")))
            << result.err.toStdString();
        EXPECT_TRUE(filesBelow(out.path()).isEmpty());
    }
}

// The group pass's folder replaced before a group's file is started: the run neither aborts nor
// writes into the new folder, and lets go of its locks.
TEST_F(GroupChats, AGroupChatsFolderReplacedDuringThePassIsNotTheOneWrittenTo) {
    FakeSkype skype;
    for (const char* id : {"a", "b"}) {
        FakeSkype::FakeChat& chat = skype.addChat(QString(), QDateTime(QDate(2021, 8, 31), QTime(0, 0)),
                                                  {QStringLiteral("Ann: ") + QLatin1String(id)});
        chat.name = QString::fromLatin1(id);
        chat.topic = QStringLiteral("Family");
    }
    const QString groups = out.filePath(QStringLiteral("Group chats"));
    const QString moved = out.filePath(QStringLiteral("moved"));
    skype.onTouch = [&](const QString& operation, const QString& object) {
        if (operation == QLatin1String("topic") && object == QLatin1String("2") &&
            !QFileInfo::exists(moved)) {
#ifdef Q_OS_WIN
            // The run holds the folder open: Windows lets nobody rename it meanwhile.
            EXPECT_FALSE(QDir().rename(groups, moved));
#else
            ASSERT_TRUE(QDir().rename(groups, moved));
            ASSERT_TRUE(QDir().mkdir(groups));
#endif
        }
    };
    MemorySettingsStore settings;
    const CliResult result = runCli(
        {QStringLiteral("export"), QStringLiteral("--out"), out.path(), QStringLiteral("--group-chats")},
        &settings, &skype);
    // The folder opened at the start is the one written to, wherever it went: the run ends normally
    // and the folder that took its name meanwhile is not touched.
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
#ifdef Q_OS_WIN
    const QString written = groups;
#else
    const QString written = moved;
#endif
    EXPECT_TRUE(filesBelow(written).contains(QStringLiteral("Family [ca978112ca1bbdca].txt")));
    EXPECT_TRUE(filesBelow(written).contains(QStringLiteral("Family [3e23e8160039594a].txt")));
    // No lock is left where a later run would meet it.
    EXPECT_FALSE(QFileInfo::exists(out.filePath(QStringLiteral(".parlorix.lock"))));
#ifndef Q_OS_WIN
    EXPECT_TRUE(filesBelow(groups).isEmpty());
#endif
}

#ifndef Q_OS_WIN
// The output folder moved away and another made under its path between the contacts and the group
// chats: the groups go to the folder the run opened, wherever it is now, under its lock, and nothing
// goes to the folder that took its path.
TEST_F(GroupChats, AFolderMovedBetweenThePassesIsTheOneTheGroupsGoTo) {
    FakeSkype skype;
    skype.contacts = {QStringLiteral("ann")};
    skype.addChat(QStringLiteral("ann"), QDateTime(QDate(2021, 8, 31), QTime(0, 0)),
                  {QStringLiteral("Ann: hi")});
    FakeSkype::FakeChat& group =
        skype.addChat(QString(), QDateTime(QDate(2021, 8, 31), QTime(0, 0)), {QStringLiteral("Ann: all")});
    group.name = QStringLiteral("#ann/$family");
    group.topic = QStringLiteral("Family");
    const QString chats = out.filePath(QStringLiteral("chats"));
    const QString moved = out.filePath(QStringLiteral("moved"));
    const QString groupFile =
        QStringLiteral("Group chats/") +
        GroupChatNames::nameOf(QStringLiteral("Family"), QStringLiteral("#ann/$family")) +
        QStringLiteral(".txt");
    int runningAsked = 0;
    QList<FolderLock::State> whileGroupsWritten;
    // The history is asked whether it is there when the run opens it, lists the contacts and as each
    // pass starts.
    skype.onTouch = [&](const QString& operation, const QString&) {
        if (operation == QLatin1String("running") && ++runningAsked == 4) {
            ASSERT_TRUE(QDir().rename(chats, moved));
            ASSERT_TRUE(QDir().mkdir(chats));
        }
        if (operation == QLatin1String("topic"))
            whileGroupsWritten << FolderLock(moved + QLatin1Char('/')).lock()
                               << FolderLock(chats + QLatin1Char('/')).lock();
    };
    MemorySettingsStore settings;
    const CliResult result =
        runCli({QStringLiteral("export"), QStringLiteral("--out"), chats, QStringLiteral("--group-chats")},
               &settings, &skype);
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_EQ(runningAsked, 4);
    EXPECT_EQ(filesBelow(moved).keys(), (QStringList{groupFile, QStringLiteral("ann.txt")}));
    EXPECT_EQ(filesBelow(chats), (QMap<QString, QByteArray>()));
    EXPECT_EQ(QDir(chats).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    // The group pass reads the topics before it names the files, and again as it writes them: the
    // folder the run opened is locked throughout.
    ASSERT_FALSE(whileGroupsWritten.isEmpty());
    for (qsizetype i = 0; i < whileGroupsWritten.size(); i += 2)
        EXPECT_EQ(whileGroupsWritten.at(i), FolderLock::State::Busy) << i;
}

TEST_F(GroupChats, AreNeverWrittenThroughALinkedSubfolder) {
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QFile::link(elsewhere.path(), out.filePath(QStringLiteral("Group chats"))));
    const CliResult result =
        runCli({QStringLiteral("export"), QStringLiteral("--history"), files.database("main.db", kDatabase),
                QStringLiteral("--out"), out.path(), QStringLiteral("--group-chats")});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.contains(QStringLiteral("is a link"))) << result.err.toStdString();
    EXPECT_TRUE(filesBelow(elsewhere.path()).isEmpty());
    EXPECT_EQ(contents(out.filePath(QStringLiteral("ann.txt"))), headerAt(kFirst) + "Ann: one to one\r\n");
}
#endif

TEST(GroupChatNames, SafeNamesFollowTheRulesOfHandlesAndNeverLeaveTheFolder) {
    EXPECT_EQ(GroupChatNames::safeName(QStringLiteral("Family"), QStringLiteral("19:x"), false),
              QStringLiteral("Family"));
    EXPECT_EQ(GroupChatNames::safeName(QString(), QStringLiteral("19:x@thread.skype"), false),
              QStringLiteral("19:x@thread.skype"));
    EXPECT_EQ(GroupChatNames::safeName(QStringLiteral("  "), QStringLiteral("id"), false),
              QStringLiteral("id"));
    EXPECT_EQ(GroupChatNames::safeName(QString(), QString(), false), QStringLiteral("group"));
    EXPECT_EQ(GroupChatNames::safeName(QStringLiteral("a/b\nc%"), QString(), false),
              QStringLiteral("a%2Fb%0Ac%"));
    EXPECT_EQ(GroupChatNames::safeName(QStringLiteral(".."), QString(), false), QStringLiteral("%2E."));
    EXPECT_EQ(GroupChatNames::safeName(QStringLiteral("."), QString(), false), QStringLiteral("%2E"));
    // Windows: as a handle's transcript name.
    EXPECT_EQ(GroupChatNames::safeName(QStringLiteral("CON"), QString(), true), QStringLiteral("%43ON"));
    EXPECT_EQ(GroupChatNames::safeName(QStringLiteral("a:b."), QString(), true), QStringLiteral("a%3Ab%2E"));
    EXPECT_EQ(GroupChatNames::safeName(QStringLiteral(".."), QString(), true), QStringLiteral("%2E%2E"));
}

TEST(GroupChatNames, LongNamesAreCutWholeCharactersAndEscapesAtATime) {
    EXPECT_EQ(GroupChatNames::safeName(QString(300, QLatin1Char('x')), QString(), false),
              QString(GroupChatNames::kMaxBytes, QLatin1Char('x')));
    // Four bytes each in UTF-8, two UTF-16 units: 50 fit, and no half of one is left.
    QString emoji;
    for (int i = 0; i < 80; ++i)
        emoji += QStringLiteral("\U0001F600");
    const QString cut = GroupChatNames::safeName(QStringLiteral("a") + emoji, QString(), false);
    EXPECT_EQ(cut, QStringLiteral("a") + emoji.left(98));
    // Three bytes per escape: 66 escapes, none cut in two; a dot a cut leaves at the end, whose escape
    // would not fit, goes too.
    EXPECT_EQ(GroupChatNames::safeName(QString(300, QLatin1Char('?')), QString(), true),
              QStringLiteral("%3F").repeated(66));
    EXPECT_EQ(GroupChatNames::safeName(QStringLiteral("abc.defgh"), QString(), true, 4),
              QStringLiteral("abc"));
}

// macOS keeps names decomposed, where an accented letter or a Hangul syllable takes more bytes than
// composed: a long topic of them still fits once the file system has decomposed it.
TEST(GroupChatNames, LongNamesFitAlsoDecomposed) {
    const QString rows[] = {QStringLiteral("\u00E9"), QStringLiteral("\uD55C"), QStringLiteral("\u1F82")};
    for (const QString& letter : rows) {
        const QString name = GroupChatNames::nameOf(letter.repeated(300), QStringLiteral("a"));
        const QString topic = name.chopped(19);
        EXPECT_LE(name.normalized(QString::NormalizationForm_D).toUtf8().size(), GroupChatNames::kMaxBytes)
            << topic.size();
        // Cut whole letters at a time, as many as fit.
        EXPECT_EQ(topic, letter.repeated(topic.size() / letter.size()));
        EXPECT_GT(QString(topic + letter).normalized(QString::NormalizationForm_D).toUtf8().size(),
                  GroupChatNames::kMaxBytes - 19);
    }
}

// A group's name is its safe topic (else id), cut to leave room for the mark of its id, which every
// group's name ends with; a name taken before in a run, as Windows and macOS compare names, is told
// apart as a copy. An earlier version's name, with eight digits, is taken where its file is there
// and no other group of the run has that name too.
TEST(GroupChatNames, NamesEndWithTheMarkOfTheGroupsId) {
    const struct {
        QString topic;
        QString id;
        QString name;
    } rows[] = {
        {QStringLiteral("Family"), QStringLiteral("a"), QStringLiteral("Family [ca978112ca1bbdca]")},
        {QStringLiteral("Family"), QStringLiteral("b"), QStringLiteral("Family [3e23e8160039594a]")},
        {QString(), QStringLiteral("a"), QStringLiteral("a [ca978112ca1bbdca]")},
        {QString(300, QLatin1Char('y')), QStringLiteral("a"),
         QString(GroupChatNames::kMaxBytes - 19, QLatin1Char('y')) + QStringLiteral(" [ca978112ca1bbdca]")},
    };
    for (const auto& row : rows)
        EXPECT_EQ(GroupChatNames::nameOf(row.topic, row.id), row.name) << row.name.toStdString();
    EXPECT_EQ(GroupChatNames::earlierNameOf(QString(300, QLatin1Char('y')), QStringLiteral("a")),
              QString(GroupChatNames::kMaxBytes - 11, QLatin1Char('y')) + QStringLiteral(" [ca978112]"));

    QStringList there{QStringLiteral("Family [3e23e816]"), QStringLiteral("Cousins [ca978112]")};
    const auto exists = [&](const QString& name) { return there.contains(name); };
    GroupChatNames names;
    for (const char* id : {"a", "b", "b", "c"})
        names.expect(QStringLiteral("Family"), QLatin1String(id));
    EXPECT_EQ(names.take(QStringLiteral("Caf\u00E9"), QStringLiteral("a"), exists),
              QStringLiteral("Caf\u00E9 [ca978112ca1bbdca]"));
    EXPECT_EQ(names.take(QStringLiteral("CAFE\u0301"), QStringLiteral("a"), exists),
              QStringLiteral("CAFE\u0301 [ca978112ca1bbdca] (2)"));
    EXPECT_EQ(names.take(QStringLiteral("Cousins"), QStringLiteral("a"), exists),
              QStringLiteral("Cousins [ca978112]"));
    // b is listed twice: the earlier file may hold either, and stays as it is.
    EXPECT_EQ(names.take(QStringLiteral("Family"), QStringLiteral("b"), exists),
              QStringLiteral("Family [3e23e8160039594a]"));
    EXPECT_EQ(names.take(QStringLiteral("Family"), QStringLiteral("b"), exists),
              QStringLiteral("Family [3e23e8160039594a] (2)"));
}

} // namespace
