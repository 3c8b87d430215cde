#pragma once

#include "base/Shell.h"

class DesktopShell final : public Shell {
public:
    void openDocument(const QString& path) override;
    void openWebPage(const QString& address) override;
    QString desktopFolder() const override;
};
