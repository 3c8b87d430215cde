#include "messages/SharedFile.h"

#include <gtest/gtest.h>

namespace {

TEST(SharedFile, AMessageNamesItsObjectsAndTheSendersName) {
    const QByteArray uri =
        R"(<URIObject uri="https://api.asm.skype.com/v1/objects/0-weu-d3-abc" )"
        R"(url_thumbnail="https://api.asm.skype.com/v1/objects/0-weu-d3-abc/views/imgt1">)";
    struct Row {
        const char* what;
        QByteArray markup;
        QStringList references;
        QStringList objects;
        QString name;
    };
    const Row rows[] = {
        {"its references",
         uri + R"(<OriginalName v="IMG_2041.jpg"/></URIObject>)",
         {QStringLiteral("0-weu-d3-abc")},
         {QStringLiteral("0-weu-d3-abc")},
         QStringLiteral("IMG_2041.jpg")},
        {"its uri alone",
         uri + R"(<OriginalName v="a.jpg"/></URIObject>)",
         {},
         {QStringLiteral("0-weu-d3-abc")},
         QStringLiteral("a.jpg")},
        {"a uri with a query",
         R"(<URIObject uri="https://x/objects/0-id_9?a=1"/>)",
         {},
         {QStringLiteral("0-id_9")},
         QString()},
        {"several references, once each",
         uri + "</URIObject>",
         {QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("one")},
         {QStringLiteral("one"), QStringLiteral("two")},
         QString()},
        {"references that could name a path",
         uri + "</URIObject>",
         {QStringLiteral("../../etc/passwd"), QStringLiteral("a.1.jpg"), QString()},
         {QStringLiteral("0-weu-d3-abc")},
         QString()},
        {"a uri that could", R"(<URIObject uri="https://x/objects/..%2F..%2Fx"/>)", {}, {}, QString()},
        {"a uri without objects", R"(<URIObject uri="https://example.com/o/1"/>)", {}, {}, QString()},
        {"entities in the name",
         uri + R"(<OriginalName v="a &amp; b &quot;c&quot;.jpg"/></URIObject>)",
         {QStringLiteral("0-weu-d3-abc")},
         {QStringLiteral("0-weu-d3-abc")},
         QStringLiteral("a & b \"c\".jpg")},
        {"markup broken after the name",
         uri + R"(<OriginalName v="b.jpg"/><a href=">)",
         {},
         {QStringLiteral("0-weu-d3-abc")},
         QStringLiteral("b.jpg")},
        {"no markup at all", "just text", {}, {}, QString()},
    };
    for (const Row& row : rows) {
        const SharedFile::Named named = SharedFile::namedIn(QByteArrayView(row.markup), row.references);
        EXPECT_EQ(named.objectIds, row.objects) << row.what;
        EXPECT_EQ(named.originalName, row.name) << row.what;
    }
}

TEST(SharedFile, AnObjectIdHoldsNothingThatCouldNameAPlace) {
    for (const char* id : {"0-weu-d3-5f1e2b3c", "abc_DEF-123"})
        EXPECT_TRUE(SharedFile::isObjectId(QString::fromLatin1(id))) << id;
    for (const char* id : {"", ".", "..", "a/b", "a\\b", "a.1", "a b", "a:b", "ä"})
        EXPECT_FALSE(SharedFile::isObjectId(QString::fromUtf8(id))) << id;
    EXPECT_FALSE(SharedFile::isObjectId(QString(201, QLatin1Char('a'))));
}

} // namespace
