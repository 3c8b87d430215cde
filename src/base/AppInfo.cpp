#include "AppInfo.h"

#include "Failure.h"
#include "RandomSource.h"
#include "Shell.h"

#include <QDir>
#include <QTime>

namespace AppInfo {

QString productName() {
    return QStringLiteral("Parlorix Suite");
}

QString supportAddress() {
    return QStringLiteral("support@parlorix.example");
}

QString homePage() {
    return QStringLiteral("https://parlorix.example/");
}

QString location(const QString& handler) {
    return QLatin1String("in Dovecall2021/08/31.Form1.") % handler % QLatin1Char(' ');
}

static QString belowProgramFolder(const QString& programFolder, const QString& relative) {
    return programFolder % QDir::toNativeSeparators(relative);
}

QString skinFile(const QString& programFolder) {
    return belowProgramFolder(programFolder, QStringLiteral("/x/o.cjs"));
}

QString handPointerFile(const QString& programFolder) {
    return belowProgramFolder(programFolder, QStringLiteral("/HAND-M.CUR"));
}

QString helpVideoFile(const QString& programFolder) {
    return belowProgramFolder(programFolder, QStringLiteral("/Help Video/Skype Allow.avi"));
}

QString applicationTitleFor(const QString& productName) {
    QString title = productName;
    do {
        const int blank = title.lastIndexOf(QLatin1Char(' '));
        if (blank < 0)
            throw Failure::invalidArgument();
        title.truncate(blank);
    } while (title.size() > 40);
    return title;
}

QString desktopFolder(const Shell& shell) {
    const QString path = shell.desktopFolder();
    if (path.isEmpty())
        throw Failure::invalidArgument();
    return path % QDir::separator();
}

int openHomePageAtRandom(RandomSource& random, Shell& shell) {
    random.seed(QTime::currentTime().msecsSinceStartOfDay() / 1000);
    const int drawn = static_cast<int>(random.fraction() * 100) + 1;
    if (drawn == 7)
        shell.openWebPage(homePage());
    return drawn;
}

} // namespace AppInfo
