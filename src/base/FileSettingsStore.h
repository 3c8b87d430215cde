#pragma once

#include "SettingsStore.h"

// The settings where the user's system keeps them: on Windows the registry key the program has
// always used, elsewhere one INI file per application ("<application>.conf") with a group per
// section. Every write reaches the disk at once and atomically (written aside, then renamed).
class FileSettingsStore final : public SettingsStore {
public:
    // Keeps the INI files in the folder `root`; on Windows `root` is the registry key under which
    // each application has its key.
    explicit FileSettingsStore(QString root);

    // Where the user's settings are kept: $XDG_CONFIG_HOME, else ~/.config; on Windows
    // "HKEY_CURRENT_USER\Software\VB and VBA Program Settings", where the program always kept them.
    static QString userRoot();

    std::optional<QString> read(const QString& application, const QString& section,
                                const QString& key) const override;
    void write(const QString& application, const QString& section, const QString& key,
               const QString& value) override;

    QString location(const QString& application) const;

private:
    QString m_root;
};
