#pragma once

#include "folder/FolderBrowser.h"

// Never asked: the folder comes from the command line.
class QuietFolderBrowser final : public FolderBrowser {
public:
    QString browseForFolder(const QString&, const QString&) override { return QString(); }
};
