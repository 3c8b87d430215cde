#include "ExportWindow.h"
#include "fakes/RealHistoryWindow.h"

#include "DatabaseWriter.h"
#include "export/ChatFailures.h"
#include "export/TranscriptFiles.h"
#include "skype/HistoryFiles.h"

#include "base/Failure.h"
#include "maindb/DatabaseHistory.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>

#include <QDir>
#include <QFile>
#include <QMap>

#include <functional>
#include <map>
#include <numeric>
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

// A varint of a record, as SQLite writes it: its value, and where the next one starts.
std::pair<quint64, qint64> varint(const QByteArray& bytes, qint64 at) {
    quint64 value = 0;
    for (int i = 0; i < 9; ++i) {
        const auto byte = static_cast<unsigned char>(bytes.at(at + i));
        if (i == 8)
            return {(value << 8) | byte, at + 9};
        value = (value << 7) | (byte & 0x7f);
        if (!(byte & 0x80))
            return {value, at + i + 1};
    }
    return {value, at + 9};
}

// Where an index entry's values lie: each one's offset and size in the file, and its value.
struct Entry {
    qint64 convo = 0;
    qint64 rowidAt = 0;
    int rowidSize = 0;
};

// The entries of one leaf page of an index on (convo_id, timestamp), whose values are integers.
std::vector<Entry> entriesOf(const QByteArray& file, qint64 pageSize, qint64 page) {
    const qint64 start = (page - 1) * pageSize;
    std::vector<Entry> entries;
    const int cells = static_cast<int>(bigEndian(file, start + 3, 2));
    for (int cell = 0; cell < cells; ++cell) {
        qint64 at = start + bigEndian(file, start + 8 + 2 * cell, 2);
        at = varint(file, at).second; // the payload's size
        const auto [headerSize, types] = varint(file, at);
        qint64 value = at + static_cast<qint64>(headerSize);
        std::vector<std::pair<qint64, int>> values;
        for (qint64 type = types; type < at + static_cast<qint64>(headerSize);) {
            const auto [serial, next] = varint(file, type);
            static const int kSizes[] = {0, 1, 2, 3, 4, 6, 8, 8, 0, 0};
            const int size = serial < 10 ? kSizes[serial] : 0;
            values.emplace_back(value, size);
            value += size;
            type = next;
        }
        if (values.size() != 3 || values[0].second == 0 || values[2].second == 0)
            continue;
        qint64 convo = 0;
        for (int i = 0; i < values[0].second; ++i)
            convo = (convo << 8) | static_cast<unsigned char>(file.at(values[0].first + i));
        entries.push_back({convo, values[2].first, values[2].second});
    }
    return entries;
}

using Damage = std::function<void(const QString& db, QStringList& touched)>;

// Two entries of the message index, of two contacts' chats, exchange their row ids: the index's
// count, sums and order stay, and SQLite's checks find nothing.
void exchangeTwoRowIds(const QString& db, QStringList& touched) {
    qint64 root = 0;
    std::map<qint64, QString> dialogs;
    {
        SQLite::Database reader(db.toStdString(), SQLite::OPEN_READONLY);
        root = reader
                   .execAndGet(
                       "SELECT rootpage FROM sqlite_master WHERE name = 'IX_Messages_convo_id_timestamp'")
                   .getInt64();
        SQLite::Statement query(reader, "SELECT id, identity FROM Conversations WHERE type = 1");
        while (query.executeStep())
            dialogs[query.getColumn(0).getInt64()] = QString::fromStdString(query.getColumn(1).getString());
    }
    QFile file(db);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    const qint64 pageSize = bigEndian(bytes, 16, 2) == 1 ? 65536 : bigEndian(bytes, 16, 2);
    for (const qint64 page : leaves(bytes, pageSize, root)) {
        const std::vector<Entry> entries = entriesOf(bytes, pageSize, page);
        for (const Entry& one : entries) {
            for (const Entry& other : entries) {
                if (one.convo == other.convo || one.rowidSize != other.rowidSize ||
                    !dialogs.count(one.convo) || !dialogs.count(other.convo))
                    continue;
                const QByteArray first = bytes.mid(one.rowidAt, one.rowidSize);
                bytes.replace(one.rowidAt, one.rowidSize, bytes.mid(other.rowidAt, other.rowidSize));
                bytes.replace(other.rowidAt, other.rowidSize, first);
                file.seek(0);
                file.write(bytes);
                touched = QStringList{dialogs[one.convo], dialogs[other.convo]};
                return;
            }
        }
    }
    FAIL() << "no two dialogs share a leaf of the index";
}

// The leaf pages of the messages table, in key order, in the bytes of its file.
struct TableLeaves {
    QByteArray bytes;
    qint64 pageSize = 0;
    std::vector<qint64> pages;

