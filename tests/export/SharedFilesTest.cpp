#include "export/SharedExport.h"

#include "cli/CliHarness.h"
#include "fakes/FakeFileSystem.h"
#include "fakes/RealHistoryWindow.h"
#include "fakes/ScopedEnv.h"
#include "fakes/TestWindow.h"

#include "export/GroupChatNames.h"
#include "export/SharedFiles.h"
#include "files/LocalFileSystem.h"
#include "files/OpenedFolder.h"
#include "files/StagedCopy.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <memory>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

using Kind = MediaObject::Kind;
using Stored = MediaObject::Stored;

#ifdef Q_OS_WIN
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// The name a file of a message at 2021-08-31T13:42:SSZ starts with: its local time (2021-08-31 15.42.SS
// in the test's time zone, or under Wine, which keeps the host's time zone, in that one).
QString stamp(int second) {
    return QDateTime::fromSecsSinceEpoch(1630417320 + second).toString(QStringLiteral("yyyy-MM-dd HH.mm.ss"));
}

// Exports with files in a time zone two hours ahead of UTC in summer.
class SharedFilesRun : public ::testing::Test {
protected:
    void SetUp() override { env.set("LANG", "en_US.UTF-8").set("TZ", "Europe/Berlin"); }

    QString path(const QString& name) const { return dir.filePath(name); }
    QString tar(const std::vector<SharedExport::Shared>& messages, bool mediaFirst = false) {
        const QString file = path(QStringLiteral("export%1.tar").arg(++m_exports));
        SharedExport(messages).writeTar(file, mediaFirst);
        return file;
    }
    CliResult run(const QString& history, const QString& out, QStringList more = {},
                  FileSystem* files = nullptr) {
        return runCli(QStringList{QStringLiteral("export"), QStringLiteral("--history"), history,
                                  QStringLiteral("--out"), out, QStringLiteral("--shared-files")} +
                          more,
                      nullptr, nullptr, false, files);
    }
    // The files of a contact's folder of shared files, hidden ones too.
    QMap<QString, QByteArray> sharedOf(const QString& out, const QString& stem) const {
        return filesBelow(out + QStringLiteral("/Shared files/") + stem);
    }

    ScopedEnv env;
    QTemporaryDir dir;

private:
    int m_exports = 0;
};

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

SharedExport::Shared message(const char* chat, const char* arrival, const MediaObject& object,
                             const QString& originalName) {
    return {QString::fromLatin1(chat), QString::fromLatin1(arrival), object, originalName, false};
}

MediaObject file(const char* id, Kind kind, const QString& described, qint64 size = 3000,
                 Stored stored = Stored::File) {
    return SharedExport::object(QString::fromLatin1(id), kind, described, size, stored);
}

