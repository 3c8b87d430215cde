#include "QtFolderBrowser.h"

#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>

QString QtFolderBrowser::openingFolder(const QString& startFolder) {
    if (!startFolder.isEmpty() && QDir(startFolder).exists())
        return startFolder;
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    return QDir(desktop).exists() ? desktop : QDir::homePath();
}

QString QtFolderBrowser::browseForFolder(const QString& prompt, const QString& startFolder) {
    const QString chosen = QFileDialog::getExistingDirectory(m_owner, prompt, openingFolder(startFolder),
                                                             QFileDialog::ShowDirsOnly);
    return QDir::toNativeSeparators(chosen);
}
