#include "dataexport/ExportMedia.h"

#include "export/SharedExport.h"

#include "TarWriter.h"
#include "base/Failure.h"

#include <QFile>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <gtest/gtest.h>

namespace {

using State = SharedFileStore::Object::State;

QByteArray readAll(SharedFileStore::Reader& reader, qint64 piece) {
    QByteArray bytes;
    QByteArray buffer(piece, '\0');
    for (qint64 read; (read = reader.read(buffer.data(), piece)) > 0;)
        bytes += buffer.left(read);
    return bytes;
}

TEST(ExportMedia, TellsAnObjectsFileFromItsDescriptionAndItsPreview) {
    struct Row {
        const char* name;
        ExportMedia::Part part;
        const char* objectId;
        const char* extension;
    };
    const Row rows[] = {
        {"0-weu-d3-abc.json", ExportMedia::Part::Description, "0-weu-d3-abc", ""},
        {"0-weu-d3-abc.1.jpg", ExportMedia::Part::File, "0-weu-d3-abc", ".jpg"},
        {"0-weu-d3-abc.1", ExportMedia::Part::File, "0-weu-d3-abc", ""},
        {"0-weu-d3-abc.1.tar.gz", ExportMedia::Part::File, "0-weu-d3-abc", ".tar.gz"},
        {"0-weu-d3-abc.1.averyveryverylongending", ExportMedia::Part::File, "0-weu-d3-abc", ""},
        {"0-weu-d3-abc.2.jpg", ExportMedia::Part::Other, "", ""},
        {"0-weu-d3-abc.10.jpg", ExportMedia::Part::Other, "", ""},
        {"0-weu-d3-abc", ExportMedia::Part::Other, "", ""},
        {".json", ExportMedia::Part::Other, "", ""},
        {"..", ExportMedia::Part::Other, "", ""},
        {"a b.1.jpg", ExportMedia::Part::Other, "", ""},
        {"0-weu-d3-abc.1.jpg/../../x", ExportMedia::Part::Other, "", ""},
        {"0-weu-d3-abc.1.j\\..\\x", ExportMedia::Part::Other, "", ""},
        {"sub/0-weu-d3-abc.1.jpg", ExportMedia::Part::Other, "", ""},
    };
    for (const Row& row : rows) {
        QString objectId;
        QString extension;
        const ExportMedia::Part part =
            ExportMedia::partOf(QString::fromLatin1(row.name), &objectId, &extension);
        EXPECT_EQ(part, row.part) << row.name;
        if (part == ExportMedia::Part::Other)
            continue;
        EXPECT_EQ(objectId, QString::fromLatin1(row.objectId)) << row.name;
        EXPECT_EQ(extension, QString::fromLatin1(row.extension)) << row.name;
    }
    EXPECT_EQ(ExportMedia::describedName(R"({"filename": "a\nb.jpg", "contents": {}})"),
              QStringLiteral("a\nb.jpg"));
    EXPECT_EQ(ExportMedia::describedName(R"({"contents": {}, "filename": null})"), QString());
    EXPECT_EQ(ExportMedia::describedName("not json"), QString());
}

class ExportMediaFiles : public ::testing::Test {
protected:
    QString writeTar(const QList<MediaObject>& objects) {
        const QString path = dir.filePath(QStringLiteral("export.tar"));
        TarWriter tar(path);
        tar.add("messages.json", "{}");
        for (const MediaObject& object : objects)
            object.addTo(tar);
        tar.finish();
        return path;
    }
    QTemporaryDir dir;
};

TEST_F(ExportMediaFiles, ALargeFileIsReadInPiecesFromWhereItLies) {
    const MediaObject large = SharedExport::object(QStringLiteral("large"), MediaObject::Kind::Video,
                                                   QStringLiteral("clip.mp4"), 3 * (qint64(1) << 20) + 5);
    ExportMedia media(writeTar({large}), ExportText::Container::Tar);
    media.lookUp({QStringLiteral("large"), QStringLiteral("absent")});
    const SharedFileStore::Object found = media.object(QStringLiteral("large"));
    EXPECT_EQ(found.state, State::File);
    EXPECT_EQ(found.size, large.size);
    EXPECT_EQ(found.extension, QStringLiteral(".mp4"));
    EXPECT_EQ(found.describedName, QStringLiteral("clip.mp4"));
    EXPECT_EQ(media.object(QStringLiteral("absent")).state, State::Missing);
    const std::unique_ptr<SharedFileStore::Reader> reader = media.open(QStringLiteral("large"));
    EXPECT_EQ(readAll(*reader, 1 << 16), SharedExport::bytesOf(large));
}

TEST_F(ExportMediaFiles, AnArchiveWrittenToAfterItsLookUpIsNotReadAsIt) {
    const MediaObject object =
        SharedExport::object(QStringLiteral("p"), MediaObject::Kind::Picture, QString(), 70000);
    const QString path = writeTar({object});
    ExportMedia media(path, ExportText::Container::Tar);
    media.lookUp({QStringLiteral("p")});
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write(QByteArray(1024, '\0'));
    file.close();
    try {
        readAll(*media.open(QStringLiteral("p")), 4096);
        FAIL() << "read an archive that changed";
    } catch (const Failure& failure) {
        EXPECT_FALSE(failure.endsRunBecause().isEmpty());
        EXPECT_TRUE(
            failure.description().contains(QStringLiteral("changed while its shared files were read")));
    }
}

TEST_F(ExportMediaFiles, ACompressedArchiveIsNotUnpackedForItsFiles) {
#ifndef Q_OS_WIN // the Windows build reads no compression
    const QString compressed = dir.filePath(QStringLiteral("export.tar.gz"));
    archive* out = archive_write_new();
    archive_write_add_filter_gzip(out);
    archive_write_set_format_pax_restricted(out);
    ASSERT_EQ(archive_write_open_filename(out, QFile::encodeName(compressed).constData()), ARCHIVE_OK);
    for (const QByteArray& name : {QByteArray("messages.json"), QByteArray("media/p.1.jpg")}) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, name.constData());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_size(entry, 2);
        archive_write_header(out, entry);
        archive_write_data(out, "{}", 2);
        archive_entry_free(entry);
    }
    archive_write_close(out);
    archive_write_free(out);
    ExportMedia media(compressed, ExportText::Container::Tar);
    try {
        media.lookUp({QStringLiteral("p")});
        FAIL() << "looked into a compressed archive";
    } catch (const Failure& failure) {
        EXPECT_TRUE(failure.description().contains(QStringLiteral("it is a compressed archive")))
            << failure.what();
    }
