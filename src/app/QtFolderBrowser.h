#pragma once

#include "folder/FolderBrowser.h"

class QWidget;

class QtFolderBrowser final : public FolderBrowser {
public:
    void setOwner(QWidget* owner) { m_owner = owner; }
    QString browseForFolder(const QString& prompt, const QString& startFolder) override;

private:
    QWidget* m_owner = nullptr;
};
