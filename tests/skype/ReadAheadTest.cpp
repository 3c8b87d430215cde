#include "HistoryFiles.h"

#include "base/Failure.h"
#include "skype/HistoryRoot.h"
#include "skype/HistorySource.h"
#include "skype/ReadAhead.h"

#include <QFile>
#include <QTemporaryDir>

#include <SQLiteCpp/Database.h>

#include <gtest/gtest.h>

#ifdef __GLIBC__
#include <pthread.h>
#endif

#include <condition_variable>
#include <cstdint>
#include <future>
#include <mutex>
#include <set>

namespace {

// A history whose chat i holds i messages; reading a chat in `failing` throws. Its readers share a
// log of what happened, in order.
class LoggingHistory final : public History {
public:
    struct Log {
        std::mutex mutex;
        QStringList events;
        void add(const QString& event) {
            std::lock_guard<std::mutex> lock(mutex);
            events.append(event);
        }
    };

    LoggingHistory(std::shared_ptr<Log> log, std::set<size_t> failing,
                   std::function<void(size_t chat)> whileReading = {})
        : m_log(std::move(log))
        , m_failing(std::move(failing))
        , m_whileReading(std::move(whileReading)) {
        for (int i = 0; i < 6; ++i)
            m_chats.push_back({QString::number(i), QString(), QString()});
    }
    ~LoggingHistory() override { m_log->add(QStringLiteral("reader gone")); }

