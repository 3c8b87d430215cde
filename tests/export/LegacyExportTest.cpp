#include "ExportWindow.h"
#include "fakes/RealHistoryWindow.h"

#include <QDir>
#include <QFile>
#include <QRadioButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QDateTime kMorning(QDate(2021, 8, 31), QTime(9, 0));
const QDateTime kEvening(QDate(2021, 8, 31), QTime(18, 30));

class LegacyExport : public ExportWindow {
protected:
    LegacyExport()
        : ExportWindow("UTC") {}
    FakeSkype::FakeChat& chat(const char* name, const QDateTime& stamp, const QStringList& lines) {
        FakeSkype::FakeChat& added = w.skype.addChat(QString(), stamp, lines);
        added.name = QString::fromUtf8(name);
        return added;
    }
    void selectDateRange(const QDateTime& from, const QDateTime& to) {
        w.find<QRadioButton>("Option2")->setChecked(true);
        form().setDateFrom(from);
        form().setDateTo(to);
    }
    void press() { w.click("PushButton6"); }
};

TEST_F(LegacyExport, ExportAllWritesEveryChatWhoseNameHoldsTheHandle) {
    QFile old(transcript("ann"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old content that goes");
    old.close();
    chat("#joanna/$bob;1234", kMorning, {QStringLiteral("Jo: hi"), QStringLiteral("Bob: hey")});
    chat("bob", kMorning, {QStringLiteral("Bob: only bob")});
    chat("ANN", kEvening, {});
    chat("ANN", kEvening, {QStringLiteral("Ann: upper case name")});
    tick({QStringLiteral("ann"), QStringLiteral("bob")});
    press();
    EXPECT_EQ(contents(transcript("ann")),
              QByteArray("[8/31/2021 9:00:00 AM]\r\nJo: hi\r\nBob: hey\r\n\r\n"
                         "[8/31/2021 6:30:00 PM]\r\nAnn: upper case name\r\n\r\n"));
    EXPECT_EQ(contents(transcript("bob")), QByteArray("[8/31/2021 9:00:00 AM]\r\nJo: hi\r\nBob: hey\r\n\r\n"
                                                      "[8/31/2021 9:00:00 AM]\r\nBob: only bob\r\n\r\n"));
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_EQ(form().mousePointer(), 0);
}

TEST_F(LegacyExport, DateRangeWritesTheFirstMessageOfEachChatInTheRangeEndsIncluded) {
    const QDateTime from(QDate(2021, 8, 1), QTime(12, 0));
    const QDateTime to(QDate(2021, 8, 31), QTime(12, 0));
    chat("ann", from, {QStringLiteral("Ann: old"), QStringLiteral("Ann: newest at start")});
    chat("ann", from.addSecs(-1), {QStringLiteral("Ann: just before")});
    chat("ann", to, {QStringLiteral("Ann: at the end")});
    chat("ann", to.addSecs(1), {QStringLiteral("Ann: later the same day")});
    chat("ann", QDateTime(QDate(2021, 8, 15), QTime(0, 0)), {});
    tick({QStringLiteral("ann")});
    selectDateRange(from, to);
    press();
    EXPECT_EQ(contents(transcript("ann")), QByteArray("[8/1/2021 12:00:00 PM] \r\nnewest at start\r\n\r\n\r\n"
                                                      "[8/31/2021 12:00:00 PM] \r\nat the end\r\n\r\n\r\n"));
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
}

TEST_F(LegacyExport, TranscriptsItDoesNotWriteKeepTheirContent) {
    for (const char* handle : {"ann", "bob"}) {
        QFile file(transcript(handle));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("kept");
    }
    chat("ann", kMorning, {});
    chat("bob", QDateTime(QDate(2020, 1, 1), QTime(0, 0)), {QStringLiteral("Bob: outside")});
    tick({QStringLiteral("ann")});
    press();
    tick({QStringLiteral("bob")});
    selectDateRange(kMorning, kEvening);
    press();
    EXPECT_EQ(w.boxes.texts(), (QStringList{QStringLiteral("Done."), QStringLiteral("Done.")}));
    EXPECT_EQ(contents(transcript("ann")), QByteArray("kept"));
    EXPECT_EQ(contents(transcript("bob")), QByteArray("kept"));
}

TEST_F(LegacyExport, NotRunningGuidesAndShowsTheWaitPointerMeanwhile) {
    w.skype.running = false;
    tick({QStringLiteral("ann")});
    QList<int> pointers;
    w.boxes.whileOpen = [&] { pointers.append(form().mousePointer()); };
    w.boxes.answer(MessageBoxes::Answer::No);
    press();
    EXPECT_EQ(pointers, QList<int>{0});
    EXPECT_TRUE(w.boxes.texts().first().startsWith(QLatin1String("For your information")));
    EXPECT_FALSE(QFile::exists(transcript("ann")));

    w.skype.running = true;
    chat("ann", kMorning, {QStringLiteral("Ann: hi")});
    int pointerWhileReading = -1;
    w.skype.onMessageRead = [&] { pointerWhileReading = form().mousePointer(); };
    press();
    EXPECT_EQ(pointerWhileReading, 11);
    EXPECT_EQ(form().mousePointer(), 0);
    EXPECT_EQ(w.boxes.texts().last(), QStringLiteral("Done."));
}

// The first chat's writes say why; every later one would fail the same way, so the run ends there.
TEST_F(LegacyExport, MissingFolderReportsTheFirstChatsWritesThenWhyItStoppedThenDone) {
    chat("ann", kMorning, {QStringLiteral("Ann: hi")});
    chat("ann", kMorning, {QStringLiteral("Ann: again")});
    chat("bob", kMorning, {QStringLiteral("Bob: hi")});
    tick({QStringLiteral("ann"), QStringLiteral("bob")});
    form().setOutputFolderText(folder + QStringLiteral("gone") + QDir::separator());
    press();
    const QStringList texts = w.boxes.texts();
    ASSERT_EQ(texts.size(), 4);
    EXPECT_TRUE(texts[0].startsWith(QStringLiteral("Cannot write '%1': its folder does not exist\r\n")
                                        .arg(form().outputFolderText() + QStringLiteral("ann.txt"))))
        << texts[0].toStdString();
    EXPECT_TRUE(texts[0].contains(QLatin1String("PushButton6_Click at line 122\r\r")));
    EXPECT_TRUE(texts[1].contains(QLatin1String("PushButton6_Click at line 132\r\r")));
    EXPECT_EQ(texts[2], QStringLiteral("The export stopped because the folder '%1' does not exist. The "
                                       "transcripts it had not yet put in place were left as they were.")
                            .arg(QDir::toNativeSeparators(folder + QStringLiteral("gone"))));
    EXPECT_EQ(texts[3], QStringLiteral("Done."));

    w.boxes.clear();
    selectDateRange(kMorning, kEvening);
    press();
    ASSERT_EQ(w.boxes.texts().size(), 3);
    EXPECT_TRUE(w.boxes.texts()[0].contains(QLatin1String("PushButton6_Click at line 146\r\r")));
}

TEST_F(LegacyExport, NoLinkReportsCreateAndRunningThenGuides) {
    w.skype.failing.insert(QStringLiteral("create"));
    w.boxes.answer(MessageBoxes::Answer::No);
    press();
    const QStringList texts = w.boxes.texts();
    ASSERT_EQ(texts.size(), 3);
    EXPECT_TRUE(texts[0].contains(QLatin1String("PushButton6_Click at line 102\r\r")));
    EXPECT_TRUE(texts[1].contains(QLatin1String("PushButton6_Click at line 104\r\r")));
    EXPECT_TRUE(texts[2].startsWith(QLatin1String("For your information")));
    EXPECT_EQ(form().mousePointer(), 0);
}

// The export keeps milliseconds; the header shows whole seconds and the pickers have none. A chat
// shown as [12/31/2014 7:37:46 PM] falls inside a range that ends at 7:37:46 PM.
TEST_F(LegacyExport, AnExportChatStampedWithinTheLastSecondOfTheRangeIsWritten) {
    QTemporaryDir historyDir;
    const QString json = historyDir.filePath(QStringLiteral("messages.json"));
    writeFile(json, R"({"conversations":[{"id":"8:ann","MessageList":[{"id":"1","displayName":"Ann",
        "originalarrivaltime":"2014-12-31T19:37:46.999Z","messagetype":"RichText","content":"late",
        "from":"8:ann"}]}]})");
    RealHistoryWindow history(w, json);
    Form1& real = history.form();
    real.appendRow(QStringLiteral("ann"));
    real.setRowChecked(1, true);
    real.findChild<QRadioButton*>(QStringLiteral("Option2"))->setChecked(true);
    real.setDateFrom(QDateTime(QDate(2014, 12, 31), QTime(0, 0)));
    real.setDateTo(QDateTime(QDate(2014, 12, 31), QTime(19, 37, 46)));
    QMetaObject::invokeMethod(&real, "PushButton6_Click");
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_EQ(contents(transcript("ann")), QByteArray("[12/31/2014 7:37:46 PM] \r\nlate\r\n\r\n\r\n"));
}

} // namespace
