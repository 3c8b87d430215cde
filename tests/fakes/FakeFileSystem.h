#pragma once

#include "files/LocalFileSystem.h"
#include "files/OpenedFolder.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <mutex>

// The machine's file system, with what a test can turn on: folders that fold letter case, as on
// Windows and macOS; appends that fail from the nth one on with a given error, as on a disk that
// fills up; moves into place that fail for some transcripts, a number of times or for good, as
// where another program holds the file (which, as on Windows, may also refuse the move as if access
// were denied and tell the hold apart when asked); something done right after a move, as by someone
// else who may write in the folder; flushes that fail for some transcripts; and a record of what was
// done, in order ("flush ann.txt"). Flushes run on other threads: the record takes them as they come,
// so between different transcripts only the order the run promises holds. A pause before a retry is
// recorded, never waited for.
class FakeFileSystem final : public LocalFileSystem {
public:
    int createStaged(const OpenedFolder& folder, const QString& name, FileId* id) override {
        if (createError != 0)
            return createError;
        return LocalFileSystem::createStaged(folder, name, id);
    }
    int append(const OpenedFolder& folder, const QString& name, const FileId& id,
               const QByteArray& bytes) override {
        ++appends;
        if (beforeAppend)
            beforeAppend(appends);
        if (failAppendsFrom > 0 && appends >= failAppendsFrom)
            return appendError;
        if (!failNamesStarting.isEmpty() && name.startsWith(failNamesStarting) &&
            ++namedAppends >= failNamedFrom)
            return appendError;
        return LocalFileSystem::append(folder, name, id, bytes);
    }
    int flush(const OpenedFolder& folder, const QString& name, const FileId& id) override {
        const QString transcript = transcriptOf(name);
        record(QString(), 1);
        if (beforeFlush)
            beforeFlush(transcript);
        const int error = flushErrors.contains(transcript) ? flushErrors.value(transcript)
                                                           : LocalFileSystem::flush(folder, name, id);
        // Recorded as it ends: a move recorded before it came before the flush was done.
        record(QStringLiteral("flush ") + transcript + (error == 0 ? QString() : QStringLiteral(" failed")),
               -1);
        return error;
    }
    int replace(const OpenedFolder& folder, const QString& from, const FileId& id,
                const QString& to) override {
        record(QStringLiteral("replace ") + to);
        if (beforeReplace)
            beforeReplace(to);
        if (replaceErrors.contains(to) && replaceTimes.value(to, -1) != 0) {
            replaceTimes[to] = replaceTimes.value(to, -1) - 1;
            return replaceErrors.value(to);
        }
        const int error = replaceError != 0 ? replaceError : LocalFileSystem::replace(folder, from, id, to);
        if (error == 0 && afterReplace)
            afterReplace(to);
        return error;
    }
    bool heldOpen(const OpenedFolder& folder, const QString& name) override {
        record(QStringLiteral("held open? ") + name);
        return heldOpenNames.contains(name) || LocalFileSystem::heldOpen(folder, name);
    }
    int flushFolder(const OpenedFolder& folder) override {
        record(QStringLiteral("flush folder"));
        flushedFolders.append(folder.path());
        return LocalFileSystem::flushFolder(folder);
    }
    bool foldsCase(const OpenedFolder& folder, const QString& probe) override {
        return foldCase || LocalFileSystem::foldsCase(folder, probe);
    }
    void pauseBeforeRetry() override { record(QStringLiteral("pause")); }

    // "ann.txt" for its staged file ".ann.txt.XXXXXX.part".
    static QString transcriptOf(const QString& staged) {
        return staged.mid(1).section(QLatin1Char('.'), 0, -3);
    }

    bool foldCase = false;
    int createError = 0;
    int failAppendsFrom = 0; // 0: never
    int appendError = 0;
    int appends = 0;
    // Appends to staged files whose names start so fail from the nth of them on, as a disk fills up
    // half-way through a large copy.
    QString failNamesStarting;
    int failNamedFrom = 1;
    int namedAppends = 0;
    std::function<void(int)> beforeAppend; // given the number of the append
    int replaceError = 0;
    QMap<QString, int> replaceErrors;                  // by the transcript's name
    QMap<QString, int> replaceTimes;                   // how often each of those fails; missing: always
    QStringList heldOpenNames;                         // held by another program that lets nobody delete them
    std::function<void(const QString&)> beforeReplace; // given the transcript's name
    std::function<void(const QString&)> afterReplace;  // given the transcript's name
    QMap<QString, int> flushErrors;                    // by the transcript's name; set before the run
    std::function<void(const QString&)> beforeFlush;   // on the flush's thread, given the transcript
    QStringList done;                                  // read while no run is under way

    // What was done out of the order a run promises, or nothing: each transcript flushed, with success,
    // before it is moved into place, and the folder flushed after the last move.
    QString outOfOrder() const {
        QStringList flushed;
        bool moved = false;
        for (const QString& step : done) {
            if (step == QLatin1String("flush folder")) {
                moved = false;
            } else if (step.startsWith(QLatin1String("flush ")) && !step.endsWith(QLatin1String(" failed"))) {
                flushed.append(step.mid(6));
            } else if (step.startsWith(QLatin1String("replace "))) {
                if (!flushed.contains(step.mid(8)))
                    return step + QStringLiteral(" before its flush");
                moved = true;
            }
        }
        return moved ? QStringLiteral("no flush of the folder after the last move") : QString();
    }

    int mostFlushing = 0;       // flushes under way at once, at most
    QStringList flushedFolders; // their paths, in order; folders are flushed by the run's own thread

private:
    // Records the step; `flushing` counts a flush that begins (1) or ends (-1).
    void record(const QString& what, int flushing = 0) {
        const std::lock_guard<std::mutex> lock(m_recording);
        if (!what.isEmpty())
            done.append(what);
        m_flushing += flushing;
        mostFlushing = std::max(mostFlushing, m_flushing);
    }

    int m_flushing = 0;

    std::mutex m_recording;
};
