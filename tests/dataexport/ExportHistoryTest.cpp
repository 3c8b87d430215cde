#include "skype/HistoryFiles.h"

#include "dataexport/ExportHistory.h"
#include "skype/HistorySource.h"

#include "base/Failure.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTimeZone>

#include <archive.h>
#include <archive_entry.h>

#include <clocale>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace {

const QByteArray kExport = R"({
  "userId": "8:me", "exportDate": "2020-07-06T20:55",
  "conversations": [
    { "id": "48:calllogs", "displayName": null, "MessageList": [
        { "id": "1", "originalarrivaltime": "2020-07-06T17:20:30Z", "messagetype": "RichText",
          "content": "hidden", "from": "8:x" } ] },
    { "id": "8:alice", "displayName": "Alice", "properties": {}, "threadProperties": null, "MessageList": [
        { "id": "1594056032374", "displayName": "Alice", "originalarrivaltime": "2020-07-06T17:20:32.374Z",
          "messagetype": "RichText", "content": "let&apos;s go <ss type=\"smile\">:)</ss>", "from": "8:alice",
          "properties": null },
        { "id": "1594056030609", "displayName": null, "originalarrivaltime": "2020-07-06T17:20:30.609Z",
          "messagetype": "Text", "content": "hi\nthere", "from": "8:me", "properties": null },
        { "id": "1594056030610", "displayName": "", "originalarrivaltime": "2020-07-06T17:20:30.609Z",
          "messagetype": "Event/Call", "content": "<partlist type=\"missed\" alt=\"\"></partlist>", "from": "8:me" },
        { "id": "1594056031000", "displayName": "Alice", "originalarrivaltime": "2020-07-06T17:20:31Z",
          "messagetype": "RichText", "content": "deleted", "from": "8:alice",
          "properties": { "deletetime": "1594056040000" } },
        { "id": "1594056031500", "displayName": "Alice", "originalarrivaltime": "2020-07-06T17:20:31.5Z",
          "messagetype": "RichText", "content": "server copy", "from": "8:alice",
          "properties": { "isserversidegenerated": true } },
        { "id": "1594056029000", "displayName": "Alice", "originalarrivaltime": "2020-07-06T17:20:29.1Z",
          "messagetype": "ThreadActivity/AddMember", "content": "<addmember/>", "from": "8:alice" },
        { "id": "1594056033000", "displayName": "Alice", "originalarrivaltime": "2020-07-06T17:20:33.000Z",
          "messagetype": "RichText/Files", "content": "<files><file>a.pdf</file></files>", "from": "8:alice" },
        { "id": "1594056034000", "displayName": "Alice", "originalarrivaltime": "2020-07-06T17:20:34Z",
          "messagetype": "RichText/Media_Video", "content": "<URIObject><OriginalName v=\"v.mp4\"/></URIObject>",
          "from": "8:alice" },
        { "id": "1594056035000", "displayName": "Alice", "originalarrivaltime": "2020-07-06T17:20:35Z",
          "messagetype": "RichText/Contacts", "content": "<contacts><c s=\"bob\"/></contacts>", "from": "8:alice" }
    ] },
    { "id": "19:abc@thread.skype", "displayName": "Group", "threadProperties": { "members": "[\"8:a\",{\"id\":\"8:b\"}]" },
      "MessageList": [
        { "id": "5", "displayName": null, "originalarrivaltime": "2019-01-01T00:00:00Z", "messagetype": "RichText",
          "content": "<at id=\"8:bob\">Bob</at> hi", "from": "8:live:.cid.1a2b" } ] },
    { "id": "8:live:.cid.1a2b", "displayName": "Cid", "MessageList": [] },
    { "id": "28:bot", "displayName": "Bot", "MessageList": null },
    { "id": "19:def@thread.v2", "MessageList": [
        { "id": null, "displayName": 42, "originalarrivaltime": null, "messagetype": "RichText",
          "content": null, "from": null },
        { "id": 7, "displayName": null, "originalarrivaltime": "bad", "messagetype": "RichText",
          "content": "x", "from": "8:zed" } ] },
    "not a conversation"
  ]
})";

QStringList lines(const std::vector<HistoryMessage>& messages) {
    QStringList out;
    for (const HistoryMessage& m : messages)
        out.append(m.senderName() + QStringLiteral(": ") + m.body());
    return out;
}

