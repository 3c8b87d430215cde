#include "export/ExportWindow.h"

#include "base/Failure.h"
#include "export/TranscriptFiles.h"
#include "fakes/FakeFileSystem.h"
#include "fakes/OrdinaryUser.h"
#include "files/LocalFileSystem.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#ifdef Q_OS_LINUX
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// The staged file and the folder it lies in, against someone else who may write in that folder (a
// shared folder) or a folder that changes under the run: what this run writes reaches nobody else's
// file, and a transcript whose staged file was meddled with keeps its old content.
namespace {

#ifdef Q_OS_LINUX
struct Scene {
    QString out;    // the output folder, as the run named it
    QString moved;  // where the folder was moved to, if it was
    QString staged; // ann's staged file
    QString victim; // a private file elsewhere
};

void hardLink(const QString& from, const QString& to) {
    ASSERT_EQ(::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()), 0);
}

TEST(HostileFolder, WhatTheRunWritesReachesOnlyItsOwnFiles) {
    struct Row {
        const char* what;
        bool beforeTheMove; // else between two writes
        std::function<void(const Scene&)> meddle;
        QByteArray ann;   // afterwards, where the run named it
        QByteArray moved; // in the moved folder
    };
    const QList<Row> rows{
        {"a hard link swapped in", false,
         [](const Scene& scene) {
             QFile::remove(scene.staged);
             hardLink(scene.victim, scene.staged);
         },
         "old", ""},
        {"a link put in its place", false,
         [](const Scene& scene) {
             QFile::remove(scene.staged);
             QFile::link(scene.victim, scene.staged);
         },
         "old", ""},
        {"a second name given to it", false,
         [](const Scene& scene) { hardLink(scene.staged, scene.out + QStringLiteral("/mine")); }, "old", ""},
        {"a hard link swapped in before the move", true,
         [](const Scene& scene) {
             QFile::remove(scene.staged);
             hardLink(scene.victim, scene.staged);
         },
         "old", ""},
        {"the folder replaced", false,
         [](const Scene& scene) {
             QDir().rename(scene.out, scene.moved);
             QDir().mkdir(scene.out);
         },
         "<missing>", "onetwo"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir dir;
        QTemporaryDir elsewhere;
        Scene scene{dir.filePath(QStringLiteral("out")), dir.filePath(QStringLiteral("moved")), QString(),
                    elsewhere.filePath(QStringLiteral("private"))};
        ASSERT_TRUE(QDir().mkdir(scene.out));
        const QString ann = scene.out + QStringLiteral("/ann.txt");
        writeFile(ann, "old");
        writeFile(scene.victim, "victim");
        ASSERT_EQ(::chmod(QFile::encodeName(scene.victim).constData(), 0600), 0);
        LocalFileSystem fileSystem;
        TranscriptFiles files(fileSystem);
        ASSERT_TRUE(files.lockFolder(scene.out + QLatin1Char('/')).isEmpty());
        files.restart(ann);
        files.append(ann, QStringLiteral("one"));
        const QStringList staged =
            QDir(scene.out).entryList({QStringLiteral(".ann.txt.*.part")}, QDir::Files | QDir::Hidden);
        ASSERT_EQ(staged.size(), 1);
        scene.staged = scene.out + QLatin1Char('/') + staged.first();
        if (!row.beforeTheMove)
            row.meddle(scene);
        const auto refused = [](const Failure& failure) {
            EXPECT_TRUE(failure.description().endsWith(
                QLatin1String("its new file was replaced by another while it was written")))
                << failure.description().toStdString();
        };
        try {
            files.append(ann, QStringLiteral("two"));
        } catch (const Failure& failure) {
            refused(failure);
        }
        if (row.beforeTheMove)
            row.meddle(scene);
        try {
            files.commit(ann);
        } catch (const Failure& failure) {
            refused(failure);
        }
        EXPECT_FALSE(files.stopped());
        EXPECT_EQ(files.kept(), row.ann == "old" ? QStringList{ann} : QStringList());
        EXPECT_EQ(contents(ann), row.ann);
        EXPECT_EQ(contents(scene.moved + QStringLiteral("/ann.txt")),
                  row.moved.isEmpty() ? "<missing>" : row.moved);
        struct stat status{};
        ASSERT_EQ(::stat(QFile::encodeName(scene.victim).constData(), &status), 0);
        EXPECT_EQ(contents(scene.victim), QByteArray("victim"));
        EXPECT_EQ(status.st_mode & 07777, 0600u);
        EXPECT_EQ(status.st_uid, ::geteuid());
    }
}

// The history being read lies in the folder under a transcript's name, or is reached from it by a
// link: that transcript is refused and the history stays as it is; the others are written.
TEST(HostileFolder, TheHistoryIsNeverWritten) {
    struct Row {
        const char* what;
        const char* history; // relative to the history folder
        std::function<void(const QString& history, const QString& ann)> place;
    };
    const QList<Row> rows{
        {"the history itself", nullptr, nullptr},
        {"a hard link to it", "main.db",
         [](const QString& history, const QString& ann) { hardLink(history, ann); }},
        {"a link to it", "main.db",
         [](const QString& history, const QString& ann) { QFile::link(history, ann); }},
        {"its -wal", "main.db",
         [](const QString& history, const QString& ann) { hardLink(history + QStringLiteral("-wal"), ann); }},
        {"its -journal", "main.db",
         [](const QString& history, const QString& ann) {
             hardLink(history + QStringLiteral("-journal"), ann);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir out;
        QTemporaryDir profile;
        const QString ann = out.filePath(QStringLiteral("ann.txt"));
        const QString bob = out.filePath(QStringLiteral("bob.txt"));
        const QString history = row.history ? profile.filePath(QString::fromLatin1(row.history)) : ann;
        for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-journal")})
            writeFile(history + suffix, "SQLite format 3");
        if (row.place)
            row.place(history, ann);
        LocalFileSystem fileSystem;
        TranscriptFiles files(fileSystem);
        ASSERT_TRUE(files.lockFolder(out.path() + QLatin1Char('/')).isEmpty());
        files.protect(history);
        for (const QString& path : {ann, bob}) {
            files.restart(path);
            try {
                files.append(path, QStringLiteral("new"));
            } catch (const Failure& failure) {
                EXPECT_EQ(failure.description(),
                          QStringLiteral("Cannot write '%1': it is the Skype history being read").arg(ann));
            }
            files.commit(path);
        }
        EXPECT_EQ(files.kept(), QStringList{ann});
        for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-journal")})
            EXPECT_EQ(contents(history + suffix), QByteArray("SQLite format 3"));
        EXPECT_EQ(contents(bob), QByteArray("new"));
    }
}

// Someone else who may write in the folder swaps ann's staged file for a file of theirs that this user
// may not open. That is no reason to say the folder cannot be written: ann keeps her transcript, with
// that reason, the others are written, and the file swapped in stays as its owner made it. So too
// where they exchange the two names back and forth, and the staged file is back when it is looked at
// after the refusal (here: the staged file itself refuses the user, for the moment of that open).
TEST(HostileFolder, AStagedFileSwappedForOneTheUserMayNotOpenKeepsOnlyThatTranscript) {
    struct Row {
        const char* what;
        bool swappedBack;
        QByteArray stagedAfterwards; // what the staged file's name holds after the run
    };
    const QList<Row> rows{
        {"a file of theirs in its place", false, "theirs"},
        {"exchanged back before it is looked at", true, "<missing>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("out"));
        ASSERT_TRUE(QDir().mkdir(out));
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(out).constData(), 0777), 0);
        const QString ann = out + QStringLiteral("/ann.txt");
        const QString bob = out + QStringLiteral("/bob.txt");
        // The run as an ordinary user, so that a file it may not open exists even where the test is
        // root.
        std::optional<OrdinaryUser> user(std::in_place);
        writeFile(ann, "old");
        writeFile(bob, "old");
        LocalFileSystem fileSystem;
        TranscriptFiles files(fileSystem);
        ASSERT_TRUE(files.lockFolder(out + QLatin1Char('/')).isEmpty());
        for (const QString& path : {ann, bob}) {
            files.restart(path);
            files.append(path, QStringLiteral("one"));
        }
        const QStringList staged =
            QDir(out).entryList({QStringLiteral(".ann.txt.*.part")}, QDir::Files | QDir::Hidden);
        ASSERT_EQ(staged.size(), 1);
        const QString stagedPath = out + QLatin1Char('/') + staged.first();
        if (row.swappedBack) {
            ASSERT_EQ(::chmod(QFile::encodeName(stagedPath).constData(), 0400), 0);
        } else {
            user.reset();
            ASSERT_TRUE(QFile::remove(stagedPath));
            writeFile(stagedPath, "theirs");
            ASSERT_EQ(::chmod(QFile::encodeName(stagedPath).constData(), ::geteuid() == 0 ? 0600 : 0), 0);
            user.emplace();
        }
        try {
            files.append(ann, QStringLiteral("two"));
            ADD_FAILURE() << "written into the file swapped in";
        } catch (const Failure& failure) {
            EXPECT_EQ(
                failure.description(),
                QStringLiteral("Cannot write '%1': its new file was replaced by another while it was written")
                    .arg(ann));
        }
        files.append(bob, QStringLiteral("two"));
        for (const QString& path : {ann, bob})
            files.commit(path);
        user.reset();
        EXPECT_FALSE(files.stopped()) << files.stopMessage().toStdString();
        EXPECT_EQ(files.kept(), QStringList{ann});
        EXPECT_EQ(contents(ann), QByteArray("old"));
        EXPECT_EQ(contents(bob), QByteArray("onetwo"));
        EXPECT_EQ(contents(stagedPath), row.stagedAfterwards);
    }
}

// Someone else who may write in the folder exchanges the transcript's new file for a file of theirs
// (renameat2 with RENAME_EXCHANGE) as it is moved into place: their file then holds the name, which
// cannot be undone, but the run says so instead of counting the transcript as written, and goes on.
TEST(HostileFolder, ATranscriptExchangedAsItIsMovedIsNotCountedAsWritten) {
    QTemporaryDir dir;
    const QString ann = dir.filePath(QStringLiteral("ann.txt"));
    const QString bob = dir.filePath(QStringLiteral("bob.txt"));
    const QString theirs = dir.filePath(QStringLiteral("theirs"));
    writeFile(ann, "old");
    writeFile(theirs, "theirs");
    FakeFileSystem fileSystem;
    fileSystem.afterReplace = [&](const QString& name) {
        if (name != QLatin1String("ann.txt"))
            return;
        const QByteArray from = QFile::encodeName(ann);
        const QByteArray to = QFile::encodeName(theirs);
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE) != 0) {
            // A file system without the exchange: the same in three moves.
            const QByteArray aside = QFile::encodeName(dir.filePath(QStringLiteral("aside")));
            ASSERT_EQ(::rename(from.constData(), aside.constData()), 0);
            ASSERT_EQ(::rename(to.constData(), from.constData()), 0);
            ASSERT_EQ(::rename(aside.constData(), to.constData()), 0);
        }
    };
    TranscriptFiles files(fileSystem);
    ASSERT_TRUE(files.lockFolder(dir.path() + QLatin1Char('/')).isEmpty());
    for (const QString& path : {ann, bob}) {
        files.restart(path);
        files.append(path, QStringLiteral("new"));
    }
    try {
        files.commit(ann);
        ADD_FAILURE() << "counted as written";
    } catch (const Failure& failure) {
        EXPECT_EQ(
            failure.description(),
            QStringLiteral("Cannot replace '%1': its new file was exchanged for another file as it was "
                           "moved into place, so what that name holds now was not written by this export")
                .arg(ann));
    }
    files.commit(bob);
    EXPECT_FALSE(files.stopped());
    EXPECT_EQ(files.kept(), QStringList()); // not left as it was either
    EXPECT_EQ(contents(ann), QByteArray("theirs"));
    EXPECT_EQ(contents(theirs), QByteArray("new"));
    EXPECT_EQ(contents(bob), QByteArray("new"));
}
#endif

} // namespace
