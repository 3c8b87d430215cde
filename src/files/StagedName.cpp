#include "StagedName.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace {

constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

} // namespace

namespace StagedName {

QString randomPart() {
    QString random;
    for (int i = 0; i < 4; ++i)
        random += QLatin1Char(kLetters[QRandomGenerator::global()->bounded(62)]);
    return random;
}

QString checked(const QString& head) {
    const QByteArray hash = QCryptographicHash::hash(head.toUtf8(), QCryptographicHash::Sha256);
    return head + QLatin1Char(kLetters[static_cast<uchar>(hash.at(0)) % 62]) +
           QLatin1Char(kLetters[static_cast<uchar>(hash.at(1)) % 62]) + QStringLiteral(".part");
}

} // namespace StagedName
