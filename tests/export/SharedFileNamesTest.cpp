#include "export/SharedFileNames.h"

#include "fakes/ScopedEnv.h"

#include "export/GroupChatNames.h"

#include <gtest/gtest.h>

namespace {

// 2021-08-31T13:42:10Z, 15:42:10 in Berlin.
constexpr qint64 kTime = 1630417330;

TEST(SharedFileNames, TheTimeIsTheMessagesInLocalTime) {
#ifdef Q_OS_WIN
    GTEST_SKIP() << "Wine keeps the host's time zone, whatever TZ says";
#endif
    ScopedEnv env("TZ", "Europe/Berlin");
    EXPECT_EQ(SharedFileNames::timeText(kTime), QStringLiteral("2021-08-31 15.42.10"));
    // In winter, an hour ahead; at midnight, with its hours.
    EXPECT_EQ(SharedFileNames::timeText(1609455600), QStringLiteral("2021-01-01 00.00.00"));
}

TEST(SharedFileNames, NamesAreSafeAndFitKeepingTheirExtension) {
    ScopedEnv env("TZ", "Europe/Berlin");
    const QString at = SharedFileNames::timeText(kTime) + QLatin1Char(' ');
    ASSERT_EQ(at.size(), 20);
    struct Row {
        const char* what;
        QString name;
        int copy;
        int maxBytes;
        bool windows;
        QString expected;
    };
    const Row rows[] = {
        {"plain", QStringLiteral("IMG_2041.jpg"), 1, 255, false, at + QStringLiteral("IMG_2041.jpg")},
        {"a copy", QStringLiteral("IMG_2041.jpg"), 2, 255, false, at + QStringLiteral("IMG_2041 (2).jpg")},
        {"a copy without extension", QStringLiteral("README"), 3, 255, false,
         at + QStringLiteral("README (3)")},
        {"a name with dots", QStringLiteral("v1.2.tar.gz"), 2, 255, false,
         at + QStringLiteral("v1.2.tar (2).gz")},
        {"a dot file", QStringLiteral(".profile"), 2, 255, false, at + QStringLiteral(".profile (2)")},
        {"separators", QStringLiteral("a/b\\c.jpg"), 1, 255, false, at + QStringLiteral("a%2Fb\\c.jpg")},
        {"separators on Windows", QStringLiteral("a/b\\c.jpg"), 1, 255, true,
         at + QStringLiteral("a%2Fb%5Cc.jpg")},
        {"Windows' reserved characters", QStringLiteral("a<b>c:d\"e|f?g*h%.txt"), 1, 255, true,
         at + QStringLiteral("a%3Cb%3Ec%3Ad%22e%7Cf%3Fg%2Ah%25.txt")},
        {"a trailing dot and blank on Windows", QStringLiteral("notes. "), 1, 255, true,
         at + QStringLiteral("notes%2E%20")},
        // The blank after the time is no part of the name: it stays one where the name is dots alone.
        {"dots alone", QStringLiteral(".."), 1, 255, false, at + QStringLiteral("..")},
        {"dots alone on Windows", QStringLiteral(".."), 1, 255, true, at + QStringLiteral("%2E%2E")},
        {"dots and blanks alone on Windows", QStringLiteral(" . "), 1, 255, true,
         at + QStringLiteral("%20%2E%20")},
        {"a device name stays one only alone", QStringLiteral("CON"), 1, 255, true,
         at + QStringLiteral("CON")},
        {"control characters", QStringLiteral("a\tb\x7f.txt"), 1, 255, false,
         at + QStringLiteral("a%09b%7F.txt")},
        // Shown as it is, it would read "photoexe.jpg".
        {"a mark that turns the text about", QStringLiteral("photo\u202Egpj.exe"), 1, 255, false,
         at + QStringLiteral("photo%202Egpj.exe")},
        {"marks that turn the text about on Windows", QStringLiteral("a\u2067b\u200Fc\u061C.txt"), 1, 255,
         true, at + QStringLiteral("a%2067b%200Fc%061C.txt")},
        {"cut, the extension kept", QString(300, QLatin1Char('x')) + QStringLiteral(".jpeg"), 2, 255, false,
         at + QString(255 - 20 - 4 - 5, QLatin1Char('x')) + QStringLiteral(" (2).jpeg")},
        {"cut where a file system takes less", QString(300, QLatin1Char('x')) + QStringLiteral(".jpg"), 1,
         143, false, at + QString(143 - 20 - 4, QLatin1Char('x')) + QStringLiteral(".jpg")},
        // "é" takes three bytes decomposed, as macOS stores it; an emoji is never cut in two.
        {"cut counting decomposed letters", QString(100, QChar(0xE9)) + QStringLiteral(".txt"), 1, 100, false,
         at + QString(25, QChar(0xE9)) + QStringLiteral(".txt")},
        {"an emoji at the cut", QStringLiteral("ab") + QString::fromUtf8("😀😀") + QStringLiteral(".txt"), 1,
         20 + 2 + 4 + 4 + 2, false,
         at + QStringLiteral("ab") + QString::fromUtf8("😀") + QStringLiteral(".txt")},
    };
    for (const Row& row : rows) {
        const QString name = SharedFileNames::nameOf(kTime, row.name, row.copy, row.maxBytes, row.windows);
        EXPECT_EQ(name, row.expected) << row.what;
        EXPECT_LE(GroupChatNames::bytesOf(name), row.maxBytes) << row.what;
    }
}

TEST(SharedFileNames, AFileWithoutANameIsNamedByItsDescriptionElseItsObject) {
    EXPECT_EQ(SharedFileNames::standInName(QStringLiteral("photo.png"), QStringLiteral("0-id"),
                                           QStringLiteral(".jpg")),
              QStringLiteral("photo.png"));
    EXPECT_EQ(
        SharedFileNames::standInName(QStringLiteral(" "), QStringLiteral("0-id"), QStringLiteral(".jpg")),
        QStringLiteral("0-id.jpg"));
    EXPECT_EQ(SharedFileNames::standInName(QString(), QStringLiteral("0-id"), QString()),
              QStringLiteral("0-id"));
}

} // namespace