TEST_F(SharedFilesRun, EachFileIsSavedBesideItsTranscriptUnderItsTimeAndName) {
    const QString longName = QString(300, QLatin1Char('x')) + QStringLiteral(".jpg");
    struct Row {
        const char* what;
        MediaObject object;
        QString originalName;
        QString saved;        // after "2021-08-31 15.42.SS ", where not in the way of Windows
        QString savedWindows; // on Windows, where its rules differ
    };
    const Row rows[] = {
        {"a picture",
         file("p1", Kind::Picture, QStringLiteral("a.jpg")),
         QStringLiteral("IMG_2041.jpg"),
         QStringLiteral("IMG_2041.jpg"),
         {}},
        {"a document",
         file("d1", Kind::Document, QStringLiteral("r.pdf"), 70000),
         QStringLiteral("report.pdf"),
         QStringLiteral("report.pdf"),
         {}},
        {"a video, its preview left",
         file("v1", Kind::Video, QStringLiteral("c.mp4")),
         QStringLiteral("clip.mp4"),
         QStringLiteral("clip.mp4"),
         {}},
        {"a voice message",
         file("a1", Kind::Voice, QStringLiteral("v.m4a")),
         QStringLiteral("voice.m4a"),
         QStringLiteral("voice.m4a"),
         {}},
        {"separators", file("s1", Kind::Picture, QString()), QStringLiteral("a/b\\c.jpg"),
         QStringLiteral("a%2Fb\\c.jpg"), QStringLiteral("a%2Fb%5Cc.jpg")},
        {"..", file("s2", Kind::Document, QString()), QStringLiteral(".."), QStringLiteral(".."),
         QStringLiteral("%2E%2E")},
        {"a reserved Windows name",
         file("s3", Kind::Document, QString()),
         QStringLiteral("CON.txt"),
         QStringLiteral("CON.txt"),
         {}},
        {"no name, the description's",
         file("s4", Kind::Picture, QStringLiteral("described.png")),
         QString(),
         QStringLiteral("described.png"),
         {}},
        {"no name at all",
         file("s5", Kind::Picture, QString()),
         QStringLiteral(" "),
         QStringLiteral("s5.jpg"),
         {}},
        {"300 characters",
         file("s6", Kind::Picture, QString()),
         longName,
         QString(255 - 20 - 4, QLatin1Char('x')) + QStringLiteral(".jpg"),
         {}},
        {"a line break",
         file("s7", Kind::Document, QStringLiteral("two\nlines.txt")),
         QString(),
         QStringLiteral("two%0Alines.txt"),
         {}},
        // The markup reads a line break in an attribute as a blank, as the transcript shows it.
        {"a line break in the markup",
         file("s8", Kind::Document, QString()),
         QStringLiteral("two\nlines.txt"),
         QStringLiteral("two lines.txt"),
         {}},
    };
    std::vector<SharedExport::Shared> messages;
    int second = 10;
    for (const Row& row : rows) {
        const QByteArray arrival = QStringLiteral("2021-08-31T13:42:%1.250Z").arg(second++).toLatin1();
        messages.push_back(message("8:ann", arrival.constData(), row.object, row.originalName));
    }
    const QString history = tar(messages);
    const QString out = path(QStringLiteral("out"));
    const CliResult result = run(history, out);
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_EQ(result.errLines(), QStringList{QStringLiteral("parlorix-cli: Done.")});

    const QMap<QString, QByteArray> saved = sharedOf(out, QStringLiteral("ann"));
    second = 10;
    for (const Row& row : rows) {
        const QString name = stamp(second++) + QLatin1Char(' ') +
                             (kWindows && !row.savedWindows.isEmpty() ? row.savedWindows : row.saved);
        ASSERT_TRUE(saved.contains(name))
            << row.what << ": " << name.toStdString() << " among " << saved.keys().join(u'|').toStdString();
        EXPECT_EQ(saved.value(name), SharedExport::bytesOf(row.object)) << row.what;
        EXPECT_LE(name.toUtf8().size(), 255) << row.what;
    }
    EXPECT_EQ(saved.size(), std::size(rows)) << saved.keys().join(u'|').toStdString();

    // The transcripts are those of a run without the option.
    const QString plain = path(QStringLiteral("plain"));
    ASSERT_EQ(runCli({QStringLiteral("export"), QStringLiteral("--history"), history, QStringLiteral("--out"),
                      plain})
                  .status,
              0);
    const QMap<QString, QByteArray> transcripts = filesBelow(plain);
    for (auto it = transcripts.cbegin(); it != transcripts.cend(); ++it)
        EXPECT_EQ(filesBelow(out).value(it.key()), it.value()) << it.key().toStdString();
    EXPECT_TRUE(transcripts.value(QStringLiteral("ann.txt")).contains("Shared file: IMG_2041.jpg"));
}

TEST_F(SharedFilesRun, FilesOfOneNameAndSecondAreAllKeptInTheOrderOfTheMessages) {
    const MediaObject first = file("one", Kind::Picture, QString(), 100);
    const MediaObject second = file("two", Kind::Picture, QString(), 200);
    const MediaObject third = file("three", Kind::Picture, QString(), 300);
    // Given newest first, as Skype writes them; the milliseconds tell their order within the second.
    const QString out = path(QStringLiteral("out"));
    const CliResult result =
        run(tar({message("8:ann", "2021-08-31T13:42:10.900Z", third, QStringLiteral("same.jpg")),
                 message("8:ann", "2021-08-31T13:42:10.500Z", second, QStringLiteral("same.jpg")),
                 message("8:ann", "2021-08-31T13:42:10.100Z", first, QStringLiteral("same.jpg"))}),
            out);
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    const QMap<QString, QByteArray> saved = sharedOf(out, QStringLiteral("ann"));
    // The export's messages of one second are ordered by their ids: the later written, the later id.
    ASSERT_EQ(saved.size(), 3) << saved.keys().join(u'|').toStdString();
    QList<QByteArray> held = {saved.value(stamp(10) + QStringLiteral(" same.jpg")),
                              saved.value(stamp(10) + QStringLiteral(" same (2).jpg")),
                              saved.value(stamp(10) + QStringLiteral(" same (3).jpg"))};
    std::sort(held.begin(), held.end(),
              [](const QByteArray& a, const QByteArray& b) { return a.size() < b.size(); });
    EXPECT_EQ(held, (QList<QByteArray>{SharedExport::bytesOf(first), SharedExport::bytesOf(second),
                                       SharedExport::bytesOf(third)}));
    // The same export again gives the same names to the same files.
    const QString again = path(QStringLiteral("again"));
    ASSERT_EQ(run(path(QStringLiteral("export1.tar")), again).status, 0);
    EXPECT_EQ(sharedOf(again, QStringLiteral("ann")), saved);
}