#endif
}

// A tar member as its header says: a sparse file ('S'), its real size after the map of its one
// stretch of data, as GNU tar writes one.
QByteArray member(const QByteArray& name, char type, const QByteArray& content, qint64 realSize = 0) {
    QByteArray header(512, '\0');
    const auto put = [&](int at, const QByteArray& field) { header.replace(at, field.size(), field); };
    const auto octal = [](qint64 value) { return QByteArray::number(value, 8).rightJustified(11, '0'); };
    put(0, name);
    put(100, "0000644");
    put(108, "0000000");
    put(116, "0000000");
    put(124, octal(content.size()));
    put(136, "00000000000");
    put(148, "        ");
    header[156] = type;
    put(257, QByteArray("ustar  \0", 8));
    if (type == 'S') {
        put(386, octal(0));
        put(398, octal(content.size()));
        put(483, octal(realSize));
    }
    int sum = 0;
    for (const char c : header)
        sum += static_cast<unsigned char>(c);
    put(148, QByteArray::number(sum, 8).rightJustified(6, '0') + QByteArray("\0 ", 2));
    return header + content + QByteArray((512 - content.size() % 512) % 512, '\0');
}

TEST_F(ExportMediaFiles, ASparseMemberIsNotRead) {
    const QString path = dir.filePath(QStringLiteral("sparse.tar"));
    QFile tar(path);
    ASSERT_TRUE(tar.open(QIODevice::WriteOnly));
    tar.write(member("messages.json", '0', "{}") + member("media/p.1.jpg", 'S', "data", 1 << 20) +
              member("media/q.1.jpg", '0', "fine") + QByteArray(1024, '\0'));
    tar.close();
    ExportMedia media(path, ExportText::Container::Tar);
    media.lookUp({QStringLiteral("p"), QStringLiteral("q")});
    EXPECT_EQ(media.object(QStringLiteral("p")).state, State::Refused);
    EXPECT_TRUE(media.object(QStringLiteral("p")).why.contains(QStringLiteral("a sparse file")));
    EXPECT_EQ(media.object(QStringLiteral("q")).state, State::File);
    EXPECT_EQ(readAll(*media.open(QStringLiteral("q")), 2), QByteArray("fine"));
}

