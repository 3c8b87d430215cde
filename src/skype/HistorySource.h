#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class History;
class SettingsStore;

// Where the Skype history comes from, and what kind of file it is.
namespace HistorySource {

enum class Kind { Database, ExportJson, ExportTar };

struct Located {
    QString path;
    Kind kind;
};

// In this order: $PARLORIX_SKYPE_DATA, the stored "Skype History", the newest classic profile.
std::optional<QString> locate(const SettingsStore& settings);

// The folders below which classic profiles live on this platform.
QStringList profileRoots();
// Every <root>/<profile>/main.db, the most recently modified first.
QStringList profiles(const QStringList& roots);
// The most recently modified <root>/<profile>/main.db, or nothing.
std::optional<QString> newestProfile(const QStringList& roots);

// What the path holds; a folder stands for the main.db (or messages.json) in it. Fails with a
// description naming the path when it is not a Skype history.
Located identify(const QString& path);

std::unique_ptr<History> open(const Located& source);

} // namespace HistorySource
