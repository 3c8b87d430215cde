#include "export/FileRoutines.h"
#include "export/NarrowText.h"

#include "base/Failure.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

TEST(WriteTextToFile, OneOrLessEmptiesTwoOrMoreAppends) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("t.txt"));
    WriteTextToFile(QStringLiteral("a"), path, 2);
    WriteTextToFile(QStringLiteral("b\r\n"), path, 7);
    EXPECT_EQ(contents(path), QByteArray("ab\r\n"));
    WriteTextToFile(QStringLiteral("c"), path, 1);
    EXPECT_EQ(contents(path), QByteArray("c"));
    WriteTextToFile(QStringLiteral("d"), path, 0);
    WriteTextToFile(QString(), path, -5);
    EXPECT_EQ(contents(path), QByteArray());
    EXPECT_THROW(WriteTextToFile(QStringLiteral("x"), dir.filePath(QStringLiteral("no/such/folder.txt")), 2),
                 Failure);
    EXPECT_THROW(WriteTextToFile(QStringLiteral("x"), dir.path(), 2), Failure);
}

#ifdef Q_OS_WIN
// The ANSI code pages by number; under "use Unicode UTF-8" (65001) the text is never emptied.
TEST(NarrowText, TheCodePageWithOneQuestionMarkPerCharacterItLacks) {
    const QString text = QStringLiteral("café Привет 😀");
    EXPECT_EQ(NarrowText::encode(text, "CP65001"), text.toUtf8());
    EXPECT_EQ(NarrowText::encode(text, "CP1252"), QByteArray("caf\xE9 ?????? ?"));
    EXPECT_EQ(NarrowText::encode(QStringLiteral("Привет é 😀"), "CP1251"),
              QByteArray("\xCF\xF0\xE8\xE2\xE5\xF2 ? ?"));
}
#else
TEST(NarrowText, Utf8WhereTheLocaleSaysSoOtherwiseTheCharsetWithQuestionMarks) {
    const QString text = QStringLiteral("café Привет 😀");
    EXPECT_EQ(NarrowText::encode(text, "UTF-8"), text.toUtf8());
    EXPECT_EQ(NarrowText::encode(text, "ANSI_X3.4-1968"), text.toUtf8());
    EXPECT_EQ(NarrowText::encode(text, "ISO-8859-1"), QByteArray("caf\xE9 ?????? ?"));
    EXPECT_EQ(NarrowText::encode(QStringLiteral("Привет é"), "KOI8-R"),
              QByteArray("\xF0\xD2\xC9\xD7\xC5\xD4 ?"));
}
#endif

// The ANSI code pages hold no character beyond the BMP: each pair becomes one "?" in one pass, also
// for a long chat full of emoji (a pass per pair would shift the rest of the text each time).
TEST(NarrowText, EachSurrogatePairBecomesOneQuestionMarkInOnePass) {
    EXPECT_EQ(NarrowText::withPairsAsQuestionMarks(QStringLiteral("a😀b\U0001F600\U0001F600")),
              QStringLiteral("a?b??"));
    // Halves that make no pair stay as they are: the code page makes its own "?" of each.
    const QString lone = QString(QChar(0xD83D)) + QLatin1Char('x') + QChar(0xDE00) + QChar(0xD83D);
    EXPECT_EQ(NarrowText::withPairsAsQuestionMarks(lone), lone);
    EXPECT_EQ(NarrowText::withPairsAsQuestionMarks(QString()), QString());

    // 2.4 million characters, a million of them emoji.
    QString chat;
    QString expected;
    for (int i = 0; i < 200000; ++i) {
        chat += QStringLiteral("ab😀c😀😀d😀😀");
        expected += QStringLiteral("ab?c??d??");
    }
    EXPECT_EQ(NarrowText::withPairsAsQuestionMarks(chat), expected);
    EXPECT_EQ(NarrowText::encode(chat, "CP1252"), expected.toLatin1());
}

TEST(FolderExists, OnlyExistingFolders) {
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("f")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    EXPECT_TRUE(FolderExists(dir.path()));
    EXPECT_TRUE(FolderExists(dir.path() + QDir::separator()));
    EXPECT_FALSE(FolderExists(dir.filePath(QStringLiteral("f"))));
    EXPECT_FALSE(FolderExists(dir.filePath(QStringLiteral("missing"))));
    EXPECT_FALSE(FolderExists(QString()));
}