TEST_F(SharedFilesRun, MembersThatAreNoFileAreNamedAsNotSavedWithWhy) {
    struct Row {
        const char* what;
        Stored stored;
        QString why;
    };
    const Row rows[] = {
        {"a link", Stored::Link, QStringLiteral("in the export it is a link to '/etc/passwd'")},
        {"a hard link", Stored::HardLink,
         QStringLiteral("in the export it is a link to the member 'messages.json'")},
        {"a folder", Stored::Folder, QStringLiteral("in the export it is a folder")},
    };
    for (const Row& row : rows) {
        const MediaObject good = file("good", Kind::Picture, QString(), 500);
        const MediaObject bad = file("bad", Kind::Picture, QString(), 0, row.stored);
        const QString out = path(QString::fromLatin1(row.what));
        const CliResult result =
            run(tar({message("8:ann", "2021-08-31T13:42:10Z", bad, QStringLiteral("bad.jpg")),
                     message("8:ann", "2021-08-31T13:42:11Z", good, QStringLiteral("good.jpg"))}),
                out);
        EXPECT_EQ(result.status, 1) << row.what;
        const QString badPath = QDir::toNativeSeparators(out + QStringLiteral("/Shared files/ann/") +
                                                         stamp(10) + QStringLiteral(" bad.jpg"));
        EXPECT_EQ(result.errLines(),
                  (QStringList{QStringLiteral("parlorix-cli: These shared files were not saved:"),
                               QStringLiteral("parlorix-cli: not saved: ") + badPath + QStringLiteral(": ") +
                                   row.why,
                               QStringLiteral("parlorix-cli: Done.")}))
            << row.what;
        // Never followed: only the good file is there.
        EXPECT_EQ(sharedOf(out, QStringLiteral("ann")).keys(),
                  QStringList{stamp(11) + QStringLiteral(" good.jpg")})
            << row.what;
    }
}

TEST_F(SharedFilesRun, FilesTheExportLacksAreCountedOnceAndAreNoError) {
    const QString out = path(QStringLiteral("out"));
    const CliResult result = run(
        tar({message("8:ann", "2021-08-31T13:42:10Z",
                     file("gone1", Kind::Picture, QString(), 10, Stored::Missing), QStringLiteral("a.jpg")),
             message("8:bob", "2021-08-31T13:42:11Z",
                     file("gone2", Kind::Video, QString(), 10, Stored::Missing), QStringLiteral("b.mp4")),
             message("8:bob", "2021-08-31T13:42:12Z", file("here", Kind::Video, QString(), 10),
                     QStringLiteral("c.mp4"))}),
        out);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.errLines(),
              (QStringList{QStringLiteral("parlorix-cli: ") + SharedFiles::lackingMessage(2),
                           QStringLiteral("parlorix-cli: Done.")}));
    EXPECT_FALSE(QFileInfo::exists(out + QStringLiteral("/Shared files/ann")));
    EXPECT_EQ(sharedOf(out, QStringLiteral("bob")).keys(), QStringList{stamp(12) + QStringLiteral(" c.mp4")});
    EXPECT_EQ(SharedFiles::lackingMessage(1),
              QStringLiteral(
                  "1 shared file the chats name is not in the export (Skype did not keep it, or the export "
                  "was made without files), so it was not saved."));
}

