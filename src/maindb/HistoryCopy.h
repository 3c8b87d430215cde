#pragma once

#include <QLockFile>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QTemporaryDir;

// A private copy of a history in WAL mode: the database and its "-wal", taken as one snapshot. Each
// copy lives in a folder of its own under the user's cache folder, holding a marker, beside a lock
// held while it is in use; copies left behind by a run that was killed are removed at the next start.
// Nothing is made, entered or removed there through a link.
class HistoryCopy final {
public:
    // The database alone where its "-wal" holds nothing. Fails with a description when no copy can be
    // made.
    static std::shared_ptr<HistoryCopy> make(const QString& database);
    ~HistoryCopy();
    HistoryCopy(const HistoryCopy&) = delete;
    HistoryCopy& operator=(const HistoryCopy&) = delete;

    QString databasePath() const { return m_database; }

    // Where the copies live.
    static QString root();
    // Removes every copy (a folder with the marker) whose lock no running program holds.
    static void removeLeftovers();
    // Called after copying the database, before its "-wal" is copied (or, where it held nothing,
    // looked at again); tests race a checkpoint there.
    static void setBetweenCopies(std::function<void()> seam);
    // The cache folder the copies go below, instead of the system's (tests running side by side each
    // take one of their own where the system has one for all of them).
    static void setCacheFolder(const QString& folder);

private:
    HistoryCopy() = default;
    static QString cacheFolder();
    // root() when every level from the cache folder down is a folder of the user's own (made when
    // missing, with `make`), else empty; `link` names a level below the cache folder that is a link.
    static QString checkedRoot(bool make, QString* link);
    // A folder with its marker and lock under `base`, else (without one) a temporary folder.
    bool makeFolder(const QString& base);
    // Leaves the cache folder for a temporary one; false when none can be made.
    bool moveToTemporaryFolder();

    std::optional<QLockFile> m_lock;
    QString m_folder;
    std::unique_ptr<QTemporaryDir> m_temporary;
    QString m_database;
};