#ifdef Q_OS_WIN
TEST(TranscriptPath, JoinsTheNameWindowsCanTake) {
    EXPECT_EQ(transcriptPath(QStringLiteral("C:\\out\\"), QStringLiteral("live:.cid.1a")),
              QStringLiteral("C:\\out\\live%3A.cid.1a.txt"));
    // What would leave the folder is written as %XX instead.
    EXPECT_EQ(transcriptPath(QStringLiteral("C:\\out\\"), QStringLiteral("..\\x")),
              QStringLiteral("C:\\out\\..%5Cx.txt"));
    EXPECT_EQ(transcriptPath(QStringLiteral("C:\\out\\"), QStringLiteral("..")),
              QStringLiteral("C:\\out\\%2E%2E.txt"));
}
#else
TEST(TranscriptPath, JoinsAsIsButStaysInTheFolder) {
    EXPECT_EQ(transcriptPath(QStringLiteral("/out/"), QStringLiteral("live:.cid.1a")),
              QStringLiteral("/out/live:.cid.1a.txt"));
    EXPECT_EQ(transcriptPath(QStringLiteral("/out"), QStringLiteral(" ann ")),
              QStringLiteral("/out ann .txt"));
    for (const QString& hostile :
         {QStringLiteral("."), QStringLiteral(".."), QStringLiteral("../x"), QStringLiteral("a/b"),
          QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b"))})
        EXPECT_THROW(transcriptPath(QStringLiteral("/out/"), hostile), Failure);
}
#endif

// Windows' rules, tested everywhere: names that cannot stand as they are get %XX for each character
// in the way, the same way every time, and no two handles share a name.
TEST(TranscriptName, WindowsNamesEscapeWhatCannotStandAndNothingElse) {
    const auto windows = [](const QString& handle) { return transcriptName(handle, true); };
    EXPECT_EQ(windows(QStringLiteral("live:.cid.1a2b3c")), QStringLiteral("live%3A.cid.1a2b3c"));
    EXPECT_EQ(windows(QStringLiteral("ann.smith_1-2,x")), QStringLiteral("ann.smith_1-2,x"));
    EXPECT_EQ(windows(QStringLiteral("a<b>c\"d/e\\f|g?h*i")),
              QStringLiteral("a%3Cb%3Ec%22d%2Fe%5Cf%7Cg%3Fh%2Ai"));
    EXPECT_EQ(windows(QStringLiteral("tab\there")), QStringLiteral("tab%09here"));
    EXPECT_EQ(windows(QStringLiteral("ann. .")), QStringLiteral("ann%2E%20%2E"));
    EXPECT_EQ(windows(QStringLiteral("..")), QStringLiteral("%2E%2E"));
    EXPECT_EQ(windows(QStringLiteral("100%")), QStringLiteral("100%25"));
    EXPECT_EQ(windows(QStringLiteral("Аня")), QStringLiteral("Аня"));
    // The form of a short name ("JOANNA~1"), which may name another file, never stands.
    EXPECT_EQ(windows(QStringLiteral("joanna~1")), QStringLiteral("joanna%7E1"));
    EXPECT_EQ(windows(QStringLiteral("A~12~x~")), QStringLiteral("A%7E12~x~"));
    for (const char* device : {"CON", "con", "Nul", "aux.x", "COM1", "lpt9", "prn"})
        EXPECT_EQ(windows(QString::fromLatin1(device)).at(0), QLatin1Char('%')) << device;
    for (const char* plain : {"COM", "COM10", "console", "nullable"})
        EXPECT_EQ(windows(QString::fromLatin1(plain)), QString::fromLatin1(plain));
    // Injective: a handle that looks like an escaped one gets a name of its own.
    EXPECT_NE(windows(QStringLiteral("live:x")), windows(QStringLiteral("live%3Ax")));
    // Elsewhere the handle stands as it is.
    EXPECT_EQ(transcriptName(QStringLiteral("live:.cid.1a"), false), QStringLiteral("live:.cid.1a"));
}

// Windows takes COM and LPT with a superscript one, two or three for the ports as well.
TEST(TranscriptName, SuperscriptPortNamesAreDeviceNamesToo) {
    const auto windows = [](const QString& handle) { return transcriptName(handle, true); };
    for (const QString& device :
         {QStringLiteral("COM\u00B9"), QStringLiteral("COM\u00B2"), QStringLiteral("com\u00B3"),
          QStringLiteral("LPT\u00B9"), QStringLiteral("lpt\u00B2.txt"), QStringLiteral("LPT\u00B3")})
        EXPECT_EQ(windows(device),
                  QStringLiteral("%") + QString::number(device.at(0).unicode(), 16).toUpper() + device.mid(1))
            << device.toStdString();
    // Other superscripts name no device.
    EXPECT_EQ(windows(QStringLiteral("COM\u2074")), QStringLiteral("COM\u2074"));
    EXPECT_EQ(windows(QStringLiteral("LPT\u00B9\u00B9")), QStringLiteral("LPT\u00B9\u00B9"));
}

} // namespace
