#include "FileSettingsStore.h"

#include "Failure.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

#ifdef Q_OS_WIN
constexpr auto kFormat = QSettings::NativeFormat;
#else
constexpr auto kFormat = QSettings::IniFormat;
#endif

} // namespace

FileSettingsStore::FileSettingsStore(QString root)
    : m_root(std::move(root)) {}

QString FileSettingsStore::userRoot() {
#ifdef Q_OS_WIN
    return QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings");
#endif
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured))
        return configured;
    return QDir::homePath() + QStringLiteral("/.config");
}

QString FileSettingsStore::location(const QString& application) const {
#ifdef Q_OS_WIN
    return m_root + QLatin1Char('\\') + application;
#else
    return m_root + QLatin1Char('/') + application + QStringLiteral(".conf");
#endif
}

#ifndef Q_OS_WIN
namespace {

// Opening a pipe waits for a writer, and saving over a device replaces the device: only a regular
// file (or a link to one, as in linked dotfiles) is read or replaced. Empty when the file is usable.
std::optional<QString> unusableFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists() || info.isFile())
        return std::nullopt;
    return QStringLiteral("'%1' is not a regular file but a folder, a pipe, a device or a socket; the "
                          "settings are neither read from it nor stored in it")
        .arg(path);
}

} // namespace
#endif

std::optional<QString> FileSettingsStore::read(const QString& application, const QString& section,
                                               const QString& key) const {
#ifndef Q_OS_WIN
    // The defaults stand in; the first value the program tries to store says why.
    if (unusableFile(location(application)))
        return std::nullopt;
#endif
    // A fresh QSettings per call: nothing is cached between reads, another instance's writes show.
    QSettings settings(location(application), kFormat);
    settings.beginGroup(section);
    if (!settings.contains(key))
        return std::nullopt;
    return settings.value(key).toString();
}

void FileSettingsStore::write(const QString& application, const QString& section, const QString& key,
                              const QString& value) {
#ifndef Q_OS_WIN
    if (!QDir().mkpath(m_root))
        throw Failure(QStringLiteral("Cannot create the settings folder '%1'").arg(m_root));
    if (const std::optional<QString> reason = unusableFile(location(application)))
        throw Failure(*reason);
#endif
    QSettings settings(location(application), kFormat);
    settings.setAtomicSyncRequired(true);
    settings.beginGroup(section);
    settings.setValue(key, value);
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw Failure(
            QStringLiteral("Cannot save the setting \"%1\" in '%2'").arg(key, location(application)));
}
