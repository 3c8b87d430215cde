#include "export/SharedFiles.h"

#include "cli/CliHarness.h"
#include "fakes/FakeMessageBoxes.h"
#include "fakes/ScopedEnv.h"

#include "base/ErrorTrap.h"
#include "export/TranscriptFiles.h"
#include "files/LocalFileSystem.h"
#include "messages/SharedFileStore.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

namespace {

using State = SharedFileStore::Object::State;

// A history's files in memory: what it holds of each object, and the look-ups it was asked for.
class MemoryStore final : public SharedFileStore {
public:
    explicit MemoryStore(std::map<QString, QByteArray> files)
        : m_files(std::move(files)) {}

    void lookUp(const QStringList& objectIds) override { lookUps.append(objectIds); }
    Object object(const QString& objectId) const override {
        Object object;
        const auto found = m_files.find(objectId);
        if (found != m_files.end()) {
            object.state = State::File;
            object.size = found->second.size();
        }
        return object;
    }
    std::unique_ptr<Reader> open(const QString& objectId) override {
        return std::make_unique<BytesReader>(m_files.at(objectId));
    }

    QList<QStringList> lookUps;

private:
    class BytesReader final : public Reader {
    public:
        explicit BytesReader(QByteArray bytes)
            : m_bytes(std::move(bytes)) {}
        qint64 read(char* into, qint64 size) override {
            const qint64 read = qMin(size, m_bytes.size() - m_at);
            std::copy_n(m_bytes.constData() + m_at, read, into);
            m_at += read;
            return read;
        }

    private:
        QByteArray m_bytes;
        qint64 m_at = 0;
    };

    std::map<QString, QByteArray> m_files;
};

// Files of several histories read as one: one chat's messages may come from two exports of one
// account, both naming the same objects.
TEST(SharedFileStores, AnObjectNamedInSeveralHistoriesIsSavedOnceFromOneThatHoldsIt) {
    ScopedEnv env;
    env.set("TZ", "UTC");
    constexpr qint64 kTime = 1630417330; // 2021-08-31 13.42.10 UTC
    const QString stamp = QStringLiteral("2021-08-31 13.42.10 ");
    struct Row {
        const char* what;
        std::map<QString, QByteArray> first, second; // what each history holds
        QMap<QString, QByteArray> saved;             // at the time of the message whose file is saved
        QStringList boxes;
    };
    const Row rows[] = {
        {"both hold it",
         {{QStringLiteral("x"), "one"}},
         {{QStringLiteral("x"), "one"}},
         {{stamp + QStringLiteral("a.jpg"), "one"}},
         {}},
        {"only the later holds it",
         {},
         {{QStringLiteral("x"), "two"}},
         {{QStringLiteral("2021-08-31 13.42.30 a.jpg"), "two"}},
         {}},
        {"neither holds it", {}, {}, {}, {SharedFiles::lackingMessage(1)}},
    };
    for (const Row& row : rows) {
        QTemporaryDir dir;
        const auto first = std::make_shared<MemoryStore>(row.first);
        const auto second = std::make_shared<MemoryStore>(row.second);
        LocalFileSystem fileSystem;
        TranscriptFiles files(fileSystem);
        ASSERT_TRUE(files.lockFolder(dir.path() + QLatin1Char('/')).isEmpty());
        SharedFiles shared(fileSystem);
        const QString ann = dir.filePath(QStringLiteral("ann.txt"));
        shared.want(ann, 0,
                    {SharedFile{QStringLiteral("x"), QStringLiteral("a.jpg"), kTime, first},
                     SharedFile{QStringLiteral("x"), QStringLiteral("a.jpg"), kTime + 20, second}});
        FakeMessageBoxes boxes;
        ErrorTrap trap(boxes, QStringLiteral("SharedFileStoresTest"));
        shared.save(trap, boxes, files);
        EXPECT_EQ(boxes.texts(), row.boxes) << row.what;
        EXPECT_EQ(filesBelow(dir.filePath(QStringLiteral("Shared files/ann"))), row.saved) << row.what;
        // Each history is looked up once, for the objects its own messages name.
        EXPECT_EQ(first->lookUps, QList<QStringList>{QStringList{QStringLiteral("x")}}) << row.what;
        EXPECT_EQ(second->lookUps, QList<QStringList>{QStringList{QStringLiteral("x")}}) << row.what;
    }
}

} // namespace
