#include "fakes/RealHistoryWindow.h"
#include "fakes/TestWindow.h"

#include "skype/HistoryDrop.h"
#include "skype/HistoryRoot.h"
#include "skype/HistorySource.h"

#include "HistoryFiles.h"

#include "fakes/ScopedEnv.h"

#include "base/Failure.h"

#include <QDir>
#include <QFile>
#include <QTreeWidget>

#include <gtest/gtest.h>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace {

QStringList rows(Form1& form) {
    QStringList out;
    for (int row = 1; row <= form.rowCount(); ++row)
        out.append(form.rowText(row) + (form.isRowChecked(row) ? QStringLiteral(" [x]") : QString()));
    return out;
}

QString listingError(const char* description, int line) {
    return errorReport(QString::fromLatin1(description), QStringLiteral("PushButton2_Click"), line);
}

TEST(ContactListing, AppendsEveryNonEmptyHandleUntickedInOrder) {
    TestWindow w;
    Form1& form = w.load();
    w.skype.contacts = {QStringLiteral("zed"), QString(), QStringLiteral("  "), QStringLiteral("Ann"),
                        QStringLiteral("live:.cid.1a")};
    w.click("PushButton2");
    EXPECT_TRUE(w.boxes.shown().isEmpty());
    EXPECT_EQ(rows(form), (QStringList{QStringLiteral("zed"), QStringLiteral("  "), QStringLiteral("Ann"),
                                       QStringLiteral("live:.cid.1a")}));
    // Two handle reads for each listed contact, one for the empty one.
    EXPECT_EQ(w.skype.calls.value(QStringLiteral("handle")), 9);
    EXPECT_EQ(form.mousePointer(), 0);
    EXPECT_EQ(w.skype.rootsCreated, 1);

    w.click("PushButton2");
    EXPECT_EQ(form.rowCount(), 8);
    EXPECT_EQ(w.skype.rootsCreated, 2);
}

TEST(ContactListing, ShowsTheWaitPointerWhileItRuns) {
    TestWindow w;
    Form1& form = w.load();
    w.skype.contacts = {QStringLiteral("ann")};
    w.skype.failing.insert(QStringLiteral("handle"));
    QList<int> pointers;
    w.boxes.whileOpen = [&] { pointers.append(form.mousePointer()); };
    w.click("PushButton2");
    EXPECT_EQ(pointers, (QList<int>{11, 11}));
    EXPECT_EQ(form.mousePointer(), 0);
    EXPECT_EQ(w.boxes.shown().size(), 2); // the handle's failure, reported at two steps
}

TEST(ContactListing, NotRunningShowsTheGuidanceAndLeavesTheList) {
    TestWindow w;
    Form1& form = w.load();
    form.appendRow(QStringLiteral("kept"));
    w.skype.running = false;
    w.boxes.answer(MessageBoxes::Answer::No);
    w.click("PushButton2");
    ASSERT_EQ(w.boxes.shown().size(), 1);
    EXPECT_TRUE(w.boxes.shown().first().text.startsWith(QLatin1String("For your information")));
    EXPECT_EQ(rows(form), QStringList{QStringLiteral("kept")});
    EXPECT_EQ(form.mousePointer(), 0);
    EXPECT_EQ(w.skype.calls.value(QStringLiteral("contacts")), 0);
}

TEST(ContactListing, NoLinkReportsCreateAndRunningThenGuides) {
    TestWindow w;
    Form1& form = w.load();
    w.skype.failing.insert(QStringLiteral("create"));
    w.boxes.answer(MessageBoxes::Answer::No);
    w.click("PushButton2");
    const QStringList texts = w.boxes.texts();
    ASSERT_EQ(texts.size(), 3);
    EXPECT_EQ(texts[0], listingError("Skype failed at create", 102));
    EXPECT_EQ(texts[1], listingError("Object variable or With block variable not set", 104));
    EXPECT_TRUE(texts[2].startsWith(QLatin1String("For your information")));
    EXPECT_EQ(form.mousePointer(), 0);
}

