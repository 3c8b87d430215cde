#include "ReadOnlySettings.h"

namespace {

QString keyOf(const QString& application, const QString& section, const QString& key) {
    return application + QLatin1Char('\n') + section + QLatin1Char('\n') + key;
}

} // namespace

ReadOnlySettings::ReadOnlySettings(const SettingsStore& user)
    : m_user(user) {}

std::optional<QString> ReadOnlySettings::read(const QString& application, const QString& section,
                                              const QString& key) const {
    const auto written = m_written.constFind(keyOf(application, section, key));
    if (written != m_written.cend())
        return *written;
    return m_user.read(application, section, key);
}

void ReadOnlySettings::write(const QString& application, const QString& section, const QString& key,
                             const QString& value) {
    m_written.insert(keyOf(application, section, key), value);
}
