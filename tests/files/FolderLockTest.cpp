#include "export/ExportWindow.h"

#include "files/FolderLock.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#ifdef Q_OS_LINUX
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_LINUX
// A `.parlorix.lock` the program did not make is held for the run and left in place; only the
// program's own (empty, this user's), also one a killed run left, goes when the run ends.
TEST(FolderLockFile, OnlyTheProgramsOwnIsDeleted) {
    struct Row {
        const char* what;
        QByteArray content;
        bool otherOwner;
        bool stays;
    };
    const QList<Row> rows{
        {"one with something in it", "a note", false, true},
        {"another user's", "", true, true},
        {"the program's own, left by a killed run", "", false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir dir;
        const QString lockPath = dir.filePath(FolderLock::fileName());
        writeFile(lockPath, row.content);
        if (row.otherOwner) {
            ASSERT_EQ(::chown(QFile::encodeName(lockPath).constData(), 65534, 65534), 0);
        }
        {
            FolderLock lock(dir.path() + QLatin1Char('/'));
            ASSERT_EQ(lock.lock(), FolderLock::State::Held);
            EXPECT_EQ(FolderLock(dir.path() + QLatin1Char('/')).lock(), FolderLock::State::Busy);
        }
        EXPECT_EQ(QFile::exists(lockPath), row.stays);
        if (row.stays) {
            EXPECT_EQ(contents(lockPath), row.content);
        }
    }
}
#endif

} // namespace
