#include "ExportWindow.h"

#include "base/ErrorTrap.h"
#include "export/ChatFailures.h"
#include "export/TranscriptFiles.h"
#include "fakes/FakeFileSystem.h"
#include "fakes/FakeMessageBoxes.h"
#include "files/FileError.h"
#include "files/FlushWorkers.h"
#include "files/FolderLock.h"

#include <QDir>

#include <gtest/gtest.h>

#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

// The new transcripts are flushed on other threads while the run goes on, and moved into place in
// order: a failure at any step of that keeps what it kept when each was flushed and moved at once,
// and says so in the same boxes, in the same order.
namespace {

const QDateTime kStamp(QDate(2021, 8, 31), QTime(15, 42, 10));
const QByteArray kHeader("[8/31/2021 3:42:10 PM]");
const QStringList kHandles{QStringLiteral("ann"), QStringLiteral("bob"), QStringLiteral("cid"),
                           QStringLiteral("dee")};
#ifdef Q_OS_WIN
constexpr int kFull = ERROR_DISK_FULL;
constexpr int kRefused = ERROR_ACCESS_DENIED;
constexpr int kDiskError = ERROR_CRC;
#else
constexpr int kFull = ENOSPC;
constexpr int kRefused = EACCES;
constexpr int kDiskError = EIO;
#endif

class PuttingInPlace : public ExportWindow {
protected:
    PuttingInPlace()
        : ExportWindow("UTC") {}

    // The output folder "out", made afresh with an old transcript for each contact.
    void makeFolder() {
        out = outputDir.filePath(QStringLiteral("out"));
        QDir(out).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(out));
        outText = QDir::toNativeSeparators(out) + QDir::separator();
        for (const QString& handle : kHandles)
            writeFile(path(handle), "old " + handle.toUtf8());
        form().setOutputFolderText(outText);
    }
    QString path(const QString& handle) const { return outText + handle + QStringLiteral(".txt"); }
    QStringList filesIn() const {
        QStringList names = QDir(out).entryList(QDir::Files | QDir::Hidden | QDir::System);
        std::sort(names.begin(), names.end());
        return names;
    }
    static QString error(bool older, const QString& description, int line) {
        return errorReport(description,
                           older ? QStringLiteral("PushButton6_Click") : QStringLiteral("PushButton7_Click"),
                           line);
    }
    static QString kept(const QStringList& paths) {
        return TranscriptFiles::keptHeading() + paths.join(QStringLiteral("\r\n"));
    }
    static QString stopped(const QString& why) {
        return QStringLiteral(
                   "The export stopped because %1. The transcripts it had not yet put in place were "
                   "left as they were.")
            .arg(why);
    }
    // What each export writes for a chat of one message "X: hi".
    static QByteArray written(bool older) {
        return kHeader + QByteArray(older ? "\r\nX: hi\r\n\r\n" : "X: hi\r\n");
    }

    QString out;
    QString outText;
};