TEST_F(ExportMediaFiles, ADamagedOrHostileArchiveGivesOnlyTheFilesThatLieWholeInMedia) {
    const QByteArray whole = member("messages.json", '0', "{}") + member("media/a.1.jpg", '0', "aaaa");
    const QByteArray cutMember = member("media/b.1.jpg", '0', QByteArray(3000, 'b'));
    const QByteArray end(1024, '\0');
    struct Row {
        const char* what;
        QByteArray tar;
        State a, b, c; // c lies after b, or nowhere
        const char* whyC;
    };
    const Row rows[] = {
        {"whole", whole + cutMember + member("media/c.1.jpg", '0', "cc") + end, State::File, State::File,
         State::File, ""},
        {"cut short in a file's data", whole + cutMember.left(1200), State::File, State::Refused,
         State::Refused, "damaged or cut short before it"},
        {"cut short in a header", whole + cutMember.left(100), State::File, State::Refused, State::Refused,
         "damaged or cut short before it"},
        {"a header that is garbage", whole + QByteArray(512, 'x') + end, State::File, State::Refused,
         State::Refused, "damaged or cut short before it"},
        // Names that lead anywhere but media/ itself name no object; "./media/" is media/.
        {"hostile names",
         member("messages.json", '0', "{}") + member("media/../a.1.jpg", '0', "x") +
             member("/media/a.1.jpg", '0', "x") + member("media/sub/a.1.jpg", '0', "x") +
             member("media/b.1.jpg/../../c.1.jpg", '0', "x") + member("x/../media/b.1.jpg", '0', "x") +
             member("./media/c.1.jpg", '0', "cc") + end,
         State::Missing, State::Missing, State::File, ""},
    };
    for (const Row& row : rows) {
        const QString path = dir.filePath(QStringLiteral("damaged.tar"));
        QFile tar(path);
        ASSERT_TRUE(tar.open(QIODevice::WriteOnly));
        tar.write(row.tar);
        tar.close();
        ExportMedia media(path, ExportText::Container::Tar);
        media.lookUp({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
        EXPECT_EQ(media.object(QStringLiteral("a")).state, row.a) << row.what;
        EXPECT_EQ(media.object(QStringLiteral("b")).state, row.b) << row.what;
        EXPECT_EQ(media.object(QStringLiteral("c")).state, row.c) << row.what;
        EXPECT_TRUE(media.object(QStringLiteral("c")).why.contains(QString::fromLatin1(row.whyC)))
            << row.what << ": " << media.object(QStringLiteral("c")).why.toStdString();
        if (row.a == State::File) {
            EXPECT_EQ(readAll(*media.open(QStringLiteral("a")), 3), QByteArray("aaaa")) << row.what;
        }
        if (row.c == State::File) {
            EXPECT_EQ(readAll(*media.open(QStringLiteral("c")), 3), QByteArray("cc")) << row.what;
        }
    }
}

TEST_F(ExportMediaFiles, MediaBesideMessagesJsonNeedNotBeThere) {
    QFile json(dir.filePath(QStringLiteral("messages.json")));
    ASSERT_TRUE(json.open(QIODevice::WriteOnly));
    json.close();
    ExportMedia media(json.fileName(), ExportText::Container::Json);
    media.lookUp({QStringLiteral("p")});
    EXPECT_EQ(media.object(QStringLiteral("p")).state, State::Missing);
#ifndef Q_OS_WIN
    // A link in its place is not followed.
    QFile::link(dir.path(), dir.filePath(QStringLiteral("media")));
    EXPECT_THROW(media.lookUp({QStringLiteral("p")}), Failure);
#endif
}

} // namespace
