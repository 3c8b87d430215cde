#include "fakes/RealHistoryWindow.h"
#include "fakes/ScopedEnv.h"
#include "fakes/TestWindow.h"
#include "skype/HistoryFiles.h"

#include "base/Failure.h"
#include "messages/History.h"
#include "skype/HistorySource.h"

#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QMimeData>
#include <QTreeWidget>
#include <QUrl>

#include <gtest/gtest.h>

namespace {

const char* const kZed = R"(
    CREATE TABLE Accounts (id INTEGER PRIMARY KEY);
    CREATE TABLE Conversations (id INTEGER PRIMARY KEY, identity TEXT, type INTEGER);
    CREATE TABLE Messages (id INTEGER PRIMARY KEY, convo_id INTEGER);
    INSERT INTO Conversations VALUES (1, 'zed', 1);
)";

// Files dropped onto the window at once, as a file manager drops them.
void drop(Form1& form, const QStringList& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls.append(QUrl::fromLocalFile(path));
    data.setUrls(urls);
    // The window takes the drag as it enters, and so becomes where it is dropped.
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &enter);
    QDropEvent event(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &event);
}

QStringList rows(Form1& form) {
    QStringList texts;
    for (int row = 1; row <= form.rowCount(); ++row)
        texts.append(form.rowText(row));
    return texts;
}

// Two files dropped at once are read as one history from then on, and remembered together; the box
// names both. One file dropped alone is remembered and told as it always was.
TEST(HistoryDrop, TwoFilesDroppedAtOnceAreReadAsOneAndRememberedTogether) {
    HistoryFiles files;
    const QString zed = QDir::toNativeSeparators(files.database("zed.db", kZed));
    const QString skype6 = QDir::toNativeSeparators(HistoryFiles::fixture("skype6-main.db"));
    const QString notes = QDir::toNativeSeparators(files.file("notes.txt", "hello"));
    // A history whose path holds the separator of stored paths.
    const QString separated =
        QDir::toNativeSeparators(files.path("a") + QDir::listSeparator() + QStringLiteral("b.db"));
    ASSERT_TRUE(QFile::copy(skype6, separated));
    const QString profile = QDir::toNativeSeparators(files.path("profile"));
    const QString profileDb = QDir::toNativeSeparators(files.path("profile/main.db"));
    ASSERT_TRUE(QDir().mkpath(profile));
    ASSERT_TRUE(QFile::copy(zed, profileDb));
    const struct {
        const char* name;
        QStringList dropped;
        QStringList boxes;
        QString stored;
    } cases[] = {
        {"one alone",
         {zed},
         {QStringLiteral("The Skype history in '%1' will be read from now on.").arg(zed)},
         zed},
        {"two at once",
         {zed, skype6},
         {QStringLiteral("These 2 Skype histories will be read from now on, as one history:\r\n%1\r\n%2")
              .arg(zed, skype6)},
         zed + QDir::listSeparator() + skype6},
        {"the same one twice: told and stored as one, as older versions read it",
         {zed, zed},
         {QStringLiteral("The Skype history in '%1' will be read from now on.").arg(zed)},
         zed},
        {"a profile folder with its own main.db: stored as the folder, as it always was",
         {profile, profileDb},
         {QStringLiteral("The Skype history in '%1' will be read from now on.").arg(profileDb)},
         profile},
        {"a history holding the separator, with itself again: taken alone",
         {separated, separated},
         {QStringLiteral("The Skype history in '%1' will be read from now on.").arg(separated)},
         separated},
        {"a path holding the separator, alone: taken as it always was",
         {separated},
         {QStringLiteral("The Skype history in '%1' will be read from now on.").arg(separated)},
         separated},
        {"a path holding the separator, with another: nothing is taken",
         {zed, separated},
         {QStringLiteral("'%1' cannot be read together with other histories: its path holds '%2', which "
                         "separates them. Drop it alone, or move it.")
              .arg(separated, QDir::listSeparator())},
         QString()},
        {"one of them no history: nothing is taken",
         {zed, notes},
         {QStringLiteral(
              "'%1' is not a Skype history: it is neither a main.db, a messages.json nor an export .tar")
              .arg(notes)},
         QString()},
    };
    for (const auto& row : cases) {
        TestWindow w;
        Form1& form = w.load();
        drop(form, row.dropped);
        EXPECT_EQ(w.boxes.texts(), row.boxes) << row.name;
        EXPECT_EQ(w.settings.get(QStringLiteral("Skype History")).value_or(QString()), row.stored)
            << row.name;
        EXPECT_EQ(w.skype.chosenHistories,
                  row.stored.isEmpty() ? QStringList() : HistorySource::splitPaths(row.stored))
            << row.name;
    }
}

// The window reads both, with every contact of either listed once; so it does when they are named
// in PARLORIX_SKYPE_DATA as PATH names folders, and at the next start, when they were dropped.
TEST(HistoryDrop, TheWindowListsTheContactsOfBoth) {
    HistoryFiles files;
    const QString zed = QDir::toNativeSeparators(files.database("zed.db", kZed));
    const QString skype6 = QDir::toNativeSeparators(HistoryFiles::fixture("skype6-main.db"));
    TestWindow alone;
    RealHistoryWindow history(alone, skype6);
    QMetaObject::invokeMethod(&history.form(), "PushButton2_Click");
    QStringList both = rows(history.form()) << QStringLiteral("zed");
    History::sortHandles(both);

    TestWindow dropped;
    RealHistoryWindow fromTheVariable(dropped, zed + QDir::listSeparator() + skype6);
    QMetaObject::invokeMethod(&fromTheVariable.form(), "PushButton2_Click");
    EXPECT_EQ(rows(fromTheVariable.form()), both);

    ScopedEnv none("PARLORIX_SKYPE_DATA", QByteArray());
    dropped.settings.set(QStringLiteral("Skype History"), skype6 + QDir::listSeparator() + zed);
    EXPECT_EQ(HistorySource::locate(dropped.settings), (QStringList{skype6, zed}));
}

// An older version reads the stored value as one path: one that names no file, so that it says it
// cannot read it, naming the histories, rather than read another history or a part of the set.
TEST(HistoryDrop, AnOlderVersionFailsClearlyOnTheStoredSet) {
    HistoryFiles files;
    const QString zed = QDir::toNativeSeparators(files.database("zed.db", kZed));
    const QString skype6 = QDir::toNativeSeparators(HistoryFiles::fixture("skype6-main.db"));
    const QString stored = HistorySource::joinPaths({zed, skype6});
    try {
        HistorySource::identify(stored);
        FAIL() << "read as one path";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.description(),
                  QStringLiteral("'%1' is not a Skype history: no such file or folder").arg(stored));
    }
}

} // namespace
