#pragma once

#include "base/Shell.h"

// Nothing to open on a command line, and no desktop to start from.
class QuietShell final : public Shell {
public:
    void openDocument(const QString&) override {}
    void openWebPage(const QString&) override {}
    QString desktopFolder() const override { return QString(); }
};
