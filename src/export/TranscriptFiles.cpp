#include "TranscriptFiles.h"

#include "NarrowText.h"
#include "TranscriptFolder.h"

#include "base/ErrorTrap.h"
#include "base/Failure.h"
#include "files/FileError.h"
#include "files/FlushWorkers.h"
#include "files/FolderLock.h"
#include "files/InterruptCleanup.h"
#include "files/OpenedFolder.h"
#include "files/StagedName.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace {

// A staged file's name: ".ann.txt.XXXXXX.part", of which four letters are random and the last two a
// check of the name before them, so that a file of that shape which the program did not make is
// hardly ever taken for one of its own.
QString stagedName(const QString& stem, const QString& random) {
    return StagedName::checked(QLatin1Char('.') + stem + QLatin1Char('.') + random);
}

// Whether the name is one stagedName() gives: the pattern alone (a handle may hold a line break; a
// name that goes on after ".part" is not one), with a check that holds.
bool isStagedName(const QString& name) {
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(QStringLiteral(
                                                "\\.(.+)\\.([A-Za-z0-9]{4})[A-Za-z0-9]{2}\\.part")),
                                            QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = pattern.match(name);
    return match.hasMatch() && match.captured(1).endsWith(QLatin1String(".txt")) &&
           stagedName(match.captured(1), match.captured(2)) == name;
}

// The new file's name without its random part: the transcript's name, shortened where the longer
// name would not fit ("…txt" stays at its end, so that it still says whose it is).
QString stagedStem(const QString& name, qsizetype limit) {
    const QString placeholder = QStringLiteral("XXXX");
    if (OpenedFolder::nameLength(stagedName(name, placeholder)) <= limit)
        return name;
    const QString ending = QStringLiteral(".txt");
    QString head = name.endsWith(ending) ? name.chopped(ending.size()) : name;
    while (!head.isEmpty() && OpenedFolder::nameLength(stagedName(head + ending, placeholder)) > limit) {
        head.chop(1);
        if (!head.isEmpty() && head.back().isHighSurrogate())
            head.chop(1);
    }
    return head + ending;
}

} // namespace

TranscriptFiles::TranscriptFiles(FileSystem& fileSystem)
    : m_fileSystem(fileSystem) {}

TranscriptFiles::~TranscriptFiles() {
    // The flushes under way end first: a file is not removed while it is flushed.
    m_flushes.reset();
    for (Handed& handed : m_handed)
        discard(handed.pending);
    for (auto& [key, pending] : m_pending)
        discard(pending);
    flushFolders();
}

void TranscriptFiles::discard(Pending& pending) {
    InterruptCleanup::forget(pending.interruptEntry);
    pending.interruptEntry = -1;
    // Only while the name still leads to the file this run made: one swapped in is someone else's,
    // whatever number the system gave it.
    const OpenedFolder* folder = pending.folder->opened.get();
    if (!pending.staged.isEmpty() && folder) {
        const std::optional<FileId> named = folder->entryId(pending.staged, false);
        if (named && *named == pending.stagedId && named->owner == pending.stagedId.owner)
            m_fileSystem.remove(*folder, pending.staged);
    }
    pending.staged.clear();
}

TranscriptFiles::Folder& TranscriptFiles::folderOf(const QString& absoluteFolder, bool followLink) {
    const QString text = QDir::cleanPath(absoluteFolder);
    const auto found = m_folderAt.find(text);
    if (found != m_folderAt.end())
        return *found->second;
    int error = 0;
    std::shared_ptr<OpenedFolder> opened = OpenedFolder::open(text, followLink, &error);
    return addFolder(text, std::move(opened), error);
}

TranscriptFiles::Folder& TranscriptFiles::addFolder(const QString& text, std::shared_ptr<OpenedFolder> opened,
                                                    int openError) {
    if (Folder* known = knownAs(text, opened.get()))
        return *known;
    auto folder = std::make_unique<Folder>();
    folder->opened = std::move(opened);
    folder->openError = openError;
    folder->lock = std::make_unique<FolderLock>(folder->opened, text, folder->openError);
    folder->key = QStringLiteral("%1").arg(m_folders.size(), 4, 10, QLatin1Char('0'));
    const FolderLock::State state = folder->lock->lock();
    // No other run writes here now: what looks like one of our new files was left by a run that was
    // killed. Where the file system keeps no locks, they may be another run's that is still writing,
    // and stay.
    if (folder->lock->exclusive())
        removeLeftovers(*folder->opened);
    // The lock file exists while it is held, by this run or another: it tells how names compare here.
    if (state == FolderLock::State::Held || state == FolderLock::State::Busy)
        folder->foldsCase = m_fileSystem.foldsCase(*folder->opened, FolderLock::fileName());
    m_folders.push_back(std::move(folder));
    m_folderAt.emplace(text, m_folders.back().get());
    return *m_folders.back();
}

