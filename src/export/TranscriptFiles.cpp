#include "TranscriptFiles.h"

#include "FileRoutines.h"
#include "FolderLock.h"
#include "NarrowText.h"

#include "base/ErrorTrap.h"
#include "base/Failure.h"
#include "base/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#endif

struct TranscriptFiles::Folder {
    QString key; // the same for every path that names this folder
    std::unique_ptr<FolderLock> lock;
    bool foldsCase = false;

    // Another run writes here, or the lock cannot be had: nothing of this run may be written here.
    bool refused() const {
        return lock->state() == FolderLock::State::Busy || lock->state() == FolderLock::State::Failed;
    }
    QString refusal() const {
        return lock->state() == FolderLock::State::Busy ? lock->busyMessage() : lock->failureMessage();
    }
};

namespace {

#ifdef Q_OS_WIN
constexpr int kNameTooLong = ERROR_FILENAME_EXCED_RANGE;
#else
constexpr int kNameTooLong = ENAMETOOLONG;
#endif

// What the folder is, however its path is written: through a link, with doubled separators or, on
// Windows, in other letter case. `exists` tells whether a folder was found there.
QString folderIdentity(const QString& folder, bool* exists = nullptr) {
#ifdef Q_OS_WIN
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (exists)
        *exists = !canonical.isEmpty();
    return (canonical.isEmpty() ? QDir::cleanPath(folder) : canonical).toCaseFolded();
#else
    struct stat status{};
    const bool found = ::stat(QFile::encodeName(folder).constData(), &status) == 0;
    if (exists)
        *exists = found;
    if (found)
        return QStringLiteral("%1:%2")
            .arg(static_cast<qulonglong>(status.st_dev))
            .arg(static_cast<qulonglong>(status.st_ino));
    return QDir::cleanPath(folder);
#endif
}

// A file name's length as the folder's file system counts it, and the most it takes.
qsizetype nameLength(const QString& name) {
#ifdef Q_OS_WIN
    return name.size();
#else
    return QFile::encodeName(name).size();
#endif
}

qsizetype nameLimit(const QString& folder) {
#ifdef Q_OS_WIN
    Q_UNUSED(folder);
    return 255;
#else
    const long limit = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
    return limit > 0 ? limit : 255;
#endif
}

QString stagedName(const QString& stem, const QString& suffix) {
    return QLatin1Char('.') + stem + QLatin1Char('.') + suffix + QStringLiteral(".part");
}

// The new file's name without its random part: the transcript's name, shortened where the longer
// name would not fit ("…txt" stays at its end, so that it still says whose it is).
QString stagedStem(const QString& name, qsizetype limit) {
    const QString placeholder = QStringLiteral("XXXXXX");
    if (nameLength(stagedName(name, placeholder)) <= limit)
        return name;
    const QString ending = QStringLiteral(".txt");
    QString head = name.endsWith(ending) ? name.chopped(ending.size()) : name;
    while (!head.isEmpty() && nameLength(stagedName(head + ending, placeholder)) > limit) {
        head.chop(1);
        if (!head.isEmpty() && head.back().isHighSurrogate())
            head.chop(1);
    }
    return head + ending;
}

QString randomSuffix() {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString suffix;
    for (int i = 0; i < 6; ++i)
        suffix += QLatin1Char(letters[QRandomGenerator::global()->bounded(62)]);
    return suffix;
}

} // namespace

TranscriptFiles::TranscriptFiles(FileSystem& fileSystem)
    : m_fileSystem(fileSystem) {}

TranscriptFiles::~TranscriptFiles() {
    for (auto& [key, pending] : m_pending)
        discard(pending);
}

void TranscriptFiles::discard(Pending& pending) {
    if (!pending.newFile.isEmpty())
        m_fileSystem.remove(pending.newFile);
    pending.newFile.clear();
}

TranscriptFiles::Folder* TranscriptFiles::earlierFolder(const QString& absoluteFolder) const {
    const auto found = m_folderAt.find(QDir::cleanPath(absoluteFolder));
    return found != m_folderAt.end() ? found->second : nullptr;
}

bool TranscriptFiles::replacedMeanwhile(const Folder& folder, const QString& absoluteFolder) {
    bool exists = false;
    return folderIdentity(absoluteFolder, &exists) != folder.key && exists;
}

void TranscriptFiles::failReplaced(const QString& what, const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    if (m_stop.isEmpty())
        m_stop = QStringLiteral("The export stopped because the folder '%1' was removed or replaced while it "
                                "wrote there. The transcripts it had not yet put in place were left as they "
                                "were.")
                     .arg(QDir::toNativeSeparators(folder));
    throw Failure(QStringLiteral("%1 '%2': its folder was removed or replaced").arg(what, path));
}

