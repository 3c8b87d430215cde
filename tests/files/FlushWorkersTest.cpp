#include "files/FlushWorkers.h"
#include "files/LocalFileSystem.h"
#include "files/OpenedFolder.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <set>

namespace {

// Flushes that answer from a table by name, count how many run at once, and hold "slow" until the
// test lets it go.
class ScriptedFlushes final : public LocalFileSystem {
public:
    int flush(const OpenedFolder&, const QString& name, const FileId&) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        flushed.insert(name);
        if (name == QLatin1String("slow"))
            m_released.wait(lock, [&] { return released; });
        if (name == QLatin1String("no memory"))
            throw std::bad_alloc();
        return errors.value(name);
    }
    void release() {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            released = true;
        }
        m_released.notify_all();
    }

    QMap<QString, int> errors; // set before the first flush
    std::set<QString> flushed;
    bool released = false;

private:
    std::mutex m_mutex;
    std::condition_variable m_released;
};

// Each file's result is its own, whichever thread flushed it and in whatever order they ended: a
// flush that waits holds up neither the others nor their results.
TEST(FlushWorkers, EachFileGetsItsOwnResult) {
    QTemporaryDir dir;
    int error = 0;
    const std::shared_ptr<const OpenedFolder> folder = OpenedFolder::open(dir.path(), true, &error);
    ASSERT_TRUE(folder);
    ScriptedFlushes fileSystem;
    fileSystem.errors = {{QStringLiteral("full"), 28}, {QStringLiteral("gone"), 2}};
    FlushWorkers workers(fileSystem);
    const quint64 slow = workers.start(folder, QStringLiteral("slow"), FileId{});
    const QStringList names{QStringLiteral("a"), QStringLiteral("full"), QStringLiteral("b"),
                            QStringLiteral("gone")};
    QList<quint64> tickets;
    for (const QString& name : names)
        tickets.append(workers.start(folder, name, FileId{}));
    for (int i = names.size() - 1; i >= 0; --i)
        EXPECT_EQ(workers.wait(tickets.at(i)), fileSystem.errors.value(names.at(i)))
            << names.at(i).toStdString();
    fileSystem.release();
    EXPECT_EQ(workers.wait(slow), 0);

    // What a flush throws (out of memory) reaches the thread that asks for its result.
    const quint64 failing = workers.start(folder, QStringLiteral("no memory"), FileId{});
    EXPECT_THROW(workers.wait(failing), std::bad_alloc);
    EXPECT_EQ(fileSystem.flushed.size(), 6u);
}

} // namespace
