#include "HistoryCopy.h"

#include "base/Failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUuid>

#ifndef Q_OS_WIN
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

// Copies are made and cleaned only in a folder of the user's own: in another user's, that user
// could swap a copy's folder for a link between the cleaner's look and its removal.
bool isOwnFolder(const QString& path) {
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return true;
#else
    return QFileInfo(path).ownerId() == ::geteuid();
#endif
}

QString lockOf(const QString& folder) {
    return folder + QStringLiteral(".lock");
}

} // namespace

QString HistoryCopy::root() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/parlorix/history-copies");
}

void HistoryCopy::setBetweenCopies(std::function<void()> seam) {
    betweenCopies() = std::move(seam);
}

void HistoryCopy::removeLeftovers() {
    const QDir folder(root());
    if (!folder.exists() || !isOwnFolder(folder.path()))
        return;
    // Never through a link: removing a linked folder's contents would remove what it names.
    for (const QFileInfo& copy :
         folder.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks)) {
        QLockFile lock(lockOf(copy.filePath()));
        // Only a lock whose program has ended is stale, however old it is.
        lock.setStaleLockTime(0);
        if (lock.tryLock(0)) {
            if (!QFileInfo(copy.filePath()).isSymLink())
                QDir(copy.filePath()).removeRecursively();
            lock.unlock();
        }
    }
    // Locks whose folder went first.
    for (const QFileInfo& stray :
         folder.entryInfoList({QStringLiteral("*.lock")}, QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
        if (QFileInfo::exists(stray.filePath().chopped(5)))
            continue;
        QLockFile lock(stray.filePath());
        lock.setStaleLockTime(0);
        if (lock.tryLock(0))
            lock.unlock();
    }
}

bool HistoryCopy::makeFolder() {
    const QString base = root();
    if (QDir().mkpath(base) && isOwnFolder(base)) {
        const QString folder = base + QLatin1Char('/') + QUuid::createUuid().toString(QUuid::WithoutBraces);
        // The lock first: a cleaner never sees the folder without it.
        m_lock.emplace(lockOf(folder));
        m_lock->setStaleLockTime(0);
        if (m_lock->tryLock(0) && makePrivateFolder(folder)) {
            m_folder = folder;
            return true;
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
    std::shared_ptr<HistoryCopy> copy(new HistoryCopy());
    if (!copy->makeFolder())
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
        bool copied = QFile::copy(database, copy->m_database);
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
        }
        if (!copied) {
            // A full cache folder: the temporary folder, often on another disk, may have room.
            if (!copy->m_lock || !copy->moveToTemporaryFolder())
                throw cannot(
                    QStringLiteral("no private copy of it could be made in '%1'").arg(copy->m_folder));
            continue;
        }
        if (walHeader(copiedWal) == before && walHeader(wal) == before)
            return copy;
    }
    throw cannot(QStringLiteral("it changed during every copy; close Skype and try again"));
}

bool HistoryCopy::moveToTemporaryFolder() {
    QDir(m_folder).removeRecursively();
    m_lock->unlock();
    m_lock.reset();
    m_temporary = std::make_unique<QTemporaryDir>();
    m_folder = m_temporary->path();
    m_database = m_folder + QStringLiteral("/main.db");
    return m_temporary->isValid();
}

HistoryCopy::~HistoryCopy() {
    if (m_lock) {
        QDir(m_folder).removeRecursively();
        m_lock->unlock();
    }
}
