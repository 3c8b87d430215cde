#pragma once

#include "base/SettingsStore.h"
#include "base/Shell.h"
#include "folder/FolderBrowser.h"

#include <QMap>

// The user's settings, read and never written: a run from a script leaves the window's folder,
// dates and dropped history as the user left them. What a handler stores is kept for this run only.
class ReadOnlySettings final : public SettingsStore {
public:
    explicit ReadOnlySettings(const SettingsStore& user);
    std::optional<QString> read(const QString& application, const QString& section,
                                const QString& key) const override;
    void write(const QString& application, const QString& section, const QString& key,
               const QString& value) override;

private:
    const SettingsStore& m_user;
    QMap<QString, QString> m_written;
};

// Nothing to open on a command line, and no desktop to start from.
class QuietShell final : public Shell {
public:
    void openDocument(const QString&) override {}
    void openWebPage(const QString&) override {}
    QString desktopFolder() const override { return QString(); }
};

// Never asked: the folder comes from the command line.
class QuietFolderBrowser final : public FolderBrowser {
public:
    QString browseForFolder(const QString&, const QString&) override { return QString(); }
};