TEST_F(SharedFilesRun, ASecondRunLeavesOneCopyAndWhatIsInTheWayStays) {
    const MediaObject object = file("p", Kind::Picture, QString(), 5000);
    const QString history = tar({message("8:ann", "2021-08-31T13:42:10Z", object, QStringLiteral("a.jpg"))});
    const QString name = stamp(10) + QStringLiteral(" a.jpg");
    struct Row {
        const char* what;
        std::function<void(const QString& at)> put; // puts something under the file's name
        bool keptAsSaved;                           // the file there is the saved one
    };
    const QByteArray otherBytes = QByteArray(5000, 'z');
    const Row rows[] = {
        {"nothing", [](const QString&) {}, true},
        {"the same bytes", [&](const QString& at) { writeAll(at, SharedExport::bytesOf(object)); }, true},
        {"other bytes of the same size", [&](const QString& at) { writeAll(at, otherBytes); }, false},
        {"a shorter file", [&](const QString& at) { writeAll(at, "short"); }, false},
#ifndef Q_OS_WIN // Windows makes no such link without privileges, Wine none at all
        {"a link to the same bytes",
         [&](const QString& at) {
             writeAll(at + QStringLiteral(".real"), SharedExport::bytesOf(object));
             QFile::link(at + QStringLiteral(".real"), at);
         },
         false},
#endif
        {"a folder", [](const QString& at) { QDir().mkpath(at); }, false},
    };
    for (const Row& row : rows) {
        const QString out = path(QString::fromLatin1(row.what));
        const QString folder = out + QStringLiteral("/Shared files/ann/");
        QDir().mkpath(folder);
        row.put(folder + name);
        const QMap<QString, QByteArray> before = filesBelow(folder);
        for (int run = 1; run <= 2; ++run) {
            const CliResult result = this->run(history, out);
            EXPECT_EQ(result.status, 0) << row.what << result.err.toStdString();
        }
        const QMap<QString, QByteArray> after = filesBelow(folder);
        if (row.keptAsSaved) {
            EXPECT_EQ(after.keys(), QStringList{name}) << row.what;
        } else {
            // What was in the way stays as it was; the file takes the next name, once.
            for (auto it = before.cbegin(); it != before.cend(); ++it)
                EXPECT_EQ(after.value(it.key()), it.value()) << row.what;
            EXPECT_EQ(after.value(stamp(10) + QStringLiteral(" a (2).jpg")), SharedExport::bytesOf(object))
                << row.what;
            EXPECT_FALSE(after.contains(stamp(10) + QStringLiteral(" a (3).jpg"))) << row.what;
        }
        EXPECT_EQ(QFileInfo(folder + name).isSymLink(), QString::fromLatin1(row.what).startsWith(u"a link"));
    }
}

TEST_F(SharedFilesRun, AGroupsFilesGoBesideItsFileInGroupChats) {
    const MediaObject object = file("g", Kind::Document, QString(), 800);
    const QString history =
        tar({message("19:family@thread.skype", "2021-08-31T13:42:10Z", object, QStringLiteral("plan.pdf"))});
    const QString out = path(QStringLiteral("out"));
    const CliResult withGroups = run(history, out, {QStringLiteral("--group-chats")});
    EXPECT_EQ(withGroups.status, 0) << withGroups.err.toStdString();
    const QString group =
        GroupChatNames::nameOf(QStringLiteral("Family"), QStringLiteral("19:family@thread.skype"));
    EXPECT_TRUE(QFileInfo::exists(out + QStringLiteral("/Group chats/") + group + QStringLiteral(".txt")));
    EXPECT_EQ(filesBelow(out + QStringLiteral("/Group chats/Shared files/") + group),
              (QMap<QString, QByteArray>{
                  {stamp(10) + QStringLiteral(" plan.pdf"), SharedExport::bytesOf(object)}}));
    // Without the group chats the group's chat is not written, nor are its files saved.
    const QString contactsOnly = path(QStringLiteral("contacts only"));
    EXPECT_EQ(run(history, contactsOnly).status, 0);
    EXPECT_FALSE(QFileInfo::exists(contactsOnly + QStringLiteral("/Group chats")));
    EXPECT_FALSE(QFileInfo::exists(contactsOnly + QStringLiteral("/Shared files")));
}

