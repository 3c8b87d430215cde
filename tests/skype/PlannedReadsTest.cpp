#include "DatabaseWriter.h"
#include "ExportWriter.h"

#include "skype/HistoryRoot.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QStringList linesOf(const Chat& chat) {
    QStringList lines{chat.name() + QLatin1Char(' ') + chat.timeStamp().toString(Qt::ISODate)};
    const auto messages = chat.messages();
    for (int k = 1; k <= messages->count(); ++k)
        lines.append(messages->item(k)->senderName() + QStringLiteral(": ") + messages->item(k)->body());
    return lines;
}

// Chats read as told beforehand, one apart or more (the group chats among all): each gives its own
// messages, also when the caller passes over a planned chat, reads one that was not planned, or
// breaks off and starts again.
TEST(HistoryRoot, PlannedReadsGiveEachChatItsOwnMessages) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("main.db"));
    const QString json = dir.filePath(QStringLiteral("messages.json"));
    SyntheticHistory history({13, 9, 4, 1500});
    {
        DatabaseWriter database(db, history, true);
        ExportWriter exporter(json, history);
        for (int i = 0; i < history.conversationCount(); ++i) {
            const auto conversation = history.conversation(i);
            database.add(conversation);
            exporter.add(conversation);
        }
        database.finish();
        exporter.finish();
    }
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

} // namespace
