#pragma once

#include "SettingsStore.h"

// The settings where the user's system keeps them: on Windows the registry key the program has
// always used, elsewhere one INI file per application ("<application>.conf") with a group per
// section. Every write reaches the disk at once and atomically (written aside, then renamed).
class FileSettingsStore final : public SettingsStore {
public:
    // Keeps the INI files in `folder`; ignored on Windows, where the registry is used.
    explicit FileSettingsStore(QString folder);

    // $XDG_CONFIG_HOME, else ~/.config.
    static QString userConfigFolder();

    std::optional<QString> read(const QString& application, const QString& section,
                                const QString& key) const override;
    void write(const QString& application, const QString& section, const QString& key,
               const QString& value) override;

    QString location(const QString& application) const;

private:
    QString m_folder;
};