TEST_F(SharedFilesRun, EveryExportOfASetGivesItsFilesAndAnObjectBothHoldIsSavedOnce) {
    const MediaObject both = file("both", Kind::Picture, QString(), 900);
    const MediaObject first = file("first", Kind::Document, QString(), 700);
    const MediaObject second = file("second", Kind::Document, QString(), 600);
    const QString older = tar({message("8:ann", "2021-08-31T13:42:10Z", both, QStringLiteral("cat.jpg")),
                               message("8:ann", "2021-08-31T13:42:20Z", first, QStringLiteral("a.pdf"))});
    const QString newer = tar({message("8:ann", "2021-08-31T13:42:10Z", both, QStringLiteral("cat.jpg")),
                               message("8:ann", "2021-08-31T13:42:30Z", second, QStringLiteral("b.pdf"))});
    const QString out = path(QStringLiteral("out"));
    const CliResult result = run(older, out, {QStringLiteral("--history"), newer});
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    EXPECT_EQ(
        sharedOf(out, QStringLiteral("ann")),
        (QMap<QString, QByteArray>{{stamp(10) + QStringLiteral(" cat.jpg"), SharedExport::bytesOf(both)},
                                   {stamp(20) + QStringLiteral(" a.pdf"), SharedExport::bytesOf(first)},
                                   {stamp(30) + QStringLiteral(" b.pdf"), SharedExport::bytesOf(second)}}));
}

TEST_F(SharedFilesRun, MediaBesideAnUnpackedExportIsReadAsInTheArchive) {
    const MediaObject picture = file("p", Kind::Picture, QString(), 4000);
    const MediaObject video = file("v", Kind::Video, QString(), 9000);
    // Windows makes no link without privileges: there it is a file the export lacks.
    const MediaObject linked =
        file("l", Kind::Picture, QString(), 0, kWindows ? Stored::Missing : Stored::Link);
    const MediaObject missing = file("m", Kind::Picture, QString(), 0, Stored::Missing);
    const std::vector<SharedExport::Shared> messages = {
        message("8:ann", "2021-08-31T13:42:10Z", picture, QStringLiteral("a.jpg")),
        message("8:ann", "2021-08-31T13:42:11Z", video, QStringLiteral("b.mp4")),
        message("8:ann", "2021-08-31T13:42:12Z", linked, QStringLiteral("c.jpg")),
        message("8:ann", "2021-08-31T13:42:13Z", missing, QStringLiteral("d.jpg")),
    };
    const QString unpacked = path(QStringLiteral("unpacked"));
    SharedExport(messages).writeFolder(unpacked);
    for (const bool asFolder : {false, true}) {
        const QString out = path(asFolder ? QStringLiteral("from folder") : QStringLiteral("from json"));
        const CliResult result = run(asFolder ? unpacked : unpacked + QStringLiteral("/messages.json"), out);
        EXPECT_EQ(result.status, kWindows ? 0 : 1);
        EXPECT_EQ(result.err.contains(stamp(12) + QStringLiteral(" c.jpg: in the export it is a link")),
                  !kWindows)
            << result.err.toStdString();
        EXPECT_TRUE(result.err.contains(SharedFiles::lackingMessage(kWindows ? 2 : 1)))
            << result.err.toStdString();
        EXPECT_EQ(sharedOf(out, QStringLiteral("ann")),
                  (QMap<QString, QByteArray>{
                      {stamp(10) + QStringLiteral(" a.jpg"), SharedExport::bytesOf(picture)},
                      {stamp(11) + QStringLiteral(" b.mp4"), SharedExport::bytesOf(video)}}));
    }
    // The same files as from the archive, media/ after messages.json or before it.
    for (const bool mediaFirst : {false, true}) {
        const QString out = path(QStringLiteral("from tar %1").arg(mediaFirst));
        run(tar(messages, mediaFirst), out);
        EXPECT_EQ(sharedOf(out, QStringLiteral("ann")),
                  sharedOf(path(QStringLiteral("from folder")), QStringLiteral("ann")));
    }
}

#ifndef Q_OS_WIN
TEST_F(SharedFilesRun, AFileWithASecondNameInAnUnpackedExportIsNotRead) {
    const QString unpacked = path(QStringLiteral("unpacked"));
    SharedExport({message("8:ann", "2021-08-31T13:42:10Z",
                          file("h", Kind::Picture, QString(), 0, Stored::HardLink), QStringLiteral("h.jpg"))})
        .writeFolder(unpacked);
    const QString out = path(QStringLiteral("out"));
    const CliResult result = run(unpacked, out);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.contains(
        QStringLiteral("h.jpg: in the export it is a file with another name too (a hard link)")))
        << result.err.toStdString();
    EXPECT_TRUE(sharedOf(out, QStringLiteral("ann")).isEmpty());
}

