#pragma once

#include "base/Failure.h"
#include "base/Settings.h"
#include "base/SettingsStore.h"

#include <QMap>
#include <QStringList>

// Keeps the values in memory under "application/section/key" and logs every write.
class MemorySettingsStore final : public SettingsStore {
public:
    std::optional<QString> read(const QString& application, const QString& section,
                                const QString& key) const override {
        const auto found = values.constFind(path(application, section, key));
        if (found == values.cend())
            return std::nullopt;
        return *found;
    }
    void write(const QString& application, const QString& section, const QString& key,
               const QString& value) override {
        if (failWrites)
            throw Failure(QStringLiteral("The settings cannot be written"));
        values.insert(path(application, section, key), value);
        writes.append(key + QLatin1Char('=') + value);
    }

    // The program's own section.
    std::optional<QString> get(const QString& key) const {
        return read(Settings::application(), Settings::section(), key);
    }
    void set(const QString& key, const QString& value) {
        values.insert(path(Settings::application(), Settings::section(), key), value);
    }

    static QString path(const QString& application, const QString& section, const QString& key) {
        return application + QLatin1Char('/') + section + QLatin1Char('/') + key;
    }

    QMap<QString, QString> values;
    QStringList writes;
    bool failWrites = false;
};
