#include "export/ExportWindow.h"

#include "fakes/OrdinaryUser.h"
#include "files/FileOwner.h"
#include "files/FolderLock.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#ifdef Q_OS_LINUX
#include <sys/stat.h>
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

// Another user put a lock file in the folder that nobody else may open: no export can lock the folder.
// The box says that another user's file is in the way, whose, and where; nothing is made there.
TEST(FolderLockFile, AnotherUsersLockFileThatMayNotBeOpenedIsNamed) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "another user's file can be made only by root";
    // The lock is taken as an ordinary user; the file is root's, or a third user's.
    for (const uid_t owner : {0u, 1u}) {
        SCOPED_TRACE(owner);
        QTemporaryDir dir;
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0777), 0);
        const QString lockPath = dir.filePath(FolderLock::fileName());
        writeFile(lockPath, "");
        ASSERT_EQ(::chown(QFile::encodeName(lockPath).constData(), owner, owner), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(lockPath).constData(), 0), 0);
        FolderLock::State state = FolderLock::State::Unlocked;
        QString message;
        {
            OrdinaryUser user;
            FolderLock lock(dir.path() + QLatin1Char('/'));
            state = lock.lock();
            message = lock.failureMessage();
        }
        EXPECT_EQ(state, FolderLock::State::Failed);
        EXPECT_EQ(
            message,
            QStringLiteral("The folder '%1' cannot be locked against other exports: another user's file is "
                           "in the way, '%2', which belongs to %3 and may not be opened by you. Ask them or "
                           "an administrator to remove it, or choose another folder.")
                .arg(dir.path(), lockPath, FileOwner::nameOf(owner)));
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{FolderLock::fileName()});
    }
}
#endif

} // namespace
