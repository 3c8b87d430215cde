#include "ExportWindow.h"
#include "cli/CliHarness.h"
#include "fakes/FakeSkype.h"
#include "fakes/RealHistoryWindow.h"
#include "skype/HistoryFiles.h"

#include "ExportWriter.h"
#include "export/FileRoutines.h"
#include "maindb/PlanReader.h"

#include <SQLiteCpp/Database.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <functional>
#include <new>
#include <optional>

#include <gtest/gtest.h>

// Histories that are not what they seem: values that cannot be read as the schema says, and
// histories that change or fail while a run reads them. No transcript may come out shorter, other or
// out of order: the chat fails and its contact keeps the old transcript, or the run ends.
namespace {

class HistoryFailure : public ExportWindow {
protected:
    HistoryFailure()
        : ExportWindow("UTC") {}

    void SetUp() override {
        ExportWindow::SetUp();
        pristine = historyDir.filePath(QStringLiteral("pristine.db"));
        pristineJson = historyDir.filePath(QStringLiteral("pristine.json"));
        pristineTar = historyDir.filePath(QStringLiteral("pristine.tar"));
        writeSyntheticHistory({5, 6, 1, 1200}, pristine, pristineJson);
        ExportWriter::packTar(pristineJson, pristineTar);
    }
    QString copyOf(const QString& original, const char* name) {
        const QString path = historyDir.filePath(QString::fromUtf8(name));
        QFile::remove(path);
        EXPECT_TRUE(QFile::copy(original, path));
        return path;
    }
    QString copyOfPristine(const char* name) { return copyOf(pristine, name); }
    // The window on the history, with every contact listed and ticked.
    void open(const QString& path) {
        history.reset();
        history.emplace(w, path);
        QMetaObject::invokeMethod(&history->form(), "PushButton2_Click");
        QMetaObject::invokeMethod(&history->form(), "PushButton3_Click");
        w.boxes.clear();
    }
    void save() { QMetaObject::invokeMethod(&history->form(), "PushButton7_Click"); }
    QMap<QString, QByteArray> transcripts() const {
        QMap<QString, QByteArray> found;
        for (const QString& name : QDir(outputDir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name))
            found.insert(name, contents(folder + name));
        return found;
    }
    QString keptMessage(const QString& path) const {
        return QStringLiteral("These transcripts were left as they were, because a chat of theirs could not "
                              "be read or written:\r\n") +
               path;
    }

