#include "ExportWriter.h"
#include "HistoryFiles.h"

#include "dataexport/ExportHistory.h"
#include "maindb/DatabaseHistory.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// The same synthetic history written both ways reads the same either way.
TEST(SameHistory, DatabaseAndExportGiveTheSameContactsChatsAndMessages) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("main.db"));
    const QString json = dir.filePath(QStringLiteral("messages.json"));
    const QString tar = dir.filePath(QStringLiteral("export.tar"));
    writeSyntheticHistory({42, 15, 4, 3000}, db, json);
    ExportWriter::packTar(json, tar);

    DatabaseHistory fromDatabase(db);
    ExportHistory fromExport(tar, ExportHistory::Container::Tar);
    EXPECT_EQ(fromDatabase.contacts(), fromExport.contacts());
    EXPECT_EQ(fromDatabase.contacts().size(), 15);
    ASSERT_EQ(fromDatabase.chats().size(), fromExport.chats().size());
    size_t total = 0;
    bool sawNonLatin = false;
    for (size_t chat = 0; chat < fromDatabase.chats().size(); ++chat) {
        EXPECT_EQ(fromDatabase.chats()[chat].partner, fromExport.chats()[chat].partner) << chat;
        const auto a = fromDatabase.messages(chat).messages;
        const auto b = fromExport.messages(chat).messages;
        ASSERT_EQ(a.size(), b.size()) << chat;
        for (size_t m = 0; m < a.size(); ++m) {
            EXPECT_EQ(a[m].senderName(), b[m].senderName()) << chat << "/" << m;
            EXPECT_EQ(a[m].body(), b[m].body()) << chat << "/" << m;
            sawNonLatin = sawNonLatin || a[m].body().contains(QStringLiteral("привет"));
        }
        EXPECT_EQ(fromDatabase.timeStamp(chat), fromExport.timeStamp(chat)) << chat;
        total += a.size();
    }
    // Removed messages and events are left out, so fewer than written, but most are there.
    EXPECT_GT(total, 2500u);
    EXPECT_LT(total, 3000u);
    EXPECT_TRUE(sawNonLatin);
}

TEST(SameHistory, TheGeneratorIsDeterministic) {
    SyntheticHistory a({9, 5, 2, 200});
    SyntheticHistory b({9, 5, 2, 200});
    for (int i = a.conversationCount() - 1; i >= 0; --i) {
        const auto x = a.conversation(i);
        const auto y = b.conversation(i);
        ASSERT_EQ(x.messages.size(), y.messages.size());
        EXPECT_EQ(x.identity, y.identity);
        for (size_t m = 0; m < x.messages.size(); ++m)
            EXPECT_EQ(x.messages[m].markup, y.messages[m].markup);
    }
}

} // namespace

namespace {

TEST(SameHistory, ADatabaseWithoutTheClientsIndexReadsTheSame) {
    QTemporaryDir dir;
    writeSyntheticHistory({11, 6, 2, 800}, dir.filePath(QStringLiteral("indexed.db")), QString(), true);
    writeSyntheticHistory({11, 6, 2, 800}, dir.filePath(QStringLiteral("plain.db")), QString(), false);
    DatabaseHistory a(dir.filePath(QStringLiteral("indexed.db")));
    DatabaseHistory b(dir.filePath(QStringLiteral("plain.db")));
    ASSERT_EQ(a.chats().size(), b.chats().size());
    for (size_t chat = 0; chat < a.chats().size(); ++chat) {
        const auto x = a.messages(chat).messages;
        const auto y = b.messages(chat).messages;
        ASSERT_EQ(x.size(), y.size());
        for (size_t m = 0; m < x.size(); ++m)
            EXPECT_EQ(x[m].body(), y[m].body());
    }
}

} // namespace
