#include "FolderLock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>

FolderLock::FolderLock(const QString& folderText)
    : m_folder(QDir::toNativeSeparators(QFileInfo(folderText + QStringLiteral("x")).absolutePath())) {
    const QString canonical = QFileInfo(m_folder).canonicalFilePath();
    // Per user as well: a lock left in the shared temporary folder by another user who died could
    // not be taken over.
    const QString folder = canonical.isEmpty() ? m_folder : canonical;
    const QByteArray key = QCryptographicHash::hash((QDir::homePath() + QLatin1Char('\n') + folder).toUtf8(),
                                                    QCryptographicHash::Sha1)
                               .toHex();
    m_lock = std::make_unique<QLockFile>(
        QDir::temp().filePath(QStringLiteral("parlorix-%1.lock").arg(QString::fromLatin1(key.left(16)))));
}

FolderLock::~FolderLock() = default;

bool FolderLock::tryLock() {
    return m_lock->tryLock(0);
}

QString FolderLock::busyMessage() const {
    return QStringLiteral(
               "Another export is writing into the folder '%1'. Wait until it has finished, then try "
               "again.")
        .arg(m_folder);
}