void expectTheExport(ExportHistory& history) {
    EXPECT_EQ(history.contacts(), (QStringList{QStringLiteral("alice"), QStringLiteral("bot"),
                                               QStringLiteral("live:.cid.1a2b")}));
    const auto& chats = history.chats();
    ASSERT_EQ(chats.size(), 5u);
    EXPECT_EQ(chats[0].name, QStringLiteral("8:alice"));
    EXPECT_EQ(chats[0].partner, QStringLiteral("alice"));
    EXPECT_EQ(chats[1].partner, QString());
    EXPECT_EQ(chats[2].partner, QStringLiteral("live:.cid.1a2b"));
    EXPECT_EQ(chats[3].partner, QStringLiteral("bot"));
    EXPECT_EQ(chats[4].partner, QString());

    EXPECT_EQ(
        lines(history.messages(0).messages),
        (QStringList{QStringLiteral("Alice: Sent contacts: bob"), QStringLiteral("Alice: Shared file: v.mp4"),
                     QStringLiteral("Alice: Sent files: a.pdf"), QStringLiteral("Alice: let's go :)"),
                     QStringLiteral("me: Call missed"), QStringLiteral("me: hi\r\nthere")}));
    // The earliest message of any kind, the event included.
    EXPECT_EQ(history.timeStamp(0),
              QDateTime(QDate(2020, 7, 6), QTime(17, 20, 29), QTimeZone::utc()).toSecsSinceEpoch());
    EXPECT_EQ(lines(history.messages(1).messages), QStringList{QStringLiteral("live:.cid.1a2b: @Bob hi")});
    EXPECT_TRUE(history.messages(2).messages.empty());
    EXPECT_EQ(history.timeStamp(2), std::nullopt);
    EXPECT_TRUE(history.messages(3).messages.empty());
    EXPECT_EQ(lines(history.messages(4).messages), QStringList{QStringLiteral("zed: x")});
}

TEST(ExportHistory, ReadsMessagesJson) {
    HistoryFiles files;
    ExportHistory history(files.file("messages.json", kExport), ExportHistory::Container::Json);
    expectTheExport(history);
}

TEST(ExportHistory, ReadsMessagesJsonInsideTheTar) {
    HistoryFiles files;
    const QString tar = files.tar("export.tar", {{"endpoints.json", "{}"}, {"./messages.json", kExport}});
    ExportHistory history(tar, ExportHistory::Container::Tar);
    expectTheExport(history);
}

TEST(ExportHistory, AByteOrderMarkMayStandFirst) {
    HistoryFiles files;
    ExportHistory history(files.file("messages.json", "\xEF\xBB\xBF" + kExport),
                          ExportHistory::Container::Json);
    expectTheExport(history);
}

TEST(ExportHistory, InvalidUtf8BecomesReplacementCharacters) {
    HistoryFiles files;
    QByteArray json = R"({"conversations":[{"id":"8:ann","MessageList":[{"id":"1","displayName":"A)";
    json += "\xff";
    json += R"(","originalarrivaltime":"2020-01-01T00:00:00Z","messagetype":"RichText","content":"caf)";
    json += "\xc3";
    json += R"(","from":"8:ann"}]}]})";
    ExportHistory history(files.file("messages.json", json), ExportHistory::Container::Json);
    EXPECT_EQ(lines(history.messages(0).messages), QStringList{QStringLiteral("A\uFFFD: caf\uFFFD")});
}

// Whole seconds, the fraction dropped: a header shown as 7:37:46 PM must fall inside a range that
// ends at 7:37:46 PM.
TEST(ExportHistory, TimesAreWholeSecondsWithTheFractionDropped) {
    const qint64 base = QDateTime(QDate(2020, 7, 6), QTime(17, 20, 30), QTimeZone::utc()).toSecsSinceEpoch();
    EXPECT_EQ(ExportHistory::parseTime("2020-07-06T17:20:30Z"), base);
    EXPECT_EQ(ExportHistory::parseTime("2020-07-06T17:20:30.6Z"), base);
    EXPECT_EQ(ExportHistory::parseTime("2020-07-06T17:20:30.61Z"), base);
    EXPECT_EQ(ExportHistory::parseTime("2020-07-06T17:20:30.999Z"), base);
    EXPECT_EQ(ExportHistory::parseTime("2020-07-06T17:20:30.6091Z"), base);
    for (const char* bad : {"", "2020-07-06", "2020-07-06T17:20:30", "2020-13-06T17:20:30Z",
                            "2020-07-06T17:20:30.Z", "2020-07-06T17:20:30Zjunk", "2020-07-06 17:20:30Z"})
        EXPECT_EQ(ExportHistory::parseTime(bad), std::nullopt) << bad;
}

TEST(ExportHistory, BadExportsFailWithTheirPathAndReason) {
    HistoryFiles files;
    const struct {
        QString path;
        ExportHistory::Container container;
    } cases[] = {
        {files.file("truncated.json", kExport.left(kExport.size() / 2)), ExportHistory::Container::Json},
        {files.file("malformed.json", R"({"conversations":[{"id":"8:a","MessageList":[{"id":}]}]})"),
         ExportHistory::Container::Json},
        {files.file("array.json", "[1,2,3]"), ExportHistory::Container::Json},
        {files.file("noconversations.json", R"({"userId":"8:me"})"), ExportHistory::Container::Json},
        {files.file("wrongtype.json", R"({"conversations":"none"})"), ExportHistory::Container::Json},
        {files.tar("nomessages.tar", {{"endpoints.json", "{}"}}), ExportHistory::Container::Tar},
        {files.file("nottar.tar", QByteArray(2000, 'x')), ExportHistory::Container::Tar},
        {files.path("missing.json"), ExportHistory::Container::Json},
        {files.file("badescape.json", R"({"conversations":[{"id":"8:a","MessageList":[{"content":"\x"}]}]})"),
         ExportHistory::Container::Json},
        // Ids and names longer than any Skype gives, which would cost gigabytes as text.
        {files.file("longid.json",
                    R"({"conversations":[{"id":"8:)" + QByteArray(1 << 20, 'a') + R"(","MessageList":[]}]})"),
         ExportHistory::Container::Json},
        {files.file("longname.json", R"({"conversations":[{"id":"8:a","displayName":")" +
                                         QByteArray(1 << 20, 'a') + R"(","MessageList":[]}]})"),
         ExportHistory::Container::Json},
    };
    for (const auto& c : cases) {
        try {
            ExportHistory history(c.path, c.container);
            for (size_t chat = 0; chat < history.chats().size(); ++chat)
                history.messages(chat);
            ADD_FAILURE() << "no failure for " << c.path.toStdString();
        } catch (const Failure& failure) {
            EXPECT_TRUE(failure.description().startsWith(QLatin1Char('\'') + c.path +
                                                         QLatin1String("' is not a Skype history: ")))
                << failure.description().toStdString();
        }
    }
}

