#include "ExportWindow.h"
#include "fakes/RealHistoryWindow.h"
#include "fakes/RecordingProgress.h"
#include "skype/HistoryFiles.h"
#include "skype/HistoryRoot.h"

#include "export/GroupChatExport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

// What the link tells the front ends while the exports read: the progress line and the window take
// their counts from it alone.
namespace {

enum class Pass { ExportRun, OlderExport, GroupChats };

class ReadProgressTest : public ExportWindow {
protected:
    ReadProgressTest()
        : ExportWindow("UTC") {}
    void SetUp() override {
        ExportWindow::SetUp();
        writeSyntheticHistory({3, 6, 2, 900}, historyDir.filePath(QStringLiteral("main.db")),
                              historyDir.filePath(QStringLiteral("messages.json")));
    }
    QString history(const char* name) const { return historyDir.filePath(QString::fromUtf8(name)); }

    QTemporaryDir historyDir;
};

// The chats of a history as a reader without progress sees them.
struct Expected {
    int chats = 0;
    std::vector<int> all;
    std::vector<int> groups;
    // Messages of the chats whose partner is one of the contacts, of the groups, and of the chats
    // whose name holds a contact's handle (once per contact).
    qint64 contactMessages = 0;
    qint64 groupMessages = 0;
    qint64 namedMessages = 0;
};

Expected expectedOf(const QString& path, const QStringList& contacts) {
    Expected expected;
    auto root = std::make_shared<HistoryRoot>([&] { return QStringList{path}; });
    const auto chats = root->chats();
    expected.chats = chats->count();
    for (int position = 1; position <= expected.chats; ++position) {
        const auto chat = chats->item(position);
        const qint64 count = chat->messages()->count();
        expected.all.push_back(position);
        if (chat->partnerHandle().isEmpty()) {
            expected.groups.push_back(position);
            expected.groupMessages += count;
        } else if (contacts.contains(chat->partnerHandle())) {
            expected.contactMessages += count;
        }
        for (const QString& handle : contacts) {
            if (chat->name().contains(handle, Qt::CaseInsensitive))
                expected.namedMessages += count;
        }
    }
    return expected;
}

TEST_F(ReadProgressTest, EachExportTellsTheChatsItReadsAndEveryMessage) {
    struct Row {
        const char* history;
        Pass pass;
    };
    const Row rows[] = {
        {"main.db", Pass::ExportRun},   {"messages.json", Pass::ExportRun},
        {"main.db", Pass::OlderExport}, {"messages.json", Pass::OlderExport},
        {"main.db", Pass::GroupChats},  {"messages.json", Pass::GroupChats},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.history) + " pass " + std::to_string(static_cast<int>(row.pass)));
        RealHistoryWindow window(w, history(row.history));
        QMetaObject::invokeMethod(&window.form(), "PushButton2_Click");
        QMetaObject::invokeMethod(&window.form(), "PushButton3_Click");
        QStringList contacts;
        for (int position = 1; position <= window.form().rowCount(); ++position)
            contacts.append(window.form().rowText(position));
        ASSERT_FALSE(contacts.isEmpty());
        const Expected expected = expectedOf(history(row.history), contacts);
        ASSERT_FALSE(expected.groups.empty());

        RecordingProgress progress;
        window.services().skype.setReadProgress(&progress);
        w.boxes.clear();
        if (row.pass == Pass::ExportRun)
            QMetaObject::invokeMethod(&window.form(), "PushButton7_Click");
        else if (row.pass == Pass::OlderExport)
            QMetaObject::invokeMethod(&window.form(), "PushButton6_Click");
        else
            GroupChatExport(window.form(), window.services()).run();
        window.services().skype.setReadProgress(nullptr);
        // The group pass says nothing when all is well: the command line says "Done." for both.
        EXPECT_EQ(w.boxes.texts(),
                  row.pass == Pass::GroupChats ? QStringList() : QStringList{QStringLiteral("Done.")});

        ASSERT_FALSE(progress.counted.empty());
        EXPECT_EQ(progress.counted.back(), expected.chats);
        ASSERT_EQ(progress.plans.size(), 1U);
        switch (row.pass) {
        case Pass::ExportRun:
            EXPECT_EQ(progress.plans.front(), expected.all);
            EXPECT_EQ(progress.askedSincePlan, expected.all);
            EXPECT_EQ(progress.messages, expected.contactMessages);
            break;
        case Pass::OlderExport:
            // Every chat planned is asked for, each message read is told.
            for (const int chat : progress.plans.front())
                EXPECT_NE(std::find(progress.askedSincePlan.begin(), progress.askedSincePlan.end(), chat),
                          progress.askedSincePlan.end())
                    << chat;
            EXPECT_EQ(progress.messages, expected.namedMessages);
            break;
        case Pass::GroupChats:
            EXPECT_EQ(progress.plans.front(), expected.groups);
            EXPECT_EQ(progress.askedSincePlan, expected.groups);
            EXPECT_EQ(progress.messages, expected.groupMessages);
            break;
        }
    }
}

} // namespace
