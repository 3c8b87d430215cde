#include "ExportWindow.h"
#include "fakes/RealHistoryWindow.h"

#include "fakes/ScopedEnv.h"

#include "export/NarrowText.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QDateTime kStamp(QDate(2021, 8, 31), QTime(15, 42, 10));

QString exportError(const QString& description, int line) {
    return errorReport(description, QStringLiteral("PushButton7_Click"), line);
}

QString keptMessage(const QStringList& paths) {
    return QStringLiteral(
               "These transcripts were left as they were, because a chat of theirs could not be read "
               "or written:\r\n") +
           paths.join(QStringLiteral("\r\n"));
}

class ExportRun : public ExportWindow {
protected:
    ExportRun()
        : ExportWindow("America/New_York") {}
    void press() { w.click("PushButton7"); }
};

TEST_F(ExportRun, WritesTheExampleByteForByte) {
    w.skype.addChat(QStringLiteral("ann"), kStamp,
                    {QStringLiteral("Ann: hi"), QStringLiteral("Bob: hello"), QStringLiteral("Ann: bye")});
    tick({QStringLiteral("ann")});
    form().setMousePointer(99);
    press();
    EXPECT_EQ(contents(transcript("ann")),
              QByteArray("[8/31/2021 3:42:10 PM]Ann: hi\r\nBob: hello\r\nAnn: bye\r\n"));
    ASSERT_EQ(w.boxes.shown().size(), 1);
    EXPECT_EQ(w.boxes.shown().first().text, QStringLiteral("Done."));
    EXPECT_EQ(w.boxes.shown().first().title, QStringLiteral("Parlorix"));
    EXPECT_EQ(w.boxes.shown().first().icon, MessageBoxes::Icon::None);
    EXPECT_EQ(form().mousePointer(), 0);
}

TEST_F(ExportRun, SeveralChatsBackToBackAndEmptyChatsSkipped) {
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: one")});
    w.skype.addChat(QStringLiteral("bob"), kStamp, {QStringLiteral("Bob: not ann's")});
    w.skype.addChat(QStringLiteral("ann"), QDateTime(QDate(2021, 9, 1), QTime(0, 0)), {});
    w.skype.addChat(QStringLiteral("Ann"), kStamp, {QStringLiteral("Ann: other case")});
    w.skype.addChat(QStringLiteral("ann"), QDateTime(QDate(2021, 9, 2), QTime(0, 0)),
                    {QStringLiteral("Ann: two"), QStringLiteral("Me: multi\r\nline")});
    tick({QStringLiteral("ann")});
    press();
    EXPECT_EQ(contents(transcript("ann")),
              QByteArray("[8/31/2021 3:42:10 PM]Ann: one\r\n[9/2/2021]Ann: two\r\nMe: multi\r\nline\r\n"));
    EXPECT_FALSE(QFile::exists(transcript("bob")));
#ifndef Q_OS_WIN // where Ann.txt and ann.txt are one file
    EXPECT_FALSE(QFile::exists(transcript("Ann")));
#endif
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
}

TEST_F(ExportRun, NoTicksGivesOnlyDone) {
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: hi")});
    form().appendRow(QStringLiteral("ann"));
    writeFile(transcript("ann"), "old");
    press();
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_EQ(contents(transcript("ann")), QByteArray("old"));
}

TEST_F(ExportRun, MissingFolderGivesOnlyItsMessage) {
    for (const QString& text : QStringList{folder + QStringLiteral("gone") + QDir::separator(), QString()}) {
        w.boxes.clear();
        tick({QStringLiteral("ann")});
        form().setOutputFolderText(text);
        press();
        EXPECT_EQ(w.boxes.texts(),
                  QStringList{QStringLiteral("Folder does not exist. Please select another folder.")});
        EXPECT_EQ(w.boxes.shown().first().title, QStringLiteral("Parlorix"));
    }
    EXPECT_EQ(w.skype.calls.value(QStringLiteral("running")), 0);
}

