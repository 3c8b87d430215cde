#include "FileRoutines.h"

#include "NarrowText.h"

#include "base/Failure.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

void WriteTextToFile(const QString& text, const QString& path, int writeNumber) {
    QFile file(path);
    const QIODevice::OpenMode mode = writeNumber <= 1 ? QIODevice::WriteOnly | QIODevice::Truncate
                                                      : QIODevice::WriteOnly | QIODevice::Append;
    if (path.isEmpty() || !file.open(mode))
        throw Failure(QStringLiteral("Cannot write '%1': %2").arg(path, file.errorString()));
    const QByteArray bytes = NarrowText::encode(text);
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw Failure(QStringLiteral("Cannot write '%1': %2").arg(path, file.errorString()));
    file.close();
    if (file.error() != QFileDevice::NoError)
        throw Failure(QStringLiteral("Cannot write '%1': %2").arg(path, file.errorString()));
}

bool FolderExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

void DeleteFileIfPresent(const QString& path) {
    if (path.isEmpty() || QFile::remove(path))
        return;
#ifdef Q_OS_WIN
    // Windows keeps a read-only file from being deleted: make it writable, then try once more. Only
    // the file itself, never what a link points to. Elsewhere a file's own mode does not matter.
    const QFileInfo info(path);
    if (!info.isFile() || info.isSymLink())
        return;
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::WriteOwner | QFileDevice::WriteUser);
    QFile::remove(path);
#endif
}

namespace {

#ifdef Q_OS_WIN
constexpr bool kWindowsNames = true;
#else
constexpr bool kWindowsNames = false;
#endif

QString escaped(QChar c) {
    return QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
}

bool isDeviceName(const QString& name) {
    // "CON", "con.txt" and "COM1.log" all name the device.
    const QString stem = name.section(QLatin1Char('.'), 0, 0).trimmed().toUpper();
    static const QStringList devices{QStringLiteral("CON"), QStringLiteral("PRN"), QStringLiteral("AUX"),
                                     QStringLiteral("NUL")};
    if (devices.contains(stem))
        return true;
    // "COM¹", "COM²", "COM³" and the same for LPT name the ports too.
    return stem.size() == 4 &&
           (stem.startsWith(QLatin1String("COM")) || stem.startsWith(QLatin1String("LPT"))) &&
           ((stem.at(3) >= QLatin1Char('0') && stem.at(3) <= QLatin1Char('9')) ||
            QStringView(u"\u00B9\u00B2\u00B3").contains(stem.at(3)));
}

} // namespace

QString transcriptName(const QString& handle, bool windowsNames) {
    if (!windowsNames)
        return handle;
    QString name;
    name.reserve(handle.size());
    qsizetype keep = handle.size();
    while (keep > 0 && (handle.at(keep - 1) == QLatin1Char('.') || handle.at(keep - 1) == QLatin1Char(' ')))
        --keep;
    for (qsizetype i = 0; i < handle.size(); ++i) {
        const QChar c = handle.at(i);
        // "~" before a digit is the form of a short name ("JOANNA~1.TXT"), which may name another
        // file on a volume that keeps short names.
        const bool shortName = c == QLatin1Char('~') && i + 1 < handle.size() && handle.at(i + 1).isDigit();
        const bool inTheWay =
            c.unicode() < 0x20 || QStringView(u"<>:\"/\\|?*%").contains(c) || i >= keep || shortName;
        name += inTheWay ? escaped(c) : QString(c);
    }
    if (isDeviceName(name))
        name.replace(0, 1, escaped(name.at(0)));
    return name;
}

QString transcriptPath(const QString& folderText, const QString& handle) {
    const QString name = transcriptName(handle, kWindowsNames);
    if (name == QLatin1String(".") || name == QLatin1String("..") || name.contains(QLatin1Char('/')) ||
        name.contains(QDir::separator()) || name.contains(QChar(0)))
        throw Failure(QStringLiteral("'%1' cannot name a transcript: it would not stay in the output folder")
                          .arg(handle));
    return folderText + name + QStringLiteral(".txt");
}
