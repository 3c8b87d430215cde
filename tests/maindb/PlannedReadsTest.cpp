#include "fakes/ScopedEnv.h"
#include "skype/HistoryFiles.h"

#include "maindb/DatabaseHistory.h"
#include "skype/HistoryRoot.h"

#include "base/Failure.h"

#include <SQLiteCpp/Database.h>

#include <QTemporaryDir>

#include <functional>
#include <numeric>

#include <gtest/gtest.h>

namespace {

// Chats read as told beforehand, one apart or more (the group chats among all): each gives its own
// messages, also when the caller passes over a planned chat, reads one that was not planned, or
// breaks off and starts again.
TEST(HistoryRoot, PlannedReadsGiveEachChatItsOwnMessages) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("main.db"));
    const QString json = dir.filePath(QStringLiteral("messages.json"));
    writeSyntheticHistory({13, 9, 4, 1500}, db, json);
    for (const QString& path : {db, json}) {
        auto expected = [&](int position) {
            auto single = std::make_shared<HistoryRoot>([&] { return std::optional<QString>(path); });
            return linesOf(*single->chats()->item(position));
        };
        auto root = std::make_shared<HistoryRoot>([&] { return std::optional<QString>(path); });
        const auto chats = root->chats();
        const std::vector<int> plan{2, 4, 5, 7, 9, 10, 12, 13};
        chats->willRead(plan);
        for (const int position : {2, 4, 7, 1, 9, 12, 13}) // 5 and 10 passed over, 1 not planned
            EXPECT_EQ(linesOf(*chats->item(position)), expected(position))
                << path.toStdString() << " " << position;
        chats->willRead(plan);
        for (const int position : plan)
            EXPECT_EQ(linesOf(*chats->item(position)), expected(position))
                << path.toStdString() << " " << position;
    }
}

// A chat the plan names again (a group chat of several rows) is read once and kept until its last
// planned read: a client that changes its messages in between changes nothing for the run. After
// its last planned read, or when the caller passes over it for good, it is read again when asked.
TEST(HistoryRoot, AChatPlannedAgainIsReadOnceAndLetGoAfterItsLastPlannedRead) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("main.db"));
    writeSyntheticHistory({9, 6, 3, 1200}, db, QString());
    std::vector<QStringList> before;
    {
        auto single = std::make_shared<HistoryRoot>([&] { return std::optional<QString>(db); });
        for (int position = 1; position <= single->chats()->count(); ++position)
            before.push_back(linesOf(*single->chats()->item(position)));
    }
    auto root = std::make_shared<HistoryRoot>([&] { return std::optional<QString>(db); });
    const auto chats = root->chats();
    ASSERT_GE(chats->count(), 6);
    const auto changeMessagesOf = [&](int position) {
        SQLite::Database client(db.toStdString(), SQLite::OPEN_READWRITE);
        client.setBusyTimeout(60000); // a reader ahead may hold its lock for a moment
        client.exec("UPDATE Messages SET body_xml = 'changed' WHERE convo_id = (SELECT id FROM Conversations "
                    "ORDER BY id LIMIT 1 "
                    "OFFSET " +
                    std::to_string(position - 1) + ")");
    };
    const auto lines = [&](int position) { return linesOf(*chats->item(position)); };
    // The plan's second read of 1 lies beyond what is read ahead when the client changes it.
    chats->willRead({1, 2, 3, 4, 5, 6, 1, 3, 2, 4});
    EXPECT_EQ(lines(1), before[0]);
    EXPECT_EQ(lines(2), before[1]);
    changeMessagesOf(1);
    changeMessagesOf(2);
    for (const int position : {3, 4, 5, 6})
        EXPECT_EQ(lines(position), before[static_cast<size_t>(position - 1)]);
    EXPECT_EQ(lines(1), before[0]); // kept, not read again
    EXPECT_EQ(lines(4), before[3]); // passes over 3 and 2 for good
    EXPECT_NE(lines(1), before[0]); // read again, as the history holds it now
    EXPECT_NE(lines(2), before[1]);
    EXPECT_EQ(lines(5), before[4]); // not planned any more, read when asked
}

