#pragma once

#include <QString>

class MessageBoxes;
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
QString saveSharedFilesKey();

} // namespace Settings

// The stored text, or the default when the key is missing.
QString GetSetting(const SettingsStore& store, const QString& application, const QString& section,
                   const QString& key, const QString& defaultValue);
void SaveSetting(SettingsStore& store, const QString& application, const QString& section, const QString& key,
                 const QString& value);

// Stores a value that changes as the user types or turns a picker, where a box per change would be
// no help: the first failure of the session is told in a box, later ones are only logged. What is on
// the screen is still used, so nothing the user entered is lost.
void SaveSettingTellingOnce(SettingsStore& store, MessageBoxes& boxes, const QString& key,
                            const QString& value);