// Only what the program made: a name it gives, and a file as it makes one (the user's own, private,
// with no other name). A file of another user, or one of the user's that merely looks so, stays.
void TranscriptFiles::removeLeftovers(const OpenedFolder& folder) {
    for (const QString& name : folder.names()) {
        if (isStagedName(name))
            m_fileSystem.removeLeftover(folder, name);
    }
}

TranscriptFiles::Folder* TranscriptFiles::knownFolder(const QString& absoluteFolder) {
    const QString text = QDir::cleanPath(absoluteFolder);
    const auto found = m_folderAt.find(text);
    if (found != m_folderAt.end())
        return found->second;
    int error = 0;
    const std::unique_ptr<OpenedFolder> opened = OpenedFolder::open(text, true, &error);
    return knownAs(text, opened.get());
}

// Another name of a folder opened before (a link to it, "/out//") is that folder.
TranscriptFiles::Folder* TranscriptFiles::knownAs(const QString& text, const OpenedFolder* opened) {
    for (const auto& folder : m_folders) {
        if (opened && folder->opened && folder->opened->id() == opened->id()) {
            m_folderAt.emplace(text, folder.get());
            return folder.get();
        }
    }
    return nullptr;
}

QString TranscriptFiles::lockFolder(const QString& folderText, bool followLink, QString* unwritable) {
    const Folder& folder = folderOf(QFileInfo(folderText + QStringLiteral("x")).absolutePath(), followLink);
    if (unwritable && folder.lock->state() == FolderLock::State::Unwritable)
        *unwritable = fileErrorText(folder.lock->error());
    return folder.refused() ? folder.refusal() : QString();
}

QString TranscriptFiles::lockSubfolder(const QString& folderText, const QString& name, int* error) {
    *error = 0;
    const QString parentText = QFileInfo(folderText + QStringLiteral("x")).absolutePath();
    Folder& parent = folderOf(parentText);
    const QString text = QDir::cleanPath(parentText + QLatin1Char('/') + name);
    const auto found = m_folderAt.find(text);
    const Folder* folder = found != m_folderAt.end() ? found->second : nullptr;
    if (!folder) {
        if (!parent.opened) {
            *error = parent.openError;
            return QString();
        }
        std::shared_ptr<OpenedFolder> opened = parent.opened->makeFolder(name, error);
        if (!opened)
            return QString();
        folder = &addFolder(text, std::move(opened), 0);
        // Made now, perhaps: its name reaches the disk with the moves, before the run says "Done.".
        parent.moved = true;
    }
    return folder->refused() ? folder->refusal() : QString();
}

bool TranscriptFiles::holds(const QString& folderText) const {
    const auto found =
        m_folderAt.find(QDir::cleanPath(QFileInfo(folderText + QStringLiteral("x")).absolutePath()));
    return found != m_folderAt.end() && found->second->opened && !found->second->opened->removed();
}

std::shared_ptr<OpenedFolder> TranscriptFiles::openedFolder(const QString& folderPath) const {
    const auto found = m_folderAt.find(QDir::cleanPath(folderPath));
    if (found == m_folderAt.end() || found->second->refused())
        return nullptr;
    return found->second->opened;
}

void TranscriptFiles::protect(const QString& historyFile) {
    if (historyFile.isEmpty())
        return;
    const QFileInfo history(historyFile);
    int error = 0;
    const std::unique_ptr<OpenedFolder> folder = OpenedFolder::open(history.absolutePath(), true, &error);
    if (!folder)
        return;
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-journal")}) {
        if (const std::optional<FileId> id = folder->entryId(history.fileName() + suffix, true))
            m_protected.push_back(*id);
    }
}

QString TranscriptFiles::keyOf(const Folder& folder, const QString& name) const {
    return folder.key + QLatin1Char('/') + (folder.foldsCase ? name.toCaseFolded() : name);
}

std::map<QString, TranscriptFiles::Pending>::iterator TranscriptFiles::findPending(const QString& path) {
    // A folder not seen before holds nothing of this run: it is neither locked nor written.
    const QFileInfo info(path);
    const Folder* folder = knownFolder(info.absolutePath());
    return folder ? m_pending.find(keyOf(*folder, info.fileName())) : m_pending.end();
}

TranscriptFiles::Pending& TranscriptFiles::pendingFor(const QString& path, bool fromOld) {
    const QFileInfo info(path);
    Folder& folder = folderOf(info.absolutePath());
    const QString key = keyOf(folder, info.fileName());
    auto found = m_pending.find(key);
    if (found != m_pending.end())
        return found->second;
    Pending pending;
    pending.path = path;
    pending.name = info.fileName();
    pending.folder = &folder;
    pending.fromOld = fromOld;
    // A folder this run may not write into keeps its transcripts, and so does the history itself.
    if (folder.refused())
        pending.refusal = folder.refusal();
    for (const bool followLink : {false, true}) {
        const std::optional<FileId> id =
            folder.opened ? folder.opened->entryId(pending.name, followLink) : std::nullopt;
        if (pending.refusal.isEmpty() && id &&
            std::find(m_protected.begin(), m_protected.end(), *id) != m_protected.end())
            pending.refusal =
                QStringLiteral("Cannot write '%1': it is the Skype history being read").arg(path);
    }
    pending.spoilt = !pending.refusal.isEmpty();
    return m_pending.emplace(key, pending).first->second;
}

