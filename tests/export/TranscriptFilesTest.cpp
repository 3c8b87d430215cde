#include "ExportWindow.h"
#include "fakes/OrdinaryUser.h"

#include "export/ChatFailures.h"
#include "export/FileRoutines.h"
#include "export/TranscriptFiles.h"
#include "files/FileError.h"
#include "files/FolderLock.h"
#include "files/LocalFileSystem.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <utility>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <sys/wait.h>
#ifdef Q_OS_LINUX
#include <sys/xattr.h>
#endif
#include <unistd.h>
#endif

// Where the new transcripts are put, whatever the folder is: a file system that folds letter case,
// two paths to one folder, rows ticked and folder texts changed while the run goes on, permissions,
// what killed runs leave, names near the limit, the folder's lock, and the failures that end a run.
namespace {

const QDateTime kStamp(QDate(2021, 8, 31), QTime(15, 42, 10));
const QByteArray kHeader("[8/31/2021 3:42:10 PM]");
#ifdef Q_OS_WIN
// SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE, not in every SDK's headers.
constexpr DWORD kUnprivilegedLink = 0x2;

// Wine's ntdll alone exports its version.
bool underWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
#endif
const QFileDevice::Permissions kAllBits =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
    QFileDevice::WriteGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther |
    QFileDevice::ExeOther;

class TranscriptFilesTest : public ExportWindow {
protected:
    TranscriptFilesTest()
        : ExportWindow("UTC") {}
    void pressSave() { w.click("PushButton7"); }
    void pressOld() { w.click("PushButton6"); }
    // Every file of the folder, hidden ones too, sorted by code points.
    static QStringList filesIn(const QString& dir) {
        QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
        std::sort(names.begin(), names.end());
        return names;
    }
    QStringList files() const { return filesIn(outputDir.path()); }
    static QString saveError(const QString& description, int line) {
        return errorReport(description, QStringLiteral("PushButton7_Click"), line);
    }
    static QString oldError(const QString& description, int line) {
        return errorReport(description, QStringLiteral("PushButton6_Click"), line);
    }
    static QString kept(const QStringList& paths) {
        return QStringLiteral("These transcripts were left as they were, because a chat of theirs could not "
                              "be read or written:\r\n") +
               paths.join(QStringLiteral("\r\n"));
    }
    static QString stopped(const QString& why) {
        return QStringLiteral(
                   "The export stopped because %1. The transcripts it had not yet put in place were "
                   "left as they were.")
            .arg(why);
    }
    QString nativeOutput() const { return QDir::toNativeSeparators(outputDir.path()); }
};

// Where the folder folds letter case, "Ann" and "ann" (both listed: the list keeps names that
// differ only in case) name one file. It is written once, with both contributions in the order the
// run makes them, and not deleted as the other row's "nothing new".
TEST_F(TranscriptFilesTest, TwoHandlesThatNameOneFileWriteItOnceWithBothInRunOrder) {
    w.files.foldCase = true;
    writeFile(transcript("Ann"), "old");
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("ann: first")});
    w.skype.addChat(QStringLiteral("Ann"), kStamp, {QStringLiteral("Ann: second")});
    tick({QStringLiteral("Ann"), QStringLiteral("ann")});
    pressSave();
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_EQ(contents(transcript("Ann")), kHeader + "ann: first\r\n" + kHeader + "Ann: second\r\n");
    EXPECT_EQ(files(), QStringList{QStringLiteral("Ann.txt")});

    // Only one of the two has chats: what it wrote stays.
    w.boxes.clear();
    w.skype.chats.removeFirst();
    pressSave();
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_EQ(contents(transcript("Ann")), kHeader + "Ann: second\r\n");
    EXPECT_EQ(files(), QStringList{QStringLiteral("Ann.txt")});
}

#ifndef Q_OS_WIN
// "/out/", "/out//" and a link to "/out" name one folder: a folder text changed between chats to
// another name of the same folder adds to the one transcript.
TEST_F(TranscriptFilesTest, TwoFolderTextsThatNameOneFolderWriteOneFile) {
    QTemporaryDir elsewhere;
    const QString alias = elsewhere.filePath(QStringLiteral("alias"));
    ASSERT_TRUE(QFile::link(outputDir.path(), alias));
    for (const QString& other : QStringList{folder + QLatin1Char('/'), alias + QLatin1Char('/')}) {
        w.boxes.clear();
        w.skype.chats.clear();
        form().setOutputFolderText(folder);
        writeFile(transcript("ann"), "old");
        w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: one")});
        w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: two")});
        if (form().rowCount() == 0)
            tick({QStringLiteral("ann")});
        w.skype.onMessageRead = [&] { form().setOutputFolderText(other); };
        pressSave();
        EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
        EXPECT_EQ(contents(transcript("ann")), kHeader + "Ann: one\r\n" + kHeader + "Ann: two\r\n")
            << other.toStdString();
        EXPECT_EQ(files(), QStringList{QStringLiteral("ann.txt")});
    }
}
#endif

// A row ticked while the run goes on was not started afresh by the first pass: it keeps its old
// transcript and gets what the run adds after the tick, as when runs appended.
TEST_F(TranscriptFilesTest, ARowTickedDuringTheRunKeepsItsOldTranscriptAndGetsWhatFollows) {
    writeFile(transcript("ann"), "old\r\n");
    w.skype.addChat(QStringLiteral("bob"), kStamp, {QStringLiteral("Bob: hi")});
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: later")});
    tick({QStringLiteral("bob")});
    form().appendRow(QStringLiteral("ann"));
    w.skype.onMessageRead = [&] { form().setRowChecked(2, true); };
    pressSave();
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_EQ(contents(transcript("ann")), "old\r\n" + kHeader + "Ann: later\r\n");
    EXPECT_EQ(contents(transcript("bob")), kHeader + "Bob: hi\r\n");
    EXPECT_EQ(files(), (QStringList{QStringLiteral("ann.txt"), QStringLiteral("bob.txt")}));

#ifndef Q_OS_WIN
    // An old "transcript" that is a pipe is not read (it would wait for a writer for ever): the new
    // one starts empty and takes its place.
    w.boxes.clear();
    form().setRowChecked(2, false);
    QFile::remove(transcript("ann"));
    ASSERT_EQ(mkfifo(QFile::encodeName(transcript("ann")).constData(), 0600), 0);
    pressSave();
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_TRUE(QFileInfo(transcript("ann")).isFile());
    EXPECT_EQ(contents(transcript("ann")), kHeader + "Ann: later\r\n");
#endif
}

