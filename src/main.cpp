#include "app/DesktopShell.h"
#include "app/Form1.h"
#include "app/QtFolderBrowser.h"
#include "app/QtMessageBoxes.h"
#include "base/FileSettingsStore.h"
#include "base/SystemRandom.h"
#include "files/LocalFileSystem.h"
#include "maindb/HistoryCopy.h"
#include "skype/HistoryConnector.h"

#include <QApplication>
#include <QDir>
#include <QScreen>

#include <cstdio>

int main(int argc, char* argv[]) {
#if defined(Q_OS_LINUX)
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        std::fputs(
            "parlorix: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)\n",
            stderr);
        return 1;
    }
#endif
    QApplication app(argc, argv);
    // Private copies of histories that a killed run left behind.
    HistoryCopy::removeLeftovers();

    QtMessageBoxes boxes;
    DesktopShell shell;
    FileSettingsStore settings(FileSettingsStore::userRoot());
    QtFolderBrowser browser;
    HistoryConnector skype(settings);
    SystemRandom random;
    LocalFileSystem files;
    const QString programFolder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());

    Form1 form(Services{boxes, shell, settings, browser, skype, random, files, programFolder});
    boxes.setOwner(&form);
    browser.setOwner(&form);
    form.Form_Load();
    form.move(form.screen()->availableGeometry().center() - form.rect().center());
    form.show();
    return app.exec();
}
