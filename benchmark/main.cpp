// Times one handler of the real main window, offscreen, on the history named by
// PARLORIX_SKYPE_DATA, and prints "<seconds> <peak KiB> <boxes>".
//   parlorix-bench list|export|legacy-all|legacy-range <output folder>

#include "app/Form1.h"
#include "base/MessageBoxes.h"
#include "base/Shell.h"
#include "base/SystemRandom.h"
#include "files/LocalFileSystem.h"
#include "folder/FolderBrowser.h"
#include "skype/HistoryConnector.h"

#include "base/FileSettingsStore.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QRadioButton>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>

namespace {

// Answers every box with OK or No and keeps what it showed, so a failing run is seen.
class AnsweringBoxes final : public MessageBoxes {
public:
    QStringList shown;

protected:
    Answer present(const QString& text, const QString&, Buttons buttons, Icon, Answer) override {
        shown.append(text);
        return buttons == Buttons::YesNo ? Answer::No : Answer::Ok;
    }
};

class NoShell final : public Shell {
public:
    void openDocument(const QString&) override {}
    void openWebPage(const QString&) override {}
    QString desktopFolder() const override { return QDir::tempPath(); }
};

class NoBrowser final : public FolderBrowser {
public:
    QString browseForFolder(const QString&, const QString&) override { return QString(); }
};

class NeverRandom final : public RandomSource {
public:
    void seed(quint32) override {}
    double fraction() override { return 0.5; }
};

long peakKib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fputs("usage: parlorix-bench list|export|legacy-all|legacy-range <output folder>\n", stderr);
        return 2;
    }
    const QString operation = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir config;
    FileSettingsStore settings(config.path());
    AnsweringBoxes boxes;
    NoShell shell;
    NoBrowser browser;
    HistoryConnector skype(settings);
    NeverRandom random;
    LocalFileSystem files;
    Form1 form(Services{boxes, shell, settings, browser, skype, random, files, QDir::tempPath()});
    form.Form_Load();
    form.setOutputFolderText(QDir::toNativeSeparators(QString::fromLocal8Bit(argv[2])) + QDir::separator());

    QElapsedTimer timer;
    if (operation == QLatin1String("list")) {
        timer.start();
        QMetaObject::invokeMethod(&form, "PushButton2_Click");
    } else {
        QMetaObject::invokeMethod(&form, "PushButton2_Click");
        QMetaObject::invokeMethod(&form, "PushButton3_Click");
        boxes.shown.clear();
        if (operation == QLatin1String("legacy-range")) {
            form.findChild<QRadioButton*>(QStringLiteral("Option2"))->setChecked(true);
            form.setDateFrom(QDateTime(QDate(2013, 1, 1), QTime(0, 0)));
            form.setDateTo(QDateTime(QDate(2016, 12, 31), QTime(23, 59, 59)));
        }
        timer.start();
        if (operation == QLatin1String("export"))
            QMetaObject::invokeMethod(&form, "PushButton7_Click");
        else
            QMetaObject::invokeMethod(&form, "PushButton6_Click");
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    const bool done = operation == QLatin1String("list")
                          ? boxes.shown.isEmpty()
                          : boxes.shown == QStringList{QStringLiteral("Done.")};
    std::printf("%.3f %ld %d\n", seconds, peakKib(), form.rowCount());
    if (!done) {
        for (const QString& box : boxes.shown)
            std::fprintf(stderr, "box: %s\n", qPrintable(box));
        return 1;
    }
    return 0;
}