// A few bytes on the disk that stand for gigabytes would fill the disk they are saved to.
TEST_F(SharedFilesRun, AFileWithHolesInAnUnpackedExportIsNotRead) {
    struct Row {
        const char* id;
        qint64 dataAt; // where its few bytes lie, the rest a hole; -1 for a file without holes
        bool saved;
    };
    const Row rows[] = {
        {"start", 0, false}, {"middle", 4 << 20, false}, {"end", (8 << 20) - 3, false}, {"dense", -1, true}};
    std::vector<SharedExport::Shared> messages;
    int second = 10;
    for (const Row& row : rows) {
        const QByteArray arrival = QStringLiteral("2021-08-31T13:42:%1Z").arg(second++).toLatin1();
        messages.push_back(message("8:ann", arrival.constData(), file(row.id, Kind::Document, QString(), 100),
                                   QString::fromLatin1(row.id) + QStringLiteral(".bin")));
    }
    const QString unpacked = path(QStringLiteral("unpacked"));
    SharedExport(messages).writeFolder(unpacked);
    const QDir media(unpacked + QStringLiteral("/media"));
    for (const Row& row : rows) {
        if (row.dataAt < 0)
            continue;
        const QStringList found = media.entryList({QString::fromLatin1(row.id) + QStringLiteral(".1*")});
        ASSERT_EQ(found.size(), 1) << row.id;
        QFile sparse(media.filePath(found.first()));
        ASSERT_TRUE(sparse.open(QIODevice::WriteOnly | QIODevice::Truncate)) << row.id;
        ASSERT_TRUE(sparse.resize(8 << 20));
        ASSERT_TRUE(sparse.seek(row.dataAt));
        sparse.write("abc", 3);
        sparse.close();
        const int fd = ::open(QFile::encodeName(sparse.fileName()).constData(), O_RDONLY);
        const off_t hole = ::lseek(fd, 0, SEEK_HOLE);
        ::close(fd);
        if (hole < 0 || hole >= (8 << 20))
            GTEST_SKIP() << "the temporary folder's file system keeps no holes";
    }
    const QString out = path(QStringLiteral("out"));
    const CliResult result = run(unpacked, out);
    EXPECT_EQ(result.status, 1);
    const QMap<QString, QByteArray> saved = sharedOf(out, QStringLiteral("ann"));
    second = 10;
    for (const Row& row : rows) {
        const QString name =
            stamp(second++) + QLatin1Char(' ') + QString::fromLatin1(row.id) + QStringLiteral(".bin");
        EXPECT_EQ(saved.contains(name), row.saved) << row.id;
        EXPECT_EQ(result.err.contains(name + QStringLiteral(": in the export it is a sparse file")),
                  !row.saved)
            << row.id << ": " << result.err.toStdString();
    }
}
#endif

TEST_F(SharedFilesRun, ADiskThatFillsHalfWayThroughALargeFileStopsTheFilesAfterIt) {
    const MediaObject before = file("before", Kind::Picture, QString(), 1000);
    const MediaObject large = file("large", Kind::Video, QString(), 5 * (qint64(1) << 20) + 17);
    const MediaObject after = file("after", Kind::Picture, QString(), 1000);
    const QString history =
        tar({message("8:ann", "2021-08-31T13:42:10Z", before, QStringLiteral("before.jpg")),
             message("8:ann", "2021-08-31T13:42:11Z", large, QStringLiteral("large.mp4")),
             message("8:bob", "2021-08-31T13:42:12Z", after, QStringLiteral("after.jpg"))});
    FakeFileSystem files;
    // The copies' appends, a piece each: the first file's, then three pieces of the large one.
    files.failNamesStarting = QStringLiteral(".parlorix-copy.");
    files.failNamedFrom = 4;
#ifdef Q_OS_WIN
    files.appendError = 112; // ERROR_DISK_FULL
#else
    files.appendError = ENOSPC;
#endif
    const QString out = path(QStringLiteral("out"));
    const CliResult result = run(history, out, {}, &files);
    EXPECT_EQ(result.status, 2);
    const QString folder = QDir::toNativeSeparators(out + QStringLiteral("/Shared files/ann"));
    EXPECT_EQ(
        result.errLines(),
        (QStringList{
            QStringLiteral("parlorix-cli: These shared files were not saved:"),
            QStringLiteral("parlorix-cli: not saved: ") + folder + QDir::separator() + stamp(11) +
                QStringLiteral(" large.mp4: the disk is full"),
            QStringLiteral("parlorix-cli: The export stopped because it cannot write into the folder '") +
                folder +
                QStringLiteral("': the disk is full. The shared files it had not yet saved were "
                               "not saved; the transcripts are in place."),
            QStringLiteral("parlorix-cli: Done.")}));
    // What was in place stays, the staged copy is gone, and nothing after it was saved.
    EXPECT_EQ(sharedOf(out, QStringLiteral("ann")),
              (QMap<QString, QByteArray>{
                  {stamp(10) + QStringLiteral(" before.jpg"), SharedExport::bytesOf(before)}}));
    EXPECT_FALSE(QFileInfo::exists(out + QStringLiteral("/Shared files/bob")));
    EXPECT_TRUE(QFileInfo::exists(out + QStringLiteral("/ann.txt")));
    EXPECT_TRUE(QFileInfo::exists(out + QStringLiteral("/bob.txt")));
}