// A tar whose only member, messages.json, has a header written by hand: `size` is the size field
// as stored (octal digits, or base-256 bytes), `type` the type flag.
QByteArray handMadeMember(const QByteArray& name, const QByteArray& size, char type,
                          const QByteArray& content) {
    QByteArray header(512, '\0');
    const auto put = [&](int at, const QByteArray& field) { header.replace(at, field.size(), field); };
    put(0, name);
    put(100, "0000644");
    put(108, "0000000");
    put(116, "0000000");
    put(124, size);
    put(136, "00000000000");
    put(148, "        ");
    header[156] = type;
    put(257, QByteArray("ustar\0"
                        "00",
                        8));
    int sum = 0;
    for (const char c : header)
        sum += static_cast<unsigned char>(c);
    put(148, QByteArray::number(sum, 8).rightJustified(6, '0') + QByteArray("\0 ", 2));
    QByteArray data = content;
    data.append(QByteArray((512 - data.size() % 512) % 512, '\0'));
    return header + data;
}

QByteArray handMadeTar(const QByteArray& size, char type, const QByteArray& content) {
    return handMadeMember("messages.json", size, type, content) + QByteArray(1024, '\0');
}

QByteArray octalSize(qsizetype size) {
    return QByteArray::number(static_cast<qulonglong>(size), 8).rightJustified(11, '0');
}

QString failureOf(const QString& path, ExportHistory::Container container) {
    try {
        ExportHistory history(path, container);
        for (size_t chat = 0; chat < history.chats().size(); ++chat)
            history.messages(chat);
    } catch (const Failure& failure) {
        return failure.description();
    }
    return QString();
}

// A 2.5 KB archive may claim a member of 64 GiB or more: refused with its reason, never read.
TEST(ExportHistory, AnArchiveClaimingAHugeMessagesJsonIsRefused) {
    HistoryFiles files;
    const QByteArray json = R"({"conversations":[]})";
    QByteArray base256(12, '\0');
    base256[0] = static_cast<char>(0x80);
    base256[7] = 0x10; // 64 GiB
    QByteArray largest = QByteArray(4, '\0') + QByteArray(8, static_cast<char>(0xFF));
    largest[0] = static_cast<char>(0x80);
    largest[4] = 0x7F; // the largest size a signed 64-bit count holds
    for (const QByteArray& size : {QByteArray("77777777777"), base256, largest}) {
        const QString tar = files.file("huge.tar", handMadeTar(size, '0', json));
        const QString failure = failureOf(tar, ExportHistory::Container::Tar);
        EXPECT_TRUE(failure.startsWith(QLatin1Char('\'') + tar + QLatin1String("' is not a Skype history: ")))
            << failure.toStdString();
    }
    // The same header with an honest size reads.
    const QString honest = files.file("honest.tar", handMadeTar(octalSize(json.size()), '0', json));
    EXPECT_EQ(failureOf(honest, ExportHistory::Container::Tar), QString());
}

TEST(ExportHistory, MessagesJsonThatIsALinkOrAFolderIsNamedSo) {
    HistoryFiles files;
    for (const auto& [type, kind] : {std::pair{'2', "a link"}, std::pair{'5', "a folder"}}) {
        const QString tar = files.file("odd.tar", handMadeTar("00000000000", type, QByteArray()));
        EXPECT_TRUE(failureOf(tar, ExportHistory::Container::Tar)
                        .endsWith(QLatin1String("messages.json in the archive is not a file but ") +
                                  QLatin1String(kind)))
            << failureOf(tar, ExportHistory::Container::Tar).toStdString();
    }
}