TEST_F(ExportRun, SkypeNotRunningShowsTheGuidanceAndTouchesNothing) {
    w.skype.running = false;
    tick({QStringLiteral("ann")});
    writeFile(transcript("ann"), "old");
    form().setMousePointer(99);
    w.boxes.answer(MessageBoxes::Answer::No);
    press();
    ASSERT_EQ(w.boxes.shown().size(), 1);
    EXPECT_TRUE(w.boxes.texts().first().startsWith(QLatin1String("For your information")));
    EXPECT_EQ(contents(transcript("ann")), QByteArray("old"));
    EXPECT_EQ(form().mousePointer(), 99);
}

// A ticked contact whose chats this history does not hold (a newer profile, an export of part of
// them) keeps the transcript it has, read-only or not, and one box before "Done." names such contacts;
// a contact without a chat and without a transcript gets none and is not named.
TEST_F(ExportRun, AContactWithoutAChatKeepsItsTranscriptAndIsNamedOnce) {
    tick({QStringLiteral("ann"), QStringLiteral("bob"), QStringLiteral("cid"), QStringLiteral("dee")});
    writeFile(transcript("ann"), "old ann");
    writeFile(transcript("bob"), "old bob");
    writeFile(transcript("dee"), "old dee");
    QFile::setPermissions(transcript("ann"), QFileDevice::ReadOwner | QFileDevice::ReadUser);
    w.skype.addChat(QStringLiteral("bob"), kStamp, {QStringLiteral("Bob: new")});
    w.skype.addChat(QStringLiteral("dee"), kStamp, {}); // no message: no chat a transcript shows
    press();
    EXPECT_EQ(contents(transcript("ann")), QByteArray("old ann"));
    EXPECT_FALSE(QFile::permissions(transcript("ann")) & QFileDevice::WriteOwner);
    EXPECT_EQ(contents(transcript("bob")), QByteArray("[8/31/2021 3:42:10 PM]Bob: new\r\n"));
    EXPECT_EQ(contents(transcript("dee")), QByteArray("old dee"));
    EXPECT_FALSE(QFile::exists(transcript("cid")));
    EXPECT_EQ(w.boxes.texts(), (QStringList{QStringLiteral("These contacts have no chat in this history, so "
                                                           "their transcripts were left as they were:\r\n"
                                                           "ann\r\ndee"),
                                            QStringLiteral("Done.")}));
    EXPECT_EQ(w.boxes.shown().first().icon, MessageBoxes::Icon::None);
}

TEST_F(ExportRun, AContactListedAndTickedTwiceGetsEachChatTwice) {
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: hi")});
    tick({QStringLiteral("ann"), QStringLiteral("ann")});
    press();
    EXPECT_EQ(contents(transcript("ann")),
              QByteArray("[8/31/2021 3:42:10 PM]Ann: hi\r\n[8/31/2021 3:42:10 PM]Ann: hi\r\n"));
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
}

TEST_F(ExportRun, FolderTextWithoutSeparatorWritesBesideTheFolder) {
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: hi")});
    tick({QStringLiteral("ann")});
    QDir(outputDir.path()).mkdir(QStringLiteral("chats"));
    form().setOutputFolderText(folder + QStringLiteral("chats"));
    press();
    EXPECT_EQ(contents(folder + QStringLiteral("chatsann.txt")),
              QByteArray("[8/31/2021 3:42:10 PM]Ann: hi\r\n"));
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
}

// A folder where the transcript should be cannot be replaced, whoever runs the test: the new
// transcript is complete, and moving it into place fails at the end of the second pass.
TEST_F(ExportRun, ATranscriptThatCannotBeReplacedIsReportedOnceAndNothingIsLeftBehind) {
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: one")});
    w.skype.addChat(QStringLiteral("bob"), kStamp, {QStringLiteral("Bob: two")});
    tick({QStringLiteral("ann"), QStringLiteral("bob")});
    QDir(outputDir.path()).mkdir(QStringLiteral("ann.txt"));
    press();
    const QStringList texts = w.boxes.texts();
    ASSERT_EQ(texts.size(), 3);
    EXPECT_TRUE(
        texts[0].startsWith(QStringLiteral("Cannot replace '%1': it is a folder").arg(transcript("ann"))))
        << texts[0].toStdString();
    EXPECT_TRUE(texts[0].contains(QLatin1String("at line 150\r\r")));
    EXPECT_TRUE(texts[1].endsWith(transcript("ann"))) << texts[1].toStdString();
    EXPECT_EQ(texts[2], QStringLiteral("Done."));
    EXPECT_EQ(contents(transcript("bob")), QByteArray("[8/31/2021 3:42:10 PM]Bob: two\r\n"));
    EXPECT_EQ(QDir(outputDir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("bob.txt")});
}