    explicit TableLeaves(const QString& db) {
        qint64 root = 0;
        {
            SQLite::Database reader(db.toStdString(), SQLite::OPEN_READONLY);
            root = reader.execAndGet("SELECT rootpage FROM sqlite_master WHERE name = 'Messages'").getInt64();
        }
        QFile file(db);
        if (file.open(QIODevice::ReadOnly))
            bytes = file.readAll();
        pageSize = bigEndian(bytes, 16, 2) == 1 ? 65536 : bigEndian(bytes, 16, 2);
        pages = leaves(bytes, pageSize, root);
    }
    // Where a leaf starts in the bytes.
    qint64 at(size_t leaf) const { return (pages.at(leaf) - 1) * pageSize; }
    // A few bytes flipped where the leaf lists its rows: it can no longer be read.
    void damage(size_t leaf) {
        for (const qint64 offset : {9, 12, 15})
            bytes[at(leaf) + offset] = static_cast<char>(~bytes.at(at(leaf) + offset));
    }
    void write(const QString& db) const {
        QFile file(db);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }
};

// A few bytes flipped on a page of the messages table, where its rows are listed: the table can no
// longer be read whole.
void flipBytesOnATablePage(const QString& db, QStringList& touched) {
    TableLeaves table(db);
    ASSERT_GT(table.pages.size(), 12u);
    table.damage(table.pages.size() / 2);
    table.write(db);
    touched.clear(); // which chats the pages held cannot be told from here
}

// Every page of a b-tree, from its root down.
std::vector<qint64> pagesOf(const QByteArray& file, qint64 pageSize, qint64 page) {
    const qint64 start = (page - 1) * pageSize;
    const qint64 header = start + (page == 1 ? 100 : 0);
    std::vector<qint64> found{page};
    if (file.at(header) == 0x0A || file.at(header) == 0x0D)
        return found;
    const int cells = static_cast<int>(bigEndian(file, header + 3, 2));
    std::vector<qint64> children;
    for (int cell = 0; cell < cells; ++cell)
        children.push_back(bigEndian(file, start + bigEndian(file, header + 12 + 2 * cell, 2), 4));
    children.push_back(bigEndian(file, header + 8, 4));
    for (const qint64 child : children) {
        for (const qint64 below : pagesOf(file, pageSize, child))
            found.push_back(below);
    }
    return found;
}

// A few bytes flipped on every page of the messages table, as a disk that failed widely leaves it.
void flipBytesOnEveryTablePage(const QString& db) {
    TableLeaves table(db);
    ASSERT_GT(table.pages.size(), 12u);
    for (size_t leaf = 0; leaf < table.pages.size(); ++leaf)
        table.damage(leaf);
    table.write(db);
}

// The earliest message of a contact's chat made its latest in the table, while the index, which holds
// the time too, keeps it where it was: the two tell that chat's order otherwise.
void changeATimeInTheTableAlone(const QString& db, QStringList& touched) {
    QFile file(db);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QByteArray before = file.readAll();
    qint64 root = 0;
    {
        SQLite::Database writer(db.toStdString(), SQLite::OPEN_READWRITE);
        SQLite::Statement earliest(writer, "SELECT m.id, m.convo_id, c.identity FROM Messages AS m JOIN "
                                           "Conversations AS c ON c.id = m.convo_id WHERE c.type = 1 AND "
                                           "m.type = 61 ORDER BY m.timestamp LIMIT 1");
        ASSERT_TRUE(earliest.executeStep());
        const qint64 message = earliest.getColumn(0).getInt64();
        const qint64 chat = earliest.getColumn(1).getInt64();
        touched = QStringList{QString::fromStdString(earliest.getColumn(2).getString())};
        earliest.reset();
        writer.exec(QStringLiteral("UPDATE Messages SET timestamp = (SELECT MAX(timestamp) + 60 FROM "
                                   "Messages WHERE convo_id = %1) WHERE id = %2")
                        .arg(chat)
                        .arg(message)
                        .toStdString());
        root = writer
                   .execAndGet(
                       "SELECT rootpage FROM sqlite_master WHERE name = 'IX_Messages_convo_id_timestamp'")
                   .getInt64();
    }
    // The index's pages as they were.
    ASSERT_TRUE(file.seek(0));
    const qint64 pageSize = bigEndian(before, 16, 2) == 1 ? 65536 : bigEndian(before, 16, 2);
    for (const qint64 page : pagesOf(before, pageSize, root)) {
        ASSERT_TRUE(file.seek((page - 1) * pageSize));
        ASSERT_EQ(file.write(before.mid((page - 1) * pageSize, pageSize)), pageSize);
    }
}