TEST(ExportHistory, MessagesJsonSavedAsUtf16IsNamedSo) {
    HistoryFiles files;
    const QString text = QString::fromUtf8(kExport);
    const QByteArray utf16(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    const QString tar = files.tar("utf16.tar", {{"messages.json", "\xFF\xFE" + utf16}});
    EXPECT_TRUE(failureOf(tar, ExportHistory::Container::Tar).contains(QLatin1String("saved as UTF-16")));
    const QString bare = files.tar("bare16.tar", {{"messages.json", utf16}});
    EXPECT_TRUE(failureOf(bare, ExportHistory::Container::Tar).contains(QLatin1String("saved as UTF-16")));
}

TEST(ExportHistory, MessagesJsonOfNulBytesIsDamagedNotUtf16) {
    HistoryFiles files;
    // Not "nul.tar": on Windows that names the NUL device, which keeps nothing written to it.
    const QString tar =
        files.tar("zeros.tar", {{"messages.json", QByteArray(QByteArray("{") + QByteArray(1 << 20, '\0'))}});
    EXPECT_TRUE(
        failureOf(tar, ExportHistory::Container::Tar)
            .endsWith(QLatin1String("messages.json is damaged: it holds NUL bytes where its text should be")))
        << failureOf(tar, ExportHistory::Container::Tar).toStdString();
    EXPECT_EQ(ExportHistory::encodingOf(std::string_view("{\0\0\0", 4)), ExportHistory::Encoding::NulBytes);
    EXPECT_EQ(ExportHistory::encodingOf(std::string_view("{\0\"\0", 4)), ExportHistory::Encoding::Utf16);
    EXPECT_EQ(ExportHistory::encodingOf(std::string_view("\0{\0 ", 4)), ExportHistory::Encoding::Utf16);
    EXPECT_EQ(ExportHistory::encodingOf(std::string_view("{\"a\": 1}")), ExportHistory::Encoding::Utf8);
}

// "\ud83d" alone is valid JSON but no character: it becomes U+FFFD, and its conversation reads.
TEST(ExportHistory, LoneSurrogateEscapesBecomeReplacementCharacters) {
    HistoryFiles files;
    const QByteArray json = R"({"conversations":[{"id":"8:ann","MessageList":[
        {"id":"1","displayName":"A\ud83d","originalarrivaltime":"2020-01-01T00:00:00Z","messagetype":"RichText",
         "content":"x\udc00y \ud83d\ude00 \\ud83d \\\ud83d\ud83d","from":"8:ann"}]}]})";
    ExportHistory history(files.file("messages.json", json), ExportHistory::Container::Json);
    EXPECT_EQ(lines(history.messages(0).messages),
              QStringList{QStringLiteral("A\uFFFD: x\uFFFDy \U0001F600 \\ud83d \\\uFFFD\uFFFD")});
}

// Every escape of JSON, in every text a message has: read as the parser reads them, again and again
// (they are decoded where they stand in the reader's copy of the conversation), from a file and from
// memory. A name of nearly a mebibyte is read; an id or a name beyond it is damage.
TEST(ExportHistory, EscapesReadAsTheParserReadsThem) {
    HistoryFiles files;
    const QByteArray json = R"({"conversations":[{"id":"8:a\u006En","MessageList":[
        {"id":"1","displayName":"A\"n\\n\/","originalarrivaltime":"2020-01-01T00:00:0\u0030Z",
         "messagetype":"Rich\u0054ext","content":"\b\f\n\r\t \u00e9\u20AC\ud83d\ude00 \\n &amp; \u003cb\u003ebold\u003c/b\u003e",
         "from":"8:ann"},
        {"id":"2","displayName":"","originalarrivaltime":"2020-01-01T00:00:01Z","messagetype":"Text",
         "content":"plain","from":"8:b\u006fb"}]}]})";
    const QString first = QStringLiteral("A\"n\\n/: \b\f\r\n\r\n\t \u00E9\u20AC\U0001F600 \\n & bold");
    const QString second = QStringLiteral("bob: plain");
    const std::unique_ptr<ExportHistory> histories[] = {
        std::make_unique<ExportHistory>(files.file("messages.json", json), ExportHistory::Container::Json),
        std::make_unique<ExportHistory>(QStringLiteral("memory"), json)};
    for (const std::unique_ptr<ExportHistory>& history : histories) {
        ASSERT_EQ(history->chats().size(), 1u);
        EXPECT_EQ(history->chats()[0].partner, QStringLiteral("ann"));
        for (int time = 0; time < 2; ++time)
            EXPECT_EQ(lines(history->messages(0).messages), (QStringList{second, first}));
    }
    const QByteArray longest = R"({"conversations":[{"id":"8:a","displayName":")" +
                               QByteArray((1 << 20) - 2, 'n') + R"(","MessageList":[]}]})";
    EXPECT_EQ(ExportHistory(QStringLiteral("memory"), longest).chats().at(0).topic.size(), (1 << 20) - 2);
    const QString tooLong =
        files.file("long.json", R"({"conversations":[{"id":"8:a","MessageList":[]},{"id":"8:)" +
                                    QByteArray(1 << 20, 'a') + R"(","MessageList":[]}]})");
    EXPECT_EQ(
        failureOf(tooLong, ExportHistory::Container::Json),
        QStringLiteral("'%1' is not a Skype history: messages.json is damaged: the id of its conversation 2 "
                       "is 1048580 bytes long, where Skype's are a few hundred")
            .arg(tooLong));
}