    QTemporaryDir historyDir;
    QString pristine;
    QString pristineJson;
    QString pristineTar;
    std::optional<RealHistoryWindow> history;
};

// A value that cannot be read as the schema says fails the chat that holds it: the contact keeps its
// transcript and is named among the kept, and every other contact's is written as before. It is
// never skipped, moved or read as another number.
TEST_F(HistoryFailure, AValueThatIsNoNumberFailsItsChatAlone) {
    const struct {
        const char* damage;
        const char* unreadable;
    } rows[] = {
        {"UPDATE Messages SET type = 'text' WHERE id = (SELECT MIN(id) FROM Messages WHERE convo_id = %1)",
         "a message's type is not a number"},
        {"UPDATE Messages SET type = 61.5 WHERE id = (SELECT MIN(id) FROM Messages WHERE convo_id = %1)",
         "a message's type is not a number"},
        {"UPDATE Messages SET timestamp = 'soon' WHERE id = (SELECT MIN(id) FROM Messages WHERE convo_id = "
         "%1 AND type = 61)",
         "a message's time is not a number"},
        {"UPDATE Conversations SET creation_timestamp = '1600000000 seconds' WHERE id = %1",
         "its time is not a number"},
        // Without a creation time, the earliest message's: an event's time that is no number hides it.
        {"UPDATE Conversations SET creation_timestamp = NULL WHERE id = %1; INSERT INTO Messages (convo_id, "
         "author, timestamp, type) VALUES (%1, 'x', 'long ago', 10)",
         "its time is not a number"},
    };
    open(pristine);
    save();
    ASSERT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    const QMap<QString, QByteArray> good = transcripts();
    qint64 chat = 0;
    QString partner;
    {
        SQLite::Database db(pristine.toStdString(), SQLite::OPEN_READONLY);
        SQLite::Statement query(db,
                                "SELECT id, identity FROM Conversations WHERE type = 1 ORDER BY id LIMIT 1");
        ASSERT_TRUE(query.executeStep());
        chat = query.getColumn(0).getInt64();
        partner = QString::fromStdString(query.getColumn(1).getString());
    }
    // Its name as the system's file names take it (on Windows a handle's ':' is escaped).
    const QString partnerPath = transcriptPath(folder, partner);
    ASSERT_TRUE(good.contains(QFileInfo(partnerPath).fileName()));
    for (const auto& row : rows) {
        const QString damaged = copyOfPristine("damaged.db");
        {
            SQLite::Database db(damaged.toStdString(), SQLite::OPEN_READWRITE);
            db.exec(QString::fromLatin1(row.damage).arg(chat).toStdString());
        }
        open(damaged);
        save();
        const QStringList texts = w.boxes.texts();
        ASSERT_GE(texts.size(), 3) << row.damage;
        EXPECT_EQ(texts.last(), QStringLiteral("Done.")) << row.damage;
        EXPECT_EQ(texts.at(texts.size() - 2), keptMessage(partnerPath)) << row.damage;
        for (const QString& text : texts.mid(0, texts.size() - 2))
            EXPECT_TRUE(text.contains(QLatin1String(row.unreadable)) && text.contains(partner))
                << text.toStdString();
        EXPECT_EQ(transcripts(), good) << row.damage;
    }
}

// Out of memory while a chat is made ready on the plan's own thread fails that chat alone, as it does
// on any other thread: "Out of memory", its contact keeps its transcript, and the run goes on.
TEST_F(HistoryFailure, OutOfMemoryWhereThePlanIsReadFailsThatChatAlone) {
    open(pristine);
    save();
    ASSERT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    QMap<QString, QByteArray> expected = transcripts();
    size_t position = 0;
    QString partner;
    {
        SQLite::Database db(pristine.toStdString(), SQLite::OPEN_READONLY);
        SQLite::Statement query(db,
                                "SELECT (SELECT COUNT(*) FROM Conversations AS o WHERE o.id < c.id), "
                                "c.identity FROM Conversations AS c WHERE c.type = 1 ORDER BY c.id LIMIT 1");
        ASSERT_TRUE(query.executeStep());
        position = static_cast<size_t>(query.getColumn(0).getInt64());
        partner = QString::fromStdString(query.getColumn(1).getString());
    }
    const QString partnerPath = transcriptPath(folder, partner);
    for (const QString& name : expected.keys())
        writeFile(folder + name, "old");
    expected[QFileInfo(partnerPath).fileName()] = "old";
    struct Seam {
        ~Seam() { PlanReader::setBeforeEachChat(nullptr); }
    } seam;
    PlanReader::setBeforeEachChat([&](size_t chat) {
        if (chat == position)
            throw std::bad_alloc();
    });
    open(pristine);
    save();
    const QStringList texts = w.boxes.texts();
    ASSERT_GE(texts.size(), 3) << texts.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(texts.last(), QStringLiteral("Done."));
    EXPECT_EQ(texts.at(texts.size() - 2), keptMessage(partnerPath));
    for (const QString& text : texts.mid(0, texts.size() - 2))
        EXPECT_TRUE(text.startsWith(QLatin1String("Out of memory\r\n"))) << text.toStdString();
    EXPECT_EQ(transcripts(), expected);
}

// A message whose chat is no whole number belongs to no chat that can be read: which chat lacks it
// cannot be told, so no transcript is put in place, and one box says why. So with the client's index
// or without it, for text, a fraction or a number beyond any a chat can have.
TEST_F(HistoryFailure, AMessageOfNoChatEndsTheRunWithOneBox) {
    const struct {
        const char* damage;
        const char* chat;
    } rows[] = {
        {"UPDATE Messages SET convo_id = 'lost' WHERE id = (SELECT MAX(id) FROM Messages WHERE type = 61)",
         "a message's chat is not a number"},
        {"DROP INDEX IX_Messages_convo_id_timestamp; UPDATE Messages SET convo_id = 'lost' WHERE id = "
         "(SELECT MAX(id) FROM Messages WHERE type = 61)",
         "a message's chat is not a number"},
        {"UPDATE Messages SET convo_id = convo_id + 0.5 WHERE id = (SELECT MAX(id) FROM Messages WHERE type "
         "= "
         "61)",
         "a message's chat is not a whole number"},
        {"DROP INDEX IX_Messages_convo_id_timestamp; UPDATE Messages SET convo_id = convo_id + 0.5 WHERE id "
         "= "
         "(SELECT MAX(id) FROM Messages WHERE type = 61)",
         "a message's chat is not a whole number"},
        {"UPDATE Messages SET convo_id = -1e30 WHERE id = (SELECT MAX(id) FROM Messages WHERE type = 61)",
         "a message's chat is not a whole number"},
        {"UPDATE Messages SET convo_id = x'0c' WHERE id = (SELECT MAX(id) FROM Messages WHERE type = 61)",
         "a message's chat is not a number"},
    };
    open(pristine);
    save();
    ASSERT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    const QMap<QString, QByteArray> good = transcripts();
    for (const auto& row : rows) {
        const QString damaged = copyOfPristine("damaged.db");
        {
            SQLite::Database db(damaged.toStdString(), SQLite::OPEN_READWRITE);
            db.exec(row.damage);
        }
        open(damaged);
        save();
        const QStringList texts = w.boxes.texts();
        EXPECT_EQ(texts.size(), 3) << row.damage << "\n" << texts.join(QLatin1Char('\n')).toStdString();
        if (texts.size() != 3)
            continue;
        EXPECT_TRUE(texts.at(0).contains(QLatin1String(row.chat))) << texts.at(0).toStdString();
        EXPECT_EQ(texts.at(1),
                  QStringLiteral("The export stopped because the Skype history '%1' is damaged where it "
                                 "tells which chat a message belongs to. The transcripts it had not yet "
                                 "put in place were left as they were.")
                      .arg(damaged));
        EXPECT_EQ(transcripts(), good) << row.damage;
    }
}

// A history whose messages' chat ids are declared as text holds them as text ("12"): each is the
// chat of that number, as the client's own queries find it, with its index or without.
TEST_F(HistoryFailure, ChatIdsDeclaredAsTextAreReadAsTheirChats) {
    open(pristine);
    save();
    ASSERT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    const QMap<QString, QByteArray> good = transcripts();
    for (const bool index : {true, false}) {
        const QString text = copyOfPristine("text.db");
        {
            SQLite::Database db(text.toStdString(), SQLite::OPEN_READWRITE);
            db.exec(
                "ALTER TABLE Messages RENAME TO Numbered; CREATE TABLE Messages (id INTEGER PRIMARY KEY, "
                "convo_id TEXT, chatname TEXT, author TEXT, from_dispname TEXT, timestamp INTEGER, type "
                "INTEGER, body_xml TEXT, edited_timestamp INTEGER, identities TEXT); INSERT INTO Messages "
                "SELECT * FROM Numbered; DROP TABLE Numbered");
            ASSERT_EQ(db.execAndGet("SELECT typeof(convo_id) FROM Messages LIMIT 1").getString(), "text");
            if (index)
                db.exec("CREATE INDEX IX_Messages_convo_id_timestamp ON Messages (convo_id, timestamp)");
        }
        for (const QString& name : good.keys())
            writeFile(folder + name, "old");
        open(text);
        save();
        EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")}) << index;
        EXPECT_EQ(transcripts(), good) << index;
    }
}

// Something that changes the history after it was opened, run at the run's first breath: the history
// has been opened, no chat read yet.
void duringTheRun(std::function<void()> change) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(change), Qt::QueuedConnection);
}