    QStringList contacts() override { return {}; }
    const std::vector<HistoryChat>& chats() override { return m_chats; }
    ChatContent messages(size_t chat) override {
        if (m_whileReading)
            m_whileReading(chat);
        if (m_failing.count(chat))
            throw Failure(QStringLiteral("chat %1 is damaged").arg(chat));
        ChatContent content;
        for (size_t i = 0; i < chat; ++i)
            content.messages.emplace_back(QStringLiteral("s"), QStringLiteral("m%1").arg(chat));
        content.timeStampKnown = true;
        content.timeStamp = static_cast<qint64>(chat) * 100;
        m_log->add(QStringLiteral("read %1").arg(chat));
        return content;
    }
    ChatTime timeStamp(size_t chat) override { return static_cast<qint64>(chat) * 100; }
    std::unique_ptr<History> reader() const override {
        return std::make_unique<LoggingHistory>(m_log, m_failing, m_whileReading);
    }

private:
    std::shared_ptr<Log> m_log;
    std::set<size_t> m_failing;
    std::function<void(size_t chat)> m_whileReading;
    std::vector<HistoryChat> m_chats;
};

TEST(ReadAhead, UpToFourChatsAheadAndAFailureGoesToWhoeverTakesIt) {
    auto log = std::make_shared<LoggingHistory::Log>();
    LoggingHistory history(log, {3});
    ReadAhead ahead([&] { return history.reader(); });
    for (const size_t chat : {2, 3, 4, 5})
        EXPECT_TRUE(ahead.request(chat)) << chat;
    EXPECT_FALSE(ahead.request(1)); // four are held: refused, not queued
    EXPECT_FALSE(ahead.holds(1));
    EXPECT_FALSE(ahead.request(2)); // held already
    EXPECT_EQ(ahead.held(), (std::vector<size_t>{2, 3, 4, 5}));
    EXPECT_EQ(ahead.peek(2).messages.size(), 2u);
    EXPECT_TRUE(ahead.holds(2)); // peeking does not take
    EXPECT_EQ(ahead.take(2)->timeStamp, 200);
    EXPECT_FALSE(ahead.holds(2));
    EXPECT_THROW(ahead.peek(3), Failure);
    EXPECT_THROW(ahead.take(3), Failure);
    EXPECT_TRUE(ahead.request(1)); // places are free again, after a failure too
    EXPECT_EQ(ahead.peek(1).messages.size(), 1u);
    EXPECT_EQ(ahead.take(1)->messages.size(), 1u);
    EXPECT_EQ(ahead.peek(5).messages.size(), 5u);
}

TEST(ReadAhead, DroppedChatsAreForgottenAndAFailingFactoryLeavesItsWorkerOut) {
    auto log = std::make_shared<LoggingHistory::Log>();
    LoggingHistory history(log, {1});
    ReadAhead ahead([&] { return history.reader(); });
    ahead.request(0);
    ahead.request(1);
    ahead.request(2);
    ahead.drop(2);
    EXPECT_FALSE(ahead.holds(2));
    ahead.drop();
    EXPECT_FALSE(ahead.holds(0));
    EXPECT_FALSE(ahead.holds(1));
    EXPECT_TRUE(ahead.request(0));
    EXPECT_EQ(ahead.peek(0).messages.size(), 0u);
    EXPECT_EQ(ahead.take(0)->messages.size(), 0u);

    int made = 0;
    ReadAhead none([&]() -> std::unique_ptr<History> {
        ++made;
        throw Failure(QStringLiteral("no reader"));
    });
    EXPECT_FALSE(none.request(0));
    EXPECT_FALSE(none.request(2));
    EXPECT_EQ(made, static_cast<int>(ReadAhead::kWorkers)); // once per worker, not again

    int tries = 0;
    ReadAhead one([&]() -> std::unique_ptr<History> {
        if (tries++ == 0)
            throw Failure(QStringLiteral("no reader"));
        return history.reader();
    });
    for (const size_t chat : {2, 4, 5}) // the one worker made reads every chat
        EXPECT_TRUE(one.request(chat));
    EXPECT_EQ(one.peek(4).messages.size(), 4u);
    EXPECT_EQ(one.peek(5).messages.size(), 5u);
}

// One worker held up by a long chat: the other reads the chats after it.
TEST(ReadAhead, ALongChatOnOneWorkerLeavesTheOtherReading) {
    auto log = std::make_shared<LoggingHistory::Log>();
    std::promise<void> go;
    std::shared_future<void> goSignal = go.get_future().share();
    LoggingHistory history(log, {}, [&](size_t chat) {
        if (chat == 2)
            goSignal.wait();
    });
    ReadAhead ahead([&] { return history.reader(); });
    for (const size_t chat : {2, 3, 4, 5})
        ahead.request(chat);
    EXPECT_EQ(ahead.peek(3).messages.size(), 3u);
    EXPECT_EQ(ahead.peek(4).messages.size(), 4u);
    EXPECT_EQ(ahead.peek(5).messages.size(), 5u);
    go.set_value();
    EXPECT_EQ(ahead.take(2)->messages.size(), 2u);
}

// While both workers read, a chat asked for that none has started on is handed back, no longer
// held, for the caller to read itself rather than wait.
TEST(ReadAhead, AChatNoWorkerHasStartedOnIsHandedBack) {
    auto log = std::make_shared<LoggingHistory::Log>();
    std::mutex mutex;
    std::condition_variable changed;
    int reading = 0;
    std::promise<void> go;
    std::shared_future<void> goSignal = go.get_future().share();
    LoggingHistory history(log, {}, [&](size_t chat) {
        if (chat > 2)
            return;
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++reading;
        }
        changed.notify_all();
        goSignal.wait();
    });
    ReadAhead ahead([&] { return history.reader(); });
    ahead.request(1);
    ahead.request(2);
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return reading == 2; });
    }
    ahead.request(3);
    EXPECT_FALSE(ahead.take(3).has_value());
    EXPECT_FALSE(ahead.holds(3));
    go.set_value();
    EXPECT_EQ(ahead.take(1)->messages.size(), 1u);
    EXPECT_EQ(ahead.take(2)->messages.size(), 2u);
    EXPECT_FALSE(log->events.contains(QStringLiteral("read 3")));
}

