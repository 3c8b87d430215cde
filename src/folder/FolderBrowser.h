#pragma once

#include <QString>

// The platform's folder browser, modal to the main window.
class FolderBrowser {
public:
    virtual ~FolderBrowser() = default;
    // The chosen folder as the browser gives it, or empty when the user cancels.
    virtual QString browseForFolder(const QString& prompt, const QString& startFolder) = 0;
};