// A folder whose name the ANSI code page of Windows cannot spell: the archive is opened by its
// wide path there.
TEST(ExportHistory, ATarInAFolderWithLettersOfAnyScriptIsRead) {
    HistoryFiles files;
    QDir().mkpath(files.path("Историяé 你好"));
    const QString tar = files.tar("Историяé 你好/export.tar", {{"messages.json", kExport}});
    ExportHistory history(tar, ExportHistory::Container::Tar);
    expectTheExport(history);
}

// Makes messages long enough that a few thousand fill megabytes.
const QByteArray filler(300, 'f');

// An export whose conversations hold the given numbers of messages, each message naming its
// conversation and place, and a long filler. The first message's sender ends in a lone surrogate escape and
// the last one's text in a byte that is no UTF-8: both are mended within the conversation's own messages.
QByteArray numberedExport(const std::vector<int>& counts) {
    QByteArray json = R"({"userId":"8:me","exportDate":"2020-07-06T20:55","conversations":[)";
    const qint64 base = QDateTime(QDate(2020, 1, 1), QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch();
    for (size_t c = 0; c < counts.size(); ++c) {
        const QByteArray n = QByteArray::number(static_cast<qulonglong>(c));
        json +=
            QByteArray(c ? "," : "") + R"({"id":"8:user)" + n + R"(","displayName":"User","MessageList":[)";
        for (int m = 0; m < counts[c]; ++m) {
            const QByteArray time =
                QDateTime::fromSecsSinceEpoch(base + m, QTimeZone::utc()).toString(Qt::ISODate).toLatin1();
            json += QByteArray(m ? "," : "") + R"({"id":")" + QByteArray::number(m) +
                    R"(","displayName":"U)" + n + (m == 0 ? R"(\ud83d)" : "") +
                    R"(","originalarrivaltime":")" + time + R"(","messagetype":"RichText","content":"c)" + n +
                    " m" + QByteArray::number(m) + " \xd0\xbf\xd1\x80\xd0\xb8 " + filler +
                    (m == counts[c] - 1 ? "\xff" : "") + R"(","from":"8:user)" + n + R"("})";
        }
        json += "]}";
    }
    return json + "]}";
}

QStringList numberedLines(size_t c, int count) {
    QStringList out;
    for (int m = count - 1; m >= 0; --m)
        out.append(QStringLiteral("U%1%2: c%1 m%3 \u043f\u0440\u0438 %4%5")
                       .arg(c)
                       .arg(m == 0 ? QStringLiteral("\uFFFD") : QString())
                       .arg(m)
                       .arg(QString::fromLatin1(filler))
                       .arg(m == count - 1 ? QStringLiteral("\uFFFD") : QString()));
    return out;
}

// A tar as libarchive writes it, member names given in UTF-8 whatever the locale, gzipped or not.
QString writeTar(const QString& path, const QList<QPair<QByteArray, QByteArray>>& members, bool gzip) {
    archive* tar = archive_write_new();
    EXPECT_EQ(archive_write_set_format_pax_restricted(tar), ARCHIVE_OK);
    if (gzip) {
        EXPECT_EQ(archive_write_add_filter_gzip(tar), ARCHIVE_OK);
    }
    EXPECT_EQ(archive_write_open_filename(tar, QFile::encodeName(path).constData()), ARCHIVE_OK);
    for (const auto& [name, content] : members) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname_utf8(entry, name.constData());
        archive_entry_set_size(entry, content.size());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        // A warning: the name cannot be spelt in the locale, and is written in UTF-8 alone.
        EXPECT_GE(archive_write_header(tar, entry), ARCHIVE_WARN);
        archive_entry_free(entry);
        EXPECT_EQ(archive_write_data(tar, content.constData(), static_cast<size_t>(content.size())),
                  content.size());
    }
    EXPECT_EQ(archive_write_close(tar), ARCHIVE_OK);
    archive_write_free(tar);
    return path;
}

// Whether this libarchive compresses and decompresses gzip itself. One built without zlib, as the
// Windows build's is (its exports are plain tars), would hand gzip to a "gzip" program Windows lacks.
bool libarchiveHasGzip() {
    archive* writer = archive_write_new();
    const bool writes = archive_write_add_filter_gzip(writer) == ARCHIVE_OK;
    archive_write_free(writer);
    archive* reader = archive_read_new();
    const bool reads = archive_read_support_filter_gzip(reader) == ARCHIVE_OK;
    archive_read_free(reader);
    return writes && reads;
}

