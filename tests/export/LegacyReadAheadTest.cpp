#include "cli/CliHarness.h"
#include "fakes/ScopedEnv.h"
#include "fakes/TestWindow.h"

#include "DatabaseWriter.h"
#include "SyntheticHistory.h"

#include "base/Failure.h"
#include "skype/HistoryConnector.h"
#include "skype/SkypeLink.h"

#include <QDir>
#include <QFile>
#include <QRadioButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// What the link is told of the chats the older export will read: passed on as it is, refused, or
// passed on turned around, so that the plan and the walk differ everywhere.
enum class Hint { AsGiven, Fails, Reversed };

class HintedChats final : public ChatCollection {
public:
    HintedChats(std::shared_ptr<ChatCollection> inner, Hint hint, std::vector<int>& told)
        : m_inner(std::move(inner))
        , m_hint(hint)
        , m_told(told) {}
    int count() const override { return m_inner->count(); }
    std::shared_ptr<Chat> item(int position) const override { return m_inner->item(position); }
    void willRead(const std::vector<int>& positions) const override {
        m_told = positions;
        if (m_hint == Hint::Fails)
            throw Failure(QStringLiteral("no hints here"));
        std::vector<int> plan = positions;
        if (m_hint == Hint::Reversed)
            std::reverse(plan.begin(), plan.end());
        m_inner->willRead(plan);
    }

private:
    std::shared_ptr<ChatCollection> m_inner;
    Hint m_hint;
    std::vector<int>& m_told;
};

class HintedRoot final : public SkypeRoot {
public:
    HintedRoot(std::shared_ptr<SkypeRoot> inner, Hint hint, std::vector<int>& told)
        : m_inner(std::move(inner))
        , m_hint(hint)
        , m_told(told) {}
    std::shared_ptr<ContactCollection> contacts() override { return m_inner->contacts(); }
    std::shared_ptr<ChatCollection> chats() override {
        return std::make_shared<HintedChats>(m_inner->chats(), m_hint, m_told);
    }
    std::shared_ptr<ClientControl> client() override { return m_inner->client(); }

private:
    std::shared_ptr<SkypeRoot> m_inner;
    Hint m_hint;
    std::vector<int>& m_told;
};

class HintedConnector final : public SkypeConnector {
public:
    HintedConnector(SkypeConnector& inner, Hint hint)
        : m_inner(inner)
        , m_hint(hint) {}
    std::shared_ptr<SkypeRoot> createRoot() override {
        return std::make_shared<HintedRoot>(m_inner.createRoot(), m_hint, told);
    }
    void chooseHistories(const QStringList& paths) override { m_inner.chooseHistories(paths); }
    void setReadProgress(ReadProgress* progress) override { m_inner.setReadProgress(progress); }

    std::vector<int> told;

private:
    SkypeConnector& m_inner;
    Hint m_hint;
};

class LegacyReadAhead : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new QTemporaryDir;
        SyntheticHistory history({7, 30, 8, 3000});
        DatabaseWriter database(s_dir->filePath(QStringLiteral("main.db")), history, true);
        for (int i = 0; i < history.conversationCount(); ++i)
            database.add(history.conversation(i));
        database.finish();
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override { env.set("LANG", "en_US.UTF-8").set("TZ", "UTC"); }

    // Every contact listed, every third one left unticked, then "Old 3.".
    QMap<QString, QByteArray> older(Hint hint, bool dateRange, std::vector<int>* told = nullptr) {
        TestWindow w;
        QTemporaryDir out;
        ScopedEnv history("PARLORIX_SKYPE_DATA",
                          QFile::encodeName(s_dir->filePath(QStringLiteral("main.db"))));
        HistoryConnector real(w.settings);
        HintedConnector hinted(real, hint);
        Services services{w.boxes, w.shell,  w.settings, w.browser,
                          hinted,  w.random, w.files,    w.programFolder()};
        {
            Form1 form(services);
            form.Form_Load();
            QMetaObject::invokeMethod(&form, "PushButton2_Click");
            QMetaObject::invokeMethod(&form, "PushButton3_Click");
            for (int row = 1; row <= form.rowCount(); row += 3)
                form.setRowChecked(row, false);
            form.setOutputFolderText(QDir::toNativeSeparators(out.path()) + QDir::separator());
            if (dateRange) {
                form.findChild<QRadioButton*>(QStringLiteral("Option2"))->setChecked(true);
                form.setDateFrom(QDateTime(QDate(2000, 1, 1), QTime(0, 0)));
                form.setDateTo(QDateTime(QDate(2100, 1, 1), QTime(0, 0)));
            }
            QMetaObject::invokeMethod(&form, "PushButton6_Click");
            EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
        }
        if (told)
            *told = hinted.told;
        return filesBelow(out.path());
    }

    ScopedEnv env;
    static QTemporaryDir* s_dir;
};

QTemporaryDir* LegacyReadAhead::s_dir = nullptr;

// The chats read ahead are the ones the rows ask for, in their order, the unticked rows' included:
// each transcript holds its own chats, byte for byte as without the hint, also when the plan is
// not the walk's order at all or the hint fails.
TEST_F(LegacyReadAhead, AnyPlanOrNoneGivesTheSameTranscripts) {
    for (const bool dateRange : {false, true}) {
        SCOPED_TRACE(dateRange);
        const QMap<QString, QByteArray> expected = older(Hint::Fails, dateRange);
        EXPECT_GE(expected.size(), 15);
        std::vector<int> told;
        EXPECT_EQ(older(Hint::AsGiven, dateRange, &told), expected);
        // At least every row's own chat, and no chat twice in a row.
        EXPECT_GE(told.size(), 30U);
        EXPECT_EQ(std::adjacent_find(told.begin(), told.end()), told.end());
        EXPECT_EQ(older(Hint::Reversed, dateRange), expected);
    }
}

} // namespace