#ifdef Q_OS_LINUX
// The old transcript of a row ticked during the run cannot be read: that contact keeps it, and the
// run goes on with the others.
TEST_F(TranscriptFilesTest, ARowTickedDuringTheRunWhoseOldTranscriptCannotBeReadKeepsIt) {
    writeFile(transcript("ann"), "private");
    QFile::setPermissions(transcript("ann"), QFileDevice::Permissions());
    QFile::setPermissions(outputDir.path(), kAllBits);
    w.skype.addChat(QStringLiteral("bob"), kStamp, {QStringLiteral("Bob: hi")});
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: later")});
    w.skype.addChat(QStringLiteral("cid"), kStamp, {QStringLiteral("Cid: last")});
    tick({QStringLiteral("bob")});
    form().appendRow(QStringLiteral("ann"));
    tick({QStringLiteral("cid")});
    w.skype.onMessageRead = [&] { form().setRowChecked(2, true); };
    {
        OrdinaryUser user;
        pressSave();
    }
    QFile::setPermissions(outputDir.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(w.boxes.texts(),
              (QStringList{saveError(QStringLiteral("Cannot read the old transcript '%1': access is denied")
                                         .arg(transcript("ann")),
                                     134),
                           kept({transcript("ann")}), QStringLiteral("Done.")}));
    QFile::setPermissions(transcript("ann"), QFileDevice::ReadOwner);
    EXPECT_EQ(contents(transcript("ann")), QByteArray("private"));
    EXPECT_EQ(contents(transcript("cid")), kHeader + "Cid: last\r\n");
}
#endif

// The folder text changed during the run, to another folder, or shortened to the folder's path
// without its separator (which names files beside the folder): the run goes on in the folder it
// opened at its start. Nothing is written, deleted or locked where the text now points, and the
// transcripts of the folder are not deleted.
TEST_F(TranscriptFilesTest, AFolderTextChangedDuringTheRunDoesNotChangeWhereItWrites) {
    QTemporaryDir otherDir;
    const QString other = QDir::toNativeSeparators(otherDir.path()) + QDir::separator();
    writeFile(other + QStringLiteral("ann.txt"), "other's\r\n");
    const QString out = QDir::toNativeSeparators(outputDir.filePath(QStringLiteral("out")));
    ASSERT_TRUE(QDir().mkpath(out));
    const QString outText = out + QDir::separator();
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: one")});
    w.skype.addChat(QStringLiteral("bob"), kStamp, {QStringLiteral("Bob: hi")});
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: two")});
    tick({QStringLiteral("ann"), QStringLiteral("bob"), QStringLiteral("cid")});
    for (const QString& changed : {other, out}) {
        SCOPED_TRACE(changed.toStdString());
        w.boxes.clear();
        form().setOutputFolderText(outText);
        for (const char* handle : {"ann", "bob", "cid"})
            writeFile(outText + QString::fromLatin1(handle) + QStringLiteral(".txt"), "old");
        w.skype.onMessageRead = [&] { form().setOutputFolderText(changed); };
        pressSave();
        EXPECT_EQ(w.boxes.texts(),
                  (QStringList{QStringLiteral("These contacts have no chat in this history, so "
                                              "their transcripts were left as they were:\r\ncid"),
                               QStringLiteral("Done.")}));
        EXPECT_EQ(contents(outText + QStringLiteral("ann.txt")),
                  kHeader + "Ann: one\r\n" + kHeader + "Ann: two\r\n");
        EXPECT_EQ(contents(outText + QStringLiteral("bob.txt")), kHeader + "Bob: hi\r\n");
        EXPECT_EQ(contents(outText + QStringLiteral("cid.txt")), QByteArray("old"));
        EXPECT_EQ(filesIn(out), (QStringList{QStringLiteral("ann.txt"), QStringLiteral("bob.txt"),
                                             QStringLiteral("cid.txt")}));
        EXPECT_EQ(filesIn(otherDir.path()), QStringList{QStringLiteral("ann.txt")});
        EXPECT_EQ(contents(other + QStringLiteral("ann.txt")), QByteArray("other's\r\n"));
        EXPECT_EQ(files(), QStringList()); // no "outann.txt" beside the folder
    }
}

// A chat that fails while the folder text changes spoils the transcript it was written to, not the
// one the new folder text would name.
TEST_F(TranscriptFilesTest, AChatThatFailsWhileTheFolderTextChangesKeepsTheTranscriptItWentTo) {
    QTemporaryDir otherDir;
    const QString other = QDir::toNativeSeparators(otherDir.path()) + QDir::separator();
    writeFile(transcript("ann"), "old");
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: one"), QStringLiteral("Ann: two")});
    w.skype.failing.insert(QStringLiteral("body#1.2"));
    tick({QStringLiteral("ann")});
    w.skype.onMessageRead = [&] { form().setOutputFolderText(other); };
    pressSave();
    EXPECT_EQ(w.boxes.texts(), (QStringList{saveError(QStringLiteral("Skype failed at body"), 142),
                                            kept({transcript("ann")}), QStringLiteral("Done.")}));
    EXPECT_EQ(contents(transcript("ann")), QByteArray("old"));
    EXPECT_EQ(files(), QStringList{QStringLiteral("ann.txt")});
    EXPECT_EQ(filesIn(otherDir.path()), QStringList());
}

#ifndef Q_OS_WIN
// A transcript made private keeps its permissions; a new one gets what the umask gives a new file.
// While they are written, the new files are the user's alone.
TEST_F(TranscriptFilesTest, AReplacedTranscriptKeepsItsPermissionsAndANewOneGetsTheUmasks) {
    const mode_t savedMask = umask(022);
    writeFile(transcript("ann"), "old");
    QFile::setPermissions(transcript("ann"), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: hi")});
    w.skype.addChat(QStringLiteral("bob"), kStamp, {QStringLiteral("Bob: hi")});
    tick({QStringLiteral("ann"), QStringLiteral("bob")});
    QList<QFileDevice::Permissions> whileWritten;
    w.skype.onMessageRead = [&] {
        for (const QFileInfo& file :
             QDir(outputDir.path()).entryInfoList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden))
            whileWritten.append(file.permissions() & kAllBits);
    };
    for (const bool oldExport : {false, true}) {
        w.boxes.clear();
        whileWritten.clear();
        oldExport ? pressOld() : pressSave();
        EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
        EXPECT_EQ(QFile::permissions(transcript("ann")) & kAllBits,
                  QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        EXPECT_EQ(QFile::permissions(transcript("bob")) & kAllBits,
                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                      QFileDevice::ReadOther);
        ASSERT_FALSE(whileWritten.isEmpty());
        for (const QFileDevice::Permissions permissions : std::as_const(whileWritten))
            EXPECT_EQ(permissions, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QFile::remove(transcript("bob"));
    }
    umask(savedMask);
}
#endif

#ifdef Q_OS_LINUX
// A run killed half-way leaves its new files and its lock file. The next run takes the lock over and
// removes such files, and only those the program made: names of another pattern, or of that pattern
// without its check (the user's own), files no longer private or with a second name, another user's,
// folders and links stay. While another run holds the lock, nothing is removed.
TEST_F(TranscriptFilesTest, StaleNewFilesOfAKilledRunAreRemovedByTheNextRunOnlyThose) {
    writeFile(transcript("ann"), "old ann");
    const QStringList handles{QStringLiteral("ann"), QStringLiteral("bob"), QStringLiteral("c\nd"),
                              QStringLiteral("dee"), QStringLiteral("eve"), QStringLiteral("fay")};
    const pid_t child = fork();
    if (child == 0) {
        LocalFileSystem fileSystem;
        TranscriptFiles files(fileSystem);
        if (!files.lockFolder(folder).isEmpty())
            _exit(2);
        for (const QString& handle : handles) {
            files.restart(folder + handle + QStringLiteral(".txt"));
            files.append(folder + handle + QStringLiteral(".txt"), QStringLiteral("half"));
        }
        raise(SIGKILL);
        _exit(3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    const QStringList left = files();
    ASSERT_EQ(left.size(), handles.size() + 2) << left.join(QLatin1Char(' ')).toStdString();
    QMap<QString, QString> stagedOf; // by handle
    for (const QString& name : left) {
        for (const QString& handle : handles) {
            if (name.startsWith(QLatin1Char('.') + handle + QStringLiteral(".txt.")) &&
                name.endsWith(QLatin1String(".part")))
                stagedOf.insert(handle, name);
        }
    }
    ASSERT_EQ(stagedOf.keys(), handles);
    EXPECT_EQ(contents(folder + stagedOf[QStringLiteral("ann")]), QByteArray("half"));
    EXPECT_TRUE(left.contains(FolderLock::fileName()));

    // Made by the killed run, then changed: readable by others, a second name, another user's.
    QFile::setPermissions(folder + stagedOf[QStringLiteral("dee")],
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    ASSERT_EQ(link(QFile::encodeName(folder + stagedOf[QStringLiteral("eve")]).constData(),
                   QFile::encodeName(folder + QStringLiteral("eve's copy")).constData()),
              0);
    const bool otherUser = geteuid() == 0;
    if (otherUser) {
        ASSERT_EQ(
            chown(QFile::encodeName(folder + stagedOf[QStringLiteral("fay")]).constData(), 65534, 65534), 0);
    }
    // The user's own files of that pattern, a private one among them.
    const QStringList lookAlikes{QStringLiteral(".ann.txt.abcde.part"),
                                 QStringLiteral(".ann.txt.part"),
                                 QStringLiteral(".notes.part"),
                                 QStringLiteral("ann.txt.abcdef.part"),
                                 QStringLiteral(".ann.txt.abcdef.part\n"),
                                 QStringLiteral(".notes.txt.Ab12Cd.part"),
                                 QStringLiteral(".bob.txt.QwErT1.part"),
                                 QStringLiteral(".c\nd.txt.QwErT2.part")};
    for (const QString& name : lookAlikes)
        writeFile(folder + name, "keep");
    QFile::setPermissions(folder + QStringLiteral(".notes.txt.Ab12Cd.part"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    ASSERT_TRUE(QDir(outputDir.path()).mkdir(QStringLiteral(".dir.txt.abcdef.part")));
    QTemporaryDir outside;
    const QString target = outside.filePath(QStringLiteral("target.txt.abcdef.part"));
    writeFile(target, "keep");
    ASSERT_TRUE(QFile::link(target, folder + QStringLiteral(".link.txt.abcdef.part")));
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: new")});
    tick({QStringLiteral("ann")});
    {
        FolderLock held(folder);
        ASSERT_TRUE(held.tryLock());
        pressSave();
        EXPECT_EQ(w.boxes.texts(), QStringList{held.busyMessage()});
        EXPECT_TRUE(QFile::exists(folder + stagedOf[QStringLiteral("ann")]));
        EXPECT_TRUE(QFile::exists(folder + stagedOf[QStringLiteral("bob")]));
    }

    w.boxes.clear();
    pressSave();
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_EQ(contents(transcript("ann")), kHeader + "Ann: new\r\n");
    QStringList expected = lookAlikes;
    expected << QStringLiteral(".link.txt.abcdef.part") << QStringLiteral("ann.txt")
             << stagedOf[QStringLiteral("dee")] << stagedOf[QStringLiteral("eve")]
             << QStringLiteral("eve's copy");
    if (otherUser)
        expected << stagedOf[QStringLiteral("fay")];
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files(), expected);
    for (const QString& name : lookAlikes)
        EXPECT_EQ(contents(folder + name), QByteArray("keep")) << name.toStdString();
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral(".dir.txt.abcdef.part")).isDir());
    EXPECT_EQ(contents(target), QByteArray("keep"));
}

// Ctrl-C, SIGTERM or a closed terminal end a run half-way: its new files go with it, the old
// transcripts stay whole, and the program ends by that signal as it would have. A signal the program
// was started to ignore (nohup, a background job) stays ignored. A file someone who may write in the
// folder put under a new file's name is not the program's, and stays.
TEST_F(TranscriptFilesTest, AnInterruptedRunRemovesItsNewFiles) {
    struct Row {
        const char* what;
        int signal;
        bool ignored;
        bool swapped; // ann's new file replaced by another file before the signal
    };
    const QList<Row> rows{
        {"Ctrl-C", SIGINT, false, false},
        {"SIGTERM", SIGTERM, false, false},
        {"a closed terminal", SIGHUP, false, false},
        {"Ctrl-C where it is ignored", SIGINT, true, false},
        {"Ctrl-C after a new file was swapped for another", SIGINT, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir dir;
        const QString out = dir.path() + QLatin1Char('/');
        writeFile(out + QStringLiteral("ann.txt"), "old ann");
        const pid_t child = fork();
        if (child == 0) {
            if (row.ignored)
                signal(row.signal, SIG_IGN);
            LocalFileSystem fileSystem;
            TranscriptFiles files(fileSystem);
            if (!files.lockFolder(out).isEmpty())
                _exit(2);
            for (const char* handle : {"ann", "bob"}) {
                files.restart(out + QLatin1String(handle) + QStringLiteral(".txt"));
                files.append(out + QLatin1String(handle) + QStringLiteral(".txt"), QStringLiteral("half"));
            }
            if (row.swapped) {
                const QStringList staged =
                    QDir(dir.path())
                        .entryList({QStringLiteral(".ann.txt.*.part")}, QDir::Files | QDir::Hidden);
                writeFile(out + QStringLiteral("theirs"), "theirs");
                if (staged.size() != 1 ||
                    ::rename(QFile::encodeName(out + QStringLiteral("theirs")).constData(),
                             QFile::encodeName(out + staged.first()).constData()) != 0)
                    _exit(3);
            }
            raise(row.signal);
            _exit(7);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        const QStringList left = filesIn(dir.path());
        if (row.ignored) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 7) << status;
            EXPECT_EQ(left.filter(QStringLiteral(".part")).size(), 2)
                << left.join(QLatin1Char(' ')).toStdString();
        } else {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.signal) << status;
            const QStringList parts = left.filter(QStringLiteral(".part"));
            EXPECT_EQ(parts.size(), row.swapped ? 1 : 0) << left.join(QLatin1Char(' ')).toStdString();
            if (row.swapped && parts.size() == 1) {
                EXPECT_EQ(contents(out + parts.first()), QByteArray("theirs"));
            }
            QStringList others = left;
            for (const QString& part : parts)
                others.removeAll(part);
            EXPECT_EQ(others, (QStringList{FolderLock::fileName(), QStringLiteral("ann.txt")}));
        }
        EXPECT_EQ(contents(out + QStringLiteral("ann.txt")), QByteArray("old ann"));
    }
}

// A handle of 243 to 250 bytes fits the 255-byte name limit, and its new file is staged under a
// shorter name. A longer one cannot be a file name at all: the boxes name the path and say so.
TEST_F(TranscriptFilesTest, NamesNearTheLimitAreWrittenAndLongerOnesSayTheNameIsTooLong) {
    const QString handle(248, QLatin1Char('a'));
    const QString path = folder + handle + QStringLiteral(".txt");
    writeFile(path, "old");
    w.skype.addChat(handle, kStamp, {QStringLiteral("Ann: hi")});
    tick({handle});
    QStringList staged;
    w.skype.onMessageRead = [&] {
        staged = QDir(outputDir.path()).entryList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden);
    };
    pressSave();
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_EQ(contents(path), kHeader + "Ann: hi\r\n");
    ASSERT_EQ(staged.size(), 1);
    EXPECT_LE(QFile::encodeName(staged.first()).size(), 255);
    EXPECT_TRUE(staged.first().contains(QLatin1String(".txt."))) << staged.first().toStdString();
    EXPECT_EQ(files(), QStringList{handle + QStringLiteral(".txt")});

    w.boxes.clear();
    pressOld();
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_EQ(contents(path), kHeader + "\r\nAnn: hi\r\n\r\n");

    w.boxes.clear();
    w.skype.onMessageRead = nullptr;
    form().setRowChecked(1, false);
    const QString tooLong(300, QLatin1Char('b'));
    const QString longPath = folder + tooLong + QStringLiteral(".txt");
    w.skype.addChat(tooLong, kStamp, {QStringLiteral("Bob: hi")});
    tick({tooLong});
    pressSave();
    const QString cannot = QStringLiteral("Cannot write '%1': the name is too long").arg(longPath);
    EXPECT_EQ(w.boxes.texts(), (QStringList{saveError(cannot, 134), saveError(cannot, 146), kept({longPath}),
                                            QStringLiteral("Done.")}));
    w.boxes.clear();
    pressOld();
    EXPECT_EQ(w.boxes.texts(), (QStringList{oldError(cannot, 122), oldError(cannot, 132), kept({longPath}),
                                            QStringLiteral("Done.")}));
}
#endif

// The lock is a hidden file in the output folder while a run writes, gone afterwards. Nothing in the
// shared temporary folder counts: neither a lock planted there nor a temporary folder that cannot be
// written to blocks an export.
TEST_F(TranscriptFilesTest, TheLockLivesInTheOutputFolderNotInTheTemporaryOne) {
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: hi")});
    tick({QStringLiteral("ann")});
    QTemporaryDir temporary;
    env.set("TMPDIR", QFile::encodeName(temporary.path()));
    // Where the lock used to be, under a name anyone could work out.
    const QString canonical = QFileInfo(outputDir.path()).canonicalFilePath();
    const QByteArray key =
        QCryptographicHash::hash((QDir::homePath() + QLatin1Char('\n') + canonical).toUtf8(),
                                 QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    QLockFile planted(temporary.filePath(QStringLiteral("parlorix-%1.lock").arg(QString::fromLatin1(key))));
    ASSERT_TRUE(planted.tryLock(0));
    bool lockedWhileWriting = false;
    w.skype.onMessageRead = [&] { lockedWhileWriting = QFile::exists(folder + FolderLock::fileName()); };
    for (const bool oldExport : {false, true}) {
        w.boxes.clear();
        lockedWhileWriting = false;
        oldExport ? pressOld() : pressSave();
        EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
        EXPECT_TRUE(lockedWhileWriting);
        EXPECT_EQ(files(), QStringList{QStringLiteral("ann.txt")});
    }

    w.boxes.clear();
    env.set("TMPDIR", QFile::encodeName(temporary.filePath(QStringLiteral("missing"))));
    pressSave();
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});

    // Two copies with different home folders write into one folder: they are kept apart too.
    QTemporaryDir home;
    env.set("HOME", QFile::encodeName(home.path()));
    FolderLock other(folder);
    ASSERT_TRUE(other.tryLock());
    env.set("HOME", QFile::encodeName(temporary.path()));
    w.boxes.clear();
    pressSave();
    EXPECT_EQ(w.boxes.texts(), QStringList{other.busyMessage()});
}

#ifndef Q_OS_WIN
// A lock that cannot be made for another reason than a run holding it: the box gives the real
// reason, and nothing is written.
TEST_F(TranscriptFilesTest, ALockThatCannotBeMadeIsReportedWithItsReason) {
    writeFile(transcript("ann"), "old");
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: hi")});
    tick({QStringLiteral("ann")});
    const QString lockPath = folder + FolderLock::fileName();
    const auto cannot = [&](const char* reason) {
        return QStringLiteral("The folder '%1' cannot be locked against other exports: its lock file '%2' "
                              "cannot be used (%3).")
            .arg(nativeOutput(), lockPath, QString::fromUtf8(reason));
    };
    ASSERT_TRUE(QDir().mkdir(lockPath));
    pressSave();
    EXPECT_EQ(w.boxes.texts(), QStringList{cannot("it is a folder")});
    w.boxes.clear();
    pressOld();
    EXPECT_EQ(w.boxes.texts(), QStringList{cannot("it is a folder")});
    EXPECT_EQ(form().mousePointer(), 0);
    ASSERT_TRUE(QDir().rmdir(lockPath));

    QTemporaryDir outside;
    ASSERT_TRUE(QFile::link(outside.filePath(QStringLiteral("planted")), lockPath));
    w.boxes.clear();
    pressSave();
    EXPECT_EQ(w.boxes.texts(), QStringList{cannot("it is a link")});
    EXPECT_FALSE(QFile::exists(outside.filePath(QStringLiteral("planted"))));
    EXPECT_EQ(contents(transcript("ann")), QByteArray("old"));
}
#endif

#ifdef Q_OS_WIN
// A link planted under the lock file's name is refused with that reason, and what it points to is
// not deleted when the lock would go.
TEST_F(TranscriptFilesTest, ALinkAsTheLockFileIsRefusedAndWhatItPointsToKept) {
    QTemporaryDir outside;
    const QString target = QDir::toNativeSeparators(outside.filePath(QStringLiteral("precious.txt")));
    writeFile(target, "keep");
    const QString lockPath = folder + FolderLock::fileName();
    if (!CreateSymbolicLinkW(reinterpret_cast<const wchar_t*>(lockPath.utf16()),
                             reinterpret_cast<const wchar_t*>(target.utf16()), kUnprivilegedLink))
        GTEST_SKIP() << "links cannot be made here";
    const DWORD planted = GetFileAttributesW(reinterpret_cast<const wchar_t*>(lockPath.utf16()));
    if (underWine() && (planted == INVALID_FILE_ATTRIBUTES || !(planted & FILE_ATTRIBUTE_REPARSE_POINT)))
        GTEST_SKIP() << "Wine makes no link that Windows programs see as one: its CreateSymbolicLinkW "
                        "reports success and makes nothing, and a Unix link reads as the file it names";
    ASSERT_NE(planted, INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(planted & FILE_ATTRIBUTE_REPARSE_POINT);
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: hi")});
    tick({QStringLiteral("ann")});
    pressSave();
    EXPECT_EQ(
        w.boxes.texts(),
        QStringList{QStringLiteral("The folder '%1' cannot be locked against other exports: its lock file "
                                   "'%2' cannot be used (it is a link).")
                        .arg(nativeOutput(), lockPath)});
    EXPECT_EQ(contents(target), QByteArray("keep"));
    EXPECT_EQ(contents(transcript("ann")), QByteArray("<missing>"));
}
#endif

#ifdef Q_OS_WIN
// A file under the lock file's name that the run did not make is held for the run, and kept: under
// Wine a Unix link there reads as the file it names, which deleting the lock would delete.
TEST_F(TranscriptFilesTest, ALockFileTheRunDidNotMakeIsHeldAndKept) {
    const QString lockPath = folder + FolderLock::fileName();
    writeFile(lockPath, "keep");
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: hi")});
    tick({QStringLiteral("ann")});
    w.skype.onMessageRead = [&] { EXPECT_EQ(FolderLock(folder).lock(), FolderLock::State::Busy); };
    pressSave();
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_EQ(contents(transcript("ann")), kHeader + "Ann: hi\r\n");
    EXPECT_EQ(contents(lockPath), QByteArray("keep"));
}
#endif

#ifndef Q_OS_WIN // where a folder holding an open file, the lock, cannot be removed
// The output folder removed during the run: every later chat would fail the same way. The run ends
// after the first failing chat's boxes, with one box that says why, in both exports.
TEST_F(TranscriptFilesTest, AVanishedFolderEndsTheRunAfterTheFirstFailingChat) {
    const QString out = outputDir.filePath(QStringLiteral("out"));
    const QString outText = QDir::toNativeSeparators(out) + QDir::separator();
    for (const char* handle : {"ann", "bob", "cid"}) {
        w.skype.addChat(QString::fromLatin1(handle), kStamp,
                        {QString::fromLatin1(handle) + QStringLiteral(": hi")});
        tick({QString::fromLatin1(handle)});
    }
    w.skype.onMessageRead = [&] { QDir(out).removeRecursively(); };
    const QString gone = QStringLiteral("Cannot write '%1': its folder does not exist")
                             .arg(outText + QStringLiteral("ann.txt"));
    const QString why =
        stopped(QStringLiteral("the folder '%1' does not exist").arg(QDir::toNativeSeparators(out)));

    ASSERT_TRUE(QDir().mkpath(out));
    form().setOutputFolderText(outText);
    pressSave();
    EXPECT_EQ(w.boxes.texts(), (QStringList{saveError(gone, 146), why, QStringLiteral("Done.")}));

    w.boxes.clear();
    ASSERT_TRUE(QDir().mkpath(out));
    pressOld();
    EXPECT_EQ(w.boxes.texts(), (QStringList{oldError(gone, 132), why, QStringLiteral("Done.")}));
    EXPECT_EQ(form().mousePointer(), 0);
}
#endif

// A full disk: the failing chat's boxes say so, the run ends there, and every transcript the run had
// not put in place keeps its old content. The older export has put in place the rows before.
TEST_F(TranscriptFilesTest, AFullDiskEndsTheRunAndKeepsTheOldTranscripts) {
#ifdef Q_OS_WIN
    const int full = 112; // ERROR_DISK_FULL
#else
    const int full = ENOSPC;
#endif
    for (const char* handle : {"ann", "bob", "cid"}) {
        writeFile(transcript(handle), "old " + QByteArray(handle));
        w.skype.addChat(QString::fromLatin1(handle), kStamp,
                        {QString::fromLatin1(handle) + QStringLiteral(": hi")});
        tick({QString::fromLatin1(handle)});
    }
    w.files.appendError = full;
    w.files.failAppendsFrom = 3; // bob's header
    const QString cannot = QStringLiteral("Cannot write '%1': the disk is full").arg(transcript("bob"));
    const QString why =
        stopped(QStringLiteral("it cannot write into the folder '%1': the disk is full").arg(nativeOutput()));
    pressSave();
    EXPECT_EQ(w.boxes.texts(),
              (QStringList{saveError(cannot, 134), saveError(cannot, 146), why, QStringLiteral("Done.")}));
    for (const char* handle : {"ann", "bob", "cid"})
        EXPECT_EQ(contents(transcript(handle)), "old " + QByteArray(handle));
    EXPECT_EQ(files(),
              (QStringList{QStringLiteral("ann.txt"), QStringLiteral("bob.txt"), QStringLiteral("cid.txt")}));

    w.boxes.clear();
    w.files.appends = 0;
    pressOld();
    EXPECT_EQ(w.boxes.texts(),
              (QStringList{oldError(cannot, 122), oldError(cannot, 132), why, QStringLiteral("Done.")}));
    EXPECT_EQ(contents(transcript("ann")), kHeader + "\r\nann: hi\r\n\r\n");
    EXPECT_EQ(contents(transcript("bob")), QByteArray("old bob"));
    EXPECT_EQ(contents(transcript("cid")), QByteArray("old cid"));
    EXPECT_EQ(files(),
              (QStringList{QStringLiteral("ann.txt"), QStringLiteral("bob.txt"), QStringLiteral("cid.txt")}));
}

// A folder of transcripts none of which may be replaced (another user's files in a shared folder with
// the sticky bit): each export shows the boxes of the first few, then one that counts the others, then
// lists every transcript kept. No box for each of hundreds, and nothing lost.
TEST_F(TranscriptFilesTest, ManyTranscriptsThatCannotBeReplacedPutUpAFewBoxesAndOneThatCountsTheOthers) {
#ifdef Q_OS_WIN
    const int refused = 1314; // ERROR_PRIVILEGE_NOT_HELD
#else
    const int refused = EPERM;
#endif
    const int contacts = ChatFailures::kShownBoxes + 3;
    QStringList handles;
    QStringList paths;
    for (int i = 0; i < contacts; ++i) {
        handles << QStringLiteral("user%1").arg(i);
        paths << folder + handles.last() + QStringLiteral(".txt");
        w.skype.addChat(handles.last(), kStamp, {QStringLiteral("X: hi")});
        writeFile(paths.last(), "old");
    }
    tick(handles);
    w.files.replaceError = refused;
    const struct {
        const char* button;
        const char* handler;
        int line;
    } rows[] = {{"PushButton7", "PushButton7_Click", 150}, {"PushButton6", "PushButton6_Click", 152}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.button);
        w.boxes.clear();
        w.click(row.button);
        QStringList expected;
        for (int i = 0; i < ChatFailures::kShownBoxes; ++i)
            expected << errorReport(
                QStringLiteral("Cannot replace '%1': %2").arg(paths.at(i), fileErrorText(refused)),
                QString::fromLatin1(row.handler), row.line);
        expected << ChatFailures::transcriptsMessage(contacts - ChatFailures::kShownBoxes) << kept(paths)
                 << QStringLiteral("Done.");
        EXPECT_EQ(w.boxes.texts(), expected);
        for (const QString& path : std::as_const(paths))
            EXPECT_EQ(contents(path), QByteArray("old"));
    }
}

// Stop or go, by what failed: a move refused for one transcript (another user's file in a sticky
// folder, a file another program holds) keeps that one, names it among the kept and the run goes on;
// a hold that clears within the retries is no failure. A new file that cannot be made, for a reason
// every later one would share, ends the run.
TEST_F(TranscriptFilesTest, StopsOnlyWhereEveryLaterTranscriptWouldFailAlike) {
#ifdef Q_OS_WIN
    const int refused = 5, inUse = 32, full = 112,
              readOnly = 19; // ERROR_ACCESS_DENIED, _SHARING_VIOLATION, ...
    const QString readOnlyText = QStringLiteral("the disk is write-protected");
#else
    const int refused = EACCES, inUse = EBUSY, full = ENOSPC, readOnly = EROFS;
    const QString readOnlyText = QStringLiteral("the disk is read-only");
#endif
    const QString inUseText = QStringLiteral("another program is using the file");
    struct Row {
        const char* what;
        int replaceError;
        int replaceTimes; // -1: always
        int createError;
        QString reason; // of the box, empty for none
        bool stops;
        int pauses;
        QString stop = QString(); // why, where not that it cannot write into the folder
        bool held = false;        // by another program that lets nobody delete the file
    };
    const QList<Row> rows{
        {"a refused replace", refused, -1, 0, QStringLiteral("access is denied"), false, 0},
        {"a hold that clears", inUse, 3, 0, QString(), false, 3},
        {"a hold that does not", inUse, -1, 0, inUseText, false, 20},
        // Windows (and Wine) refuse moving over a file held open without delete sharing as if access
        // were denied: asked, the file tells it is held.
        {"held open, refused as if denied, then let go", refused, 3, 0, QString(), false, 3, QString(), true},
        {"held open, refused as if denied, for good", refused, -1, 0, inUseText, false, 20, QString(), true},
        {"no new file: disk full", 0, 0, full, QStringLiteral("the disk is full"), true, 0},
        {"no new file: refused", 0, 0, refused, QStringLiteral("access is denied"), true, 0},
        {"no new file: read-only", 0, 0, readOnly, readOnlyText, true, 0},
#ifndef Q_OS_WIN
        {"no new file: the share's folder removed", 0, 0, ESTALE,
         QStringLiteral("its folder was removed or replaced"), true, 0,
         QStringLiteral("the folder '%1' was removed or replaced while it wrote there").arg(nativeOutput())},
#endif
    };
    for (const char* handle : {"ann", "bob", "cid"}) {
        w.skype.addChat(QString::fromLatin1(handle), kStamp, {QStringLiteral("X: hi")});
        tick({QString::fromLatin1(handle)});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        for (const char* handle : {"ann", "bob", "cid"})
            writeFile(transcript(handle), "old");
        w.boxes.clear();
        w.files.done.clear();
        w.files.replaceErrors = {{QStringLiteral("bob.txt"), row.replaceError}};
        w.files.replaceTimes = {{QStringLiteral("bob.txt"), row.replaceTimes}};
        w.files.createError = row.createError;
        w.files.heldOpenNames = row.held ? QStringList{QStringLiteral("bob.txt")} : QStringList();
        pressSave();
        QStringList expected;
        if (row.stops) {
            const QString cannot = QStringLiteral("Cannot write '%1': %2").arg(transcript("ann"), row.reason);
            expected << saveError(cannot, 134) << saveError(cannot, 146)
                     << stopped(!row.stop.isEmpty()
                                    ? row.stop
                                    : QStringLiteral("it cannot write into the folder '%1': %2")
                                          .arg(nativeOutput(), row.reason));
        } else if (!row.reason.isEmpty()) {
            expected << saveError(
                            QStringLiteral("Cannot replace '%1': %2").arg(transcript("bob"), row.reason), 150)
                     << kept({transcript("bob")});
        }
        EXPECT_EQ(w.boxes.texts(), expected << QStringLiteral("Done."));
        EXPECT_EQ(contents(transcript("ann")), row.stops ? QByteArray("old") : kHeader + "X: hi\r\n");
        EXPECT_EQ(contents(transcript("bob")),
                  row.stops || !row.reason.isEmpty() ? QByteArray("old") : kHeader + "X: hi\r\n");
        EXPECT_EQ(contents(transcript("cid")), row.stops ? QByteArray("old") : kHeader + "X: hi\r\n");
        EXPECT_EQ(w.files.done.count(QStringLiteral("pause")), row.pauses);
        // Nothing left behind.
        EXPECT_EQ(files(), (QStringList{QStringLiteral("ann.txt"), QStringLiteral("bob.txt"),
                                        QStringLiteral("cid.txt")}));
    }
}

// Each new transcript is on the disk before it replaces the old one, and the folder's names after
// the run's moves, before it says "Done.". The flushes run on other threads, several at once; the
// moves come in the order of the transcripts.
TEST_F(TranscriptFilesTest, ANewTranscriptIsFlushedBeforeItReplacesTheOldOne) {
    writeFile(transcript("ann"), "old");
    for (const char* handle : {"ann", "bob"}) {
        w.skype.addChat(QString::fromLatin1(handle), kStamp, {QStringLiteral("X: hi")});
        tick({QString::fromLatin1(handle)});
    }
    QStringList doneWhenDone;
    w.boxes.whileOpen = [&] { doneWhenDone = w.files.done; };
    for (const bool oldExport : {false, true}) {
        w.files.done.clear();
        w.boxes.clear();
        oldExport ? pressOld() : pressSave();
        EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
        EXPECT_EQ(w.files.outOfOrder(), QString());
        EXPECT_EQ(doneWhenDone, w.files.done);
        EXPECT_EQ(w.files.done.filter(QStringLiteral("replace ")),
                  (QStringList{QStringLiteral("replace ann.txt"), QStringLiteral("replace bob.txt")}));
        EXPECT_EQ(w.files.done.last(), QStringLiteral("flush folder"));
        EXPECT_EQ(w.files.done.size(), 5);
    }
}

// A folder the run makes for its transcripts (the group chats') is a new name in the folder above it:
// both are flushed before the run says "Done.", or a power cut could take the new folder away with
// every transcript moved into it.
TEST_F(TranscriptFilesTest, AFolderMadeForTranscriptsIsFlushedWithTheFolderAboveIt) {
    FakeFileSystem fileSystem;
    TranscriptFiles files(fileSystem);
    const QString out = nativeOutput() + QDir::separator();
    ASSERT_EQ(files.lockFolder(out), QString());
    int error = 0;
    ASSERT_EQ(files.lockSubfolder(out, QStringLiteral("Group chats"), &error), QString());
    ASSERT_EQ(error, 0);
    const QString path = out + QStringLiteral("Group chats") + QDir::separator() + QStringLiteral("room.txt");
    files.append(path, QStringLiteral("new"));
    files.commit(path);
    files.finish();
    EXPECT_EQ(contents(path), QByteArray("new"));
    QStringList flushed = fileSystem.flushedFolders;
    std::sort(flushed.begin(), flushed.end());
    EXPECT_EQ(flushed, (QStringList{QDir::cleanPath(outputDir.path()),
                                    QDir::cleanPath(outputDir.path() + QStringLiteral("/Group chats"))}));
}

#ifdef Q_OS_LINUX
// A link planted as the lock file's name in other letters does not make a folder that tells letter
// case apart look as if it folded it: "Ann" and "ann" keep a transcript each.
TEST_F(TranscriptFilesTest, ALinkToTheLockFileInOtherLettersDoesNotFoldCase) {
    ASSERT_TRUE(QFile::link(FolderLock::fileName(), folder + QStringLiteral(".PARLORIX.LOCK")));
    writeFile(transcript("ann"), "old ann");
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("ann: first")});
    w.skype.addChat(QStringLiteral("Ann"), kStamp, {QStringLiteral("Ann: second")});
    tick({QStringLiteral("Ann"), QStringLiteral("ann")});
    pressSave();
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_EQ(contents(transcript("Ann")), kHeader + "Ann: second\r\n");
    EXPECT_EQ(contents(transcript("ann")), kHeader + "ann: first\r\n");
}