// Message lists of every size, from one message to one of several MiB, lying across the pages of
// the mapping, the steps in which the scan lets go of it and the sizes of buffer a reader keeps
// between conversations: each reads the same from messages.json, from a tar where its data is not
// page aligned, from a gzipped tar and from memory, also by readers on two threads at once.
TEST(ExportHistory, MessageListsOfAnySizeAndPlaceReadTheSameFromEverySource) {
    HistoryFiles files;
    const std::vector<int> counts = {1, 10000, 2, 600, 300, 1, 1500, 3, 25, 800};
    const QByteArray json = numberedExport(counts);
    ASSERT_GT(json.size(), 5 << 20);
    const QString tar = files.tar(
        "export.tar",
        {{"endpoints.json", QByteArray(700, 'e')}, {"messages.json", json}, {"media/after.json", "{}"}});
    const bool gzip = libarchiveHasGzip();
#ifndef Q_OS_WIN
    EXPECT_TRUE(gzip) << "libarchive without gzip";
#endif
    const QString gzipped = gzip ? writeTar(files.path("export.tar.gz"),
                                            {{"endpoints.json", "{}"}, {"messages.json", json}}, true)
                                 : QString();
    const auto expectAll = [&](History& history, const char* what) {
        ASSERT_EQ(history.chats().size(), counts.size()) << what;
        for (size_t c = 0; c < counts.size(); ++c) {
            EXPECT_EQ(history.chats()[c].partner, QStringLiteral("user%1").arg(c)) << what;
            const QStringList got = lines(history.messages(c).messages);
            const QStringList expected = numberedLines(c, counts[c]);
            ASSERT_EQ(got.size(), expected.size()) << what << " " << c;
            EXPECT_TRUE(got == expected) << what << " " << c << ": " << got.first().toStdString();
        }
    };
    ExportHistory fromJson(files.file("messages.json", json), ExportHistory::Container::Json);
    expectAll(fromJson, "messages.json");
    ExportHistory fromTar(tar, ExportHistory::Container::Tar);
    expectAll(fromTar, "tar");
    if (gzip) {
        ExportHistory fromGzip(gzipped, ExportHistory::Container::Tar);
        expectAll(fromGzip, "gzipped tar");
        // Named as the user names it, a gzipped tar is found to be an archive too.
        const std::unique_ptr<History> found = HistorySource::open(HistorySource::identify(gzipped));
        expectAll(*found, "gzipped tar, as found");
    }
    ExportHistory fromMemory(QStringLiteral("memory"), json);
    expectAll(fromMemory, "memory");

    // Readers share the one open file.
    std::unique_ptr<History> a = fromTar.reader();
    std::unique_ptr<History> b = fromTar.reader();
    std::vector<QStringList> byA(counts.size()), byB(counts.size());
    std::thread other([&] {
        for (size_t c = counts.size(); c-- > 0;)
            byB[c] = lines(b->messages(c).messages);
    });
    for (size_t c = 0; c < counts.size(); ++c)
        byA[c] = lines(a->messages(c).messages);
    other.join();
    for (size_t c = 0; c < counts.size(); ++c) {
        EXPECT_TRUE(byA[c] == numberedLines(c, counts[c])) << c;
        EXPECT_TRUE(byB[c] == numberedLines(c, counts[c])) << c;
    }
}

// The data of a tar member follows its header at any multiple of 512 bytes, behind any members
// before it, a long name's extra header included.
TEST(ExportHistory, MessagesJsonReadsWhereverItStandsInTheTar) {
    HistoryFiles files;
    const QByteArray longName = "media/" + QByteArray(150, 'n') + ".jpg";
    const struct {
        QList<QPair<QByteArray, QByteArray>> before;
        qsizetype dataAt;
    } layouts[] = {
        {{}, 512},
        {{{"endpoints.json", "{}"}}, 1536},
        {{{"a", QByteArray(3072, 'a')}}, 4096},
        {{{"a", QByteArray(3073, 'a')}}, 4608},
        {{{"media/messages.json", "[]"}, {"b", QByteArray(5000, 'b')}}, 7168},
        {{{longName, "x"}}, -1},
    };
    for (const auto& layout : layouts) {
        QList<QPair<QByteArray, QByteArray>> members = layout.before;
        members.append(qMakePair(QByteArray("messages.json"), kExport));
        members.append(qMakePair(QByteArray("endpoints.json"), QByteArray("{}")));
        const QString tar = files.tar("export.tar", members);
        QFile written(tar);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        const qsizetype at = written.readAll().indexOf(kExport);
        if (layout.dataAt >= 0)
            EXPECT_EQ(at, layout.dataAt);
        else
            EXPECT_NE(at % 4096, 0);
        ExportHistory history(tar, ExportHistory::Container::Tar);
        expectTheExport(history);
    }
}

// A member name the locale cannot spell (on Windows, letters outside the ANSI code page) is no
// reason to give up the archive: only messages.json is needed.
TEST(ExportHistory, MembersWhoseNamesTheLocaleCannotSpellArePassedOver) {
    HistoryFiles files;
    // The name in a pax header, in UTF-8, as libarchive and GNU tar write it.
    const QByteArray record = "path=media/\xd1\x84\xd0\xbe\xd1\x82\xd0\xbe \xe4\xbd\xa0\xe5\xa5\xbd.jpg\n";
    const QByteArray pax = QByteArray::number(record.size() + 3) + ' ' + record;
    ASSERT_EQ(pax.size(), record.size() + 3);
    const QString tar = files.file(
        "export.tar", handMadeMember("PaxHeader/photo", octalSize(pax.size()), 'x', pax) +
                          handMadeMember("photo.jpg", octalSize(1), '0', "x") +
                          handMadeMember("messages.json", octalSize(kExport.size()), '0', kExport) +
                          QByteArray(1024, '\0'));
    const std::string ctype = std::setlocale(LC_CTYPE, nullptr);
    std::setlocale(LC_CTYPE, "C");
    QString failure;
    try {
        ExportHistory history(tar, ExportHistory::Container::Tar);
        std::setlocale(LC_CTYPE, ctype.c_str());
        expectTheExport(history);
    } catch (const Failure& error) {
        failure = error.description();
    }
    std::setlocale(LC_CTYPE, ctype.c_str());
    EXPECT_EQ(failure, QString());
}

