#include "files/StagedCopy.h"

#include "fakes/FakeFileSystem.h"

#include "files/FileError.h"
#include "files/OpenedFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>

namespace {

// A source that gives the bytes in pieces of at most `piece`.
StagedCopy::Source sourceOf(const QByteArray& bytes, qint64 piece = 3) {
    auto at = std::make_shared<qint64>(0);
    return [bytes, piece, at](char* into, qint64 size) {
        const qint64 read = qMin(qMin(size, piece), bytes.size() - *at);
        std::memcpy(into, bytes.constData() + *at, static_cast<size_t>(read));
        *at += read;
        return read;
    };
}

class StagedCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        int error = 0;
        folder = OpenedFolder::open(dir.path(), false, &error);
        ASSERT_TRUE(folder);
    }
    QString at(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    void write(const char* name, const QByteArray& bytes) {
        QFile file(at(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QStringList names() const {
        return QDir(dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    QTemporaryDir dir;
    std::shared_ptr<OpenedFolder> folder;
    FakeFileSystem files;
};

TEST_F(StagedCopyTest, ACopyTakesOnlyANameNothingHolds) {
    struct Row {
        const char* what;
        std::function<void()> put; // puts something at "b.jpg"
    };
    const Row rows[] = {
        {"a file", [&] { write("b.jpg", "theirs"); }},
#ifndef Q_OS_WIN // Windows makes no such link without privileges, Wine none at all
        {"a link", [&] { QFile::link(at("target"), at("b.jpg")); }},
#endif
        {"a folder", [&] { QDir().mkpath(at("b.jpg")); }},
    };
    for (const Row& row : rows) {
        row.put();
        {
            StagedCopy copy(files, folder);
            ASSERT_EQ(copy.write(sourceOf("ours, in pieces")), 0) << row.what;
            EXPECT_EQ(fileErrorKind(copy.place(QStringLiteral("b.jpg"))), FileError::Exists) << row.what;
            ASSERT_EQ(copy.place(QStringLiteral("c.jpg")), 0) << row.what;
        }
        {
            QFile placed(at("c.jpg"));
            ASSERT_TRUE(placed.open(QIODevice::ReadOnly));
            EXPECT_EQ(placed.readAll(), QByteArray("ours, in pieces")) << row.what;
            // Readable as a file made there is, no longer hidden away, and nothing staged stays.
            EXPECT_TRUE(placed.permissions() & QFileDevice::ReadOwner);
        }
        EXPECT_FALSE(QFileInfo(at("c.jpg")).isHidden()) << row.what;
        EXPECT_EQ(names(), (QStringList{QStringLiteral("b.jpg"), QStringLiteral("c.jpg")})) << row.what;
        // Closed first: Windows removes no file that is still open.
        ASSERT_TRUE(QFile::remove(at("c.jpg"))) << row.what;
        QFile::remove(at("b.jpg"));
        QDir(at("b.jpg")).removeRecursively();
    }
}

TEST_F(StagedCopyTest, ACopyNeverPlacedLeavesNothing) {
    {
        StagedCopy copy(files, folder);
        ASSERT_EQ(copy.write(sourceOf("never placed")), 0);
        EXPECT_EQ(names().size(), 1);
        EXPECT_TRUE(StagedCopy::isStagedName(names().first()));
    }
    EXPECT_TRUE(names().isEmpty());
    // A source that fails half-way leaves nothing either.
    StagedCopy copy(files, folder);
    EXPECT_THROW(copy.write([](char*, qint64) -> qint64 { throw std::runtime_error("gone"); }),
                 std::runtime_error);
    EXPECT_TRUE(names().isEmpty());
}

TEST_F(StagedCopyTest, AFileHoldsTheSameBytesOnlyWhenItsSizeAndEveryByteAgree) {
    const QByteArray ours = "0123456789";
    struct Row {
        const char* what;
        std::function<void()> put;
        bool same;
    };
    const Row rows[] = {
        {"the same bytes", [&] { write("x", ours); }, true},
        {"one byte other", [&] { write("x", "0123456780"); }, false},
        {"shorter", [&] { write("x", "012345678"); }, false},
        {"longer", [&] { write("x", "01234567890"); }, false},
#ifndef Q_OS_WIN
        {"a link to the same bytes",
         [&] {
             write("real", ours);
             QFile::link(at("real"), at("x"));
         },
         false},
#endif
        {"a folder", [&] { QDir().mkpath(at("x")); }, false},
    };
    for (const Row& row : rows) {
        row.put();
        bool same = true;
        EXPECT_EQ(StagedCopy::holdsSame(*folder, QStringLiteral("x"), ours.size(), sourceOf(ours), &same), 0)
            << row.what;
        EXPECT_EQ(same, row.same) << row.what;
        QFile::remove(at("x"));
        QDir(at("x")).removeRecursively();
        QFile::remove(at("real"));
    }
}

} // namespace
