#include "ExportWindow.h"
#include "fakes/RealHistoryWindow.h"

#include "DatabaseWriter.h"
#include "fakes/OrdinaryUser.h"

#include "files/FolderLock.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRadioButton>

#include <gtest/gtest.h>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

// What a run must never do, whatever the folder holds and whatever fails half-way: write through a
// link, append to a transcript it could not replace, or leave a contact with less than it had.
namespace {

const QDateTime kStamp(QDate(2021, 8, 31), QTime(15, 42, 10));
const QFileDevice::Permissions kReadOnly = QFileDevice::ReadOwner | QFileDevice::ReadUser;
const QFileDevice::Permissions kOwnerBits =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
const QFileDevice::Permissions kAllBits = kOwnerBits | QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                          QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                          QFileDevice::WriteOther | QFileDevice::ExeOther;

class TranscriptSafety : public ExportWindow {
protected:
    TranscriptSafety()
        : ExportWindow("UTC") {}
    void pressSave() { w.click("PushButton7"); }
    void pressOld() { w.click("PushButton6"); }
    // The names of the files in the output folder, hidden ones too: no new file may be left behind.
    QStringList files() const {
        return QDir(outputDir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }
    QString keptMessage(const QStringList& paths) const {
        return QStringLiteral("These transcripts were left as they were, because a chat of theirs could not "
                              "be read or written:\r\n") +
               paths.join(QStringLiteral("\r\n"));
    }
    static QString stopMessage(const QString& why) {
        return QStringLiteral(
                   "The export stopped because %1. The transcripts it had not yet put in place were "
                   "left as they were.")
            .arg(why);
    }
};

#ifndef Q_OS_WIN
// A link in the output folder named like a transcript: both exports replace the link and leave what
// it points to as it was, a read-only file included.
TEST_F(TranscriptSafety, ALinkInTheFolderIsReplacedAndItsTargetIsUntouched) {
    QTemporaryDir outside;
    const QString target = outside.filePath(QStringLiteral("precious.txt"));
    writeFile(target, "precious");
    QFile::setPermissions(target, kReadOnly);
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: hi")});
    tick({QStringLiteral("ann")});
    for (const bool oldExport : {false, true}) {
        QFile::remove(transcript("ann"));
        ASSERT_TRUE(QFile::link(target, transcript("ann")));
        w.boxes.clear();
        oldExport ? pressOld() : pressSave();
        EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
        EXPECT_EQ(contents(target), QByteArray("precious"));
        EXPECT_EQ(QFile::permissions(target) & kOwnerBits, QFileDevice::ReadOwner);
        EXPECT_FALSE(QFileInfo(transcript("ann")).isSymLink());
        EXPECT_EQ(contents(transcript("ann")), oldExport
                                                   ? QByteArray("[8/31/2021 3:42:10 PM]\r\nAnn: hi\r\n\r\n")
                                                   : QByteArray("[8/31/2021 3:42:10 PM]Ann: hi\r\n"));
    }
}
#endif

#ifdef Q_OS_LINUX
// In a folder the user cannot write to, the old transcript can be neither deleted nor replaced: it
// stays as it was, never doubled, and the boxes say why. Every later chat would fail the same way:
// the run ends after the first, and one box says why.
TEST_F(TranscriptSafety, AnOldTranscriptThatCannotBeReplacedStaysWholeAndTheBoxesSaySo) {
    writeFile(transcript("ann"), "old\r\n");
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: hi")});
    tick({QStringLiteral("ann")});
    QFile::setPermissions(outputDir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                QFileDevice::ReadOther | QFileDevice::ExeOther);
    {
        OrdinaryUser user;
        pressSave();
    }
    const QStringList texts = w.boxes.texts();
    ASSERT_EQ(texts.size(), 4);
    EXPECT_TRUE(
        texts[0].startsWith(QStringLiteral("Cannot write '%1': access is denied\r\n").arg(transcript("ann"))))
        << texts[0].toStdString();
    EXPECT_TRUE(texts[0].contains(QLatin1String("at line 134\r\r")));
    EXPECT_TRUE(texts[1].contains(QLatin1String("at line 146\r\r")));
    EXPECT_EQ(
        texts[2],
        stopMessage(
            QStringLiteral("it cannot write into the folder '%1': access is denied").arg(outputDir.path())));
    EXPECT_EQ(texts[3], QStringLiteral("Done."));
    EXPECT_EQ(contents(transcript("ann")), QByteArray("old\r\n"));
    EXPECT_EQ(files(), QStringList{QStringLiteral("ann.txt")});
    QFile::setPermissions(outputDir.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// The user's own transcript, read-only for its owner, in a folder the user may write to: replaced like
// any other transcript, and read-only it stays.
TEST_F(TranscriptSafety, AReadOnlyTranscriptIsReplacedByAnOrdinaryUser) {
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: new")});
    tick({QStringLiteral("ann")});
    QFile::setPermissions(outputDir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                QFileDevice::WriteOther | QFileDevice::ExeOther);
    const mode_t savedMask = umask(027);
    {
        OrdinaryUser user;
        writeFile(transcript("ann"), "old");
        QFile::setPermissions(transcript("ann"), kReadOnly);
        pressSave();
    }
    umask(savedMask);
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_EQ(contents(transcript("ann")), QByteArray("[8/31/2021 3:42:10 PM]Ann: new\r\n"));
    EXPECT_EQ(QFile::permissions(transcript("ann")) & kAllBits, QFileDevice::ReadOwner);
}

// A disk that fills up: every write past 100 bytes of a file fails, as on a full disk. The contact
// whose transcript would not fit keeps the old one; the others get their new ones.
TEST_F(TranscriptSafety, AWriteThatFailsAfterSomeBytesKeepsTheOldTranscript) {
    writeFile(transcript("ann"), "old ann");
    writeFile(transcript("bob"), "old bob");
    w.skype.addChat(QStringLiteral("ann"), kStamp,
                    {QStringLiteral("Ann: ") + QString(200, QLatin1Char('x'))});
    w.skype.addChat(QStringLiteral("bob"), kStamp, {QStringLiteral("Bob: short")});
    tick({QStringLiteral("ann"), QStringLiteral("bob")});
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100;
    setrlimit(RLIMIT_FSIZE, &small);
    pressSave();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    const QStringList texts = w.boxes.texts();
    ASSERT_EQ(texts.size(), 3);
    EXPECT_TRUE(texts[0].startsWith(QLatin1String("Cannot write"))) << texts[0].toStdString();
    EXPECT_TRUE(texts[0].contains(QLatin1String("at line 146\r\r")));
    EXPECT_EQ(texts[1], keptMessage({transcript("ann")}));
    EXPECT_EQ(texts[2], QStringLiteral("Done."));
    EXPECT_EQ(contents(transcript("ann")), QByteArray("old ann"));
    EXPECT_EQ(contents(transcript("bob")), QByteArray("[8/31/2021 3:42:10 PM]Bob: short\r\n"));
    EXPECT_EQ(files(), (QStringList{QStringLiteral("ann.txt"), QStringLiteral("bob.txt")}));
}
#endif

// While one run writes into a folder, a second one into the same folder stops and says why.
TEST_F(TranscriptSafety, ASecondRunIntoTheSameFolderStopsAndSaysWhy) {
    writeFile(transcript("ann"), "old");
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: hi")});
    tick({QStringLiteral("ann")});
    FolderLock other(folder);
    ASSERT_TRUE(other.tryLock());
    const QString busy =
        QStringLiteral("Another export is writing into the folder '%1'. Wait until it has finished, "
                       "then try again.")
            .arg(QDir::toNativeSeparators(outputDir.path()));
    pressSave();
    EXPECT_EQ(w.boxes.texts(), QStringList{busy});
    w.boxes.clear();
    pressOld();
    EXPECT_EQ(w.boxes.texts(), QStringList{busy});
    EXPECT_EQ(form().mousePointer(), 0);
    EXPECT_EQ(contents(transcript("ann")), QByteArray("old"));
}

// Four garbled pages in the middle of a real database: every transcript afterwards is the good one
// of the run before, whole, or the complete new one, never a header alone.
TEST_F(TranscriptSafety, ADamagedDatabaseLeavesEveryGoodTranscriptWhole) {
    QTemporaryDir historyDir;
    const QString db = historyDir.filePath(QStringLiteral("main.db"));
    {
        SyntheticHistory history({21, 30, 3, 6000});
        DatabaseWriter writer(db, history, true);
        for (int i = 0; i < history.conversationCount(); ++i)
            writer.add(history.conversation(i));
        writer.finish();
    }
    RealHistoryWindow history(w, db);
    Form1& real = history.form();
    QMetaObject::invokeMethod(&real, "PushButton2_Click");
    QMetaObject::invokeMethod(&real, "PushButton3_Click");
    QMetaObject::invokeMethod(&real, "PushButton7_Click");
    ASSERT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    w.boxes.clear();
    QMap<QString, QByteArray> good;
    for (const QString& name : files())
        good.insert(name, contents(folder + name));
    ASSERT_GT(good.size(), 20);

    QFile file(db);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QByteArray header = file.read(100);
    const int pageSize =
        (static_cast<unsigned char>(header[16]) << 8) | static_cast<unsigned char>(header[17]);
    const qint64 pages = file.size() / pageSize;
    for (qint64 page = pages / 2; page < pages / 2 + 4; ++page) {
        file.seek(page * pageSize);
        file.write(QByteArray(pageSize, '\x5A'));
    }
    file.close();

    QMetaObject::invokeMethod(&real, "PushButton7_Click");
    EXPECT_GT(w.boxes.texts().size(), 1);
    EXPECT_EQ(w.boxes.texts().last(), QStringLiteral("Done."));
    EXPECT_EQ(files(), QStringList(good.keys()));
    for (const QString& name : files())
        EXPECT_EQ(contents(folder + name), good.value(name)) << name.toStdString();
}

} // namespace