void TranscriptFiles::restart(const QString& path) {
    Pending& pending = pendingFor(path, false);
    discard(pending);
    pending.fromOld = false;
    pending.spoilt = !pending.refusal.isEmpty();
}

void TranscriptFiles::append(const QString& path, const QString& text) {
    write(path, NarrowText::encode(text));
}

void TranscriptFiles::appendUtf8(const QString& path, const QByteArray& text) {
    write(path, NarrowText::systemIsUtf8() ? text : NarrowText::encode(QString::fromUtf8(text)));
}

void TranscriptFiles::write(const QString& path, const QByteArray& bytes) {
    Pending& pending = pendingFor(path, true);
    if (pending.left)
        return;
    try {
        if (!pending.refusal.isEmpty())
            throw Failure(pending.refusal);
        if (pending.staged.isEmpty())
            createStaged(pending);
        const int error =
            m_fileSystem.append(*pending.folder->opened, pending.staged, pending.stagedId, bytes);
        if (error != 0)
            fail(QStringLiteral("Cannot write"), pending, error);
    } catch (...) {
        pending.spoilt = true;
        throw;
    }
}

// Beside the transcript, since only a file in the same folder can be moved over it in one step.
void TranscriptFiles::createStaged(Pending& pending) {
    if (!pending.folder->opened)
        fail(QStringLiteral("Cannot write"), pending, pending.folder->openError);
    const OpenedFolder& folder = *pending.folder->opened;
    const qsizetype limit = folder.nameLimit();
    if (OpenedFolder::nameLength(pending.name) > limit)
        throw Failure(
            QStringLiteral("Cannot write '%1': %2").arg(pending.path, fileErrorText(FileError::NameTooLong)));
    const QString stem = stagedStem(pending.name, limit);
    for (int attempt = 0;; ++attempt) {
        const QString name = stagedName(stem, StagedName::randomPart());
        const int error = m_fileSystem.createStaged(folder, name, &pending.stagedId);
        if (error == 0) {
            pending.staged = name;
            pending.interruptEntry = InterruptCleanup::note(folder, name, pending.stagedId);
            break;
        }
        if (fileErrorKind(error) != FileError::Exists || attempt == 100)
            fail(QStringLiteral("Cannot write"), pending, error);
    }
    // A transcript the first pass did not restart (its row was ticked later) keeps what it had, as
    // when runs appended to it.
    if (pending.fromOld) {
        const int error = m_fileSystem.appendCopy(folder, pending.name, pending.staged, pending.stagedId);
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
    // What was handed over before came first, and may have ended the run already.
    if (!m_settling)
        settle(m_handed.size());
    const QString folder = QDir::toNativeSeparators(QFileInfo(pending.path).absolutePath());
    const OpenedFolder* opened = pending.folder->opened.get();
    const FileError kind = fileErrorKind(error);
    // A folder a network share's server removed leaves a stale handle, which cannot tell it is gone.
    const bool gone =
        kind == FileError::Stale ||
        (opened ? opened->removed() : fileErrorKind(pending.folder->openError) == FileError::NotFound);
    // Gone, and another folder took its name: what this run wrote there went with the old one.
    const bool replaced = gone && opened && QFileInfo(pending.path).absoluteDir().exists();
    QString reason = fileErrorText(error);
    if (gone)
        reason = replaced ? QStringLiteral("its folder was removed or replaced")
                          : QStringLiteral("its folder does not exist");
    if (m_stop.isEmpty() && (gone || kind == FileError::DiskFull || kind == FileError::Refused)) {
        if (replaced)
            m_stop =
                QStringLiteral("The export stopped because the folder '%1' was removed or replaced while it "
                               "wrote there.")
                    .arg(folder);
        else if (gone)
            m_stop = QStringLiteral("The export stopped because the folder '%1' does not exist.").arg(folder);
        else
            m_stop = QStringLiteral("The export stopped because it cannot write into the folder '%1': %2.")
                         .arg(folder, reason);
        m_stop += QStringLiteral(" The transcripts it had not yet put in place were left as they were.");
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

void TranscriptFiles::leave(const QString& path) {
    const auto found = findPending(path);
    if (found == m_pending.end())
        return;
    discard(found->second);
    found->second.left = true;
}

bool TranscriptFiles::unchanged(const QString& path) {
    const QFileInfo info(path);
    const Folder* folder = knownFolder(info.absolutePath());
    return folder && m_unchanged.count(keyOf(*folder, info.fileName())) > 0;
}

QStringList TranscriptFiles::pending() const {
    QStringList paths;
    for (const auto& [key, pending] : m_pending)
        paths.append(pending.path);
    return paths;
}
