#include "DatabaseSource.h"

#include "HistoryCopy.h"

#include "base/Failure.h"

#include <SQLiteCpp/Database.h>

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

namespace {

// How long a reader waits for a lock before it takes the history for one another program uses.
constexpr int kBusyWaitMs = 500;

// A history in use or left half-written is a Skype history all the same.
bool isHeldOrHalfWritten(const std::exception& error) {
    const auto* sqlite = dynamic_cast<const SQLite::Exception*>(&error);
    return sqlite && (sqlite->getErrorCode() == SQLITE_BUSY || sqlite->getErrorCode() == SQLITE_LOCKED ||
                      sqlite->getExtendedErrorCode() == SQLITE_READONLY_ROLLBACK);
}

// The header's read and write versions are 2 in WAL mode.
bool isInWalMode(const QString& path) {
    QFile file(path);
    const QByteArray header = file.open(QIODevice::ReadOnly) ? file.read(20) : QByteArray();
    return header.size() == 20 && header.at(18) == 2 && header.at(19) == 2;
}

qint64 modifiedAt(const QFileInfo& info) {
    return info.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch();
}

quint32 bigEndian(const QByteArray& bytes, int at, int size) {
    quint32 value = 0;
    for (int i = 0; i < size; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

// How the file is shorter than its header says (a copy or a download that did not finish), else
// empty. A header from before SQLite 3.7 gives no size, and tells nothing.
QString cutShortIn(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray header = file.read(100);
    const qint64 size = file.size();
    if (!header.startsWith(QByteArrayLiteral("SQLite format 3\0")))
        return QString();
    if (header.size() < 100)
        return QStringLiteral("the file ends after %1 bytes, inside its header").arg(size);
    const quint32 pageSize = bigEndian(header, 16, 2) == 1 ? 65536 : bigEndian(header, 16, 2);
    const quint32 pages = bigEndian(header, 28, 4);
    // The size in the header counts only where the header's two change counters agree.
    if (pageSize < 512 || (pageSize & (pageSize - 1)) != 0 || pages == 0 ||
        header.mid(24, 4) != header.mid(92, 4))
        return QString();
    const qint64 whole = qint64(pageSize) * pages;
    if (size >= whole)
        return QString();
    return QStringLiteral("the file ends after %1 of the %2 bytes its header gives").arg(size).arg(whole);
}

// A history is read with the files of these names beside it. One that is no file (a pipe, which an
// open would wait on for ever, a device, a folder) fails the history as the history itself would.
void checkFilesBeside(const QString& path) {
    for (const char* suffix : {"-wal", "-journal", "-shm"}) {
        const QFileInfo beside(path + QLatin1String(suffix));
        if (beside.exists() && !beside.isFile())
            throw Failure(
                QStringLiteral("Cannot read the Skype history '%1': '%2' beside it is not a file but "
                               "a pipe, a device, a socket or a folder, where a history keeps a "
                               "file of that name; remove it and try again")
                    .arg(path, beside.fileName()));
    }
}

} // namespace

DatabaseSource::DatabaseSource(const QString& path)
    : m_path(path)
    , m_name(path) {
    checkFilesBeside(path);
    // Even a read-only connection to a history in WAL mode creates its "-shm" file beside it, and
    // fails where that folder cannot be written to; and a client may write and checkpoint it at any
    // time, which a reader without SQLite's locks (immutable) would misread. A private copy of the
    // file and its "-wal" is read instead, taken as one snapshot.
    if (isInWalMode(path)) {
        m_copy = HistoryCopy::make(path);
        m_name = m_copy->databasePath();
    }
    const QFileInfo opened(m_name);
    m_size = opened.size();
    m_modified = modifiedAt(opened);
    m_cutShort = cutShortIn(m_name);
}

std::unique_ptr<SQLite::Database> DatabaseSource::connect() const {
    // Each connection is used by one thread at a time: SQLite's own locking is not needed.
    auto db = std::make_unique<SQLite::Database>(m_name.toStdString(),
                                                 SQLite::OPEN_READONLY | SQLite::OPEN_NOMUTEX);
    // Readers on other threads take their locks at the same moment: on Windows each briefly takes one
    // byte of the file for itself alone, so that one of them may be refused for an instant. A lock
    // refused for longer than this is another program's.
    db->setBusyTimeout(kBusyWaitMs);
    return db;
}

void DatabaseSource::failOpening(const std::exception& error) const {
    // SQLite opens no history shorter than its header says; cut short, it is one all the same.
    if (isHeldOrHalfWritten(error) || !m_cutShort.isEmpty())
        fail(error);
    throw Failure(QStringLiteral("'%1' is not a Skype history: %2").arg(m_path, reasonOf(error)));
}

void DatabaseSource::fail(const std::exception& error) const {
    const QString description =
        QStringLiteral("Cannot read the Skype history '%1': %2").arg(m_path, reasonOf(error));
    const QString because = endsRunBecause(error);
    if (because.isEmpty())
        throw Failure(description);
    throw Failure::endingRun(description, because);
}

QString DatabaseSource::reasonOf(const std::exception& error) const {
    const auto* sqlite = dynamic_cast<const SQLite::Exception*>(&error);
    if (sqlite && (sqlite->getErrorCode() == SQLITE_BUSY || sqlite->getErrorCode() == SQLITE_LOCKED))
        return QStringLiteral("Skype is using this history; close Skype and try again");
    // A journal of changes left half-done: they must be undone before the history can be read, and a
    // reader that writes nothing cannot undo them.
    if (sqlite && sqlite->getExtendedErrorCode() == SQLITE_READONLY_ROLLBACK)
        return QStringLiteral("Skype did not close this history cleanly, and the changes it left half-done "
                              "in its '-journal' must be undone first; open it in Skype once and close "
                              "Skype again, then try again");
    // "Malformed" says nothing of a file whose end is missing.
    if (!m_cutShort.isEmpty())
        return QStringLiteral("it is cut short: %1; part of it is missing, as when a copy or a download "
                              "did not finish")
            .arg(m_cutShort);
    return QString::fromUtf8(error.what());
}

QString DatabaseSource::endsRunBecause(const std::exception& error) const {
    const auto* sqlite = dynamic_cast<const SQLite::Exception*>(&error);
    if (!sqlite)
        return QString();
    switch (sqlite->getErrorCode()) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QStringLiteral("Skype is using the history '%1'").arg(m_path);
    case SQLITE_IOERR:
    case SQLITE_NOTADB:
    case SQLITE_CANTOPEN:
    case SQLITE_CORRUPT: {
        const QFileInfo now(m_copy ? m_name : m_path);
        if (now.size() != m_size || modifiedAt(now) != m_modified)
            return QStringLiteral("the Skype history '%1' changed while it was read").arg(m_path);
        // Damage in a file that is as it was opened is that of the chats that meet it.
        if (sqlite->getErrorCode() == SQLITE_CORRUPT)
            return QString();
        return QStringLiteral("the Skype history '%1' can no longer be read").arg(m_path);
    }
    default:
        return QString();
    }
}