TEST(ContactListing, FailingContactCollectionReportsThreeBoxesAndListsNothing) {
    TestWindow w;
    Form1& form = w.load();
    w.skype.contacts = {QStringLiteral("ann")};
    w.skype.failing.insert(QStringLiteral("contacts"));
    w.click("PushButton2");
    EXPECT_EQ(w.boxes.texts(),
              (QStringList{listingError("Skype failed at contacts", 110),
                           listingError("Object variable or With block variable not set", 112),
                           listingError("Object variable or With block variable not set", 114)}));
    EXPECT_EQ(form.rowCount(), 0);
    EXPECT_EQ(form.mousePointer(), 0);
}

TEST(ContactListing, FailingHandleReadReportsTwoBoxesAndGoesOn) {
    TestWindow w;
    Form1& form = w.load();
    w.skype.contacts = {QStringLiteral("ann"), QStringLiteral("bob"), QStringLiteral("cid")};
    w.skype.failing.insert(QStringLiteral("handle#2"));
    w.click("PushButton2");
    EXPECT_EQ(w.boxes.texts(), (QStringList{listingError("Skype failed at handle", 112),
                                            listingError("Skype failed at handle", 114)}));
    EXPECT_EQ(rows(form), (QStringList{QStringLiteral("ann"), QStringLiteral("cid")}));
}

TEST(ContactListing, FailingAdvanceEndsTheWalk) {
    TestWindow w;
    Form1& form = w.load();
    w.skype.contacts = {QStringLiteral("ann"), QStringLiteral("bob")};
    w.skype.failing.insert(QStringLiteral("next#2"));
    w.click("PushButton2");
    EXPECT_EQ(w.boxes.texts(), QStringList{listingError("Skype failed at next", 116)});
    EXPECT_EQ(rows(form), QStringList{QStringLiteral("ann")});
    EXPECT_EQ(form.mousePointer(), 0);
}

TEST(CheckAll, TicksAndClearsEveryRowAndLaterRowsArriveUnticked) {
    TestWindow w;
    Form1& form = w.load();
    w.click("PushButton3");
    w.click("PushButton4");
    EXPECT_TRUE(w.boxes.shown().isEmpty());

    w.skype.contacts = {QStringLiteral("ann"), QStringLiteral("bob")};
    w.click("PushButton2");
    w.click("PushButton2");
    w.click("PushButton3");
    EXPECT_EQ(rows(form), (QStringList{QStringLiteral("ann [x]"), QStringLiteral("bob [x]"),
                                       QStringLiteral("ann [x]"), QStringLiteral("bob [x]")}));
    w.click("PushButton2");
    EXPECT_EQ(rows(form).mid(4), (QStringList{QStringLiteral("ann"), QStringLiteral("bob")}));
    w.click("PushButton4");
    EXPECT_EQ(rows(form).join(QString()).count(QLatin1String("[x]")), 0);
    EXPECT_TRUE(w.boxes.shown().isEmpty());
    EXPECT_EQ(w.skype.rootsCreated, 3);
}

// Each change the list's model reports costs the tree a search for the changed row, so a report per
// row makes ticking every row quadratic: 300,000 rows are ticked and cleared with one report each.
TEST(CheckAll, TicksThreeHundredThousandRowsWithOneChangeOfTheModel) {
    TestWindow w;
    Form1& form = w.load();
    constexpr int kRows = 300000;
    for (int row = 1; row <= kRows; ++row)
        form.appendRow(QStringLiteral("contact %1").arg(row));
    QAbstractItemModel* model = w.find<QTreeWidget>("ListView1")->model();
    int changes = 0;
    int rowsReported = 0;
    QObject::connect(model, &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                         ++changes;
                         rowsReported += bottomRight.row() - topLeft.row() + 1;
                     });
    w.click("PushButton3");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(rowsReported, kRows);
    EXPECT_TRUE(form.isRowChecked(1));
    EXPECT_TRUE(form.isRowChecked(kRows / 2));
    EXPECT_TRUE(form.isRowChecked(kRows));
    w.click("PushButton4");
    EXPECT_EQ(changes, 2);
    EXPECT_FALSE(form.isRowChecked(1));
    EXPECT_FALSE(form.isRowChecked(kRows));
    int checked = 0;
    for (int row = 1; row <= kRows; ++row)
        checked += form.isRowChecked(row) ? 1 : 0;
    EXPECT_EQ(checked, 0);
    EXPECT_TRUE(w.boxes.shown().isEmpty());
}