void cutShort(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.resize(file.size() / 2));
}

// Another program writes over the file's middle, and the file's time says so.
void overwrite(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const qint64 size = file.size();
    const QDateTime modified = file.fileTime(QFileDevice::FileModificationTime);
    ASSERT_TRUE(file.seek(4096));
    ASSERT_EQ(file.write(QByteArray(size - 8192, '\xA5')), size - 8192);
    file.close();
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(modified.addSecs(60), QFileDevice::FileModificationTime));
}

// A history that fails while the run reads it fails every later chat the same way: the run ends at
// the first, keeps every transcript it had not yet put in place, and one box says why, instead of
// boxes for every chat.
TEST_F(HistoryFailure, AHistoryThatFailsDuringTheRunEndsItWithOneBox) {
    const struct {
        const char* name;
        QString path;
        std::function<void(const QString&)> change;
        // The step that meets it: an export's chats are known once it is opened, a main.db's are
        // read when the run counts them.
        int line;
        const char* because;
    } rows[] = {
        {"export cut short", copyOf(pristineJson, "cut.json"), cutShort, 124,
         "'%1' changed while it was read"},
        {"export written to", copyOf(pristineJson, "overwritten.json"), overwrite, 124,
         "'%1' changed while it was read"},
        {"export .tar cut short", copyOf(pristineTar, "cut.tar"), cutShort, 124,
         "'%1' changed while it was read"},
        {"main.db cut short", copyOfPristine("cut.db"), cutShort, 118,
         "the Skype history '%1' changed while it was read"},
        {"main.db written over", copyOfPristine("overwritten.db"), overwrite, 118,
         "the Skype history '%1' changed while it was read"},
    };
    for (const auto& row : rows) {
        open(row.path);
        QStringList handles;
        for (int i = 1; i <= history->form().rowCount(); ++i) {
            handles.append(history->form().rowText(i));
            writeFile(transcript(handles.last().toUtf8().constData()), "old");
        }
        ASSERT_GT(handles.size(), 4) << row.name;
        duringTheRun([&] { row.change(row.path); });
        save();
        const QStringList texts = w.boxes.texts();
        ASSERT_EQ(texts.size(), 3) << row.name << "\n" << texts.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(texts.at(0).contains(QStringLiteral("at line %1\r\r").arg(row.line)))
            << texts.at(0).toStdString();
        EXPECT_EQ(texts.at(1), QStringLiteral("The export stopped because %1. The transcripts it had not yet "
                                              "put in place were left as they were.")
                                   .arg(QString::fromLatin1(row.because).arg(row.path)))
            << row.name;
        EXPECT_EQ(texts.at(2), QStringLiteral("Done."));
        for (const QString& handle : handles)
            EXPECT_EQ(contents(transcript(handle.toUtf8().constData())), QByteArray("old")) << row.name;
    }
}