#ifndef Q_OS_WIN
TEST_F(SharedFilesRun, FilesAreNeverWrittenThroughALinkInPlaceOfTheirFolders) {
    const QString history = tar({message("8:ann", "2021-08-31T13:42:10Z",
                                         file("a", Kind::Picture, QString(), 10), QStringLiteral("a.jpg")),
                                 message("8:bob", "2021-08-31T13:42:11Z",
                                         file("b", Kind::Picture, QString(), 10), QStringLiteral("b.jpg"))});
    struct Row {
        const char* what;
        const char* link; // below the output folder, and refused
    };
    const Row rows[] = {
        {"Shared files", "Shared files"},
        {"a contact's folder", "Shared files/ann"},
    };
    for (const Row& row : rows) {
        QTemporaryDir elsewhere;
        const QString out = path(QString::fromLatin1(row.what));
        QDir().mkpath(out + QStringLiteral("/Shared files"));
        QDir(out).rmdir(QStringLiteral("Shared files/ann"));
        if (QString::fromLatin1(row.link) == QLatin1String("Shared files"))
            QDir(out).rmdir(QStringLiteral("Shared files"));
        ASSERT_TRUE(QFile::link(elsewhere.path(), out + QLatin1Char('/') + QString::fromLatin1(row.link)));
        const CliResult result = run(history, out);
        EXPECT_EQ(result.status, 1) << row.what;
        const QStringList lines = result.errLines().filter(QStringLiteral("not saved: "));
        EXPECT_EQ(lines, QStringList{QStringLiteral("parlorix-cli: not saved: ") + out + QLatin1Char('/') +
                                     QString::fromLatin1(row.link) +
                                     QStringLiteral(": it is a link; shared files are saved only into a "
                                                    "folder of their own")})
            << row.what;
        EXPECT_TRUE(QDir(elsewhere.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
            << row.what;
        EXPECT_TRUE(QFileInfo(out + QLatin1Char('/') + QString::fromLatin1(row.link)).isSymLink())
            << row.what;
    }
    // Bob's files were saved where only Ann's folder was a link.
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("a contact's folder")) +
                                  QStringLiteral("/Shared files/bob/") + stamp(11) +
                                  QStringLiteral(" b.jpg")));
}
#endif

