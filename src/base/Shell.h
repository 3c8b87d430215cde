#pragma once

#include <QString>

// The desktop shell: opening documents and web pages, and the user's special folders.
class Shell {
public:
    virtual ~Shell() = default;
    // Opens a file with the application the system associates with it; the outcome is not examined.
    virtual void openDocument(const QString& path) = 0;
    // Opens a web page in the user's browser; fails when it cannot be started.
    virtual void openWebPage(const QString& address) = 0;
    // The user's desktop folder without a trailing separator, or empty when the platform has none.
    virtual QString desktopFolder() const = 0;
};
