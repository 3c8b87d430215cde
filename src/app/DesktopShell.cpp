#include "DesktopShell.h"

#include "base/Failure.h"

#include <QDesktopServices>
#include <QDir>
#include <QStandardPaths>
#include <QUrl>

void DesktopShell::openDocument(const QString& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void DesktopShell::openWebPage(const QString& address) {
    if (!QDesktopServices::openUrl(QUrl(address)))
        throw Failure(QStringLiteral("Cannot open '%1' in a web browser").arg(address));
}

QString DesktopShell::desktopFolder() const {
    return QDir::toNativeSeparators(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
}
