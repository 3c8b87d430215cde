#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

class History;
class SettingsStore;

// Where the Skype history comes from, and what kind of file it is.
namespace HistorySource {

enum class Kind { Database, ExportJson, ExportTar };

struct Located {
    QString path;
    Kind kind;
};

// In this order: $PARLORIX_SKYPE_DATA, the stored "Skype History", the newest classic profile. The
// first two may name several histories, read as one (a value none of whose paths is there is one
// path, gone). Empty when nothing names one.
QStringList locate(const SettingsStore& settings);

// The paths a value names, separated as PATH separates folders (':' on Linux and macOS, ';' on
// Windows). A value that names a file or folder as it stands is that one path, so that one path
// holding the separator is read as before; empty pieces name nothing.
QStringList splitPaths(const QString& value);
// The value that names these paths: one path as it is.
QString joinPaths(const QStringList& paths);

// The folders below which classic profiles live on this platform.
QStringList profileRoots();
// Every <root>/<profile>/main.db, the most recently modified first.
QStringList profiles(const QStringList& roots);
// The most recently modified <root>/<profile>/main.db, or nothing.
std::optional<QString> newestProfile(const QStringList& roots);

// What the path holds; a folder stands for the main.db (or messages.json) in it. Fails with a
// description naming the path when it is not a Skype history.
Located identify(const QString& path);

// What each path holds, each history once: one named again, also through a link or as a copy of the
// same bytes, counts where it was named first. Fails naming the first that is not a Skype history.
std::vector<Located> identifyAll(const QStringList& paths);
// Whether the two hold the same history: one file, or the same bytes (with the same changes waiting
// in a main.db's -wal beside it). Files of different sizes are never read for it.
bool holdSameHistory(const Located& a, const Located& b);

std::unique_ptr<History> open(const Located& source);
// The histories, read as one where there are several; null for none.
std::unique_ptr<History> open(const std::vector<Located>& sources);

} // namespace HistorySource
