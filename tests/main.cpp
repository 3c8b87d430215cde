#include "maindb/HistoryCopy.h"

#include <QApplication>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    // Headless, and away from the user's own home, configuration, locale and time zone.
    static QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toUtf8());
    qunsetenv("LC_ALL");
    qunsetenv("LC_TIME");
    qputenv("LANG", "en_US.UTF-8");
    qputenv("TZ", "UTC");
    qunsetenv("PARLORIX_SKYPE_DATA");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
#ifdef Q_OS_WIN
    // Windows has one cache folder for every test process, whatever HOME says: the private copies of
    // histories go below one of this process's own, as they do below its own home elsewhere.
    static QTemporaryDir cache;
    HistoryCopy::setCacheFolder(cache.path());
#endif

    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
