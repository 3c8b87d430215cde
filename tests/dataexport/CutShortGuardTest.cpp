#include "dataexport/CutShortGuard.h"

#include <QFile>
#include <QTemporaryDir>

#include <csignal>

#include <gtest/gtest.h>

namespace {

#ifndef Q_OS_WIN

constexpr qint64 kSize = 3 * 65536; // three pages on any system

uchar* mapCutShort(QFile& file) {
    EXPECT_TRUE(file.open(QIODevice::ReadWrite));
    EXPECT_TRUE(file.write(QByteArray(kSize, 'x')) == kSize);
    EXPECT_TRUE(file.flush());
    uchar* mapped = file.map(0, kSize);
    EXPECT_NE(mapped, nullptr);
    EXPECT_TRUE(file.resize(100)); // cut short by someone else while it is mapped
    return mapped;
}

// A file cut short under its mapping: reads past its new end give zeros and are remembered, and
// what lies before it reads as it is. Without a guard, the same read still ends the program.
TEST(CutShortGuard, ReadsPastTheNewEndGiveZerosInsteadOfASignal) {
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("messages.json")));
    uchar* mapped = mapCutShort(file);
    ASSERT_NE(mapped, nullptr);
    const auto* text = reinterpret_cast<const volatile char*>(mapped);
    {
        CutShortGuard guard(reinterpret_cast<const char*>(mapped), kSize);
        EXPECT_EQ(guard.met(), CutShortGuard::Met::Nothing);
        EXPECT_EQ(text[50], 'x');
        EXPECT_EQ(guard.met(), CutShortGuard::Met::Nothing);
        EXPECT_EQ(text[kSize - 1], 0);
        EXPECT_EQ(text[2 * 65536 - 10], 0);
        EXPECT_EQ(guard.met(), CutShortGuard::Met::TheEnd);
    }
    {
        CutShortGuard later(reinterpret_cast<const char*>(mapped), kSize);
        EXPECT_EQ(later.met(), CutShortGuard::Met::Nothing);
    }
    // Unmapped only once no guard covers it: the next file's mapping may be given the same address.
    file.unmap(mapped);

    QFile other(dir.filePath(QStringLiteral("other.json")));
    uchar* unguarded = mapCutShort(other);
    ASSERT_NE(unguarded, nullptr);
    EXPECT_DEATH(
        {
            const auto* bytes = reinterpret_cast<const volatile char*>(unguarded);
            // Another range is guarded meanwhile: this one is not, and ends as before.
            CutShortGuard elsewhere(reinterpret_cast<const char*>(mapped) + kSize, 1);
            (void)bytes[kSize - 1];
        },
        "");
    other.unmap(unguarded);
}

// A text that begins inside the mapping's first page (a file mapped at an offset, as in a .tar): a
// read that begins before the text in that page, as word-at-a-time searches such as memchr's do
// when they align their reads down, is a read of the same cut-short page.
TEST(CutShortGuard, AReadBeginningBeforeTheTextInItsFirstPageGivesZeros) {
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("export.tar")));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_EQ(file.write(QByteArray(kSize, 'x')), kSize);
    ASSERT_TRUE(file.flush());
    uchar* text = file.map(100, kSize - 100);
    ASSERT_NE(text, nullptr);
    ASSERT_TRUE(file.resize(0));
    {
        CutShortGuard guard(reinterpret_cast<const char*>(text), kSize - 100);
        const auto* page = reinterpret_cast<const volatile char*>(text - 100);
        EXPECT_EQ(page[0], 0);
        EXPECT_EQ(guard.met(), CutShortGuard::Met::TheEnd);
        EXPECT_EQ(text[0], 0);
    }
    file.unmap(text);
}

// A read that faults met the file's end only where the file is shorter now than the mapped bytes;
// where it is as long as it was (a drive pulled, a failing disk), the system could not read it.
TEST(CutShortGuard, AFaultInAFileAsLongAsItWasIsAReadError) {
    const struct {
        qint64 sizeAfter;
        CutShortGuard::Met met;
    } rows[] = {{100, CutShortGuard::Met::TheEnd},
                {kSize - 1, CutShortGuard::Met::TheEnd},
                {kSize, CutShortGuard::Met::ReadError},
                {2 * kSize, CutShortGuard::Met::ReadError}};
    for (const auto& row : rows) {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("messages.json")));
        uchar* mapped = mapCutShort(file);
        ASSERT_NE(mapped, nullptr);
        {
            CutShortGuard guard(reinterpret_cast<const char*>(mapped), kSize, file.handle(), kSize);
            EXPECT_EQ(reinterpret_cast<const volatile char*>(mapped)[kSize - 1], 0);
            ASSERT_TRUE(file.resize(row.sizeAfter));
            EXPECT_EQ(guard.met(), row.met) << row.sizeAfter;
        }
        file.unmap(mapped);
    }
}

void otherHandler(int) {}

// The handler stays installed once a guard has lived: putting back what came before it when a guard
// ends would undo a handler installed meanwhile.
TEST(CutShortGuard, AHandlerInstalledWhileAGuardLivesStaysWhenItEnds) {
    static const char bytes[16] = {};
    struct sigaction before{};
    {
        CutShortGuard guard(bytes, sizeof bytes);
        struct sigaction other{};
        other.sa_handler = otherHandler;
        sigemptyset(&other.sa_mask);
        ASSERT_EQ(sigaction(SIGBUS, &other, &before), 0);
    }
    struct sigaction now{};
    ASSERT_EQ(sigaction(SIGBUS, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, &otherHandler);
    sigaction(SIGBUS, &before, nullptr);
}

// A SIGBUS sent to the program, not met by a read, still ends it while a guard lives: returning
// from the handler would drop it, and the guard's own handler with it.
TEST(CutShortGuard, ASignalSentWhileAGuardLivesStillEndsTheProgram) {
    static const char bytes[16] = {};
    EXPECT_DEATH(
        {
            std::signal(SIGBUS, SIG_DFL);
            CutShortGuard guard(bytes, sizeof bytes);
            std::raise(SIGBUS);
        },
        "");
}

#endif

} // namespace
