#pragma once

#include "base/SettingsStore.h"

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
