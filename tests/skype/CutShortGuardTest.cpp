#include "skype/CutShortGuard.h"

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
        EXPECT_FALSE(guard.metTheEnd());
        EXPECT_EQ(text[50], 'x');
        EXPECT_FALSE(guard.metTheEnd());
        EXPECT_EQ(text[kSize - 1], 0);
        EXPECT_EQ(text[2 * 65536 - 10], 0);
        EXPECT_TRUE(guard.metTheEnd());
    }
    {
        CutShortGuard later(reinterpret_cast<const char*>(mapped), kSize);
        EXPECT_FALSE(later.metTheEnd());
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
        EXPECT_TRUE(guard.metTheEnd());
        EXPECT_EQ(text[0], 0);
    }
    file.unmap(text);
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