TEST_F(SharedFilesRun, StagedCopiesAKilledRunLeftAreRemovedAndNoOtherFile) {
    const QString out = path(QStringLiteral("out"));
    const QString folder = out + QStringLiteral("/Shared files/ann/");
    QDir().mkpath(folder);
    // Made as the program makes its staged copies (private; on Windows hidden), then left half-written.
    const QString leftover = StagedCopy::stagedName(QStringLiteral("abcd"));
    {
        int error = 0;
        const std::unique_ptr<OpenedFolder> opened = OpenedFolder::open(folder, false, &error);
        ASSERT_TRUE(opened);
        LocalFileSystem files;
        FileId id;
        ASSERT_EQ(files.createStaged(*opened, leftover, &id), 0);
        ASSERT_EQ(files.append(*opened, leftover, id, "half a file"), 0);
    }
    // One of that shape the program did not make, and the user's own that only looks so; one of its
    // very name the program did not make either (open to others; on Windows not hidden).
    const QString lookalike = QStringLiteral(".parlorix-copy.abcdXY.part");
    writeAll(folder + lookalike, "mine");
    const QString notMade = StagedCopy::stagedName(QStringLiteral("efgh"));
    writeAll(folder + notMade, "mine too");
    QFile::setPermissions(folder + notMade,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    const CliResult result =
        run(tar({message("8:ann", "2021-08-31T13:42:10Z", file("p", Kind::Picture, QString(), 10),
                         QStringLiteral("a.jpg"))}),
            out);
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    QStringList kept{lookalike, notMade, stamp(10) + QStringLiteral(" a.jpg")};
    kept.sort();
    EXPECT_EQ(filesBelow(folder).keys(), kept);
}

TEST_F(SharedFilesRun, TheOptionGoesWithTheExportRunOnly) {
    const CliResult result =
        runCli({QStringLiteral("export"), QStringLiteral("--out"), path(QStringLiteral("o")),
                QStringLiteral("--older"), QStringLiteral("--shared-files")});
    EXPECT_EQ(result.status, 2);
    EXPECT_TRUE(
        result.err.startsWith(QStringLiteral("parlorix-cli: '--shared-files' does not go with '--older'")));
    const CliResult contacts = runCli({QStringLiteral("contacts"), QStringLiteral("--shared-files")});
    EXPECT_EQ(contacts.status, 2);
}

TEST(SharedFilesOption, IsOffAtFirstAndRemembered) {
    {
        TestWindow w;
        Form1& form = w.load();
        auto* option = w.find<QCheckBox>("Check1");
        EXPECT_FALSE(option->isChecked());
        EXPECT_FALSE(form.saveSharedFiles());
        // By the keyboard, as it lies below the window's edge.
        option->setFocus();
        QTest::keyClick(option, Qt::Key_Space);
        EXPECT_TRUE(form.saveSharedFiles());
        EXPECT_EQ(w.settings.writes.filter(QStringLiteral("Shared")),
                  QStringList{QStringLiteral("Save Shared Files=1")});
        QTest::keyClick(option, Qt::Key_Space);
        EXPECT_EQ(w.settings.get(QStringLiteral("Save Shared Files")), QStringLiteral("0"));
    }
    TestWindow w;
    w.settings.set(QStringLiteral("Save Shared Files"), QStringLiteral("1"));
    EXPECT_TRUE(w.load().saveSharedFiles());
    EXPECT_TRUE(w.settings.writes.filter(QStringLiteral("Shared")).isEmpty());
}

TEST_F(SharedFilesRun, TheWindowSavesTheSameFilesAsTheCommandLine) {
    const QString history =
        tar({message("8:ann", "2021-08-31T13:42:10Z", file("p", Kind::Picture, QString(), 2000),
                     QStringLiteral("a.jpg")),
             message("8:bob", "2021-08-31T13:42:11Z",
                     file("m", Kind::Picture, QString(), 20, Stored::Missing), QStringLiteral("b.jpg")),
             message("8:bob", "2021-08-31T13:42:12Z", file("l", Kind::Picture, QString(), 0, Stored::Link),
                     QStringLiteral("c.jpg"))});
    const QString fromCli = path(QStringLiteral("cli"));
    run(history, fromCli);
    for (const bool option : {true, false}) {
        TestWindow w;
        w.settings.set(QStringLiteral("Save Shared Files"),
                       option ? QStringLiteral("1") : QStringLiteral("0"));
        const QString out = path(option ? QStringLiteral("window") : QStringLiteral("window without"));
        QDir().mkpath(out);
        {
            RealHistoryWindow real(w, history);
            Form1& form = real.form();
            QMetaObject::invokeMethod(&form, "PushButton2_Click");
            QMetaObject::invokeMethod(&form, "PushButton3_Click");
            form.setOutputFolderText(QDir::toNativeSeparators(out) + QDir::separator());
            QMetaObject::invokeMethod(&form, "PushButton7_Click");
        }
        if (!option) {
            EXPECT_EQ(w.boxes.texts(), QStringList{QStringLiteral("Done.")});
            EXPECT_FALSE(QFileInfo::exists(out + QStringLiteral("/Shared files")));
            continue;
        }
        EXPECT_EQ(filesBelow(out), filesBelow(fromCli));
        // The file not saved, then the one box about the files the export lacks, before "Done.".
        const QStringList boxes = w.boxes.texts();
        ASSERT_EQ(boxes.size(), 3) << boxes.join(u'|').toStdString();
        EXPECT_TRUE(boxes.at(0).startsWith(SharedFiles::notSavedHeading()));
        EXPECT_TRUE(
            boxes.at(0).endsWith(QStringLiteral("c.jpg: in the export it is a link to '/etc/passwd'")));
        EXPECT_EQ(boxes.at(1), SharedFiles::lackingMessage(1));
        EXPECT_EQ(boxes.at(2), QStringLiteral("Done."));
    }
}

} // namespace