TEST_F(ExportRun, FailingMessageReadLeavesOutItsLineOnly) {
    w.skype.addChat(QStringLiteral("ann"), kStamp,
                    {QStringLiteral("Ann: one"), QStringLiteral("Ann: two"), QStringLiteral("Ann: three")});
    w.skype.failing.insert(QStringLiteral("body#1.2"));
    w.skype.addChat(QStringLiteral("bob"), kStamp, {QStringLiteral("Bob: fine")});
    tick({QStringLiteral("ann"), QStringLiteral("bob")});
    writeFile(transcript("ann"), "old");
    press();
    // A message that cannot be read spoils its chat: the contact keeps the transcript it had.
    EXPECT_EQ(w.boxes.texts(), (QStringList{exportError(QStringLiteral("Skype failed at body"), 142),
                                            keptMessage({transcript("ann")}), QStringLiteral("Done.")}));
    EXPECT_EQ(w.boxes.shown()[1].icon, MessageBoxes::Icon::Warning);
    EXPECT_EQ(contents(transcript("ann")), QByteArray("old"));
    EXPECT_EQ(contents(transcript("bob")), QByteArray("[8/31/2021 3:42:10 PM]Bob: fine\r\n"));
}

TEST_F(ExportRun, NonLatinTextAndEmojiAreWrittenInTheSystemsCharacterSet) {
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Аня: привет 😀 你好 café")});
    tick({QStringLiteral("ann")});
    press();
#ifdef Q_OS_WIN
    // The ANSI code page: one "?" for each character it lacks.
    if (NarrowText::systemCharset() != "CP1252")
        GTEST_SKIP() << "the expected bytes are code page 1252's, the system has "
                     << NarrowText::systemCharset().constData();
    EXPECT_EQ(contents(transcript("ann")), QByteArray("[8/31/2021 3:42:10 PM]???: ?????? ? ?? caf\xE9\r\n"));
#else
    EXPECT_EQ(contents(transcript("ann")),
              QByteArray("[8/31/2021 3:42:10 PM]\xD0\x90\xD0\xBD\xD1\x8F: "
                         "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 "
                         "\xF0\x9F\x98\x80 \xE4\xBD\xA0\xE5\xA5\xBD caf\xC3\xA9\r\n"));
#endif
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
}

