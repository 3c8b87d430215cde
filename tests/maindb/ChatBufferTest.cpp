#include "maindb/ChatBuffer.h"
#include "fakes/ScopedEnv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Whatever the budget, each chat gives back exactly the bytes appended for it, in order; past the
// budget the chats taken last go to the file first, and a chat larger than the whole budget comes
// back whole. The file has no name while it is used (Linux, macOS) or is one no one else may open,
// which goes with its last handle (Windows), so that a run that is killed leaves nothing behind.
TEST(ChatBuffer, EachChatGivesBackItsBytesWhateverWasSetAside) {
    QTemporaryDir temporary;
    const QByteArray folder = QFile::encodeName(temporary.path());
    ScopedEnv env("TMPDIR", folder);
    env.set("TMP", folder).set("TEMP", folder);
    const struct {
        const char* name;
        size_t budget;
        bool usesFile;
    } cases[] = {
        {"all in memory", 1 << 20, false},
        {"some set aside", 600, true},
        {"a chat larger than the budget", 8, true},
    };
    for (const auto& row : cases) {
        ChatBuffer buffer(3, {2, 0, 1}, row.budget);
        QByteArray expected[3];
        for (int round = 0; round < 100; ++round) {
            for (size_t chat = 0; chat < 3; ++chat) {
                const QByteArray bytes = QByteArray::number(round) + char('a' + chat);
                buffer.append(chat, bytes.constData(), static_cast<size_t>(bytes.size()));
                expected[chat] += bytes;
            }
        }
        EXPECT_EQ(buffer.usedFile(), row.usesFile) << row.name;
        const QStringList present =
            QDir(temporary.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
#ifdef Q_OS_WIN
        EXPECT_EQ(present.size(), row.usesFile ? 1 : 0) << row.name;
        for (const QString& name : present)
            EXPECT_FALSE(QFile(temporary.filePath(name)).open(QIODevice::ReadOnly)) << row.name;
#else
        EXPECT_EQ(present, QStringList()) << row.name;
#endif
        for (size_t chat = 0; chat < 3; ++chat)
            EXPECT_EQ(buffer.bytesOf(chat), expected[chat]) << row.name << ", chat " << chat;
        buffer.release(1);
        EXPECT_EQ(buffer.bytesOf(1), QByteArray()) << row.name;
        EXPECT_EQ(buffer.bytesOf(0), expected[0]) << row.name;
        // Let go of whole, as where the file fails.
        buffer.clear();
        for (size_t chat = 0; chat < 3; ++chat)
            EXPECT_EQ(buffer.bytesOf(chat), QByteArray()) << row.name;
        EXPECT_EQ(QDir(temporary.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList())
            << row.name;
    }
}

} // namespace
