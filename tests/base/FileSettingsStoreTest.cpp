#include "base/FileSettingsStore.h"
#include "base/Failure.h"
#include "base/Settings.h"

#include "fakes/ScopedEnv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

namespace {

const QString app = Settings::application();
const QString section = Settings::section();

// Where one test's settings live: a folder of its own, or on Windows a registry key of its own that
// goes with the test. Never the user's.
class TestRoot {
public:
    TestRoot() {
#ifdef Q_OS_WIN
        m_key = QStringLiteral("Parlorix Tests ") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        m_path = QStringLiteral("HKEY_CURRENT_USER\\Software\\") + m_key;
#else
        m_path = m_dir.path() + QStringLiteral("/config");
#endif
    }
    ~TestRoot() {
#ifdef Q_OS_WIN
        QSettings(QStringLiteral("HKEY_CURRENT_USER\\Software"), QSettings::NativeFormat).remove(m_key);
#endif
    }
    const QString& path() const { return m_path; }
    const QTemporaryDir& dir() const { return m_dir; }

private:
    QTemporaryDir m_dir;
    QString m_key;
    QString m_path;
};

TEST(FileSettingsStore, StoresTextsOnePlacePerApplication) {
    TestRoot root;
    FileSettingsStore store(root.path());
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
        EXPECT_EQ(FileSettingsStore(root.path()).read(app, section, Settings::outputFolderKey()), value);
    }
#ifndef Q_OS_WIN
    const QTemporaryDir& dir = root.dir();

    const QString file = dir.path() + QStringLiteral("/config/Corvantix.conf");
    ASSERT_TRUE(QFileInfo::exists(file));
    QFile ini(file);
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_TRUE(ini.readAll().contains("[Parlorix%20Suite]"));
    // Written aside and renamed: nothing else is left in the folder.
    EXPECT_EQ(QDir(dir.path() + QStringLiteral("/config")).entryList(QDir::Files),
              QStringList{QStringLiteral("Corvantix.conf")});
#endif
}

TEST(FileSettingsStore, KeepsOtherKeysAndSections) {
    TestRoot root;
    FileSettingsStore store(root.path());
    SaveSetting(store, app, section, Settings::date1Key(), QStringLiteral("8/31/2021"));
    SaveSetting(store, app, QStringLiteral("Other"), Settings::date1Key(), QStringLiteral("other"));
    SaveSetting(store, app, section, Settings::date2Key(), QStringLiteral("9/1/2021 3:42:10 PM"));
    EXPECT_EQ(store.read(app, section, Settings::date1Key()), QStringLiteral("8/31/2021"));
    EXPECT_EQ(store.read(app, section, Settings::date2Key()), QStringLiteral("9/1/2021 3:42:10 PM"));
    EXPECT_EQ(store.read(app, QStringLiteral("Other"), Settings::date1Key()), QStringLiteral("other"));
    EXPECT_FALSE(store.read(QStringLiteral("Elsewhere"), section, Settings::date1Key()).has_value());
}

#ifndef Q_OS_WIN
TEST(FileSettingsStore, WriteThatCannotReachTheDiskFails) {
    QTemporaryDir dir;
    QFile blocker(dir.path() + QStringLiteral("/file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    FileSettingsStore store(dir.path() + QStringLiteral("/file/config"));
    EXPECT_THROW(SaveSetting(store, app, section, Settings::date1Key(), QStringLiteral("x")), Failure);
}
#endif

#ifdef Q_OS_WIN
TEST(FileSettingsStore, TheUsersSettingsAreInTheProgramsRegistryKey) {
    EXPECT_EQ(FileSettingsStore::userRoot(),
              QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings"));
    EXPECT_EQ(FileSettingsStore(FileSettingsStore::userRoot()).location(app),
              QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\Corvantix"));
}
#else
TEST(FileSettingsStore, UserFolderIsXdgConfigHomeElseDotConfig) {
    ScopedEnv env;
    env.set("HOME", "/home/ann").set("XDG_CONFIG_HOME", "/tmp/ann-config");
    EXPECT_EQ(FileSettingsStore::userRoot(), QStringLiteral("/tmp/ann-config"));
    env.set("XDG_CONFIG_HOME", QByteArray());
    EXPECT_EQ(FileSettingsStore::userRoot(), QStringLiteral("/home/ann/.config"));
    env.set("XDG_CONFIG_HOME", "relative/path");
    EXPECT_EQ(FileSettingsStore::userRoot(), QStringLiteral("/home/ann/.config"));
}
#endif

} // namespace
