#pragma once

#include "folder/FolderBrowser.h"

#include <QStringList>

class FakeFolderBrowser final : public FolderBrowser {
public:
    QString browseForFolder(const QString& prompt, const QString& startFolder) override {
        prompts.append(prompt);
        startFolders.append(startFolder);
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }

    QStringList answers;
    QStringList prompts;
    QStringList startFolders;
};