TEST(HistoryConnector, ListsTheContactsOfARealHistory) {
    TestWindow w;
    RealHistoryWindow history(w, HistoryFiles::fixture("skype6-main.db"));
    Form1& real = history.form();
    QMetaObject::invokeMethod(&real, "PushButton2_Click");
    EXPECT_EQ(rows(real), (QStringList{QStringLiteral("+93123432123"), QStringLiteral("echo123"),
                                       QStringLiteral("gohanuskas")}));
    EXPECT_TRUE(w.boxes.shown().isEmpty());
}

TEST(HistoryConnector, ANamedHistoryThatCannotBeUsedIsReportedWithItsPath) {
    HistoryFiles files;
    const QString bad = files.file("notes.txt", "just text");
    TestWindow w;
    RealHistoryWindow history(w, bad);
    Form1& real = history.form();
    w.boxes.answer(MessageBoxes::Answer::No);
    QMetaObject::invokeMethod(&real, "PushButton2_Click");
    ASSERT_EQ(w.boxes.shown().size(), 2);
    EXPECT_EQ(
        w.boxes.texts().first(),
        listingError(qPrintable(QStringLiteral("'%1' is not a Skype history: it is neither a main.db, a "
                                               "messages.json nor an export .tar")
                                    .arg(bad)),
                     104));
    EXPECT_EQ(real.rowCount(), 0);
}

TEST(HistorySource, EnvironmentThenStoredThenNewestProfile) {
    HistoryFiles files;
    TestWindow w;
    ScopedEnv env;
    env.set("PARLORIX_SKYPE_DATA", QByteArray());
#if defined(Q_OS_WIN)
    env.set("APPDATA", QFile::encodeName(files.path("home")))
        .set("LOCALAPPDATA", QFile::encodeName(files.path("local")));
    const QString skype = files.path("home/Skype");
#elif defined(Q_OS_MACOS)
    env.set("HOME", QFile::encodeName(files.path("home")));
    const QString skype = files.path("home/Library/Application Support/Skype");
#else
    env.set("HOME", QFile::encodeName(files.path("home")));
    const QString skype = files.path("home/.Skype");
#endif
    const auto profile = [&](const char* name) -> QString {
        return skype + QLatin1Char('/') + QString::fromLatin1(name);
    };
    EXPECT_EQ(HistorySource::locate(w.settings), QStringList());

    for (const char* name : {"old.profile", "new.profile", "shared_dynco"}) {
        QDir().mkpath(profile(name));
        QFile::copy(HistoryFiles::fixture("skype6-main.db"), profile(name) + QStringLiteral("/main.db"));
    }
    QFile older(profile("old.profile/main.db"));
    older.open(QIODevice::ReadWrite);
    older.setFileTime(QDateTime::currentDateTime().addDays(-2), QFileDevice::FileModificationTime);
    QFile shared(profile("shared_dynco/main.db"));
    shared.open(QIODevice::ReadWrite);
    shared.setFileTime(QDateTime::currentDateTime().addDays(2), QFileDevice::FileModificationTime);
    EXPECT_EQ(HistorySource::locate(w.settings),
              QStringList{QDir::toNativeSeparators(profile("new.profile/main.db"))});

    w.settings.set(QStringLiteral("Skype History"), QStringLiteral("/stored/main.db"));
    EXPECT_EQ(HistorySource::locate(w.settings), QStringList{QStringLiteral("/stored/main.db")});
    env.set("PARLORIX_SKYPE_DATA", "/named/export.tar");
    EXPECT_EQ(HistorySource::locate(w.settings), QStringList{QStringLiteral("/named/export.tar")});
}

