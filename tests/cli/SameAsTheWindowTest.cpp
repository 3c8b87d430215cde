#include "cli/CliHarness.h"

#include "fakes/RealHistoryWindow.h"
#include "fakes/ScopedEnv.h"
#include "fakes/TestWindow.h"

#include "DatabaseWriter.h"
#include "ExportWriter.h"
#include "SyntheticHistory.h"

#include "maindb/DatabaseHistory.h"

#include <QDir>
#include <QRadioButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

enum class Mode { ExportRun, Older, DateRange };

struct Range {
    QDateTime from;
    QDateTime to;
    // As given on the command line.
    QString fromText;
    QString toText;
};

QString localText(const QDateTime& value) {
    return value.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

// The CLI against the real window, on the same history, ticks and folder, in a time zone that is not
// UTC and a US English locale.
class SameAsTheWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new QTemporaryDir;
        SyntheticHistory history({23, 14, 5, 2500});
        const QString json = s_dir->filePath(QStringLiteral("messages.json"));
        DatabaseWriter database(s_dir->filePath(QStringLiteral("main.db")), history, true);
        ExportWriter exporter(json, history);
        for (int i = 0; i < history.conversationCount(); ++i) {
            const auto conversation = history.conversation(i);
            database.add(conversation);
            exporter.add(conversation);
        }
        database.finish();
        exporter.finish();
        ExportWriter::packTar(json, s_dir->filePath(QStringLiteral("export.tar")));
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override { env.set("LANG", "en_US.UTF-8").set("TZ", "Europe/Berlin"); }

    static QString synthetic(const char* name) { return s_dir->filePath(QString::fromLatin1(name)); }

    // Every contact listed and ticked, then the button.
    QMap<QString, QByteArray> window(const QString& history, Mode mode, const Range& range = {}) {
        TestWindow w;
        QTemporaryDir out;
        {
            RealHistoryWindow real(w, history);
            Form1& form = real.form();
            QMetaObject::invokeMethod(&form, "PushButton2_Click");
            QMetaObject::invokeMethod(&form, "PushButton3_Click");
            form.setOutputFolderText(QDir::toNativeSeparators(out.path()) + QDir::separator());
            if (mode == Mode::DateRange) {
                form.findChild<QRadioButton*>(QStringLiteral("Option2"))->setChecked(true);
                form.setDateFrom(range.from);
                form.setDateTo(range.to);
            }
            QMetaObject::invokeMethod(&form,
                                      mode == Mode::ExportRun ? "PushButton7_Click" : "PushButton6_Click");
            EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
        }
        return filesBelow(out.path());
    }

    QMap<QString, QByteArray> cli(const QString& history, Mode mode, const Range& range = {}) {
        QTemporaryDir out;
        // A folder that is not there yet, named with and without the trailing separator.
        const QString folder = out.filePath(QStringLiteral("new/transcripts")) +
                               (mode == Mode::Older ? QStringLiteral("/") : QString());
        QStringList arguments{QStringLiteral("export"), QStringLiteral("--history"), history,
                              QStringLiteral("--out"), folder};
        if (mode != Mode::ExportRun)
            arguments << QStringLiteral("--older");
        if (mode == Mode::DateRange)
            arguments << QStringLiteral("--from") << range.fromText << QStringLiteral("--to") << range.toText;
        const CliResult result = runCli(arguments);
        EXPECT_EQ(result.status, 0) << result.err.toStdString();
        EXPECT_EQ(result.errLines(), QStringList{QStringLiteral("parlorix-cli: Done.")});
        return filesBelow(out.filePath(QStringLiteral("new/transcripts")));
    }

    void expectSame(const QString& history, const Range& range) {
        for (const Mode mode : {Mode::ExportRun, Mode::Older, Mode::DateRange}) {
            SCOPED_TRACE(static_cast<int>(mode));
            const QMap<QString, QByteArray> expected = window(history, mode, range);
            EXPECT_FALSE(expected.isEmpty());
            const QMap<QString, QByteArray> written = cli(history, mode, range);
            EXPECT_EQ(written.keys(), expected.keys());
            for (auto it = expected.cbegin(); it != expected.cend(); ++it)
                EXPECT_EQ(written.value(it.key()), it.value()) << it.key().toStdString();
        }
    }

    ScopedEnv env;
    static QTemporaryDir* s_dir;
};

QTemporaryDir* SameAsTheWindow::s_dir = nullptr;

TEST_F(SameAsTheWindow, OnARealDatabase) {
    // The only chat with messages starts 2 March 2015, 16:40:22 UTC: the range ends exactly there.
    const QDateTime stamp = QDateTime::fromSecsSinceEpoch(1425314422);
    expectSame(
        QStringLiteral(PARLORIX_FIXTURES_DIR "/skype6-main.db"),
        {QDateTime(QDate(2015, 3, 1), QTime(0, 0)), stamp, QStringLiteral("2015-03-01"), localText(stamp)});
}

TEST_F(SameAsTheWindow, OnARealDatabaseWithTextMessages) {
    // Starts exactly at the chat's stamp, 30 July 2013, 21:26:22 UTC.
    const QDateTime stamp = QDateTime::fromSecsSinceEpoch(1375219582);
    expectSame(
        QStringLiteral(PARLORIX_FIXTURES_DIR "/skype-sms-main.db"),
        {stamp, QDateTime(QDate(2013, 8, 1), QTime(0, 0)), localText(stamp), QStringLiteral("2013-08-01")});
}

// The middle half of the chats' stamps, ends included.
Range middleHalf(const QString& database) {
    DatabaseHistory history(database);
    std::vector<qint64> stamps;
    for (size_t chat = 0; chat < history.chats().size(); ++chat) {
        if (const ChatTime stamp = history.timeStamp(chat))
            stamps.push_back(*stamp);
    }
    std::sort(stamps.begin(), stamps.end());
    const QDateTime from = QDateTime::fromSecsSinceEpoch(stamps.at(stamps.size() / 4));
    const QDateTime to = QDateTime::fromSecsSinceEpoch(stamps.at(stamps.size() * 3 / 4));
    return {from, to, localText(from), localText(to)};
}

TEST_F(SameAsTheWindow, OnASyntheticDatabase) {
    expectSame(synthetic("main.db"), middleHalf(synthetic("main.db")));
}

TEST_F(SameAsTheWindow, OnASyntheticDataExport) {
    expectSame(synthetic("export.tar"), middleHalf(synthetic("main.db")));
}

// Every group of the synthetic history gets its file, named after its topic, and both kinds of
// history give the same files.
TEST_F(SameAsTheWindow, GroupChatsAreTheSameFromADatabaseAndADataExport) {
    QMap<QString, QByteArray> written[2];
    const char* const histories[2] = {"main.db", "export.tar"};
    for (int i = 0; i < 2; ++i) {
        QTemporaryDir out;
        const CliResult result =
            runCli({QStringLiteral("export"), QStringLiteral("--history"), synthetic(histories[i]),
                    QStringLiteral("--out"), out.path(), QStringLiteral("--group-chats")});
        EXPECT_EQ(result.status, 0) << result.err.toStdString();
        for (auto [path, bytes] : filesBelow(out.path()).asKeyValueRange()) {
            if (path.startsWith(QStringLiteral("Group chats/")))
                written[i].insert(path, bytes);
        }
    }
    EXPECT_EQ(written[0].size(), 5);
    for (const QString& name : written[0].keys())
        EXPECT_TRUE(name.startsWith(QStringLiteral("Group chats/Group "))) << name.toStdString();
    EXPECT_EQ(written[0], written[1]);
}

} // namespace