// The workers' threads end after their current reads, and only then do their readers go.
TEST(ReadAhead, NoReaderIsDestroyedWhileItReads) {
    auto log = std::make_shared<LoggingHistory::Log>();
    std::promise<void> started;
    std::promise<void> go;
    std::shared_future<void> goSignal = go.get_future().share();
    std::once_flag once;
    LoggingHistory history(log, {}, [&](size_t) {
        std::call_once(once, [&] { started.set_value(); });
        goSignal.wait();
    });
    auto ahead = std::make_unique<ReadAhead>([&] { return history.reader(); });
    ahead->request(4);
    started.get_future().wait();
    std::thread destroyer([&] { ahead.reset(); });
    go.set_value();
    destroyer.join();
    const QStringList events = log->events;
    ASSERT_EQ(events.size(), 1 + static_cast<int>(ReadAhead::kWorkers));
    EXPECT_EQ(events[0], QStringLiteral("read 4"));
    for (int i = 1; i < events.size(); ++i)
        EXPECT_EQ(events[i], QStringLiteral("reader gone"));
}

#ifdef __GLIBC__
// While it lives, threads started get a stack larger than any address space: the system refuses
// every one.
class NoNewThreads {
public:
    NoNewThreads() {
        pthread_getattr_default_np(&m_before);
        pthread_attr_t huge;
        pthread_attr_init(&huge);
        pthread_attr_setstacksize(&huge, SIZE_MAX / 4);
        pthread_setattr_default_np(&huge);
        pthread_attr_destroy(&huge);
    }
    ~NoNewThreads() {
        pthread_setattr_default_np(&m_before);
        pthread_attr_destroy(&m_before);
    }
    NoNewThreads(const NoNewThreads&) = delete;
    NoNewThreads& operator=(const NoNewThreads&) = delete;

private:
    pthread_attr_t m_before;
};
#endif

// The system refuses the workers' threads: nothing is asked ahead, and the refusal is no failure of
// the caller's.
TEST(ReadAhead, WorkersWhoseThreadsCannotStartAreLeftOut) {
#ifndef __GLIBC__
    GTEST_SKIP() << "threads are refused by way of glibc's default thread attributes";
#else
    auto log = std::make_shared<LoggingHistory::Log>();
    LoggingHistory history(log, {});
    NoNewThreads refused;
    ReadAhead ahead([&] { return history.reader(); });
    bool requested = true;
    EXPECT_NO_THROW(requested = ahead.request(1));
    EXPECT_FALSE(requested);
    EXPECT_FALSE(ahead.holds(1));
    EXPECT_FALSE(ahead.request(2));
#endif
}

// Chat by chat and in order: what a walk reads ahead is exactly what reading each chat alone gives,
// also when the walk breaks off half-way and starts again, and when the time stamp is asked first.
TEST(HistoryRoot, AWalkThatReadsAheadGivesEachChatItsOwnMessages) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("main.db"));
    const QString json = dir.filePath(QStringLiteral("messages.json"));
    writeSyntheticHistory({5, 8, 3, 1500}, db, json);
    for (const QString& path : {db, json}) {
        std::unique_ptr<History> alone = HistorySource::open(HistorySource::identify(path));
        const int count = static_cast<int>(alone->chats().size());
        auto expected = [&](int position) {
            auto single = std::make_shared<HistoryRoot>([&] { return QStringList{path}; });
            return linesOf(*single->chats()->item(position));
        };
        auto root = std::make_shared<HistoryRoot>([&] { return QStringList{path}; });
        const auto chats = root->chats();
        for (int position = 1; position <= count; ++position) {
            if (position % 3 == 0)
                chats->item(position)->timeStamp(); // a stamp asked first changes nothing
            EXPECT_EQ(linesOf(*chats->item(position)), expected(position))
                << path.toStdString() << " " << position;
            if (position == count / 2) {
                // Broken off: back to the start, then on to the end.
                for (int again = 1; again <= 3; ++again)
                    EXPECT_EQ(linesOf(*chats->item(again)), expected(again));
            }
        }
    }
}

