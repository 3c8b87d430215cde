#pragma once

#include "base/Failure.h"
#include "base/Shell.h"

#include <QStringList>

class FakeShell final : public Shell {
public:
    void openDocument(const QString& path) override { documents.append(path); }
    void openWebPage(const QString& address) override {
        if (failWebPages)
            throw Failure(QStringLiteral("No browser"));
        webPages.append(address);
    }
    QString desktopFolder() const override { return desktop; }

    QStringList documents;
    QStringList webPages;
    bool failWebPages = false;
    QString desktop = QStringLiteral("/home/tester/Desktop");
};