// A value names several histories as PATH names folders; one path as it stands is that one path,
// there or not: one that is gone is named whole in the message that says so, as it always was.
TEST(HistorySource, AValueNamesItsHistoriesAsPathNamesFolders) {
    HistoryFiles files;
    const QString sep = QDir::listSeparator();
    const QString a = files.file("a.db", "x");
    const QString b = files.file("b.db", "x");
    const QString held = files.path("c") + sep + QStringLiteral("d.db");
    QFile(held).open(QIODevice::WriteOnly);
    const QString gone = files.path("gone") + sep + QStringLiteral("main.db");
    const struct {
        const char* name;
        QString value;
        QStringList paths;
    } cases[] = {
        {"one path", a, {a}},
        {"two", a + sep + b, {a, b}},
        {"empty pieces name nothing", sep + a + sep + sep + b + sep, {a, b}},
        {"one path holding the separator", held, {held}},
        {"one path holding the separator, gone", gone, {gone}},
        {"one there and one gone", a + sep + files.path("gone.db"), {a, files.path("gone.db")}},
    };
    TestWindow w;
    ScopedEnv env;
    for (const auto& row : cases) {
        env.set("PARLORIX_SKYPE_DATA", QFile::encodeName(row.value));
        EXPECT_EQ(HistorySource::locate(w.settings), row.paths) << row.name;
        env.set("PARLORIX_SKYPE_DATA", QByteArray());
        w.settings.set(QStringLiteral("Skype History"), row.value);
        EXPECT_EQ(HistorySource::locate(w.settings), row.paths) << row.name << ", stored";
    }
}

TEST(HistorySource, IdentifiesEachKindOfSource) {
    HistoryFiles files;
    QDir().mkpath(files.path("profile"));
    QFile::copy(HistoryFiles::fixture("skype6-main.db"), files.path("profile/main.db"));
    EXPECT_EQ(HistorySource::identify(files.path("profile")).kind, HistorySource::Kind::Database);
    EXPECT_EQ(HistorySource::identify(files.path("profile")).path,
              QDir::toNativeSeparators(files.path("profile/main.db")));
    EXPECT_EQ(HistorySource::identify(files.file("messages.json", "\xEF\xBB\xBF  {\"a\":1}")).kind,
              HistorySource::Kind::ExportJson);
    EXPECT_EQ(HistorySource::identify(files.tar("e.tar", {{"messages.json", "{}"}})).kind,
              HistorySource::Kind::ExportTar);
    // Compressed afterwards: gzip, bzip2, xz and zstd are taken for archives, whatever their names.
    for (const QByteArray& start : {QByteArray("\x1F\x8B\x08\x00", 4), QByteArray("BZh91AY"),
                                    QByteArray("\xFD"
                                               "7zXZ\x00",
                                               6),
                                    QByteArray("\x28\xB5\x2F\xFD")})
        EXPECT_EQ(HistorySource::identify(files.file("export.bin", start + QByteArray(600, 'x'))).kind,
                  HistorySource::Kind::ExportTar)
            << start.toHex().toStdString();
    QDir().mkpath(files.path("empty"));
    for (const QString& bad : {files.path("empty"), files.path("missing"), files.file("x.txt", "text")})
        EXPECT_THROW(HistorySource::identify(bad), Failure);
}

QString identifyFailure(const QString& path) {
    try {
        HistorySource::identify(path);
    } catch (const Failure& failure) {
        return failure.description();
    }
    return QString();
}

#ifndef Q_OS_WIN
// Opening a pipe would wait for a writer for ever: only files and folders are read.
TEST(HistorySource, PipesAndDevicesAreRefusedWithoutOpeningThem) {
    HistoryFiles files;
    const QString fifo = files.path("history.fifo");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& path : {fifo, QStringLiteral("/dev/zero")})
        EXPECT_EQ(
            identifyFailure(path),
            QLatin1Char('\'') + path +
                QLatin1String("' is not a Skype history: it is not a file but a pipe, a device or a socket"));
}
#endif

