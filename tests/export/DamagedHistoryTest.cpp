#include "ExportWindow.h"
#include "fakes/RealHistoryWindow.h"

#include "DatabaseWriter.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include <QDir>
#include <QFile>
#include <QMap>

#include <optional>

#include <gtest/gtest.h>

// Histories that are damaged in ways SQLite does not notice: a run must not take what it reads
// from them for the truth and replace good transcripts with less.
namespace {

class DamagedHistory : public ExportWindow {
protected:
    DamagedHistory()
        : ExportWindow("UTC") {}

    // A client's main.db with its message index, every contact listed and ticked, one run saved.
    void SetUp() override {
        ExportWindow::SetUp();
        db = historyDir.filePath(QStringLiteral("main.db"));
        SyntheticHistory synthetic({21, 30, 3, 6000});
        DatabaseWriter writer(db, synthetic, true);
        for (int i = 0; i < synthetic.conversationCount(); ++i)
            writer.add(synthetic.conversation(i));
        writer.finish();
        history.emplace(w, db);
        QMetaObject::invokeMethod(&history->form(), "PushButton2_Click");
        QMetaObject::invokeMethod(&history->form(), "PushButton3_Click");
        save();
        ASSERT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
        w.boxes.clear();
        for (const QString& name : files())
            good.insert(name, contents(folder + name));
        ASSERT_GT(good.size(), 20);
    }
    void save() { QMetaObject::invokeMethod(&history->form(), "PushButton7_Click"); }
    QStringList files() const {
        return QDir(outputDir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }
    void expectTheGoodTranscripts() {
        EXPECT_EQ(files(), QStringList(good.keys()));
        for (const QString& name : files())
            EXPECT_EQ(contents(folder + name), good.value(name)) << name.toStdString();
    }

    QTemporaryDir historyDir;
    QString db;
    std::optional<RealHistoryWindow> history;
    QMap<QString, QByteArray> good;
};

quint32 bigEndian(const QByteArray& bytes, qint64 at, int size) {
    quint32 value = 0;
    for (int i = 0; i < size; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

// The leaf pages of a b-tree, from its root down, in key order.
std::vector<qint64> leaves(const QByteArray& file, qint64 pageSize, qint64 page) {
    const qint64 start = (page - 1) * pageSize;
    const qint64 header = start + (page == 1 ? 100 : 0);
    // 0x0A: a leaf of an index, 0x0D: a leaf of a table.
    if (file.at(header) == 0x0A || file.at(header) == 0x0D)
        return {page};
    std::vector<qint64> found;
    const int cells = static_cast<int>(bigEndian(file, header + 3, 2));
    for (int cell = 0; cell < cells; ++cell) {
        const qint64 at = start + bigEndian(file, header + 12 + 2 * cell, 2);
        for (const qint64 leaf : leaves(file, pageSize, bigEndian(file, at, 4)))
            found.push_back(leaf);
    }
    for (const qint64 leaf : leaves(file, pageSize, bigEndian(file, header + 8, 4)))
        found.push_back(leaf);
    return found;
}

QString quickCheck(const QString& path) {
    SQLite::Database check(path.toStdString(), SQLite::OPEN_READONLY);
    return QString::fromStdString(check.execAndGet("PRAGMA quick_check").getString());
}

// One leaf page of the message index overwritten by another one, as a misdirected write leaves it:
// the table is whole and SQLite's quick check finds nothing, but the index lists other messages
// for some chats. The run reads past the index and writes every transcript as it was.
TEST_F(DamagedHistory, AnIndexPageOverwrittenByAnotherOneLosesNothing) {
    qint64 root = 0;
    {
        SQLite::Database reader(db.toStdString(), SQLite::OPEN_READONLY);
        root = reader
                   .execAndGet(
                       "SELECT rootpage FROM sqlite_master WHERE name = 'IX_Messages_convo_id_timestamp'")
                   .getInt64();
    }
    QFile file(db);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QByteArray bytes = file.readAll();
    const qint64 pageSize = bigEndian(bytes, 16, 2) == 1 ? 65536 : bigEndian(bytes, 16, 2);
    const std::vector<qint64> pages = leaves(bytes, pageSize, root);
    ASSERT_GT(pages.size(), 4u);
    const qint64 victim = pages.at(pages.size() / 2);
    file.seek((victim - 1) * pageSize);
    file.write(bytes.mid((pages.at(1) - 1) * pageSize, pageSize));
    file.close();
    // SQLite 3.40 (Debian 12) finds nothing wrong here; later versions count the index's entries.
    const QString check = quickCheck(db);
    EXPECT_TRUE(check == QLatin1String("ok") ||
                check.startsWith(QLatin1String("wrong # of entries in index")))
        << check.toStdString();

    save();
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    expectTheGoodTranscripts();
}

// Two leaf pages of the message index swapped, as two misdirected writes leave them: the index
// lists every message once, so its count and sums agree with the table's, but the chats whose
// entries moved are not found where the index's order says they are.
TEST_F(DamagedHistory, TwoIndexPagesSwappedLoseNothing) {
    qint64 root = 0;
    {
        SQLite::Database reader(db.toStdString(), SQLite::OPEN_READONLY);
        root = reader
                   .execAndGet(
                       "SELECT rootpage FROM sqlite_master WHERE name = 'IX_Messages_convo_id_timestamp'")
                   .getInt64();
    }
    QFile file(db);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QByteArray bytes = file.readAll();
    const qint64 pageSize = bigEndian(bytes, 16, 2) == 1 ? 65536 : bigEndian(bytes, 16, 2);
    const std::vector<qint64> pages = leaves(bytes, pageSize, root);
    ASSERT_GT(pages.size(), 4u);
    const qint64 one = pages.at(1);
    const qint64 other = pages.at(pages.size() - 2);
    file.seek((one - 1) * pageSize);
    file.write(bytes.mid((other - 1) * pageSize, pageSize));
    file.seek((other - 1) * pageSize);
    file.write(bytes.mid((one - 1) * pageSize, pageSize));
    file.close();
    ASSERT_EQ(quickCheck(db), QStringLiteral("ok"));

    save();
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    expectTheGoodTranscripts();
}

// One leaf page of the messages table overwritten by another one of it: the index is whole and
// now lists more messages than the table holds, but the table is the damaged one. A scan of it
// meets some messages twice and never meets others: the chats it misreads fail, and no transcript
// is replaced by less.
TEST_F(DamagedHistory, ATablePageOverwrittenByAnotherOneLosesNothing) {
    qint64 root = 0;
    {
        SQLite::Database reader(db.toStdString(), SQLite::OPEN_READONLY);
        root = reader.execAndGet("SELECT rootpage FROM sqlite_master WHERE name = 'Messages'").getInt64();
    }
    QFile file(db);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QByteArray bytes = file.readAll();
    const qint64 pageSize = bigEndian(bytes, 16, 2) == 1 ? 65536 : bigEndian(bytes, 16, 2);
    const std::vector<qint64> pages = leaves(bytes, pageSize, root);
    ASSERT_GT(pages.size(), 4u);
    const qint64 victim = pages.at(pages.size() / 2);
    file.seek((victim - 1) * pageSize);
    file.write(bytes.mid((pages.at(1) - 1) * pageSize, pageSize));
    file.close();

    save();
    EXPECT_NE(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_TRUE(w.boxes.texts()
                    .join(QLatin1Char('\n'))
                    .contains(QLatin1String("is damaged where it holds the messages of")))
        << w.boxes.texts().join(QLatin1Char('\n')).toStdString();
    expectTheGoodTranscripts();
}

// The write that added a message to the table's last page was lost: the page is an older version
// of itself, in order and readable, and the index lists a message the table no longer holds. That
// chat fails; it is not read as if the message had never been.
TEST_F(DamagedHistory, ATablePageThatLostAWriteLosesNothing) {
    QFile file(db);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    qint64 root = 0;
    {
        SQLite::Database writer(db.toStdString(), SQLite::OPEN_READWRITE);
        writer.exec("INSERT INTO Messages (id, convo_id, author, from_dispname, timestamp, type, body_xml) "
                    "SELECT MAX(id) + 1, (SELECT MIN(id) FROM Conversations WHERE type = 1), 'late', 'Late', "
                    "MAX(timestamp) + 60, 61, 'the last word' FROM Messages");
        root = writer.execAndGet("SELECT rootpage FROM sqlite_master WHERE name = 'Messages'").getInt64();
    }
    save();
    ASSERT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    w.boxes.clear();
    good.clear();
    for (const QString& name : files())
        good.insert(name, contents(folder + name));

    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QByteArray bytes = file.readAll();
    const qint64 pageSize = bigEndian(bytes, 16, 2) == 1 ? 65536 : bigEndian(bytes, 16, 2);
    const qint64 last = leaves(bytes, pageSize, root).back();
    ASSERT_LE(last * pageSize, before.size());
    file.seek((last - 1) * pageSize);
    file.write(before.mid((last - 1) * pageSize, pageSize));
    file.close();

    save();
    EXPECT_NE(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_TRUE(w.boxes.texts()
                    .join(QLatin1Char('\n'))
                    .contains(QLatin1String("is damaged where it holds the messages of")))
        << w.boxes.texts().join(QLatin1Char('\n')).toStdString();
    expectTheGoodTranscripts();
}

// A conversation type that cannot be read as a number is no kind at all: the identity tells a
// dialog from a group, and no chat is taken for something it is not.
TEST_F(DamagedHistory, ConversationTypesThatCannotBeReadLoseNothing) {
    for (const char* type : {"NULL", "'dialog'"}) {
        {
            SQLite::Database writer(db.toStdString(), SQLite::OPEN_READWRITE);
            writer.exec(std::string("UPDATE Conversations SET type = ") + type);
        }
        save();
        EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")}) << type;
        w.boxes.clear();
        expectTheGoodTranscripts();
    }
}

class HostileHistory : public ExportWindow {
protected:
    HostileHistory()
        : ExportWindow("UTC") {}
};

// "Old 3." on an export whose group id is 400 KB of one letter: the chat name index takes it at
// once, and the group goes to the contact whose handle it holds.
TEST_F(HostileHistory, OldThreeTakesAFourHundredKilobyteGroupIdAtOnce) {
    QTemporaryDir historyDir;
    const QString json = historyDir.filePath(QStringLiteral("messages.json"));
    const QByteArray group = "19:" + QByteArray(400000, 'a') + "@thread.skype";
    writeFile(json,
              R"({"conversations":[{"id":")" + group + R"(","MessageList":[{"id":"1","displayName":"Ann",
        "originalarrivaltime":"2021-08-31T15:42:10Z","messagetype":"RichText","content":"to the group",
        "from":"8:aaa"}]},{"id":"8:aaa","MessageList":[{"id":"2","displayName":"Ann",
        "originalarrivaltime":"2021-08-31T09:00:00Z","messagetype":"RichText","content":"alone",
        "from":"8:aaa"}]},{"id":"8:bob","MessageList":[]}]})");
    RealHistoryWindow history(w, json);
    Form1& real = history.form();
    QMetaObject::invokeMethod(&real, "PushButton2_Click");
    QMetaObject::invokeMethod(&real, "PushButton3_Click");
    ASSERT_EQ(real.rowCount(), 2);
    QMetaObject::invokeMethod(&real, "PushButton6_Click");
    EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
    EXPECT_EQ(contents(transcript("aaa")), QByteArray("[8/31/2021 3:42:10 PM]\r\nAnn: to the group\r\n\r\n"
                                                      "[8/31/2021 9:00:00 AM]\r\nAnn: alone\r\n\r\n"));
    EXPECT_EQ(contents(transcript("bob")), QByteArray("<missing>"));
}

} // namespace