// Each export ends at the first chat whose history failed for good: its error box, the box that says
// why, "Done.". "Old 3." has put in place the transcripts of the rows before; the others are kept.
TEST_F(HistoryFailure, EachExportEndsAtTheFirstChatWhoseHistoryFailed) {
    const struct {
        const char* button;
        int line;
        QByteArray ann;
    } rows[] = {{"PushButton7", 124, "old"},
                {"PushButton6", 120, "[8/31/2021 3:42:10 PM]\r\nAnn: hi\r\n\r\n"}};
    const QDateTime stamp(QDate(2021, 8, 31), QTime(15, 42, 10));
    for (const char* handle : {"ann", "bob", "cid"})
        w.skype.addChat(QString::fromLatin1(handle), stamp, {QStringLiteral("Ann: hi")});
    tick({QStringLiteral("ann"), QStringLiteral("bob"), QStringLiteral("cid")});
    w.skype.failing = {QStringLiteral("messageCount#2"), QStringLiteral("messageCount#3")};
    w.skype.failingEndsRunBecause = QStringLiteral("the history went away");
    for (const auto& row : rows) {
        for (const char* handle : {"ann", "bob", "cid"})
            writeFile(transcript(handle), "old");
        w.boxes.clear();
        w.click(row.button);
        const QStringList texts = w.boxes.texts();
        ASSERT_EQ(texts.size(), 3) << row.button << "\n" << texts.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(texts.at(0).contains(QStringLiteral("at line %1\r\r").arg(row.line))) << row.button;
        EXPECT_EQ(texts.at(1),
                  QStringLiteral("The export stopped because the history went away. The transcripts "
                                 "it had not yet put in place were left as they were."));
        EXPECT_EQ(texts.at(2), QStringLiteral("Done."));
        EXPECT_EQ(contents(transcript("ann")), row.ann) << row.button;
        EXPECT_EQ(contents(transcript("bob")), QByteArray("old")) << row.button;
        EXPECT_EQ(contents(transcript("cid")), QByteArray("old")) << row.button;
    }
}

