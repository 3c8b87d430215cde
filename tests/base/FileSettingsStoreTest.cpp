#include "base/FileSettingsStore.h"
#include "base/Failure.h"
#include "base/Settings.h"

#include "fakes/ScopedEnv.h"
#include "fakes/TestWindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

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

#ifndef Q_OS_WIN
bool isFifo(const QString& path) {
    struct stat status{};
    return lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISFIFO(status.st_mode);
}

// A pipe would hang the start in open(), and saving over a device would replace it: both are left
// alone, the defaults stand in, and every write fails with the reason.
TEST(FileSettingsStore, APipeOrALinkToOneIsNeitherReadNorReplaced) {
    QTemporaryDir dir;
    const QString config = dir.path() + QStringLiteral("/config");
    ASSERT_TRUE(QDir().mkpath(config));
    const QString file = config + QStringLiteral("/Corvantix.conf");
    const QString fifo = dir.path() + QStringLiteral("/settings.fifo");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    for (const bool link : {false, true}) {
        QFile::remove(file);
        if (link)
            ASSERT_TRUE(QFile::link(fifo, file));
        else
            ASSERT_EQ(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
        FileSettingsStore store(config);
        EXPECT_FALSE(store.read(app, section, Settings::outputFolderKey()).has_value());
        EXPECT_EQ(GetSetting(store, app, section, Settings::date1Key(), QStringLiteral("8/31/2021")),
                  QStringLiteral("8/31/2021"));
        try {
            SaveSetting(store, app, section, Settings::date1Key(), QStringLiteral("9/1/2021"));
            ADD_FAILURE() << "the write did not fail";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.description(),
                      QLatin1Char('\'') + file +
                          QLatin1String("' is not a regular file but a folder, a pipe, a device or a socket; "
                                        "the settings are neither read from it nor stored in it"));
        }
        EXPECT_EQ(QFileInfo(file).isSymLink(), link);
        EXPECT_TRUE(isFifo(file) || link);
        EXPECT_TRUE(isFifo(fifo));
        // Nothing was written aside either.
        EXPECT_EQ(QDir(config).entryList(QDir::Files | QDir::System | QDir::Hidden),
                  QStringList{QStringLiteral("Corvantix.conf")});
    }
}

// Users who keep their configuration as linked dotfiles keep the link; the file it names is read and
// replaced.
TEST(FileSettingsStore, ALinkToARegularFileIsFollowed) {
    QTemporaryDir dir;
    const QString config = dir.path() + QStringLiteral("/config");
    ASSERT_TRUE(QDir().mkpath(config));
    const QString target = dir.path() + QStringLiteral("/dotfiles.conf");
    QFile stored(target);
    ASSERT_TRUE(stored.open(QIODevice::WriteOnly));
    stored.write("[Parlorix%20Suite]\nDate1=8/31/2021\n");
    stored.close();
    const QString file = config + QStringLiteral("/Corvantix.conf");
    ASSERT_TRUE(QFile::link(target, file));
    FileSettingsStore store(config);
    EXPECT_EQ(store.read(app, section, Settings::date1Key()), QStringLiteral("8/31/2021"));
    SaveSetting(store, app, section, Settings::date2Key(), QStringLiteral("9/1/2021"));
    EXPECT_TRUE(QFileInfo(file).isSymLink());
    EXPECT_EQ(FileSettingsStore(config).read(app, section, Settings::date2Key()), QStringLiteral("9/1/2021"));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_TRUE(stored.readAll().contains("Date2=9/1/2021"));
}

// Through the real window: the start does not wait on the pipe, shows the defaults and says once
// that nothing is stored.
TEST(FileSettingsStore, AWindowStartingOnAPipeUsesTheDefaultsAndSaysSoOnce) {
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/Corvantix.conf");
    ASSERT_EQ(mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    FileSettingsStore store(dir.path());
    TestWindow w;
    Form1 form(Services{w.boxes, w.shell, store, w.browser, w.skype, w.random, w.files, w.programFolder()});
    form.Form_Load();
    const QString desktop = QStringLiteral("/home/tester/Desktop") + QDir::separator();
    EXPECT_EQ(form.outputFolderText(), desktop);
    ASSERT_EQ(w.boxes.texts().size(), 1);
    EXPECT_TRUE(w.boxes.texts().first().startsWith(QLatin1String("Your settings cannot be saved: '") + file +
                                                   QLatin1String("' is not a regular file")))
        << w.boxes.texts().first().toStdString();
    form.setOutputFolderText(QStringLiteral("/data/"));
    EXPECT_EQ(w.boxes.texts().size(), 1);
    EXPECT_TRUE(isFifo(file));
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
