#pragma once

#include "folder/FolderBrowser.h"

class QWidget;

class QtFolderBrowser final : public FolderBrowser {
public:
    void setOwner(QWidget* owner) { m_owner = owner; }
    QString browseForFolder(const QString& prompt, const QString& startFolder) override;

    // Where the browser opens: the last folder picked while it exists, else the desktop (the
    // browser's root) with nothing selected, never the process's working folder.
    static QString openingFolder(const QString& startFolder);

private:
    QWidget* m_owner = nullptr;
};