#ifdef Q_OS_WIN
// There a handle's separators and dots are written as %XX: the transcript stays in the folder.
TEST_F(ExportRun, HostileRowTextStaysInTheFolder) {
    QTemporaryDir parent;
    const QString inner = QDir::toNativeSeparators(parent.path()) + QDir::separator() + QStringLiteral("out");
    QDir().mkpath(inner);
    form().setOutputFolderText(inner + QDir::separator());
    writeFile(parent.path() + QStringLiteral("/victim.txt"), "keep me");
    for (const char* hostile : {"../victim", "..\\victim", ".."}) {
        w.skype.addChat(QString::fromLatin1(hostile), kStamp, {QStringLiteral("Eve: pwned")});
        tick({QString::fromLatin1(hostile)});
    }
    press();
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_EQ(contents(parent.path() + QStringLiteral("/victim.txt")), QByteArray("keep me"));
    EXPECT_EQ(QDir(inner).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{QStringLiteral("%2E%2E.txt"), QStringLiteral("..%2Fvictim.txt"),
                           QStringLiteral("..%5Cvictim.txt")}));
}
#else
TEST_F(ExportRun, HostileRowTextIsRefusedAndNothingOutsideTheFolderIsTouched) {
    QTemporaryDir parent;
    const QString inner = QDir::toNativeSeparators(parent.path()) + QDir::separator() + QStringLiteral("out");
    QDir().mkpath(inner);
    form().setOutputFolderText(inner + QDir::separator());
    writeFile(parent.path() + QStringLiteral("/victim.txt"), "keep me");
    const QString hostile = QStringLiteral("../victim");
    w.skype.addChat(hostile, kStamp, {QStringLiteral("Eve: pwned")});
    w.skype.addChat(QStringLiteral(".."), kStamp, {QStringLiteral("Eve: pwned")});
    tick({hostile, QStringLiteral("..")});
    press();
    EXPECT_EQ(contents(parent.path() + QStringLiteral("/victim.txt")), QByteArray("keep me"));
    EXPECT_EQ(QDir(inner).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    const QString refused =
        QStringLiteral("'%1' cannot name a transcript: it would not stay in the output folder");
    EXPECT_EQ(w.boxes.texts(),
              (QStringList{exportError(refused.arg(hostile), 112),
                           exportError(refused.arg(QStringLiteral("..")), 112),
                           exportError(refused.arg(hostile), 132),
                           exportError(refused.arg(QStringLiteral("..")), 132), QStringLiteral("Done.")}));
}
#endif

TEST_F(ExportRun, NoLinkOrUnknownRunningStateEndsBeforeAnythingIsDeleted) {
    tick({QStringLiteral("ann")});
    writeFile(transcript("ann"), "old");
    w.skype.failing.insert(QStringLiteral("create"));
    press();
    EXPECT_EQ(w.boxes.texts(), QStringList{exportError(QStringLiteral("Skype failed at create"), 100)});
    EXPECT_EQ(contents(transcript("ann")), QByteArray("old"));

    w.boxes.clear();
    w.skype.failing = {QStringLiteral("running")};
    press();
    EXPECT_EQ(w.boxes.texts(), QStringList{exportError(QStringLiteral("Skype failed at running"), 104)});
    EXPECT_EQ(contents(transcript("ann")), QByteArray("old"));
}

TEST_F(ExportRun, APressDuringARunIsIgnored) {
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: one"), QStringLiteral("Ann: two")});
    tick({QStringLiteral("ann")});
    int nested = 0;
    w.skype.onMessageRead = [&] {
        if (nested++ == 0) {
            w.click("PushButton7");
            w.click("PushButton6");
        }
    };
    press();
    EXPECT_EQ(contents(transcript("ann")), QByteArray("[8/31/2021 3:42:10 PM]Ann: one\r\nAnn: two\r\n"));
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_EQ(w.skype.rootsCreated, 1);

    // Afterwards the buttons work again.
    w.skype.onMessageRead = nullptr;
    press();
    EXPECT_EQ(w.skype.rootsCreated, 2);
    EXPECT_EQ(w.boxes.texts(), (QStringList{QStringLiteral("Done."), QStringLiteral("Done.")}));
}

TEST_F(ExportRun, APartnerHandleThatCannotBeReadOffersTheChatToEveryTickedRow) {
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: hi")});
    w.skype.failing.insert(QStringLiteral("partner"));
    tick({QStringLiteral("ann"), QStringLiteral("bob")});
    form().appendRow(QStringLiteral("cid"));
    writeFile(transcript("bob"), "old");
    press();
    // Every ticked row is offered the chat; whose it is cannot be told, so every ticked contact
    // keeps what it had.
    EXPECT_EQ(w.boxes.texts(),
              (QStringList{exportError(QStringLiteral("Skype failed at partner"), 130),
                           exportError(QStringLiteral("Skype failed at partner"), 130),
                           keptMessage({transcript("ann"), transcript("bob")}), QStringLiteral("Done.")}));
    EXPECT_FALSE(QFile::exists(transcript("ann")));
    EXPECT_EQ(contents(transcript("bob")), QByteArray("old"));
    EXPECT_FALSE(QFile::exists(transcript("cid")));
}

// Ticks are read afresh for every chat. A contact unticked while the run goes on keeps its old
// transcript as it was, whenever the untick comes; ticked again meanwhile, it would lack the chats it
// missed, and keeps it too. The others are written.
TEST_F(ExportRun, TicksAreReadAfreshForEveryChat) {
    struct Row {
        const char* what;
        int untickBefore; // the chat before which ann's tick is cleared; 0: never
        int tickBefore;   // ... and set again
        bool annWritten;
    };
    const QList<Row> rows{
        {"never unticked", 0, 0, true},         {"before any chat", 1, 0, false},
        {"before its first chat", 2, 0, false}, {"between its chats", 3, 0, false},
        {"after its last chat", 4, 0, false},   {"ticked again before its next chat", 2, 3, false},
    };
    w.skype.addChat(QStringLiteral("bob"), kStamp, {QStringLiteral("Bob: first")});
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: one")});
    w.skype.addChat(QStringLiteral("ann"), kStamp, {QStringLiteral("Ann: two")});
    w.skype.addChat(QStringLiteral("cid"), kStamp, {QStringLiteral("Cid: last")});
    tick({QStringLiteral("ann"), QStringLiteral("bob"), QStringLiteral("cid")});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        w.boxes.clear();
        form().setRowChecked(1, true);
        for (const char* handle : {"ann", "bob", "cid"})
            writeFile(transcript(handle), "old");
        QSet<QString> counted;
        // The count of each chat's messages is read before the chat is offered to the rows.
        w.skype.onTouch = [&](const QString& operation, const QString& chat) {
            if (operation != QLatin1String("messageCount") || counted.contains(chat))
                return;
            counted.insert(chat);
            if (chat.toInt() == row.untickBefore)
                form().setRowChecked(1, false);
            if (chat.toInt() == row.tickBefore)
                form().setRowChecked(1, true);
        };
        press();
        EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
        EXPECT_EQ(contents(transcript("ann")),
                  row.annWritten
                      ? QByteArray("[8/31/2021 3:42:10 PM]Ann: one\r\n[8/31/2021 3:42:10 PM]Ann: two\r\n")
                      : QByteArray("old"));
        EXPECT_EQ(contents(transcript("bob")), QByteArray("[8/31/2021 3:42:10 PM]Bob: first\r\n"));
        EXPECT_EQ(contents(transcript("cid")), QByteArray("[8/31/2021 3:42:10 PM]Cid: last\r\n"));
        EXPECT_EQ(
            QDir(outputDir.path()).entryList(QDir::Files | QDir::Hidden),
            (QStringList{QStringLiteral("ann.txt"), QStringLiteral("bob.txt"), QStringLiteral("cid.txt")}));
    }
}