// An access list as Linux keeps it: owner, one user (1), the file's group, mask and others, each with
// its permissions (4 read, 2 write).
QByteArray accessList(quint16 owner, quint16 user, quint16 group, quint16 mask, quint16 others) {
    QByteArray list;
    const auto entry = [&](quint16 tag, quint16 permissions, quint32 id) {
        list.append(reinterpret_cast<const char*>(&tag), 2);
        list.append(reinterpret_cast<const char*>(&permissions), 2);
        list.append(reinterpret_cast<const char*>(&id), 4);
    };
    const quint32 version = 2;
    list.append(reinterpret_cast<const char*>(&version), 4);
    entry(0x01, owner, 0xFFFFFFFF);
    entry(0x02, user, 1);
    entry(0x04, group, 0xFFFFFFFF);
    entry(0x10, mask, 0xFFFFFFFF);
    entry(0x20, others, 0xFFFFFFFF);
    return list;
}

// A transcript shared with one user through an access list, its own group kept out: its group bits
// are the list's mask, and were they copied alone the whole group could read the new transcript.
// The list goes with it.
TEST_F(TranscriptFilesTest, AReplacedTranscriptKeepsItsAccessList) {
    writeFile(transcript("ann"), "old");
    const QByteArray path = QFile::encodeName(transcript("ann"));
    ASSERT_EQ(chown(path.constData(), 0, 65534), 0);
    // Owner rw, user 1 rw, the file's group nothing, mask rw, others nothing.
    const QByteArray list = accessList(6, 6, 0, 6, 0);
    if (setxattr(path.constData(), "system.posix_acl_access", list.constData(), list.size(), 0) != 0)
        GTEST_SKIP() << "no access lists here";
    QFile::setPermissions(outputDir.path(), kAllBits);
    const auto groupCanRead = [&] {
        OrdinaryUser user; // in the file's group, not on its list
        QFile file(transcript("ann"));
        return file.open(QIODevice::ReadOnly);
    };
    ASSERT_FALSE(groupCanRead());
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: hi")});
    tick({QStringLiteral("ann")});
    pressSave();
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_EQ(contents(transcript("ann")), kHeader + "Ann: hi\r\n");
    EXPECT_FALSE(groupCanRead());
    QByteArray copied(256, '\0');
    const ssize_t size = getxattr(path.constData(), "system.posix_acl_access", copied.data(), copied.size());
    ASSERT_GT(size, 0);
    EXPECT_EQ(copied.left(size), list);
}

