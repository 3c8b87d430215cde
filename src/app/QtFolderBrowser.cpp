#include "QtFolderBrowser.h"

#include <QDir>
#include <QFileDialog>

QString QtFolderBrowser::browseForFolder(const QString& prompt, const QString& startFolder) {
    // A start folder that no longer exists opens the browser with nothing selected.
    const QString start = QDir(startFolder).exists() ? startFolder : QString();
    const QString chosen =
        QFileDialog::getExistingDirectory(m_owner, prompt, start, QFileDialog::ShowDirsOnly);
    return QDir::toNativeSeparators(chosen);
}
