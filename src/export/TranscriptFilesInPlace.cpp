#include "TranscriptFiles.h"

#include "ChatFailures.h"
#include "TranscriptFolder.h"

#include "base/ErrorTrap.h"
#include "base/Failure.h"
#include "files/FileError.h"
#include "files/FlushWorkers.h"
#include "files/InterruptCleanup.h"
#include "files/OpenedFolder.h"

// Putting the new transcripts in place, at once or in the background, and what is told of it.

namespace {

// How often a move or delete is tried while another program holds the file: about two seconds.
constexpr int kRetries = 20;

// How many transcripts handed over may wait to be put in place: a few dozen flushes under way keep a
// disk busy, and more would only keep more of them unfinished.
constexpr size_t kHandedAhead = 128;

} // namespace

// The folders' names on the disk once, after their moves: until then a power cut brings back old
// transcripts, whole. Errors left out: some file systems take no flush of a folder.
void TranscriptFiles::flushFolders() {
    for (const auto& folder : m_folders) {
        if (folder->moved)
            m_fileSystem.flushFolder(*folder->opened);
        folder->moved = false;
    }
}

void TranscriptFiles::failOne(const QString& what, Pending& pending, int error) {
    discard(pending);
    m_kept.append(pending.path);
    throw Failure(QStringLiteral("%1 '%2': %3").arg(what, pending.path, fileErrorText(error)));
}

int TranscriptFiles::whileInUse(const std::function<int()>& operation) {
    for (int attempt = 0;; ++attempt) {
        const int error = operation();
        if (fileErrorKind(error) != FileError::InUse || attempt == kRetries)
            return error;
        m_fileSystem.pauseBeforeRetry();
    }
}

void TranscriptFiles::commit(const QString& path) {
    const auto found = findPending(path);
    if (found == m_pending.end())
        return;
    const QString key = found->first;
    Pending pending = found->second;
    m_pending.erase(found);
    if (pending.left)
        return;
    // What was handed over comes first; after a stop nothing more is put in place.
    settle(m_handed.size());
    if (stopped()) {
        discard(pending);
        return;
    }
    if (pending.spoilt || !pending.refusal.isEmpty() || pending.folder->refused()) {
        discard(pending);
        m_kept.append(pending.path);
        return;
    }
    // Nothing new for this contact (no chat of theirs in this history): the old transcript stays as
    // it is, whole; deleting it would leave the contact with less than it had.
    if (pending.staged.isEmpty()) {
        if (pending.folder->opened && pending.folder->opened->entryId(pending.name, false))
            m_unchanged.insert(key);
        return;
    }
    putInPlace(pending, m_fileSystem.flush(*pending.folder->opened, pending.staged, pending.stagedId));
}

void TranscriptFiles::commitLater(const QString& path, ChatFailures& failures, int transcript, int line) {
    if (m_failures != &failures) {
        if (m_failures)
            finish();
        m_failures = &failures;
        failures.trap().settleFirst([this] { return settleBeforeFailure(); });
    }
    const auto found = findPending(path);
    if (found == m_pending.end())
        return;
    Handed handed{found->first, found->second, false, 0, transcript, line};
    m_pending.erase(found);
    Pending& pending = handed.pending;
    if (pending.left)
        return;
    if (stopped()) {
        discard(pending);
        return;
    }
    if (pending.spoilt || !pending.refusal.isEmpty() || pending.folder->refused()) {
        handed.keep = true;
    } else if (pending.staged.isEmpty()) {
        if (pending.folder->opened && pending.folder->opened->entryId(pending.name, false))
            m_unchanged.insert(handed.key);
        return;
    } else {
        if (!m_flushes)
            m_flushes = std::make_unique<FlushWorkers>(m_fileSystem);
        handed.flush = m_flushes->start(pending.folder->opened, pending.staged, pending.stagedId);
    }
    m_handed.push_back(std::move(handed));
    if (m_handed.size() > kHandedAhead)
        settle(m_handed.size() - kHandedAhead);
}