QString cutShortDescription(const QString& path) {
    return QStringLiteral(
               "'%1' changed while it was read: it is shorter now than when it was opened. Try again "
               "once it is written in full.")
        .arg(path);
}

// Cut short after it was opened, the file fails with its reason, the conversations that lay in the
// part it still holds as well (what stands there may be another export's, written over it), never
// touching memory the file no longer backs.
TEST(ExportHistory, AFileCutShortAfterItWasOpenedFailsWithItsReason) {
    HistoryFiles files;
    const std::vector<int> counts = {10, 2000, 10, 2000};
    const QByteArray json = numberedExport(counts);
    const QString plain = files.file("messages.json", json);
    const QString tar = files.tar("export.tar", {{"endpoints.json", "{}"}, {"messages.json", json}});
    for (const QString& path : {plain, tar}) {
        ExportHistory history(path,
                              path == tar ? ExportHistory::Container::Tar : ExportHistory::Container::Json);
        std::unique_ptr<History> reader = history.reader();
        ASSERT_TRUE(QFile::resize(path, json.indexOf(R"("8:user1")") + 5000 + (path == tar ? 1536 : 0)));
        for (History* which : {static_cast<History*>(&history), reader.get()}) {
            for (size_t chat : {0, 1, 2, 3}) {
                try {
                    which->messages(chat);
                    ADD_FAILURE() << "no failure for chat " << chat << " of " << path.toStdString();
                } catch (const Failure& failure) {
                    EXPECT_EQ(failure.description(), cutShortDescription(path));
                }
            }
        }
        ASSERT_TRUE(QFile::resize(path, 0));
        EXPECT_THROW(history.messages(0), Failure);
    }
}

QString writtenToDescription(const QString& path) {
    return QStringLiteral(
               "'%1' changed while it was read: it was written to after it was opened. Try again once it "
               "is written in full.")
        .arg(path);
}

// A conversation of the one person, its message and its sender the same length for each.
QByteArray conversationOf(const char* person) {
    return QByteArray(R"({"id":"8:)") + person + R"(","displayName":")" + person +
           R"(","MessageList":[{"id":"1","displayName":")" + person +
           R"(","originalarrivaltime":"2020-01-01T00:00:00Z","messagetype":"RichText","content":"hello )" +
           person + R"(","from":"8:)" + person + R"("}]})";
}

// Another export written over the one opened, as long as it and with its conversations in another
// order, would give each chat the messages now standing where another one's stood: the run fails
// instead, as it does for a file that grew since it was opened.
TEST(ExportHistory, AFileWrittenToAfterItWasOpenedFailsWithItsReason) {
    HistoryFiles files;
    const QByteArray before =
        "{\"conversations\":[" + conversationOf("ann") + "," + conversationOf("bob") + "]}";
    const QByteArray after =
        "{\"conversations\":[" + conversationOf("bob") + "," + conversationOf("ann") + "]}";
    ASSERT_EQ(before.size(), after.size());
    // The time a new file gets may be the one the first had: the later one is set.
    const auto writtenLater = [](const QString& path) {
        QFile written(path);
        ASSERT_TRUE(written.open(QIODevice::ReadWrite));
        ASSERT_TRUE(written.setFileTime(written.fileTime(QFileDevice::FileModificationTime).addSecs(3600),
                                        QFileDevice::FileModificationTime));
    };
    for (const bool inTar : {false, true}) {
        const auto write = [&](const QByteArray& json) {
            return inTar ? files.tar("export.tar", {{"endpoints.json", "{}"}, {"messages.json", json}})
                         : files.file("messages.json", json);
        };
        const QString path = write(before);
        ExportHistory history(path, inTar ? ExportHistory::Container::Tar : ExportHistory::Container::Json);
        std::unique_ptr<History> reader = history.reader();
        ASSERT_EQ(history.chats().size(), 2u);
        EXPECT_EQ(lines(history.messages(1).messages), QStringList{QStringLiteral("bob: hello bob")});
        ASSERT_EQ(write(after), path);
        writtenLater(path);
        for (History* which : {static_cast<History*>(&history), reader.get()}) {
            for (size_t chat : {0, 1}) {
                try {
                    const QStringList got = lines(which->messages(chat).messages);
                    ADD_FAILURE() << "chat " << chat << " read as "
                                  << got.join(QLatin1Char('|')).toStdString();
                } catch (const Failure& failure) {
                    EXPECT_EQ(failure.description(), writtenToDescription(path));
                }
            }
        }
    }
    // Grown since it was opened: the same.
    const QString grown = files.file("grown.json", before);
    ExportHistory history(grown, ExportHistory::Container::Json);
    {
        QFile appended(grown);
        ASSERT_TRUE(appended.open(QIODevice::Append));
        ASSERT_EQ(appended.write(" "), 1);
    }
    writtenLater(grown);
    try {
        history.messages(0);
        ADD_FAILURE() << "no failure for a grown file";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.description(), writtenToDescription(grown));
    }
}

