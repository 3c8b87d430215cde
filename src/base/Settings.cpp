#include "Settings.h"

#include "Failure.h"
#include "MessageBoxes.h"
#include "SettingsStore.h"

#include <QtDebug>

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

QString saveSharedFilesKey() {
    return QStringLiteral("Save Shared Files");
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

void SaveSettingTellingOnce(SettingsStore& store, MessageBoxes& boxes, const QString& key,
                            const QString& value) {
    try {
        SaveSetting(store, Settings::application(), Settings::section(), key, value);
    } catch (const Failure& failure) {
        qWarning("Setting \"%s\" not stored: %s", qUtf8Printable(key), qUtf8Printable(failure.description()));
        if (store.failureTold())
            return;
        store.setFailureTold();
        boxes.show(
            QStringLiteral("Your settings cannot be saved: %1\r\nThe program goes on with what the window "
                           "shows, but will not remember it. This is said only once.")
                .arg(failure.description()),
            QString(), MessageBoxes::Buttons::Ok, MessageBoxes::Icon::Warning, MessageBoxes::Answer::Ok);
    }
}