// A running client removes a conversation after the walk has listed the chats: the readers that read
// ahead use the chats the walk listed, so no chat gets another conversation's messages.
TEST(HistoryRoot, AHistoryChangedBetweenReadersGivesEachChatItsOwnMessages) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("main.db"));
    writeSyntheticHistory({9, 8, 3, 1500}, db, dir.filePath(QStringLiteral("messages.json")));
    std::vector<QStringList> expected;
    {
        auto before = std::make_shared<HistoryRoot>([&] { return QStringList{db}; });
        const auto chats = before->chats();
        for (int position = 1; position <= chats->count(); ++position)
            expected.push_back(linesOf(*chats->item(position)));
    }
    auto root = std::make_shared<HistoryRoot>([&] { return QStringList{db}; });
    const auto chats = root->chats();
    ASSERT_EQ(chats->count(), static_cast<int>(expected.size()));
    EXPECT_EQ(linesOf(*chats->item(1)), expected.at(0));
    {
        SQLite::Database client(db.toStdString(), SQLite::OPEN_READWRITE);
        client.exec("DELETE FROM Messages WHERE convo_id = (SELECT id FROM Conversations ORDER BY id LIMIT 1 "
                    "OFFSET 1);"
                    "DELETE FROM Conversations WHERE id = (SELECT id FROM Conversations ORDER BY id LIMIT 1 "
                    "OFFSET 1)");
    }
    // The removed chat reads as empty; every other one as it was.
    for (int position = 3; position <= chats->count(); ++position)
        EXPECT_EQ(linesOf(*chats->item(position)), expected.at(static_cast<size_t>(position - 1)))
            << position;
}

// Eight chats of two messages each, "old0" to "old7"; the third chat's first message lacks the value
// of its content, so that reading that chat fails on every reader.
QByteArray exportWithADamagedChat() {
    QByteArray json = R"({"userId":"8:me","exportDate":"2020-07-06T20:55","conversations":[)";
    for (int c = 0; c < 8; ++c) {
        const QByteArray n = QByteArray::number(c);
        json += QByteArray(c ? "," : "") + R"({"id":"8:user)" + n + R"(","displayName":"User )" + n +
                R"(","MessageList":[)";
        for (int m = 0; m < 2; ++m) {
            const QByteArray content = c == 2 && m == 0 ? QByteArray() : "\"old" + n + '"';
            json += QByteArray(m ? "," : "") + R"({"id":")" + QByteArray::number(m) +
                    R"(","displayName":"U","originalarrivaltime":"2020-01-01T00:00:0)" +
                    QByteArray::number(m) + R"(Z","messagetype":"Text","content":)" + content +
                    R"(,"from":"8:user)" + n + R"("})";
        }
        json += "]}";
    }
    return json + "]}";
}

// Rewrites the export in place, its size unchanged: the chats named read "newN" from now on.
void renewChats(const QString& path, std::initializer_list<int> chats) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray json = file.readAll();
    for (const int chat : chats)
        json.replace(QByteArray("\"old" + QByteArray::number(chat) + '"'),
                     QByteArray("\"new" + QByteArray::number(chat) + '"'));
    ASSERT_TRUE(file.seek(0));
    ASSERT_EQ(file.write(json), json.size());
}