// Chats read along a plan, from one pass over the table, give each chat what its own query gives: in
// any order, a chat named many times, and with a buffer smaller than any one chat, set aside in a
// file, or where no file can be made for it. Times and numbers that tie or are missing sort as the query
// sorts them, and a chat holding a value the pass does not sort (a time in fractions) is read by its own
// query; so are the chats of a later plan of a few, once a pass found the table and its index agreeing.
// Two chats of one id fail both ways.
TEST(DatabaseHistory, ReadsAlongAnyPlanGiveWhatEachChatsOwnQueryGives) {
    HistoryFiles files;
    QTemporaryDir dir;
    const QString indexed = dir.filePath(QStringLiteral("indexed.db"));
    const QString bare = dir.filePath(QStringLiteral("bare.db"));
    writeSyntheticHistory({13, 9, 4, 1500}, indexed, QString());
    writeSyntheticHistory({13, 9, 4, 1500}, bare, QString(), false);
    const QString odd = files.database("odd.db", R"(
        CREATE TABLE Accounts (id INTEGER PRIMARY KEY);
        CREATE TABLE Conversations (id INTEGER, identity TEXT, type INTEGER);
        CREATE TABLE Messages (id INTEGER, convo_id INTEGER, author TEXT, from_dispname TEXT,
                               timestamp INTEGER, type INTEGER, body_xml TEXT);
        CREATE INDEX IX_Messages_convo_id_timestamp ON Messages (convo_id, timestamp);
        INSERT INTO Conversations VALUES (1, 'ann', 1), (2, 'bob', 1), (3, 'cy', 1), (4, 'dee', 1),
            (4, 'dee again', 1);
        INSERT INTO Messages VALUES (5, 1, 'ann', 'Ann', 20, 61, 'five'), (4, 1, 'ann', NULL, 20, 61, 'four'),
            (NULL, 1, 'ann', '', 20, 61, 'no number'), (9, 1, 'ann', 'Ann', NULL, 61, 'no time'),
            (1, 1, 'ann', 'Ann', 30, 10, 'an event'), (2, 1, 'ann', 'Ann', 30, NULL, 'no type'),
            (3, 2, 'bob', 'Bob', 10.5, 61, 'a fraction'), (6, 2, 'bob', 'Bob', 10, 61, 'whole'),
            (7, 3, 'cy', 'Cy', 10, 30, NULL), (8, 3, 'cy', 'Cy', 11, 61, 'hi'),
            (10, 4, 'dee', 'Dee', 12, 61, 'whose?');
    )");
    const auto inOrder = [](size_t chats) {
        std::vector<size_t> plan(chats);
        std::iota(plan.begin(), plan.end(), size_t(0));
        return plan;
    };
    const auto reversed = [&](size_t chats) {
        std::vector<size_t> plan = inOrder(chats);
        std::reverse(plan.begin(), plan.end());
        return plan;
    };
    const auto repeated = [](size_t chats) {
        return std::vector<size_t>{chats - 1, 0, chats - 1, 1, chats / 2, chats - 1, 0, 1};
    };
    const struct {
        const char* name;
        std::function<std::vector<size_t>(size_t)> plan;
        size_t bufferBytes;
        bool noTemporaryFiles;
    } cases[] = {
        {"in order", inOrder, DatabaseHistory::kBufferBytes, false},
        {"reversed", reversed, DatabaseHistory::kBufferBytes, false},
        {"a chat named many times", repeated, DatabaseHistory::kBufferBytes, false},
        {"in order, set aside", inOrder, 256, false},
        {"a chat named many times, set aside", repeated, 256, false},
        {"no temporary file for what does not fit", repeated, 256, true},
    };
    // A chat its own query refuses (a time in fractions is no time) is refused along the plan too.
    const auto outcome = [](DatabaseHistory& history, size_t chat) {
        try {
            return linesOf(history.messages(chat).messages);
        } catch (const Failure& failure) {
            return QStringList{QStringLiteral("failed: ") + failure.description()};
        }
    };
    for (const QString& path : {indexed, bare, odd}) {
        DatabaseHistory alone(path);
        std::vector<QStringList> expected;
        for (size_t chat = 0; chat < alone.chats().size(); ++chat)
            expected.push_back(outcome(alone, chat));
        if (path == odd) {
            for (const size_t dee : {3, 4})
                EXPECT_TRUE(expected.at(dee).value(0).startsWith(QLatin1String("failed: "))) << dee;
        }
        for (const auto& row : cases) {
            ScopedEnv env;
            if (row.noTemporaryFiles) {
                // A file where the folder of temporary files should be.
                const QByteArray nowhere = QFile::encodeName(path);
                env.set("TMPDIR", nowhere).set("TMP", nowhere).set("TEMP", nowhere);
            }
            DatabaseHistory history(path);
            history.setBufferBytes(row.bufferBytes);
            const std::vector<size_t> plan = row.plan(history.chats().size());
            ASSERT_TRUE(history.planReads(plan));
            for (const size_t chat : plan)
                EXPECT_EQ(outcome(history, chat), expected[chat])
                    << path.toStdString() << ", " << row.name << ", chat " << chat;
            // A later plan of a few chats, as the groups after every contact.
            const std::vector<size_t> few{history.chats().size() - 1, 0};
            ASSERT_TRUE(history.planReads(few));
            for (const size_t chat : few)
                EXPECT_EQ(outcome(history, chat), expected[chat])
                    << path.toStdString() << ", " << row.name << ", then chat " << chat;
        }
    }
}

// A run that tells every pass's chats before its first (the contacts, then the groups again) reads
// the table once for all of them: each pass telling its own part goes on with that reading, and
// what the client changes in between changes nothing for the run. A plan that does not go on with
// it is read anew.
TEST(DatabaseHistory, PassesToldTogetherAreReadInOnePass) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("main.db"));
    writeSyntheticHistory({9, 6, 3, 1200}, db, QString());
    const auto outcome = [](DatabaseHistory& history, size_t chat) {
        return linesOf(history.messages(chat).messages);
    };
    DatabaseHistory history(db);
    const size_t chats = history.chats().size();
    ASSERT_GE(chats, 3u);
    std::vector<size_t> contacts(chats);
    std::iota(contacts.begin(), contacts.end(), size_t(0));
    const std::vector<size_t> groups{chats - 1, 0};
    std::vector<size_t> whole = contacts;
    whole.insert(whole.end(), groups.begin(), groups.end());
    ASSERT_TRUE(history.planReads(whole));
    ASSERT_TRUE(history.planReads(contacts));
    std::vector<QStringList> before;
    for (const size_t chat : contacts)
        before.push_back(outcome(history, chat));
    {
        SQLite::Database client(db.toStdString(), SQLite::OPEN_READWRITE);
        client.exec("UPDATE Messages SET body_xml = 'changed'");
    }
    ASSERT_TRUE(history.planReads(groups));
    for (const size_t chat : groups)
        EXPECT_EQ(outcome(history, chat), before[chat]) << chat;
    ASSERT_TRUE(history.planReads({1}));
    EXPECT_NE(outcome(history, 1), before[1]);
}

} // namespace