// The window opens the export anew for each of its buttons: one as it was gives what it gave, while
// another export written over it, as long as it and with its time set back as a copy keeps it, is
// read anew.
TEST(ExportHistory, AnExportOpenedAgainIsReadAnewWhereItChanged) {
    HistoryFiles files;
    const QByteArray before =
        "{\"conversations\":[" + conversationOf("ann") + "," + conversationOf("bob") + "]}";
    const QByteArray after =
        "{\"conversations\":[" + conversationOf("bob") + "," + conversationOf("ann") + "]}";
    for (const bool inTar : {false, true}) {
        const auto write = [&](const QByteArray& json) {
            return inTar ? files.tar("export.tar", {{"endpoints.json", "{}"}, {"messages.json", json}})
                         : files.file("messages.json", json);
        };
        // The first chat's partner, then its messages.
        const auto firstChat = [&](const QString& path) {
            ExportHistory history(path,
                                  inTar ? ExportHistory::Container::Tar : ExportHistory::Container::Json);
            return QStringList{history.chats().at(0).partner} + lines(history.messages(0).messages);
        };
        const QStringList ann{QStringLiteral("ann"), QStringLiteral("ann: hello ann")};
        const QString path = write(before);
        const QDateTime written = QFileInfo(path).lastModified();
        EXPECT_EQ(firstChat(path), ann);
        EXPECT_EQ(firstChat(path), ann) << "opened again";
        ASSERT_EQ(write(after), path);
        QFile copy(path);
        ASSERT_TRUE(copy.open(QIODevice::ReadWrite));
        ASSERT_TRUE(copy.setFileTime(written, QFileDevice::FileModificationTime));
        copy.close();
        EXPECT_EQ(firstChat(path), QStringList({QStringLiteral("bob"), QStringLiteral("bob: hello bob")}))
            << inTar;
    }
}

// An export written over the one opened, as long as it, with its times set back and the same first
// and last 64 KiB, but its conversations in another order between them: each chat is still given its
// own messages, not those now standing where another one's stood.
TEST(ExportHistory, AnExportChangedOnlyBetweenItsEdgesIsReadAnew) {
    HistoryFiles files;
    const QByteArray edge = R"({"id":"8:edge","displayName":"edge","MessageList":[{"content":")" +
                            QByteArray(80 << 10, 'x') + R"("}]})";
    const auto exportOf = [&](const char* first, const char* second) -> QByteArray {
        return "{\"conversations\":[" + edge + "," + conversationOf(first) + "," + conversationOf(second) +
               "," + edge + "]}";
    };
    const QString path = files.file("messages.json", exportOf("ann", "bob"));
    const QDateTime written = QFileInfo(path).lastModified();
    const auto secondChat = [&] {
        ExportHistory history(path, ExportHistory::Container::Json);
        return QStringList{history.chats().at(1).partner} + lines(history.messages(1).messages);
    };
    EXPECT_EQ(secondChat(), QStringList({QStringLiteral("ann"), QStringLiteral("ann: hello ann")}));
    ASSERT_EQ(files.file("messages.json", exportOf("bob", "ann")), path);
    QFile copy(path);
    ASSERT_TRUE(copy.open(QIODevice::ReadWrite));
    ASSERT_TRUE(copy.setFileTime(written, QFileDevice::FileModificationTime));
    copy.close();
    EXPECT_EQ(secondChat(), QStringList({QStringLiteral("bob"), QStringLiteral("bob: hello bob")}));
}

// Messages that stand in anything but a list (or null, for none) fail their conversation, which
// would otherwise be taken for one without messages and left out; the others read.
TEST(ExportHistory, AConversationWhoseMessagesAreNoListFails) {
    HistoryFiles files;
    const QByteArray json =
        "{\"conversations\":[" + conversationOf("ann") + "," +
        conversationOf("bob")
            .replace("\"MessageList\":[", "\"MessageList\":{\"x\":[")
            .replace("}]}", "}]}}") +
        "," + conversationOf("cid").replace("\"MessageList\":[", "\"MessageList\":7,\"x\":[") + "]}";
    ExportHistory history(files.file("messages.json", json), ExportHistory::Container::Json);
    ASSERT_EQ(history.chats().size(), 3u);
    EXPECT_EQ(lines(history.messages(0).messages), QStringList{QStringLiteral("ann: hello ann")});
    for (size_t chat : {1, 2}) {
        try {
            history.messages(chat);
            ADD_FAILURE() << "no failure for chat " << chat;
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.description(),
                      QStringLiteral("'%1' is not a Skype history: the messages of '%2' are not a list")
                          .arg(files.path("messages.json"), history.chats()[chat].name));
        }
    }
}

} // namespace