// A damaged page of the messages table, then stale copies of the table's first two pages where two
// others should be, then another damaged page: read on past the first damage, the scan meets rows
// it has passed already before it meets the second.
void staleCopiesBetweenDamagedPages(const QString& db, QStringList& touched) {
    TableLeaves table(db);
    ASSERT_GT(table.pages.size(), 12u);
    const size_t first = table.pages.size() / 2;
    table.damage(first);
    table.damage(first + 3);
    table.bytes.replace(table.at(first + 1), table.pageSize, table.bytes.mid(table.at(0), table.pageSize));
    table.bytes.replace(table.at(first + 2), table.pageSize, table.bytes.mid(table.at(1), table.pageSize));
    table.write(db);
    touched.clear();
}

// A history damaged where SQLite's own checks may not look: every transcript written is the one the
// history held before, the chats that cannot be confirmed keep their transcripts and are named, and
// the others are written.
TEST_F(DamagedHistory, DamagedRowsFailTheirChatsAndNoOthers) {
    const struct {
        const char* name;
        Damage damage;
        // Whether it touches a few chats: six pages hold rows of most.
        bool few;
    } cases[] = {
        {"two row ids exchanged in the index", exchangeTwoRowIds, true},
        {"bytes flipped on a table page", flipBytesOnATablePage, true},
        {"a time changed in the table alone", changeATimeInTheTableAlone, true},
        {"stale copies between damaged pages", staleCopiesBetweenDamagedPages, false},
    };
    const QString original = historyDir.filePath(QStringLiteral("original.db"));
    ASSERT_TRUE(QFile::copy(db, original));
    for (const auto& row : cases) {
        QFile::remove(db);
        ASSERT_TRUE(QFile::copy(original, db));
        QStringList touched;
        row.damage(db, touched);
        save();
        const QString boxes = w.boxes.texts().join(QLatin1Char('\n'));
        EXPECT_TRUE(boxes.contains(QLatin1String("is damaged where it holds the messages of"))) << row.name;
        for (const QString& handle : std::as_const(touched)) {
            EXPECT_TRUE(boxes.contains(QLatin1Char('\'') + handle + QLatin1Char('\'')))
                << row.name << " " << handle.toStdString();
        }
        // Not every chat is given up for the damage of a few.
        EXPECT_LT(boxes.count(QLatin1String("is damaged where it holds the messages of")),
                  row.few ? good.size() / 2 : good.size() - 1)
            << row.name;
        expectTheGoodTranscripts();
        w.boxes.clear();
    }
}

// However the chats are read (along a plan from one pass over the table, with what does not fit the
// buffer set aside in a temporary file or where none can be made, or each by a query of its own), the
// same chats fail for the same damage, and every other chat reads as the undamaged history has it.
TEST_F(DamagedHistory, EveryWayOfReadingFindsTheSameDamage) {
    const struct {
        const char* name;
        Damage damage;
    } damages[] = {
        {"two row ids exchanged in the index", exchangeTwoRowIds},
        {"bytes flipped on a table page", flipBytesOnATablePage},
        {"a time changed in the table alone", changeATimeInTheTableAlone},
        {"stale copies between damaged pages", staleCopiesBetweenDamagedPages},
    };
    const struct {
        const char* name;
        size_t bufferBytes;
        bool temporaryFolder;
        bool plan;
    } ways[] = {
        {"along a plan", DatabaseHistory::kBufferBytes, true, true},
        {"along a plan, set aside", 4096, true, true},
        {"along a plan, no temporary folder", 4096, false, true},
        {"each by its own query", DatabaseHistory::kBufferBytes, true, false},
        {"each by its own query, no temporary folder", DatabaseHistory::kBufferBytes, false, false},
    };
    const QString original = historyDir.filePath(QStringLiteral("original.db"));
    ASSERT_TRUE(QFile::copy(db, original));
    std::vector<QStringList> sound;
    {
        DatabaseHistory history(original);
        for (size_t chat = 0; chat < history.chats().size(); ++chat)
            sound.push_back(linesOf(history.messages(chat).messages));
    }
    for (const auto& damage : damages) {
        QFile::remove(db);
        ASSERT_TRUE(QFile::copy(original, db));
        QStringList touched;
        damage.damage(db, touched);
        std::optional<QStringList> failedTheFirstWay;
        for (const auto& way : ways) {
            ScopedEnv env;
            if (!way.temporaryFolder) {
                // A file where the folder of temporary files should be.
                const QByteArray nowhere = QFile::encodeName(original);
                env.set("TMPDIR", nowhere).set("TMP", nowhere).set("TEMP", nowhere);
            }
            DatabaseHistory history(db);
            history.setBufferBytes(way.bufferBytes);
            std::vector<size_t> all(history.chats().size());
            std::iota(all.begin(), all.end(), size_t(0));
            if (way.plan) {
                ASSERT_TRUE(history.planReads(all));
            }
            QStringList failed;
            for (const size_t chat : all) {
                try {
                    const bool asSound = linesOf(history.messages(chat).messages) == sound.at(chat);
                    EXPECT_TRUE(asSound) << damage.name << ", " << way.name << ", chat " << chat;
                } catch (const Failure& failure) {
                    failed.append(history.chats().at(chat).name);
                    EXPECT_TRUE(failure.description().contains(QLatin1String("is damaged where it holds the "
                                                                             "messages of")))
                        << damage.name << ", " << way.name << ": " << failure.description().toStdString();
                }
            }
            for (const QString& handle : std::as_const(touched))
                EXPECT_TRUE(failed.contains(handle)) << damage.name << ", " << way.name;
            if (!failedTheFirstWay) {
                EXPECT_FALSE(failed.isEmpty()) << damage.name;
                failedTheFirstWay = failed;
            }
            EXPECT_EQ(failed, *failedTheFirstWay) << damage.name << ", " << way.name;
        }
    }
}