// In a folder others may write in, another user put a file under a transcript's name, readable and
// writable by all, or shared through an access list: the new transcript gets what a new one gets,
// not what that file allowed, and stays the user's. The user's own file passes its permissions on.
TEST_F(TranscriptFilesTest, OnlyTheUsersOwnFilePassesItsPermissionsOn) {
    if (geteuid() != 0)
        GTEST_SKIP() << "another user's file can be made only by root";
    struct Row {
        const char* what;
        bool otherUsers;
        bool withList;
        mode_t mode; // afterwards
    };
    const QList<Row> rows{
        {"another user's, readable and writable by all", true, false, 0644},
        {"another user's, shared with user 1 through an access list", true, true, 0644},
        {"the user's own, readable and writable by all", false, false, 0666},
    };
    const mode_t savedMask = umask(022);
    QFile::setPermissions(outputDir.path(), kAllBits);
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: hi")});
    tick({QStringLiteral("ann")});
    const QByteArray path = QFile::encodeName(transcript("ann"));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        w.boxes.clear();
        QFile::remove(transcript("ann"));
        writeFile(transcript("ann"), "planted");
        ASSERT_EQ(chmod(path.constData(), 0666), 0);
        if (row.otherUsers) {
            ASSERT_EQ(chown(path.constData(), 65534, 65534), 0);
        }
        const QByteArray list = accessList(6, 4, 6, 6, 6);
        if (row.withList &&
            setxattr(path.constData(), "system.posix_acl_access", list.constData(), list.size(), 0) != 0) {
            GTEST_LOG_(INFO) << "no access lists here";
            continue;
        }
        pressSave();
        EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
        EXPECT_EQ(contents(transcript("ann")), kHeader + "Ann: hi\r\n");
        struct stat status{};
        ASSERT_EQ(stat(path.constData(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, row.mode);
        EXPECT_EQ(status.st_uid, geteuid());
        EXPECT_LT(getxattr(path.constData(), "system.posix_acl_access", nullptr, 0), 0);
    }
    umask(savedMask);
}

// A run of one user killed while it held the lock, with a umask that keeps new files private: the
// lock file it left does not keep another user's runs out of the shared folder.
TEST_F(TranscriptFilesTest, ALockFileLeftByAnotherUsersKilledRunDoesNotBlock) {
    QFile::setPermissions(outputDir.path(), kAllBits);
    const pid_t child = fork();
    if (child == 0) {
        umask(077);
        FolderLock lock(folder);
        if (!lock.tryLock())
            _exit(2);
        raise(SIGKILL);
        _exit(3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    ASSERT_TRUE(QFile::exists(folder + FolderLock::fileName()));
    FolderLock::State state = FolderLock::State::Unlocked;
    {
        OrdinaryUser user;
        FolderLock lock(folder);
        state = lock.lock();
    }
    EXPECT_EQ(state, FolderLock::State::Held);
    // Another user's: held, never deleted.
    EXPECT_TRUE(QFile::exists(folder + FolderLock::fileName()));

    // A hard link to a private file in the lock file's place: that file stays private.
    ASSERT_TRUE(QFile::remove(folder + FolderLock::fileName()));
    QTemporaryDir outside;
    const QString secret = outside.filePath(QStringLiteral("secret"));
    {
        const mode_t savedMask = umask(077);
        writeFile(secret, "");
        umask(savedMask);
    }
    ASSERT_EQ(link(QFile::encodeName(secret).constData(),
                   QFile::encodeName(folder + FolderLock::fileName()).constData()),
              0);
    {
        FolderLock lock(folder);
        EXPECT_EQ(lock.lock(), FolderLock::State::Held);
    }
    EXPECT_EQ(QFile::permissions(secret) & kAllBits, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

// A lock file that is no longer the one a run took (removed, or its folder replaced meanwhile) is
// not removed by that run at its end: it may be another run's.
TEST(FolderLock, RemovesOnlyItsOwnLockFile) {
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    auto first = std::make_unique<FolderLock>(folder);
    ASSERT_TRUE(first->tryLock());
    ASSERT_TRUE(QFile::remove(folder + FolderLock::fileName()));
    FolderLock second(folder);
    ASSERT_TRUE(second.tryLock());
    first.reset();
    EXPECT_TRUE(QFile::exists(folder + FolderLock::fileName()));
    FolderLock third(folder);
    EXPECT_EQ(third.lock(), FolderLock::State::Busy);
}

// The output folder removed and made again while a transcript is written: its first chat went with
// the old folder, so the run ends with a box that says why instead of "Done." and a transcript that
// lacks it.
TEST_F(TranscriptFilesTest, AFolderMadeAgainDuringTheRunEndsItWithTheReason) {
    const QString out = outputDir.filePath(QStringLiteral("out"));
    const QString outText = out + QLatin1Char('/');
    const QString ann = outText + QStringLiteral("ann.txt");
    ASSERT_TRUE(QDir().mkpath(out));
    form().setOutputFolderText(outText);
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: one")});
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: two")});
    tick({QStringLiteral("ann")});
    bool once = true;
    w.skype.onMessageRead = [&] {
        if (std::exchange(once, false)) {
            QDir(out).removeRecursively();
            QDir().mkpath(out);
        }
    };
    pressSave();
    EXPECT_EQ(
        w.boxes.texts(),
        (QStringList{
            saveError(QStringLiteral("Cannot write '%1': its folder was removed or replaced").arg(ann), 146),
            stopped(QStringLiteral("the folder '%1' was removed or replaced while it wrote there").arg(out)),
            QStringLiteral("Done.")}));
    EXPECT_EQ(filesIn(out), QStringList());
}

// The output folder removed after a transcript was written, then made again before the run ends:
// what was written is gone with the folder, and the run says so instead of ending with "Done." and a
// transcript that lacks the first chats. Removed for good, the same.
TEST_F(TranscriptFilesTest, AFolderRemovedAfterItWasWrittenToIsNoSuccess) {
    const QString out = outputDir.filePath(QStringLiteral("out"));
    const QString outText = out + QLatin1Char('/');
    const QString ann = outText + QStringLiteral("ann.txt");
    for (const bool again : {true, false}) {
        ASSERT_TRUE(QDir().mkpath(out));
        LocalFileSystem fileSystem;
        TranscriptFiles files(fileSystem);
        ASSERT_TRUE(files.lockFolder(outText).isEmpty());
        files.restart(ann);
        files.append(ann, QStringLiteral("one\r\n"));
        ASSERT_TRUE(QDir(out).removeRecursively());
        if (again) {
            ASSERT_TRUE(QDir().mkpath(out));
            EXPECT_ANY_THROW(files.append(ann, QStringLiteral("two\r\n")));
        }
        if (!again) { // a chat that failed keeps its transcript without another word
            EXPECT_ANY_THROW(files.commit(ann));
        }
        EXPECT_TRUE(files.stopped()) << again;
        EXPECT_EQ(contents(ann), QByteArray("<missing>")) << again;
    }
}
#endif

// The reasons the boxes give, in words, for the errors of the platform.
TEST(FileErrorText, SaysWhatWentWrongInWords) {
#ifdef Q_OS_WIN
    EXPECT_EQ(fileErrorText(112), QStringLiteral("the disk is full"));
    EXPECT_EQ(fileErrorText(39), QStringLiteral("the disk is full"));
    EXPECT_EQ(fileErrorText(1295), QStringLiteral("the disk quota is used up"));
    EXPECT_EQ(fileErrorText(5), QStringLiteral("access is denied"));
    EXPECT_EQ(fileErrorText(206), QStringLiteral("the name is too long"));
    EXPECT_EQ(fileErrorText(3), QStringLiteral("the file or its folder does not exist"));
    EXPECT_EQ(fileErrorKind(112), FileError::DiskFull);
    EXPECT_EQ(fileErrorKind(5), FileError::Refused);
    EXPECT_EQ(fileErrorKind(80), FileError::Exists);
#else
    EXPECT_EQ(fileErrorText(ENOSPC), QStringLiteral("the disk is full"));
    EXPECT_EQ(fileErrorText(EDQUOT), QStringLiteral("the disk quota is used up"));
    EXPECT_EQ(fileErrorText(EACCES), QStringLiteral("access is denied"));
    EXPECT_EQ(fileErrorText(EROFS), QStringLiteral("the disk is read-only"));
    EXPECT_EQ(fileErrorText(ENAMETOOLONG), QStringLiteral("the name is too long"));
    EXPECT_EQ(fileErrorText(ENOENT), QStringLiteral("the file or its folder does not exist"));
    for (const int full : {ENOSPC, EDQUOT})
        EXPECT_EQ(fileErrorKind(full), FileError::DiskFull);
    for (const int refused : {EACCES, EPERM, EROFS})
        EXPECT_EQ(fileErrorKind(refused), FileError::Refused);
    EXPECT_EQ(fileErrorKind(ENOENT), FileError::NotFound);
    EXPECT_EQ(fileErrorKind(EEXIST), FileError::Exists);
    // A file too large for a limit is no reason to stop: a smaller one may fit.
    EXPECT_EQ(fileErrorKind(EFBIG), FileError::Other);
#endif
    EXPECT_FALSE(fileErrorText(987654).isEmpty());
    EXPECT_NE(fileErrorText(987654), QStringLiteral("Unknown error"));
}

// The program is declared long-path aware, so that Windows takes the long forms the moves use.
TEST(WindowsManifest, DeclaresTheProgramLongPathAware) {
    QFile rc(QStringLiteral(PARLORIX_SOURCE_DIR "/packaging/windows/parlorix.rc"));
    ASSERT_TRUE(rc.open(QIODevice::ReadOnly));
    EXPECT_TRUE(rc.readAll().contains("1 24 \"parlorix.manifest\""));
    QFile manifest(QStringLiteral(PARLORIX_SOURCE_DIR "/packaging/windows/parlorix.manifest"));
    ASSERT_TRUE(manifest.open(QIODevice::ReadOnly));
    const QByteArray text = manifest.readAll();
    EXPECT_TRUE(text.contains("xmlns:ws2=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\""));
    EXPECT_TRUE(text.contains("<ws2:longPathAware>true</ws2:longPathAware>"));
}

} // namespace
