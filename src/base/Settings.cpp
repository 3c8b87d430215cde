#include "Settings.h"

#include "SettingsStore.h"

namespace Settings {

QString application() {
    return QStringLiteral("Corvantix");
}

QString section() {
    return QStringLiteral("Parlorix Suite");
}

QString outputFolderKey() {
    return QStringLiteral("Output Folder");
}

QString date1Key() {
    return QStringLiteral("Date1");
}

QString date2Key() {
    return QStringLiteral("Date2");
}

QString lastFolderKey() {
    return QStringLiteral("LastFolderDot");
}

QString skypeHistoryKey() {
    return QStringLiteral("Skype History");
}

} // namespace Settings

QString GetSetting(const SettingsStore& store, const QString& application, const QString& section,
                   const QString& key, const QString& defaultValue) {
    return store.read(application, section, key).value_or(defaultValue);
}

void SaveSetting(SettingsStore& store, const QString& application, const QString& section, const QString& key,
                 const QString& value) {
    store.write(application, section, key, value);
}