TEST_F(ExportRun, WritesARealHistoryInLocalTime) {
#ifdef Q_OS_WIN
    GTEST_SKIP() << "Wine keeps the host's time zone, whatever TZ says";
#endif
    RealHistoryWindow history(w, QStringLiteral(PARLORIX_FIXTURES_DIR "/skype6-main.db"));
    Form1& real = history.form();
    QMetaObject::invokeMethod(&real, "PushButton2_Click");
    QMetaObject::invokeMethod(&real, "PushButton3_Click");
    QMetaObject::invokeMethod(&real, "PushButton7_Click");
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    // 1425314422 is 2 March 2015, 16:40:22 UTC: 11:40:22 in New York.
    EXPECT_EQ(contents(transcript("gohanuskas")),
              QByteArray("[3/2/2015 11:40:22 AM]renesto testing: Please add me as a contact\r\n"
                         "renesto testing: hey whats up\r\n"
                         "renesto testing: let's me show you some smileys as well\r\n"
                         "renesto testing: (poolparty)\r\n"
                         "Aleksandar Kovacevic: hahaha, that is funny :)\r\n"
                         "renesto testing: exactly :)\r\n"
                         "renesto testing: (rocknroll)\r\n"));
    EXPECT_FALSE(QFile::exists(transcript("echo123")));
}

} // namespace
