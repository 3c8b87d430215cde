#include "fakes/ScopedEnv.h"
#include "fakes/TestWindow.h"

#include "app/QtFolderBrowser.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class OutputFolder : public ::testing::Test {
protected:
    void SetUp() override {
        w.settings.set(QStringLiteral("Output Folder"), QStringLiteral("/old/"));
        w.load();
        w.settings.writes.clear();
    }
    TestWindow w;
};

TEST_F(OutputFolder, CancelChangesNothing) {
    w.click("PushButton5");
    EXPECT_EQ(w.browser.prompts, QStringList{QStringLiteral("Please select folder:")});
    EXPECT_EQ(w.browser.startFolders, QStringList{QString()});
    EXPECT_EQ(w.form().outputFolderText(), QStringLiteral("/old/"));
    EXPECT_TRUE(w.settings.writes.isEmpty());
    EXPECT_TRUE(w.boxes.shown().isEmpty());
}

TEST_F(OutputFolder, APickIsRememberedAsGivenAndShownWithASeparator) {
    w.browser.answers = {QStringLiteral("/data/Chats")};
    w.click("PushButton5");
    const QString shown = QStringLiteral("/data/Chats") + QDir::separator();
    EXPECT_EQ(w.settings.writes, (QStringList{QStringLiteral("LastFolderDot=/data/Chats"),
                                              QStringLiteral("Output Folder=") + shown}));
    EXPECT_EQ(w.form().outputFolderText(), shown);

    // The next press opens on the last pick, whatever the box shows meanwhile.
    w.find<QLineEdit>("Text1")->setText(QStringLiteral("/typed"));
    EXPECT_EQ(w.settings.get(QStringLiteral("Output Folder")), QStringLiteral("/typed"));
    w.click("PushButton5");
    EXPECT_EQ(w.browser.startFolders.last(), QStringLiteral("/data/Chats"));
}

TEST_F(OutputFolder, ARootKeepsItsOneSeparator) {
    const QString root = QDir::toNativeSeparators(QDir::rootPath()); // "/", or "C:\" on Windows
    w.browser.answers = {root};
    w.click("PushButton5");
    EXPECT_EQ(w.settings.get(QStringLiteral("LastFolderDot")), root);
    EXPECT_EQ(w.form().outputFolderText(), root);
}

TEST_F(OutputFolder, EveryEditIsStoredUnchecked) {
    auto* text = w.find<QLineEdit>("Text1");
    text->clear();
    text->insert(QStringLiteral("/x"));
    EXPECT_EQ(w.settings.writes,
              (QStringList{QStringLiteral("Output Folder="), QStringLiteral("Output Folder=/x")}));
}

// Typing stores every keystroke: a store that fails is told once for the session, not per key,
// and the dates that fail to store later say nothing more.
TEST_F(OutputFolder, StoresThatFailAreToldOnceAndDoNotEndTheProgram) {
    w.settings.failWrites = true;
    w.find<QLineEdit>("Text1")->setText(QStringLiteral("/y"));
    w.find<QLineEdit>("Text1")->setText(QStringLiteral("/y/"));
    ASSERT_EQ(w.boxes.shown().size(), 1);
    EXPECT_EQ(
        w.boxes.shown().first().text,
        QStringLiteral("Your settings cannot be saved: The settings cannot be written\r\nThe program goes on "
                       "with what the window shows, but will not remember it. This is said only once."));
    EXPECT_EQ(w.boxes.shown().first().icon, MessageBoxes::Icon::Warning);
    EXPECT_EQ(w.form().outputFolderText(), QStringLiteral("/y/"));
    w.boxes.clear();
    w.form().setDateTo(w.form().dateTo().addDays(1));
    w.browser.answers = {QStringLiteral("/z")};
    w.click("PushButton5");
    ASSERT_EQ(w.boxes.shown().size(), 1);
    EXPECT_TRUE(w.boxes.texts().first().contains(QLatin1String("PushButton5_Click at line 104\r\r")));
    EXPECT_EQ(w.form().outputFolderText(), QStringLiteral("/z") + QDir::separator());
}

// With no folder picked before, or one that is gone, the browser opens on the desktop, never in the
// folder the program was started from.
TEST(QtFolderBrowser, OpensOnTheLastFolderElseOnTheDesktop) {
    QTemporaryDir home;
#ifdef Q_OS_WIN
    // The desktop is the shell's own folder there.
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    QDir().mkpath(desktop);
#else
    ScopedEnv env;
    env.set("HOME", QFile::encodeName(home.path()))
        .set("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    const QString desktop = home.filePath(QStringLiteral("Desktop"));
    EXPECT_EQ(QtFolderBrowser::openingFolder(QString()), QDir::homePath());
    QDir().mkpath(desktop);
#endif
    EXPECT_EQ(QtFolderBrowser::openingFolder(QString()), desktop);
    EXPECT_EQ(QtFolderBrowser::openingFolder(home.filePath(QStringLiteral("gone"))), desktop);
    EXPECT_EQ(QtFolderBrowser::openingFolder(home.path()), home.path());
}

} // namespace