void TranscriptFiles::finish() {
    settle(m_handed.size());
    m_stoppedLate = false;
    if (m_failures)
        m_failures->trap().settleFirst(nullptr);
    m_failures = nullptr;
    flushFolders();
}

void TranscriptFiles::settle(size_t count) {
    if (m_settling)
        return;
    m_settling = true;
    try {
        for (size_t i = 0; i < count && !m_handed.empty(); ++i)
            settleOne();
    } catch (...) {
        m_settling = false;
        throw;
    }
    m_settling = false;
}

void TranscriptFiles::settleOne() {
    Handed handed = std::move(m_handed.front());
    m_handed.pop_front();
    Pending& pending = handed.pending;
    int flushed = 0;
    std::exception_ptr failure;
    try {
        if (!handed.keep)
            flushed = m_flushes->wait(handed.flush);
    } catch (...) {
        failure = std::current_exception();
    }
    // The run ended before this transcript's turn: it would not have been written.
    if (stopped()) {
        discard(pending);
        return;
    }
    try {
        if (handed.keep || failure) {
            discard(pending);
            m_kept.append(pending.path);
            if (failure)
                std::rethrow_exception(failure);
            return;
        }
        putInPlace(pending, flushed);
    } catch (...) {
        m_failures->reportLate(handed.transcript, handed.line, std::current_exception());
        if (stopped())
            m_stoppedLate = true;
    }
}

bool TranscriptFiles::settleBeforeFailure() {
    try {
        settle(m_handed.size());
    } catch (...) {
        // out of memory while reporting: the failure at hand is reported all the same
    }
    return !m_stoppedLate;
}

void TranscriptFiles::putInPlace(Pending& pending, int flushed) {
    const OpenedFolder& folder = *pending.folder->opened;
    // On the disk before it replaces the old one: after a power cut either is whole. A folder removed
    // since its flush stops the run as a flush that finds it gone does.
    if (flushed != 0 || folder.removed()) {
        discard(pending);
        m_kept.append(pending.path);
        fail(QStringLiteral("Cannot write"), pending, flushed);
    }
    const int error = whileInUse([&] {
        const int replaced = m_fileSystem.replace(folder, pending.staged, pending.stagedId, pending.name);
        // A file another program holds open without letting it be deleted (an editor, a viewer, a
        // scanner) refuses the move on Windows as if access were denied: it is in use.
        if (fileErrorKind(replaced) == FileError::Refused && m_fileSystem.heldOpen(folder, pending.name))
            return FileSystem::kHeldOpen;
        return replaced;
    });
    if (error != 0)
        failOne(QStringLiteral("Cannot replace"), pending, error);
    // Gone from the interrupt's clean-up only once moved: a Ctrl-C on another thread (the flushes')
    // up to the move still removes it. The clean-up removes only the file made, which no longer
    // bears the staged name.
    InterruptCleanup::forget(pending.interruptEntry);
    pending.interruptEntry = -1;
    pending.folder->moved = true;
    // Through the folder: the name must lead to the file this run wrote. Someone who may write in the
    // folder can exchange it for a file of theirs as it is moved; that cannot be undone here, but the
    // run does not say it wrote this transcript.
    const std::optional<FileId> moved = folder.entryId(pending.name, false);
    // Not an exchange: the folder went, and what the run wrote there with it.
    if (!moved && folder.removed())
        fail(QStringLiteral("Cannot write"), pending, 0);
    if (!moved || !(*moved == pending.stagedId) || moved->owner != pending.stagedId.owner)
        throw Failure(QStringLiteral("Cannot replace '%1': %2")
                          .arg(pending.path, fileErrorText(FileSystem::kExchangedAfterMove)));
}

QString TranscriptFiles::keptMessage() const {
    return keptHeading() + m_kept.join(QStringLiteral("\r\n"));
}

QString TranscriptFiles::keptHeading() {
    return QStringLiteral("These transcripts were left as they were, because a chat of theirs could not be "
                          "read or written:\r\n");
}
