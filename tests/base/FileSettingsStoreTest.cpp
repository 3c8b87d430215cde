#include "base/FileSettingsStore.h"
#include "base/Failure.h"
#include "base/Settings.h"

#include "fakes/ScopedEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QString app = Settings::application();
const QString section = Settings::section();

TEST(FileSettingsStore, StoresTextsInOneIniFilePerApplication) {
    QTemporaryDir dir;
    FileSettingsStore store(dir.path() + QStringLiteral("/config"));
    EXPECT_FALSE(store.read(app, section, Settings::outputFolderKey()).has_value());
    EXPECT_EQ(GetSetting(store, app, section, Settings::outputFolderKey(), QStringLiteral("default")),
              QStringLiteral("default"));

    const QStringList values{QStringLiteral("/home/ann/Chats, old/"), QStringLiteral(" leading blank"),
                             QStringLiteral("@Variant(x)"), QStringLiteral("Привет 😀 \"quoted\" ; # = \\"),
                             QString()};
    for (const QString& value : values) {
        SaveSetting(store, app, section, Settings::outputFolderKey(), value);
        EXPECT_EQ(store.read(app, section, Settings::outputFolderKey()), value);
        // A second store on the same folder sees the value: nothing is cached.
        EXPECT_EQ(FileSettingsStore(dir.path() + QStringLiteral("/config"))
                      .read(app, section, Settings::outputFolderKey()),
                  value);
    }

    const QString file = dir.path() + QStringLiteral("/config/Corvantix.conf");
    ASSERT_TRUE(QFileInfo::exists(file));
    QFile ini(file);
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_TRUE(ini.readAll().contains("[Parlorix%20Suite]"));
    // Written aside and renamed: nothing else is left in the folder.
    EXPECT_EQ(QDir(dir.path() + QStringLiteral("/config")).entryList(QDir::Files),
              QStringList{QStringLiteral("Corvantix.conf")});
}

TEST(FileSettingsStore, KeepsOtherKeysAndSections) {
    QTemporaryDir dir;
    FileSettingsStore store(dir.path());
    SaveSetting(store, app, section, Settings::date1Key(), QStringLiteral("8/31/2021"));
    SaveSetting(store, app, QStringLiteral("Other"), Settings::date1Key(), QStringLiteral("other"));
    SaveSetting(store, app, section, Settings::date2Key(), QStringLiteral("9/1/2021 3:42:10 PM"));
    EXPECT_EQ(store.read(app, section, Settings::date1Key()), QStringLiteral("8/31/2021"));
    EXPECT_EQ(store.read(app, section, Settings::date2Key()), QStringLiteral("9/1/2021 3:42:10 PM"));
    EXPECT_EQ(store.read(app, QStringLiteral("Other"), Settings::date1Key()), QStringLiteral("other"));
    EXPECT_FALSE(store.read(QStringLiteral("Elsewhere"), section, Settings::date1Key()).has_value());
}

TEST(FileSettingsStore, WriteThatCannotReachTheDiskFails) {
    QTemporaryDir dir;
    QFile blocker(dir.path() + QStringLiteral("/file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    FileSettingsStore store(dir.path() + QStringLiteral("/file/config"));
    EXPECT_THROW(SaveSetting(store, app, section, Settings::date1Key(), QStringLiteral("x")), Failure);
}

TEST(FileSettingsStore, UserFolderIsXdgConfigHomeElseDotConfig) {
    ScopedEnv env;
    env.set("HOME", "/home/ann").set("XDG_CONFIG_HOME", "/tmp/ann-config");
    EXPECT_EQ(FileSettingsStore::userConfigFolder(), QStringLiteral("/tmp/ann-config"));
    env.set("XDG_CONFIG_HOME", QByteArray());
    EXPECT_EQ(FileSettingsStore::userConfigFolder(), QStringLiteral("/home/ann/.config"));
    env.set("XDG_CONFIG_HOME", "relative/path");
    EXPECT_EQ(FileSettingsStore::userConfigFolder(), QStringLiteral("/home/ann/.config"));
}

} // namespace
