#pragma once

#include <QString>

class SettingsStore;

// The program's settings: application, section and keys, and the two calls that use them.
namespace Settings {

QString application();
QString section();

QString outputFolderKey();
QString date1Key();
QString date2Key();
QString lastFolderKey();
QString skypeHistoryKey();

} // namespace Settings

// The stored text, or the default when the key is missing.
QString GetSetting(const SettingsStore& store, const QString& application, const QString& section,
                   const QString& key, const QString& defaultValue);
void SaveSetting(SettingsStore& store, const QString& application, const QString& section, const QString& key,
                 const QString& value);