// A history larger than SQLite's page cache, with the row pointers of a few table pages damaged. The
// pass reads the rows of such a page that can be read (SQLite fails the first read of the page alone),
// and a chat read by a query of its own (where no temporary file can be made) must read them too, not
// fail for the other rows of its page: each way fails the same chats, and reads the others whole.
TEST(DamagedLargeHistory, EachChatsOwnQueryReadsTheRowsThePassRead) {
    QTemporaryDir dir;
    const QString original = dir.filePath(QStringLiteral("original.db"));
    const QString db = dir.filePath(QStringLiteral("main.db"));
    {
        SyntheticHistory synthetic({7, 21, 10, 30000});
        DatabaseWriter writer(original, synthetic, true);
        for (int i = 0; i < synthetic.conversationCount(); ++i)
            writer.add(synthetic.conversation(i));
        writer.finish();
    }
    std::vector<QStringList> sound;
    {
        DatabaseHistory history(original);
        for (size_t chat = 0; chat < history.chats().size(); ++chat)
            sound.push_back(linesOf(history.messages(chat).messages));
    }
    for (const size_t first : {size_t(10), size_t(30), size_t(50)}) {
        SCOPED_TRACE(first);
        QFile::remove(db);
        ASSERT_TRUE(QFile::copy(original, db));
        TableLeaves table(db);
        ASSERT_GT(table.pages.size(), first + 10);
        for (size_t leaf = first; leaf < first + 10; leaf += 2)
            table.damage(leaf);
        table.write(db);
        std::optional<QStringList> failedAlongThePlan;
        for (const bool plan : {true, false}) {
            DatabaseHistory history(db);
            std::vector<size_t> all(history.chats().size());
            std::iota(all.begin(), all.end(), size_t(0));
            if (plan) {
                ASSERT_TRUE(history.planReads(all));
            }
            QStringList failed;
            for (const size_t chat : all) {
                try {
                    EXPECT_EQ(linesOf(history.messages(chat).messages), sound.at(chat)) << chat;
                } catch (const Failure&) {
                    failed.append(history.chats().at(chat).name);
                }
            }
            if (plan)
                failedAlongThePlan = failed;
            else
                EXPECT_EQ(failed, *failedAlongThePlan);
        }
    }
}

// Bytes flipped on every page of the messages table, as a disk that failed widely leaves it: nearly
// every chat fails. Each button shows the boxes of the first few, then one that says how many more
// chats could not be read, before the box that lists the transcripts kept; no transcript is lost.
TEST_F(DamagedHistory, ManyDamagedChatsPutUpAFewBoxesAndOneThatCountsTheOthers) {
    flipBytesOnEveryTablePage(db);
    for (const char* button : {"PushButton7_Click", "PushButton6_Click"}) {
        QMetaObject::invokeMethod(&history->form(), button);
        int errors = 0;
        qsizetype counted = -1;
        qsizetype kept = -1;
        const QList<FakeMessageBoxes::Shown>& shown = w.boxes.shown();
        for (qsizetype i = 0; i < shown.size(); ++i) {
            if (shown.at(i).title == QLatin1String("Application Error")) {
                ++errors;
                EXPECT_LT(counted, 0) << button;
            } else if (shown.at(i).text.contains(QLatin1String("more chats could not be read"))) {
                counted = i;
            } else if (shown.at(i).text.startsWith(TranscriptFiles::keptHeading())) {
                kept = i;
            }
        }
        EXPECT_EQ(errors, ChatFailures::kShownBoxes) << button;
        EXPECT_GE(counted, 0) << button;
        EXPECT_GT(kept, counted) << button;
        EXPECT_EQ(w.boxes.texts().last(), QStringLiteral("Done.")) << button;
        if (QLatin1String(button) == QLatin1String("PushButton7_Click"))
            expectTheGoodTranscripts();
        w.boxes.clear();
    }
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