// The command line says it once too, and ends with status 2: nothing of the run was put in place.
TEST(HistoryFailureOnTheCommandLine, AHistoryThatFailsDuringTheRunIsOneMessage) {
    ScopedEnv env;
    env.set("LANG", "en_US.UTF-8").set("TZ", "UTC");
    QTemporaryDir out;
    FakeSkype skype;
    const QDateTime stamp(QDate(2021, 8, 31), QTime(15, 42, 10));
    for (const char* handle : {"ann", "bob", "cid", "dan"}) {
        skype.contacts.append(QString::fromLatin1(handle));
        skype.addChat(QString::fromLatin1(handle), stamp, {QStringLiteral("Ann: hi")});
        writeFile(out.filePath(QString::fromLatin1(handle) + QStringLiteral(".txt")), "old");
    }
    skype.failing = {QStringLiteral("messageCount#2"), QStringLiteral("messageCount#3"),
                     QStringLiteral("messageCount#4")};
    skype.failingEndsRunBecause = QStringLiteral("the history went away");
    const CliResult result =
        runCli({QStringLiteral("export"), QStringLiteral("--out"), out.path()}, nullptr, &skype);
    EXPECT_EQ(result.status, 2);
    const QStringList lines = result.errLines();
    ASSERT_EQ(lines.size(), 3) << result.err.toStdString();
    EXPECT_TRUE(lines.at(0).startsWith(QStringLiteral("parlorix-cli: Skype failed at messageCount")));
    EXPECT_EQ(lines.at(1),
              QStringLiteral("parlorix-cli: The export stopped because the history went away. The "
                             "transcripts it had not yet put in place were left as they were."));
    EXPECT_EQ(lines.at(2), QStringLiteral("parlorix-cli: Done."));
    for (const char* handle : {"ann", "bob", "cid", "dan"})
        EXPECT_EQ(contents(out.filePath(QString::fromLatin1(handle) + QStringLiteral(".txt"))),
                  QByteArray("old"));
}

// A client that holds its history in WAL mode may write and checkpoint it at any time, also when its
// "-wal" is empty at the moment the history is opened: what the run reads is the history as it was
// opened, never pages written since.
TEST_F(HistoryFailure, ALiveHistoryInWalModeIsReadAsItWasOpened) {
    const QString path = copyOfPristine("live.db");
    SQLite::Database client(path.toStdString(), SQLite::OPEN_READWRITE);
    client.exec("PRAGMA journal_mode=WAL");
    client.exec("PRAGMA wal_checkpoint(TRUNCATE)");
    ASSERT_EQ(QFileInfo(path + QStringLiteral("-wal")).size(), 0);
    open(path);
    save();
    ASSERT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    const QMap<QString, QByteArray> good = transcripts();

    open(path);
    duringTheRun([&] {
        client.exec("UPDATE Messages SET body_xml = 'written later'");
        client.exec("PRAGMA wal_checkpoint(TRUNCATE)");
    });
    save();
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_EQ(transcripts(), good);
}

} // namespace
