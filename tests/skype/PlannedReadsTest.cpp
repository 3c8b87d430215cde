#include "HistoryFiles.h"

#include "skype/HistoryRoot.h"

#include <SQLiteCpp/Database.h>

#include <QTemporaryDir>

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

} // namespace
