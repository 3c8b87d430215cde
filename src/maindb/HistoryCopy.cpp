#include "HistoryCopy.h"

#include "base/Failure.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QUuid>

#ifndef Q_OS_WIN
#include <sys/stat.h>

#include <cerrno>

#include <unistd.h>
#endif

namespace {

std::function<void()>& betweenCopies() {
    static std::function<void()> seam;
    return seam;
}

// The "-wal" header: its salts change whenever the log starts over after a checkpoint, so two equal
// headers mean no frame was dropped between them. Empty when the log holds no header at all.
QByteArray walHeader(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray header = file.read(32);
    return header.size() == 32 ? header : QByteArray();
}

// As private as a temporary folder, whatever the cache folder allows: it holds a whole history.
bool makePrivateFolder(const QString& path) {
#ifdef Q_OS_WIN
    return QDir().mkdir(path);
#else
    return QDir().mkdir(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
#endif
}

enum class Level { Missing, Link, Foreign, Own };

// One level of the path to the copies, the entry itself and not what a link names. Only a folder of
// the user's own that no one else may write is Own: in another's, its owner could swap a copy's
// folder for a link between the cleaner's look and its removal.
Level levelAt(const QString& path) {
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    if (info.isSymLink() || info.isJunction())
        return Level::Link;
    if (!info.exists())
        return Level::Missing;
    return info.isDir() ? Level::Own : Level::Foreign;
#else
    struct stat status{};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return errno == ENOENT ? Level::Missing : Level::Foreign;
    if (S_ISLNK(status.st_mode))
        return Level::Link;
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid() ||
        (status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return Level::Foreign;
    return Level::Own;
#endif
}

// The marker a copy's folder holds from its making on: only such folders are ever removed.
QString markerOf(const QString& folder) {
    return folder + QStringLiteral("/.parlorix-history-copy");
}

bool holdsMarker(const QString& folder) {
#ifdef Q_OS_WIN
    const QFileInfo marker(markerOf(folder));
    return marker.isFile() && !marker.isSymLink();
#else
    struct stat status{};
    return ::lstat(QFile::encodeName(markerOf(folder)).constData(), &status) == 0 &&
           S_ISREG(status.st_mode) && status.st_uid == ::geteuid();
#endif
}

// One entry of a copy's folder. The copy of a read-only history is read-only too, which Windows keeps
// from being deleted: it is made writable first, as QDir::removeRecursively does.
bool removeEntry(const QFileInfo& entry) {
    if (entry.isDir() && !entry.isSymLink() && !entry.isJunction())
        return QDir(entry.filePath()).removeRecursively();
    if (QFile::remove(entry.filePath()))
        return true;
    return entry.isFile() && !entry.isSymLink() &&
           QFile::setPermissions(entry.filePath(), entry.permissions() | QFileDevice::WriteUser) &&
           QFile::remove(entry.filePath());
}

// A copy's folder, its marker last: a removal cut short (a kill, a file another program holds open)
// leaves the marker, so that the next start finishes it instead of leaving the copy for good.
void removeCopy(const QString& folder) {
    const QString marker = markerOf(folder);
    bool whole = true;
    QDirIterator entries(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        if (entries.next() != marker)
            whole = removeEntry(entries.fileInfo()) && whole;
    }
    if (whole && QFile::remove(marker))
        QDir().rmdir(folder);
}

// Why a copy of the history and its log could not be made in the folder: Qt's words for a failed
// copy ("Failure to write block") do not say that the disk is full.
QString copyFailure(const QString& folder, const QString& database, const QString& qtReason) {
    const qint64 needed = QFileInfo(database).size() + QFileInfo(database + QStringLiteral("-wal")).size();
    const QStorageInfo disk(folder);
    if (disk.isValid() && disk.bytesAvailable() < needed)
        return QStringLiteral("the disk is full (the copy needs %1 MiB, %2 MiB are free)")
            .arg((needed + (1 << 20) - 1) >> 20)
            .arg(disk.bytesAvailable() >> 20);
    return qtReason;
}

QString lockOf(const QString& folder) {
    return folder + QStringLiteral(".lock");
}

QString& chosenCacheFolder() {
    static QString folder;
    return folder;
}

} // namespace

void HistoryCopy::setCacheFolder(const QString& folder) {
    chosenCacheFolder() = folder;
}

QString HistoryCopy::cacheFolder() {
    if (!chosenCacheFolder().isEmpty())
        return chosenCacheFolder();
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
}

QString HistoryCopy::root() {
    return cacheFolder() + QStringLiteral("/parlorix/history-copies");
}

void HistoryCopy::setBetweenCopies(std::function<void()> seam) {
    betweenCopies() = std::move(seam);
}

QString HistoryCopy::checkedRoot(bool make, QString* link) {
    // From the cache folder down, each level is looked at itself, never through a link. The cache
    // folder may be a link the user made: copies then go to the temporary folder. Below it the
    // program makes every level, so a link there was put by someone else, and is reported.
    const QString levels[] = {cacheFolder(), cacheFolder() + QStringLiteral("/parlorix"), root()};
    if (levels[0].isEmpty())
        return QString();
    for (int i = 0; i < 3; ++i) {
        const QString& path = levels[i];
        Level level = levelAt(path);
        // The cache folder is made as the system makes any (its parents too), the program's own
        // levels private. Another start may make it at the same time: what stands there counts.
        if (level == Level::Missing && make) {
            if (i == 0)
                QDir().mkpath(path);
            else
                makePrivateFolder(path);
            level = levelAt(path);
        }
        if (level == Level::Link && i > 0 && link)
            *link = path;
        if (level != Level::Own)
            return QString();
    }
    return root();
}

void HistoryCopy::removeLeftovers() {
    const QString path = checkedRoot(false, nullptr);
    if (path.isEmpty())
        return;
    const QDir folder(path);
    static const QRegularExpression uuid(
        QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"));
    for (const QFileInfo& copy :
         folder.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks)) {
        // Only folders the program made: its own, not a link, holding its marker.
        if (levelAt(copy.filePath()) != Level::Own || !holdsMarker(copy.filePath()))
            continue;
        QLockFile lock(lockOf(copy.filePath()));
        // Only a lock whose program has ended is stale, however old it is.
        lock.setStaleLockTime(0);
        if (lock.tryLock(0)) {
            if (levelAt(copy.filePath()) == Level::Own)
                removeCopy(copy.filePath());
            lock.unlock();
        }
    }
    // Locks of copies whose folder went first; only the names the program gives them.
    for (const QFileInfo& stray :
         folder.entryInfoList({QStringLiteral("*.lock")}, QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
        const QString copy = stray.filePath().chopped(5);
        if (!uuid.match(QFileInfo(copy).fileName()).hasMatch() || levelAt(copy) != Level::Missing)
            continue;
        QLockFile lock(stray.filePath());
        lock.setStaleLockTime(0);
        if (lock.tryLock(0))
            lock.unlock();
    }
}

bool HistoryCopy::makeFolder(const QString& base) {
    if (!base.isEmpty()) {
        const QString folder = base + QLatin1Char('/') + QUuid::createUuid().toString(QUuid::WithoutBraces);
        // The lock first: a cleaner never sees the folder without it.
        m_lock.emplace(lockOf(folder));
        m_lock->setStaleLockTime(0);
        if (m_lock->tryLock(0) && makePrivateFolder(folder)) {
            QFile marker(markerOf(folder));
            if (marker.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
                m_folder = folder;
                return true;
            }
            QDir(folder).removeRecursively();
        }
        m_lock.reset();
    }
    // Without a cache folder to write to, the copy goes where temporary files go.
    m_temporary = std::make_unique<QTemporaryDir>();
    m_folder = m_temporary->path();
    return m_temporary->isValid();
}

std::shared_ptr<HistoryCopy> HistoryCopy::make(const QString& database) {
    removeLeftovers();
    const QString wal = database + QStringLiteral("-wal");
    const auto cannot = [&](const QString& why) {
        return Failure(QStringLiteral("'%1' cannot be read: it is in WAL mode, and %2").arg(database, why));
    };
    // A log with changes that cannot be read is not an empty one: the database alone would lack them.
    QFile log(wal);
    if (log.size() > 0 && !log.open(QIODevice::ReadOnly))
        throw cannot(QStringLiteral("its '-wal' cannot be read: %1").arg(log.errorString()));
    log.close();
    QString link;
    const QString base = checkedRoot(true, &link);
    if (!link.isEmpty())
        throw cannot(QStringLiteral("'%1', where its private copy would go, is a link; a copy is never made "
                                    "through one: remove it and try again")
                         .arg(QDir::toNativeSeparators(link)));
    std::shared_ptr<HistoryCopy> copy(new HistoryCopy());
    if (!copy->makeFolder(base))
        throw cannot(
            QStringLiteral("no private copy of it could be made in the cache or the temporary folder"));
    copy->m_database = copy->m_folder + QStringLiteral("/main.db");
    // The database first, then its log. A checkpoint in between only copies pages from the log into
    // the database, which the copied log holds as well; unless the log started over, which changes
    // its header (its salts): when the header is not the same before, in the copy and after, the
    // copy is taken again. With nothing in the log, the database alone is the snapshot, provided the
    // log is still empty after the copy and the database was not written meanwhile (a checkpoint of
    // changes made during the copy).
    for (int attempt = 0; attempt < 5; ++attempt) {
        const QByteArray before = walHeader(wal);
        const QFileInfo databaseBefore(database);
        const qint64 sizeBefore = databaseBefore.size();
        const qint64 modifiedBefore = databaseBefore.lastModified().toMSecsSinceEpoch();
        const QString copiedWal = copy->m_database + QStringLiteral("-wal");
        QFile::remove(copy->m_database);
        QFile::remove(copiedWal);
        QFile original(database);
        bool copied = original.copy(copy->m_database);
        QString why = original.errorString();
        if (copied && betweenCopies())
            betweenCopies()();
        if (copied && before.isEmpty()) {
            const QFileInfo databaseAfter(database);
            if (walHeader(wal).isEmpty() && databaseAfter.size() == sizeBefore &&
                databaseAfter.lastModified().toMSecsSinceEpoch() == modifiedBefore)
                return copy;
            continue;
        }
        QFile source(wal);
        if (copied && !source.copy(copiedWal)) {
            // The client closed meanwhile: its last checkpoint moved the log into the database and
            // removed it, so that the next look finds the database alone.
            if (!source.exists())
                continue;
            copied = false;
            why = source.errorString();
        }
        if (!copied) {
            const QString folder = copy->m_folder;
            const QString reason = copyFailure(folder, database, why);
            // A full cache folder: the temporary folder, often on another disk, may have room.
            if (!copy->m_lock || !copy->moveToTemporaryFolder())
                throw cannot(
                    QStringLiteral("no private copy of it could be made in '%1': %2").arg(folder, reason));
            continue;
        }
        if (walHeader(copiedWal) == before && walHeader(wal) == before)
            return copy;
    }
    throw cannot(QStringLiteral("it changed during every copy; close Skype and try again"));
}

bool HistoryCopy::moveToTemporaryFolder() {
    removeCopy(m_folder);
    m_lock->unlock();
    m_lock.reset();
    m_temporary = std::make_unique<QTemporaryDir>();
    m_folder = m_temporary->path();
    m_database = m_folder + QStringLiteral("/main.db");
    return m_temporary->isValid();
}

HistoryCopy::~HistoryCopy() {
    if (m_lock) {
        removeCopy(m_folder);
        m_lock->unlock();
    }
}
