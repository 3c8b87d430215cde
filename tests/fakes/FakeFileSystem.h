#pragma once

#include "files/LocalFileSystem.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

// The machine's file system, with what a test can turn on: folders that fold letter case, as on
// Windows and macOS; appends that fail from the nth one on with a given error, as on a disk that
// fills up; moves into place that fail for some transcripts, a number of times or for good, as
// where another program holds the file (which, as on Windows, may also refuse the move as if access
// were denied and tell the hold apart when asked); something done right after a move, as by someone
// else who may write in the folder; and a record of what was done, in order ("flush ann.txt").
// A pause before a retry is recorded, never waited for.
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
        done.append(QStringLiteral("flush ") + transcriptOf(name));
        return LocalFileSystem::flush(folder, name, id);
    }
    int replace(const OpenedFolder& folder, const QString& from, const FileId& id,
                const QString& to) override {
        done.append(QStringLiteral("replace ") + to);
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
        done.append(QStringLiteral("held open? ") + name);
        return heldOpenNames.contains(name) || LocalFileSystem::heldOpen(folder, name);
    }
    int flushFolder(const OpenedFolder& folder) override {
        done.append(QStringLiteral("flush folder"));
        return LocalFileSystem::flushFolder(folder);
    }
    bool foldsCase(const OpenedFolder& folder, const QString& probe) override {
        return foldCase || LocalFileSystem::foldsCase(folder, probe);
    }
    void pauseBeforeRetry() override { done.append(QStringLiteral("pause")); }

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
    QMap<QString, int> replaceErrors;                 // by the transcript's name
    QMap<QString, int> replaceTimes;                  // how often each of those fails; missing: always
    QStringList heldOpenNames;                        // held by another program that lets nobody delete them
    std::function<void(const QString&)> afterReplace; // given the transcript's name
    QStringList done;
};
