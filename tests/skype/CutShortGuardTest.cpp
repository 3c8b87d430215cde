#include "skype/CutShortGuard.h"

#include <QFile>
#include <QTemporaryDir>

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
    CutShortGuard later(reinterpret_cast<const char*>(mapped), kSize);
    EXPECT_FALSE(later.metTheEnd());
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

#endif

} // namespace