// A chat whose read failed is asked again at once, as a walk that goes on after an error does. The
// chats read ahead after it stay read: none is read again, along a plan that names the failing chat
// again later.
TEST(HistoryRoot, AChatAskedAgainAfterItsReadFailedLeavesTheReadsAheadInPlace) {
    QTemporaryDir dir;
    const QString json = dir.filePath(QStringLiteral("messages.json"));
    {
        QFile file(json);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(exportWithADamagedChat());
    }
    auto root = std::make_shared<HistoryRoot>([&] { return QStringList{json}; });
    const auto chats = root->chats();
    chats->willRead({1, 2, 3, 4, 5, 6, 3});
    const auto body = [&](int position) { return chats->item(position)->messages()->item(1)->body(); };
    EXPECT_EQ(body(1), QStringLiteral("old0"));
    EXPECT_EQ(body(2), QStringLiteral("old1"));
    // The next four chats are asked ahead now; a stamp waits for the chat's read to end.
    for (const int position : {4, 5, 6})
        chats->item(position)->timeStamp();
    renewChats(json, {3, 4, 5});
    for (int attempt = 1; attempt <= 2; ++attempt)
        EXPECT_THROW(chats->item(3)->messages()->count(), Failure) << attempt;
    for (const int position : {4, 5, 6})
        EXPECT_EQ(body(position), QStringLiteral("old%1").arg(position - 1)) << position;
}

// A walk in order whose readers ahead cannot start: each chat is read when asked, and none fails.
TEST(HistoryRoot, AWalkWhoseReadersAheadCannotStartReadsEachChatItself) {
#ifndef __GLIBC__
    GTEST_SKIP() << "threads are refused by way of glibc's default thread attributes";
#else
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("main.db"));
    writeSyntheticHistory({5, 6, 2, 800}, db, dir.filePath(QStringLiteral("messages.json")));
    std::vector<QStringList> expected;
    {
        auto before = std::make_shared<HistoryRoot>([&] { return QStringList{db}; });
        const auto chats = before->chats();
        for (int position = 1; position <= chats->count(); ++position)
            expected.push_back(linesOf(*chats->item(position)));
    }
    ASSERT_GE(expected.size(), 4U);
    auto root = std::make_shared<HistoryRoot>([&] { return QStringList{db}; });
    const auto chats = root->chats();
    EXPECT_EQ(linesOf(*chats->item(1)), expected.at(0));
    NoNewThreads refused;
    for (int position = 2; position <= chats->count(); ++position) {
        QStringList lines;
        EXPECT_NO_THROW(lines = linesOf(*chats->item(position))) << position;
        EXPECT_EQ(lines, expected.at(static_cast<size_t>(position - 1))) << position;
    }
#endif
}

// The index of a history checked without a second thread: this connection takes both passes, and the
// chat reads as it does otherwise.
TEST(DatabaseHistory, AnIndexCheckedWithoutASecondThreadReadsAsWithOne) {
#ifndef __GLIBC__
    GTEST_SKIP() << "threads are refused by way of glibc's default thread attributes";
#else
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("main.db"));
    writeSyntheticHistory({4, 5, 2, 700}, db, dir.filePath(QStringLiteral("messages.json")));
    const auto lines = [](const History::ChatContent& content) {
        QStringList out;
        for (const HistoryMessage& message : content.messages)
            out.append(message.senderName() + QStringLiteral(": ") + message.body());
        return out;
    };
    const QStringList expected = lines(HistorySource::open(HistorySource::identify(db))->messages(1));
    ASSERT_FALSE(expected.isEmpty());
    std::unique_ptr<History> history = HistorySource::open(HistorySource::identify(db));
    NoNewThreads refused;
    QStringList read;
    EXPECT_NO_THROW(read = lines(history->messages(1)));
    EXPECT_EQ(read, expected);
#endif
}

// The root goes while its readers are still reading ahead: nothing is left running or dangling.
TEST(HistoryRoot, ARootDestroyedWhileReadingAheadEndsCleanly) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("main.db"));
    writeSyntheticHistory({7, 6, 2, 2000}, db, dir.filePath(QStringLiteral("messages.json")));
    for (int stop = 2; stop <= 4; ++stop) {
        auto root = std::make_shared<HistoryRoot>([&] { return QStringList{db}; });
        const auto chats = root->chats();
        for (int position = 1; position <= stop; ++position)
            chats->item(position)->messages()->count();
    }
}

} // namespace