TranscriptFiles::Folder& TranscriptFiles::folderOf(const QString& absoluteFolder) {
    bool exists = false;
    const QString key = folderIdentity(absoluteFolder, &exists);
    const auto found = m_folders.find(key);
    if (found != m_folders.end()) {
        if (exists)
            m_folderAt.emplace(QDir::cleanPath(absoluteFolder), found->second.get());
        return *found->second;
    }
    auto folder = std::make_unique<Folder>();
    folder->key = key;
    folder->lock = std::make_unique<FolderLock>(absoluteFolder + QLatin1Char('/'));
    const FolderLock::State state = folder->lock->lock();
    if (folder->lock->exclusive()) {
        // No other run writes here now: what looks like one of our new files was left by a run that
        // was killed. Only names of that pattern, only regular files. Where the file system keeps no
        // locks, they may be another run's that is still writing, and stay.
        static const QRegularExpression stale(QStringLiteral("^\\..+\\.txt\\.[A-Za-z0-9]{6}\\.part$"));
        const QFileInfoList candidates =
            QDir(absoluteFolder)
                .entryInfoList({QStringLiteral(".*.part")},
                               QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
        for (const QFileInfo& candidate : candidates) {
            if (stale.match(candidate.fileName()).hasMatch() && candidate.isFile() && !candidate.isSymLink())
                m_fileSystem.remove(candidate.filePath());
        }
    }
    // The lock file exists while it is held, by this run or another: it tells how names compare here.
    if (state == FolderLock::State::Held || state == FolderLock::State::Busy)
        folder->foldsCase = m_fileSystem.foldsCase(absoluteFolder, FolderLock::fileName());
    Folder& made = *m_folders.emplace(key, std::move(folder)).first->second;
    if (exists)
        m_folderAt.emplace(QDir::cleanPath(absoluteFolder), &made);
    return made;
}

QString TranscriptFiles::lockFolder(const QString& folderText) {
    const Folder& folder = folderOf(QFileInfo(folderText + QStringLiteral("x")).absolutePath());
    return folder.refused() ? folder.refusal() : QString();
}

QString TranscriptFiles::keyOf(const QString& path, Folder** folder) {
    const QFileInfo info(path);
    // A folder text that named another folder before: what this run wrote there went with it. A folder
    // that is gone now fails the writes into it as they come.
    if (Folder* earlier = earlierFolder(info.absolutePath())) {
        if (replacedMeanwhile(*earlier, info.absolutePath()))
            failReplaced(QStringLiteral("Cannot write"), path);
        *folder = earlier;
        return keyIn(*earlier, info.fileName());
    }
    Folder& found = folderOf(info.absolutePath());
    *folder = &found;
    return keyIn(found, info.fileName());
}

QString TranscriptFiles::keyIn(const Folder& folder, const QString& name) {
    return folder.key + QLatin1Char('/') + (folder.foldsCase ? name.toCaseFolded() : name);
}

std::map<QString, TranscriptFiles::Pending>::iterator TranscriptFiles::findPending(const QString& path) {
    // A folder not seen before holds nothing of this run: it is neither locked nor looked into. One
    // removed or replaced since holds what the run wrote before.
    const QFileInfo info(path);
    if (const Folder* earlier = earlierFolder(info.absolutePath()))
        return m_pending.find(keyIn(*earlier, info.fileName()));
    const auto folder = m_folders.find(folderIdentity(info.absolutePath()));
    if (folder == m_folders.end())
        return m_pending.end();
    return m_pending.find(keyIn(*folder->second, info.fileName()));
}

TranscriptFiles::Pending& TranscriptFiles::pendingFor(const QString& path, bool fromOld) {
    Folder* folder = nullptr;
    const QString key = keyOf(path, &folder);
    auto found = m_pending.find(key);
    if (found == m_pending.end()) {
        Pending pending;
        pending.path = path;
        pending.folder = folder;
        pending.fromOld = fromOld;
        // A folder this run may not write into keeps its transcripts.
        pending.spoilt = folder->refused();
        found = m_pending.emplace(key, pending).first;
    }
    return found->second;
}

void TranscriptFiles::restart(const QString& path) {
    Pending& pending = pendingFor(path, false);
    discard(pending);
    pending.fromOld = false;
    pending.spoilt = pending.folder->refused();
}

void TranscriptFiles::append(const QString& path, const QString& text) {
    write(path, NarrowText::encode(text));
}

void TranscriptFiles::appendUtf8(const QString& path, const QByteArray& text) {
    write(path, NarrowText::systemIsUtf8() ? text : NarrowText::encode(QString::fromUtf8(text)));
}

void TranscriptFiles::write(const QString& path, const QByteArray& bytes) {
    Pending& pending = pendingFor(path, true);
    try {
        if (pending.folder->refused())
            throw Failure(pending.folder->refusal());
        if (pending.newFile.isEmpty())
            createNewFile(pending);
        const int error = m_fileSystem.append(pending.newFile, bytes);
        if (error != 0)
            fail(QStringLiteral("Cannot write"), pending, error);
    } catch (...) {
        pending.spoilt = true;
        throw;
    }
}

// Beside the transcript, since only a file in the same folder can be moved over it in one step.
void TranscriptFiles::createNewFile(Pending& pending) {
    const QFileInfo transcript(pending.path);
    const QString folder = transcript.absolutePath();
    const qsizetype limit = nameLimit(folder);
    if (nameLength(transcript.fileName()) > limit)
        fail(QStringLiteral("Cannot write"), pending, kNameTooLong);
    const QString stem = stagedStem(transcript.fileName(), limit);
    for (int attempt = 0;; ++attempt) {
        const QString newFile = QDir(folder).filePath(stagedName(stem, randomSuffix()));
        const int error = m_fileSystem.createNew(newFile);
        if (error == 0) {
            pending.newFile = newFile;
            break;
        }
        if (fileErrorKind(error) != FileError::Exists || attempt == 100)
            fail(QStringLiteral("Cannot write"), pending, error);
    }
    // A transcript the first pass did not restart (its row was ticked later) keeps what it had, as
    // when runs appended to it.
    if (pending.fromOld) {
        const int error = m_fileSystem.appendCopy(pending.path, pending.newFile);
        // Writing into the folder was just allowed: a refusal now is the old transcript's, which
        // this contact keeps, and no reason to end the run.
        if (fileErrorKind(error) == FileError::Refused)
            throw Failure(QStringLiteral("Cannot read the old transcript '%1': %2")
                              .arg(pending.path, fileErrorText(error)));
        if (error != 0)
            fail(QStringLiteral("Cannot write"), pending, error);
    }
}

void TranscriptFiles::fail(const QString& what, const Pending& pending, int error) {
    const QString folder = QFileInfo(pending.path).absolutePath();
    const FileError kind = fileErrorKind(error);
    const bool folderGone = kind == FileError::NotFound && !QFileInfo(folder).isDir();
    const QString reason = folderGone ? QStringLiteral("its folder does not exist") : fileErrorText(error);
    if (m_stop.isEmpty() && (folderGone || kind == FileError::DiskFull || kind == FileError::Refused)) {
        const QString native = QDir::toNativeSeparators(folder);
        m_stop =
            (folderGone
                 ? QStringLiteral("The export stopped because the folder '%1' does not exist.").arg(native)
                 : QStringLiteral("The export stopped because it cannot write into the folder "
                                  "'%1': %2.")
                       .arg(native, reason)) +
            QStringLiteral(" The transcripts it had not yet put in place were left as they were.");
    }
    throw Failure(QStringLiteral("%1 '%2': %3").arg(what, pending.path, reason));
}

bool TranscriptFiles::mustStop(const ErrorTrap& trap) {
    if (m_stop.isEmpty() && !trap.endedRunBecause().isEmpty())
        m_stop = QStringLiteral("The export stopped because %1. The transcripts it had not yet put in place "
                                "were left as they were.")
                     .arg(trap.endedRunBecause());
    return stopped();
}

bool TranscriptFiles::isStopMessage(const QString& text) {
    return text.startsWith(QLatin1String("The export stopped because "));
}

void TranscriptFiles::spoil(const QString& path) {
    const auto found = findPending(path);
    if (found != m_pending.end())
        found->second.spoilt = true;
}

void TranscriptFiles::spoilAll() {
    for (auto& [key, pending] : m_pending)
        pending.spoilt = true;
}

QStringList TranscriptFiles::pending() const {
    QStringList paths;
    for (const auto& [key, pending] : m_pending)
        paths.append(pending.path);
    return paths;
}

void TranscriptFiles::commit(const QString& path) {
    const auto found = findPending(path);
    if (found == m_pending.end())
        return;
    Pending pending = found->second;
    m_pending.erase(found);
    if (pending.spoilt || pending.folder->refused()) {
        discard(pending);
        m_kept.append(pending.path);
        return;
    }
    // Neither a transcript nor its deletion goes into another folder than the one written into; its
    // new file, if still there, went with the old folder.
    if (replacedMeanwhile(*pending.folder, QFileInfo(pending.path).absolutePath()))
        failReplaced(QStringLiteral("Cannot replace"), pending.path);
    if (pending.newFile.isEmpty()) {
        // Nothing new for this contact: the old transcript goes, as a fresh run would leave none.
        const int error = m_fileSystem.remove(pending.path);
        if (error != 0)
            fail(QStringLiteral("Cannot delete the old transcript"), pending, error);
        return;
    }
    const int error = m_fileSystem.replace(pending.newFile, pending.path);
    if (error != 0) {
        discard(pending);
        fail(QStringLiteral("Cannot replace"), pending, error);
    }
}

QString TranscriptFiles::keptMessage() const {
    return keptHeading() + m_kept.join(QStringLiteral("\r\n"));
}

QString TranscriptFiles::keptHeading() {
    return QStringLiteral("These transcripts were left as they were, because a chat of theirs could not be "
                          "read or written:\r\n");
}