TEST_F(PuttingInPlace, AFailureAtAnyStepKeepsWhatItKeptBeforeAndSaysSoInTheSameOrder) {
    for (const QString& handle : kHandles) {
        w.skype.addChat(handle, kStamp, {QStringLiteral("X: hi")});
        tick({handle});
    }
    makeFolder();
    const auto cannotWrite = [&](const char* handle, int code) {
        return QStringLiteral("Cannot write '%1': %2")
            .arg(path(QString::fromLatin1(handle)), fileErrorText(code));
    };
    const QString full = stopped(QStringLiteral("it cannot write into the folder '%1': %2")
                                     .arg(QDir::toNativeSeparators(out), fileErrorText(kFull)));
    const QString gone =
        stopped(QStringLiteral("the folder '%1' does not exist").arg(QDir::toNativeSeparators(out)));
    const QString readFailure = QStringLiteral("Skype failed at body");
    struct Row {
        const char* what;
        bool older; // the older export, which puts each transcript in place before it reads the next
        QMap<QString, int> flushErrors;
        QMap<QString, int> replaceErrors;
        int failAppendsFrom;   // with the disk full; 0: never
        QString failing;       // a step of the history that fails
        bool removeAfterFirst; // the folder is removed as soon as the first transcript was moved
        QStringList boxes;
        QStringList replaced; // the rest keep their old transcripts
    };
    const QString ann = path(QStringLiteral("ann"));
    const QString bob = path(QStringLiteral("bob"));
    const QString cid = path(QStringLiteral("cid"));
    const QList<Row> rows{
        {"a flush that fails",
         false,
         {{QStringLiteral("bob.txt"), kDiskError}},
         {},
         0,
         QString(),
         false,
         {error(false, cannotWrite("bob", kDiskError), 150), kept({bob})},
         {QStringLiteral("ann"), QStringLiteral("cid"), QStringLiteral("dee")}},
        {"a flush that finds the disk full",
         false,
         {{QStringLiteral("bob.txt"), kFull}},
         {},
         0,
         QString(),
         false,
         {error(false, cannotWrite("bob", kFull), 150), full},
         {QStringLiteral("ann")}},
        {"a move that fails after others succeeded",
         false,
         {},
         {{QStringLiteral("cid.txt"), kRefused}},
         0,
         QString(),
         false,
         {error(false, QStringLiteral("Cannot replace '%1': %2").arg(cid, fileErrorText(kRefused)), 150),
          kept({cid})},
         {QStringLiteral("ann"), QStringLiteral("bob"), QStringLiteral("dee")}},
#ifndef Q_OS_WIN // where a folder holding an open file, the lock, cannot be removed
        {"the folder removed after the first move",
         false,
         {},
         {},
         0,
         QString(),
         true,
         {error(false, QStringLiteral("Cannot write '%1': its folder does not exist").arg(ann), 150), gone},
         {}},
#endif
        {"a chat that cannot be read and a flush that fails",
         false,
         {{QStringLiteral("cid.txt"), kDiskError}},
         {},
         0,
         QStringLiteral("body#2.1"),
         false,
         {error(false, readFailure, 142), error(false, cannotWrite("cid", kDiskError), 150),
          kept({bob, cid})},
         {QStringLiteral("ann"), QStringLiteral("dee")}},
        // The older export reads bob's chat after ann's transcript was handed over: ann's failure
        // comes first, as when ann was put in place before bob was read.
        {"older: a flush that fails, then a chat that cannot be read",
         true,
         {{QStringLiteral("ann.txt"), kDiskError}},
         {},
         0,
         QStringLiteral("body#2.1"),
         false,
         {error(true, cannotWrite("ann", kDiskError), 152), error(true, readFailure, 128), kept({ann, bob})},
         {QStringLiteral("cid"), QStringLiteral("dee")}},
        // Ann's full disk ended the run before bob was read: bob's failure is not told.
        {"older: a flush that finds the disk full, then a chat that cannot be read",
         true,
         {{QStringLiteral("ann.txt"), kFull}},
         {},
         0,
         QStringLiteral("body#2.1"),
         false,
         {error(true, cannotWrite("ann", kFull), 152), full},
         {}},
        {"older: a full disk half-way",
         true,
         {{QStringLiteral("bob.txt"), kFull}},
         {},
         5,
         QString(),
         false,
         {error(true, cannotWrite("bob", kFull), 152), full},
         {QStringLiteral("ann")}},
        {"older: a move that fails, then a chat that cannot be read",
         true,
         {},
         {{QStringLiteral("ann.txt"), kRefused}},
         0,
         QStringLiteral("body#2.1"),
         false,
         {error(true, QStringLiteral("Cannot replace '%1': %2").arg(ann, fileErrorText(kRefused)), 152),
          error(true, readFailure, 128), kept({ann, bob})},
         {QStringLiteral("cid"), QStringLiteral("dee")}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        makeFolder();
        w.boxes.clear();
        w.files.done.clear();
        w.files.appends = 0;
        w.files.flushErrors = row.flushErrors;
        w.files.replaceErrors = row.replaceErrors;
        w.files.appendError = kFull;
        w.files.failAppendsFrom = row.failAppendsFrom;
        w.skype.failing = row.failing.isEmpty() ? QSet<QString>() : QSet<QString>{row.failing};
        w.files.afterReplace = [&](const QString&) {
            if (row.removeAfterFirst)
                QDir(out).removeRecursively();
        };
        row.older ? w.click("PushButton6") : w.click("PushButton7");
        EXPECT_EQ(w.boxes.texts(), QStringList(row.boxes) << QStringLiteral("Done."));
        EXPECT_EQ(w.files.outOfOrder(), QString());
        QStringList moved;
        for (const QString& handle : kHandles) {
            if (w.files.done.contains(QStringLiteral("replace ") + handle + QStringLiteral(".txt")))
                moved.append(handle);
            if (row.removeAfterFirst)
                continue;
            EXPECT_EQ(contents(path(handle)),
                      row.replaced.contains(handle) ? written(row.older) : "old " + handle.toUtf8())
                << handle.toStdString();
        }
        // Nothing is moved after a failing flush, nor after the run stopped.
        QStringList tried;
        for (const QString& handle : kHandles) {
            if (row.replaced.contains(handle) ||
                row.replaceErrors.contains(handle + QStringLiteral(".txt")) ||
                (row.removeAfterFirst && handle == QLatin1String("ann")))
                tried.append(handle);
        }
        EXPECT_EQ(moved, tried);
        if (row.removeAfterFirst) {
            EXPECT_FALSE(QFileInfo::exists(out));
        } else {
            QStringList expected;
            for (const QString& handle : kHandles)
                expected.append(handle + QStringLiteral(".txt"));
            EXPECT_EQ(filesIn(), expected);
        }
    }
    w.files.afterReplace = nullptr;
}

// The older export reads the next chats while a transcript waits to be put in place: chats that cannot
// be read and transcripts that cannot be put in place, one after the other, show the boxes of the first
// few in that order, as when each was put in place before the next was read, and then count the others.
// The box of a transcript told late takes its place among those of the chat under way.
TEST_F(PuttingInPlace, ChatsAndTranscriptsFailingInTurnShowTheFirstFewBoxesInTheirOrder) {
    static_assert(ChatFailures::kShownBoxes == 5, "the boxes below are those of the first five");
    const int contacts = 12;
    QStringList handles;
    QStringList paths;
    QSet<QString> failing;
    QMap<QString, int> refused;
    for (int i = 1; i <= contacts; ++i) {
        handles << QStringLiteral("user%1").arg(i, 2, 10, QLatin1Char('0'));
        paths << QDir::toNativeSeparators(outputDir.filePath(handles.last() + QStringLiteral(".txt")));
        writeFile(paths.last(), "old");
        w.skype.addChat(handles.last(), kStamp,
                        {QStringLiteral("X: one"), QStringLiteral("X: two"), QStringLiteral("X: three")});
        // Odd contacts: each message of the chat fails. Even ones: the transcript cannot replace the old.
        if (i % 2 == 1) {
            for (int message = 1; message <= 3; ++message)
                failing.insert(QStringLiteral("body#%1.%2").arg(i).arg(message));
        } else {
            refused.insert(handles.last() + QStringLiteral(".txt"), kRefused);
        }
    }
    tick(handles);
    form().setOutputFolderText(QDir::toNativeSeparators(outputDir.path()) + QDir::separator());
    w.skype.failing = failing;
    w.files.replaceErrors = refused;
    w.click("PushButton6");
    const QString read = error(true, QStringLiteral("Skype failed at body"), 128);
    const QString replace =
        error(true, QStringLiteral("Cannot replace '%1': %2").arg(paths.at(1), fileErrorText(kRefused)), 152);
    // The first chat's three boxes, the second transcript's, one of the third chat's; then the other
    // four chats and five transcripts counted.
    EXPECT_EQ(w.boxes.texts(),
              (QStringList{read, read, read, replace, read, ChatFailures::message(4),
                           ChatFailures::transcriptsMessage(5), kept(paths), QStringLiteral("Done.")}));
    for (const QString& path : paths)
        EXPECT_EQ(contents(path), QByteArray("old")) << path.toStdString();
    w.files.replaceErrors.clear();
}

// Another run is turned away from the folder while transcripts are flushed and moved in the
// background, up to the last move; once the run said "Done." the folder is free.
TEST_F(PuttingInPlace, AnotherRunIsTurnedAwayUntilTheLastTranscriptIsInPlace) {
    for (const QString& handle : kHandles) {
        w.skype.addChat(handle, kStamp, {QStringLiteral("X: hi")});
        tick({handle});
    }
    for (const char* button : {"PushButton7", "PushButton6"}) {
        SCOPED_TRACE(button);
        makeFolder();
        w.boxes.clear();
        QList<FolderLock::State> whileMoving;
        w.files.afterReplace = [&](const QString&) { whileMoving.append(FolderLock(outText).lock()); };
        w.click(button);
        EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
        EXPECT_EQ(whileMoving, QList<FolderLock::State>(kHandles.size(), FolderLock::State::Busy));
        FolderLock after(outText);
        EXPECT_EQ(after.lock(), FolderLock::State::Held);
    }
    w.files.afterReplace = nullptr;
}

// However many transcripts a run writes, a few files are open for their flushes at once, and a few
// score wait flushed or being flushed for their turn to be moved.
TEST_F(PuttingInPlace, ManyTranscriptsKeepFewFilesOpenAndFewWaiting) {
    constexpr int kContacts = 400;
    for (int i = 0; i < kContacts; ++i) {
        const QString handle = QStringLiteral("c%1").arg(i, 3, 10, QLatin1Char('0'));
        w.skype.addChat(handle, kStamp, {QStringLiteral("X: hi")});
        tick({handle});
    }
    for (const char* button : {"PushButton7", "PushButton6"}) {
        SCOPED_TRACE(button);
        w.boxes.clear();
        w.files.done.clear();
        w.files.mostFlushing = 0;
        w.click(button);
        EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
        EXPECT_EQ(w.files.outOfOrder(), QString());
        EXPECT_EQ(w.files.done.filter(QStringLiteral("replace ")).size(), kContacts);
        // The flush threads', and one the run asks for before a thread took it.
        EXPECT_LE(w.files.mostFlushing, static_cast<int>(FlushWorkers::kThreads) + 1);
        int ahead = 0;
        int mostAhead = 0;
        for (const QString& step : std::as_const(w.files.done)) {
            if (step.startsWith(QLatin1String("flush ")) && step != QLatin1String("flush folder"))
                mostAhead = std::max(mostAhead, ++ahead);
            else if (step.startsWith(QLatin1String("replace ")))
                --ahead;
        }
        EXPECT_LE(mostAhead, 200);
    }
}

#ifndef Q_OS_WIN
// A run killed or ended by a signal while its transcripts are flushed or moved leaves each whole,
// old or new; a transcript is never moved before its own flush ended. What a kill leaves behind the
// next run removes; what a signal would leave, the run removes as it ends.
TEST_F(PuttingInPlace, ARunEndedWhileItPutsTranscriptsInPlaceLeavesEachWhole) {
    enum class At { Flush, Move, AfterMove }; // of cid's new file, of bob's, right after bob's
    struct Row {
        const char* what;
        int signal;
        At at;
        QStringList mayBeNew; // moved or not, as the flushes went
        QStringList isNew;
    };
    const QList<Row> rows{
        {"killed between two moves",
         SIGKILL,
         At::AfterMove,
         {},
         {QStringLiteral("ann"), QStringLiteral("bob")}},
        {"killed during a flush", SIGKILL, At::Flush, {QStringLiteral("ann"), QStringLiteral("bob")}, {}},
        {"terminated between two moves",
         SIGTERM,
         At::AfterMove,
         {},
         {QStringLiteral("ann"), QStringLiteral("bob")}},
        {"terminated during a flush", SIGTERM, At::Flush, {QStringLiteral("ann"), QStringLiteral("bob")}, {}},
        // Bob's new file is removed although its move had begun: a signal on another thread (the
        // flushes') may come at any moment of a move.
        {"terminated as a transcript is moved", SIGTERM, At::Move, {}, {QStringLiteral("ann")}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        makeFolder();
        const pid_t child = fork();
        if (child == 0) {
            FakeFileSystem fileSystem;
            if (row.at == At::Flush) {
                fileSystem.beforeFlush = [&](const QString& name) {
                    if (name == QLatin1String("cid.txt"))
                        raise(row.signal);
                };
            } else if (row.at == At::Move) {
                fileSystem.beforeReplace = [&](const QString& name) {
                    if (name == QLatin1String("bob.txt"))
                        raise(row.signal);
                };
            } else {
                fileSystem.afterReplace = [&](const QString& name) {
                    if (name == QLatin1String("bob.txt"))
                        raise(row.signal);
                };
            }
            FakeMessageBoxes boxes;
            ErrorTrap trap(boxes, QString());
            ChatFailures failures(trap);
            TranscriptFiles files(fileSystem);
            if (!files.lockFolder(outText).isEmpty())
                _exit(2);
            for (const QString& handle : kHandles) {
                files.restart(path(handle));
                files.append(path(handle), QStringLiteral("new ") + handle);
            }
            int transcript = 0;
            for (const QString& handle : kHandles)
                files.commitLater(path(handle), failures, --transcript, 150);
            files.finish();
            _exit(3);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.signal) << status;
        for (const QString& handle : kHandles) {
            const QByteArray now = contents(path(handle));
            if (row.mayBeNew.contains(handle))
                EXPECT_TRUE(now == "old " + handle.toUtf8() || now == "new " + handle.toUtf8())
                    << now.constData();
            else
                EXPECT_EQ(now, (row.isNew.contains(handle) ? "new " : "old ") + handle.toUtf8());
        }
        const QStringList staged = filesIn().filter(QStringLiteral(".part"));
        if (row.signal == SIGTERM)
            EXPECT_EQ(staged, QStringList()) << staged.join(QLatin1Char(' ')).toStdString();
        else
            EXPECT_FALSE(staged.isEmpty());

        // The next run takes the folder over: every transcript new, nothing left beside them.
        w.boxes.clear();
        w.skype.chats.clear();
        if (form().rowCount() == 0)
            tick(kHandles);
        for (const QString& handle : kHandles)
            w.skype.addChat(handle, kStamp, {QStringLiteral("X: hi")});
        w.click("PushButton7");
        EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
        QStringList expected;
        for (const QString& handle : kHandles) {
            EXPECT_EQ(contents(path(handle)), written(false));
            expected.append(handle + QStringLiteral(".txt"));
        }
        EXPECT_EQ(filesIn(), expected);
    }
}
// Where the process may open few more files than it holds (a low "ulimit -n"), the flushes leave it
// enough to write and move every transcript, as one flush at a time did.
TEST_F(PuttingInPlace, AProcessThatMayOpenFewFilesPutsEveryTranscriptInPlace) {
    constexpr int kContacts = 300;
    makeFolder();
    const pid_t child = fork();
    if (child == 0) {
        const rlim_t open =
            static_cast<rlim_t>(QDir(QStringLiteral("/dev/fd"))
                                    .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                                    .size());
        struct rlimit limit{};
        if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
            _exit(2);
        limit.rlim_cur = open + 12;
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            _exit(2);
        LocalFileSystem fileSystem;
        FakeMessageBoxes boxes;
        ErrorTrap trap(boxes, QString());
        ChatFailures failures(trap);
        TranscriptFiles files(fileSystem);
        if (!files.lockFolder(outText).isEmpty())
            _exit(2);
        const auto handle = [](int i) { return QStringLiteral("c%1").arg(i, 3, 10, QLatin1Char('0')); };
        for (int i = 0; i < kContacts; ++i) {
            trap.step(134, [&] {
                files.restart(path(handle(i)));
                files.append(path(handle(i)), QStringLiteral("new ") + handle(i));
            });
        }
        int transcript = 0;
        for (int i = 0; i < kContacts; ++i) {
            const ChatFailures::Scope scope(failures, --transcript);
            trap.step(150, [&] { files.commitLater(path(handle(i)), failures, transcript, 150); });
        }
        files.finish();
        const QStringList shown = boxes.texts();
        if (!shown.isEmpty())
            fprintf(stderr, "%s\n", qPrintable(shown.first()));
        _exit(shown.isEmpty() && files.kept().isEmpty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    for (int i = 0; i < kContacts; ++i) {
        const QString handle = QStringLiteral("c%1").arg(i, 3, 10, QLatin1Char('0'));
        EXPECT_EQ(contents(path(handle)), "new " + handle.toUtf8()) << handle.toStdString();
    }
}
#endif

} // namespace