TEST(HistorySource, AMessagesJsonSavedAsUtf16IsNamedSo) {
    HistoryFiles files;
    for (const QByteArray& bytes : {QByteArray("\xFF\xFE{\0\"\0", 6), QByteArray("{\0\"\0", 4)}) {
        const QString path = files.file("messages.json", bytes);
        EXPECT_EQ(identifyFailure(path),
                  QLatin1Char('\'') + path +
                      QLatin1String("' is not a Skype history: it is saved as UTF-16; save "
                                    "it as UTF-8, as Skype exports it, and try again"));
    }
}

// Text in UTF-16 shows its NUL bytes beside every ASCII character; NUL bytes after a '{' alone are
// no text in any encoding.
TEST(HistorySource, NulBytesAfterABraceAreDamageNotUtf16) {
    HistoryFiles files;
    const QString bigEndian = files.file("be.json", QByteArray("\0{\0\n\0 \0\"", 8));
    EXPECT_TRUE(identifyFailure(bigEndian).contains(QLatin1String("saved as UTF-16")))
        << bigEndian.toStdString();
    for (const QByteArray& bytes : {QByteArray(QByteArray("{") + QByteArray(1 << 20, '\0')),
                                    QByteArray("\xEF\xBB\xBF {\"c\0\0\0\0", 11)}) {
        const QString path = files.file("messages.json", bytes);
        EXPECT_EQ(identifyFailure(path), QLatin1Char('\'') + path +
                                             QLatin1String("' is not a Skype history: it begins like a "
                                                           "messages.json but holds NUL bytes where its text "
                                                           "should be; it is damaged"));
    }
    // Binary data that does not begin like a messages.json is named as before.
    const QString binary = files.file("picture.png", QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16));
    EXPECT_TRUE(identifyFailure(binary).endsWith(
        QLatin1String("neither a main.db, a messages.json nor an export .tar")));
}

// The latest explicit choice wins: a history dropped onto the window is read at once, even while
// PARLORIX_SKYPE_DATA names another, and the box says so truthfully.
TEST(HistoryDrop, ADroppedHistoryIsReadAtOnceWhateverTheVariableSays) {
    HistoryFiles files;
    const QString named = files.database("named.db", R"(
        CREATE TABLE Accounts (id INTEGER PRIMARY KEY);
        CREATE TABLE Conversations (id INTEGER PRIMARY KEY, identity TEXT, type INTEGER);
        CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INTEGER);
        INSERT INTO Conversations VALUES (1, 'zed', 1);
    )");
    TestWindow w;
    RealHistoryWindow history(w, named);
    Form1& real = history.form();
    QMetaObject::invokeMethod(&real, "PushButton2_Click");
    EXPECT_EQ(rows(real), QStringList{QStringLiteral("zed")});
    const QString dropped = HistoryFiles::fixture("skype6-main.db");
    EXPECT_TRUE(HistoryDrop::take({dropped}, history.services()));
    EXPECT_EQ(
        w.boxes.texts(),
        QStringList{QStringLiteral("The Skype history in '%1' will be read from now on.").arg(dropped)});
    QMetaObject::invokeMethod(&real, "PushButton2_Click");
    EXPECT_TRUE(rows(real).contains(QStringLiteral("echo123")));
}

TEST(HistoryDrop, StoresAHistoryAndRefusesAnythingElse) {
    HistoryFiles files;
    TestWindow w;
    w.load();
    Services services = w.services();
    EXPECT_TRUE(HistoryDrop::take({HistoryFiles::fixture("skype6-main.db")}, services));
    EXPECT_EQ(w.settings.get(QStringLiteral("Skype History")), HistoryFiles::fixture("skype6-main.db"));
    const QString text = files.file("notes.txt", "hello");
    EXPECT_FALSE(HistoryDrop::take({text}, services));
    EXPECT_EQ(w.settings.get(QStringLiteral("Skype History")), HistoryFiles::fixture("skype6-main.db"));
    ASSERT_EQ(w.boxes.shown().size(), 2);
    EXPECT_EQ(w.boxes.shown().last().icon, MessageBoxes::Icon::Warning);
    EXPECT_TRUE(w.boxes.shown().last().text.contains(text));
}

} // namespace
