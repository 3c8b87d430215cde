#include "cli/CliHarness.h"

#include "fakes/ScopedEnv.h"

#include "SliceWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

namespace {

const SyntheticHistory::Options kOptions{31, 12, 4, 2400};

// A synthetic history, whole and cut in three as parlorix-synth --slices 3 cuts it: each piece as a
// main.db (its clock a minute behind the next's) and as an export .tar.
class Slices : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_dir = new QTemporaryDir;
        SyntheticHistory history(kOptions);
        std::vector<SliceWriter::Piece> whole(1);
        whole[0].slice = {std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()};
        whole[0].database = path("whole.db");
        SliceWriter wholeWriter(history, whole);
        SliceWriter pieces(
            history, SliceWriter::pieces(3, path("main.db"), QString(), path("export.tar"), s_dir->path()));
        for (int i = 0; i < history.conversationCount(); ++i) {
            const SyntheticHistory::Conversation conversation = history.conversation(i);
            wholeWriter.add(conversation);
            pieces.add(conversation);
        }
        wholeWriter.finish();
        pieces.finish();
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }
    void SetUp() override {
        env.set("LANG", "en_US.UTF-8").set("TZ", "Europe/Berlin").set("PARLORIX_SKYPE_DATA", QByteArray());
        for (const char* home : {"HOME", "APPDATA", "LOCALAPPDATA", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
            env.set(home, QFile::encodeName(out.path()));
    }

    static QString path(const char* name) { return s_dir->filePath(QString::fromLatin1(name)); }

    QMap<QString, QByteArray> exportOf(const QStringList& histories, const QStringList& more) {
        const QString folder = out.filePath(QStringLiteral("run%1").arg(++m_runs));
        QStringList arguments{QStringLiteral("export"), QStringLiteral("--out"), folder,
                              QStringLiteral("--quiet")};
        for (const QString& history : histories)
            arguments << QStringLiteral("--history") << history;
        const CliResult result = runCli(arguments + more);
        EXPECT_EQ(result.status, 0) << result.err.toStdString();
        return filesBelow(folder);
    }

    static QTemporaryDir* s_dir;
    ScopedEnv env;
    QTemporaryDir out;

private:
    int m_runs = 0;
};

QTemporaryDir* Slices::s_dir = nullptr;

// Every order of the pieces gives the whole history's transcripts, byte for byte, for every export:
// the chats of each transcript come in the first history's order, which is the whole's where a main.db
// comes first (it lists every chat); where the export comes first, its chats come first, which only
// the older export (a chat belongs to every row whose handle its name holds) shows.
TEST_F(Slices, TheWholeHistoryAgainstItsPiecesInEveryOrder) {
    QStringList pieces{path("main.1.db"), path("main.2.db"), path("export.3.tar")};
    std::sort(pieces.begin(), pieces.end());
    const struct {
        const char* name;
        QStringList options;
        bool sameWhateverComesFirst;
    } exports[] = {
        {"the export run, with the group chats", {QStringLiteral("--group-chats")}, true},
        {"the older export", {QStringLiteral("--older")}, false},
        {"the older export's date range",
         {QStringLiteral("--older"), QStringLiteral("--from"), QStringLiteral("2013-01-01"),
          QStringLiteral("--to"), QStringLiteral("2016-12-31")},
         false},
    };
    for (const auto& row : exports) {
        const QMap<QString, QByteArray> whole = exportOf({path("whole.db")}, row.options);
        ASSERT_GT(whole.size(), 5) << row.name;
        QStringList order = pieces;
        do {
            const bool databaseFirst = order.first().endsWith(QLatin1String(".db"));
            if (databaseFirst || row.sameWhateverComesFirst)
                EXPECT_EQ(exportOf(order, row.options), whole)
                    << row.name << ": " << order.join(QStringLiteral(", ")).toStdString();
            else
                EXPECT_EQ(exportOf(order, row.options).keys(), whole.keys()) << row.name;
        } while (std::next_permutation(order.begin(), order.end()));
    }
    // The pieces' contacts are the whole's, and all exports alone give the whole's transcripts too.
    const CliResult contacts = runCli({QStringLiteral("contacts"), QStringLiteral("--history"),
                                       path("export.3.tar"), QStringLiteral("--history"), path("main.1.db"),
                                       QStringLiteral("--history"), path("main.2.db")});
    EXPECT_EQ(contacts.out,
              runCli({QStringLiteral("contacts"), QStringLiteral("--history"), path("whole.db")}).out);
}

// A second computer whose clock ran ahead: its copies of the first one's messages are the same
// messages up to three minutes apart, to the second; a second more, and each is a message of its own.
TEST_F(Slices, AClockThreeMinutesAheadStillMergesOneSecondMoreDoesNot) {
    SyntheticHistory history(kOptions);
    const SyntheticHistory::Slice all{std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()};
    const struct {
        const char* name;
        qint64 clock;
        bool merged;
    } cases[] = {
        {"a minute ahead", 60, true},
        {"three minutes ahead", 180, true},
        {"three minutes behind", -180, true},
        {"three minutes and a second ahead", 181, false},
        {"three minutes and a second behind", -181, false},
    };
    const QMap<QString, QByteArray> whole = exportOf({path("whole.db")}, {QStringLiteral("--group-chats")});
    for (const auto& row : cases) {
        const QString ahead = out.filePath(QStringLiteral("ahead%1.db").arg(row.clock));
        SliceWriter writer(history, {SliceWriter::Piece{all, row.clock, ahead, QString(), QString()}});
        for (int i = 0; i < history.conversationCount(); ++i)
            writer.add(history.conversation(i));
        writer.finish();
        const QMap<QString, QByteArray> both =
            exportOf({path("whole.db"), ahead}, {QStringLiteral("--group-chats")});
        if (row.merged) {
            EXPECT_EQ(both, whole) << row.name;
            continue;
        }
        ASSERT_EQ(both.keys(), whole.keys()) << row.name;
        for (auto it = whole.begin(); it != whole.end(); ++it) {
            // Each message twice, each copy after the other (the copies' times lie further apart than
            // the chat's messages seldom do), under the one header.
            EXPECT_EQ(both.value(it.key()).count("\r\n"), 2 * it.value().count("\r\n")) << row.name;
            EXPECT_EQ(both.value(it.key()).left(it.value().indexOf(']') + 1),
                      it.value().left(it.value().indexOf(']') + 1))
                << row.name;
        }
    }
}

} // namespace
