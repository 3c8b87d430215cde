#include "HistorySource.h"

#include "HistorySet.h"

#include "base/Failure.h"
#include "base/Settings.h"
#include "dataexport/ExportHistory.h"
#include "maindb/DatabaseHistory.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <vector>

namespace HistorySource {

namespace {

// A link whose chain of targets comes round to one it has passed.
bool leadsBackToItself(const QString& path) {
    QStringList passed;
    QString at = QFileInfo(path).absoluteFilePath();
    while (QFileInfo(at).isSymLink()) {
        if (passed.contains(at))
            return true;
        passed.append(at);
        at = QFileInfo(at).symLinkTarget();
    }
    return false;
}

// Whether two files hold the same bytes, read side by side until they differ: files of different
// sizes are not read at all.
bool sameBytes(const QString& a, const QString& b) {
    QFile first(a);
    QFile second(b);
    if (first.size() != second.size() || !first.open(QIODevice::ReadOnly) ||
        !second.open(QIODevice::ReadOnly))
        return false;
    constexpr qint64 kPiece = qint64(1) << 20;
    QByteArray pieceA(kPiece, Qt::Uninitialized);
    QByteArray pieceB(kPiece, Qt::Uninitialized);
    for (;;) {
        const qint64 readA = first.read(pieceA.data(), kPiece);
        const qint64 readB = second.read(pieceB.data(), kPiece);
        if (readA != readB || readA < 0)
            return false;
        if (readA == 0)
            return true;
        if (std::memcmp(pieceA.constData(), pieceB.constData(), static_cast<size_t>(readA)) != 0)
            return false;
    }
}

// The histories a value names, to be read. One none of whose pieces is there either is one path
// that is gone, as it always was: it is named whole when it is found missing.
QStringList historiesOf(const QString& value) {
    const QStringList paths = splitPaths(value);
    const bool anyThere = std::any_of(paths.begin(), paths.end(), [](const QString& path) {
        const QFileInfo piece(path);
        return piece.exists() || piece.isSymLink();
    });
    return anyThere ? paths : QStringList{value};
}

} // namespace

QStringList locate(const SettingsStore& settings) {
    const QString named = qEnvironmentVariable("PARLORIX_SKYPE_DATA");
    if (!named.isEmpty())
        return historiesOf(named);
    const QString stored = GetSetting(settings, Settings::application(), Settings::section(),
                                      Settings::skypeHistoryKey(), QString());
    if (!stored.isEmpty())
        return historiesOf(stored);
    if (const std::optional<QString> newest = newestProfile(profileRoots()))
        return {*newest};
    return {};
}

QStringList splitPaths(const QString& value) {
    const QFileInfo whole(value);
    if (whole.exists() || whole.isSymLink())
        return {value};
    QStringList paths = value.split(QDir::listSeparator(), Qt::SkipEmptyParts);
    if (paths.isEmpty())
        paths.append(value);
    return paths;
}

QString joinPaths(const QStringList& paths) {
    return paths.join(QDir::listSeparator());
}

QStringList profileRoots() {
#if defined(Q_OS_WIN)
    return {qEnvironmentVariable("APPDATA") + QStringLiteral("/Skype"),
            qEnvironmentVariable("LOCALAPPDATA") +
                QStringLiteral("/Packages/Microsoft.SkypeApp_kzf8qxf38zg5c/LocalState")};
#elif defined(Q_OS_MACOS)
    return {QDir::homePath() + QStringLiteral("/Library/Application Support/Skype")};
#else
    return {QDir::homePath() + QStringLiteral("/.Skype")};
#endif
}

QStringList profiles(const QStringList& roots) {
    std::vector<std::pair<QDateTime, QString>> found;
    for (const QString& root : roots) {
        const QFileInfoList folders = QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QFileInfo& profile : folders) {
            const QString name = profile.fileName();
            if (name == QLatin1String("content") || name == QLatin1String("pictures") ||
                name == QLatin1String("dbtemp") || name.startsWith(QLatin1String("shared")) ||
                name == QLatin1String("My Skype Received Files"))
                continue;
            const QFileInfo database(profile.filePath() + QStringLiteral("/main.db"));
            if (database.isFile())
                found.emplace_back(database.lastModified(), QDir::toNativeSeparators(database.filePath()));
        }
    }
    // Newest first; of two modified at once, the one found first.
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    QStringList paths;
    for (const auto& [time, path] : found)
        paths.append(path);
    return paths;
}

std::optional<QString> newestProfile(const QStringList& roots) {
    const QStringList found = profiles(roots);
    if (found.isEmpty())
        return std::nullopt;
    return found.first();
}

Located identify(const QString& path) {
    const auto notHistory = [&](const QString& reason) {
        return Failure(QStringLiteral("'%1' is not a Skype history: %2").arg(path, reason));
    };
    const QFileInfo info(path);
    if (!info.exists() && info.isSymLink()) {
        const QString target = info.symLinkTarget();
        if (leadsBackToItself(path))
            throw notHistory(QStringLiteral("it is a link that leads back to itself"));
        throw notHistory(QStringLiteral("it is a link to '%1', which does not exist")
                             .arg(QDir::toNativeSeparators(target)));
    }
    if (!info.exists())
        throw notHistory(QStringLiteral("no such file or folder"));
    if (info.isDir()) {
        for (const char* inside : {"main.db", "messages.json"}) {
            const QString candidate = QDir(path).filePath(QString::fromLatin1(inside));
            if (QFileInfo(candidate).isFile())
                return identify(QDir::toNativeSeparators(candidate));
        }
        // One that is there but no file (a link to a device or to nothing, a folder) says what it is.
        for (const char* inside : {"main.db", "messages.json"}) {
            const QString candidate = QDir(path).filePath(QString::fromLatin1(inside));
            const QFileInfo found(candidate);
            if (found.isDir())
                throw notHistory(QStringLiteral("its %1 is a folder").arg(QString::fromLatin1(inside)));
            if (found.exists() || found.isSymLink())
                return identify(QDir::toNativeSeparators(candidate));
        }
        throw notHistory(QStringLiteral("the folder holds no main.db"));
    }
    // Opening a pipe, a device or a socket could wait for ever.
    if (!info.isFile())
        throw notHistory(QStringLiteral("it is not a file but a pipe, a device or a socket"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw notHistory(file.errorString());
    const QByteArray head = file.read(512);
    if (head.startsWith(QByteArrayLiteral("SQLite format 3\0")))
        return {path, Kind::Database};
    if (head.size() >= 262 && head.mid(257, 5) == "ustar")
        return {path, Kind::ExportTar};
    // Skype writes its export as a plain tar; one compressed afterwards (gzip, bzip2, xz, zstd) is
    // read as an archive too, and fails with its reason where it holds no export.
    for (const QByteArray& magic : {QByteArrayLiteral("\x1F\x8B"), QByteArrayLiteral("BZh"),
                                    QByteArrayLiteral("\xFD"
                                                      "7zXZ"),
                                    QByteArrayLiteral("\x28\xB5\x2F\xFD")}) {
        if (head.startsWith(magic))
            return {path, Kind::ExportTar};
    }
    const ExportHistory::Encoding encoding =
        ExportHistory::encodingOf(std::string_view(head.constData(), static_cast<size_t>(head.size())));
    if (encoding == ExportHistory::Encoding::Utf16)
        throw notHistory(
            QStringLiteral("it is saved as UTF-16; save it as UTF-8, as Skype exports it, and try again"));
    const QByteArray trimmed = head.startsWith("\xEF\xBB\xBF") ? head.mid(3).trimmed() : head.trimmed();
    if (trimmed.startsWith('{')) {
        if (encoding == ExportHistory::Encoding::NulBytes)
            throw notHistory(QStringLiteral("it begins like a messages.json but holds NUL bytes where its "
                                            "text should be; it is damaged"));
        return {path, Kind::ExportJson};
    }
    throw notHistory(QStringLiteral("it is neither a main.db, a messages.json nor an export .tar"));
}

std::vector<Located> identifyAll(const QStringList& paths) {
    std::vector<Located> found;
    for (const QString& path : paths) {
        const Located located = identify(path);
        const bool again = std::any_of(found.begin(), found.end(), [&](const Located& earlier) {
            return holdSameHistory(earlier, located);
        });
        if (!again)
            found.push_back(located);
    }
    return found;
}

bool holdSameHistory(const Located& a, const Located& b) {
    if (a.kind != b.kind)
        return false;
    const QString canonical = QFileInfo(a.path).canonicalFilePath();
    if (!canonical.isEmpty() && canonical == QFileInfo(b.path).canonicalFilePath())
        return true;
    if (!sameBytes(a.path, b.path))
        return false;
    if (a.kind != Kind::Database)
        return true;
    // The changes a client has not yet written into the database are part of its history.
    const QString waitingA = a.path + QStringLiteral("-wal");
    const QString waitingB = b.path + QStringLiteral("-wal");
    const bool hasA = QFileInfo::exists(waitingA);
    if (hasA != QFileInfo::exists(waitingB))
        return false;
    return !hasA || sameBytes(waitingA, waitingB);
}

std::unique_ptr<History> open(const Located& source) {
    switch (source.kind) {
    case Kind::Database:
        return std::make_unique<DatabaseHistory>(source.path);
    case Kind::ExportJson:
        return std::make_unique<ExportHistory>(source.path, ExportHistory::Container::Json);
    case Kind::ExportTar:
        return std::make_unique<ExportHistory>(source.path, ExportHistory::Container::Tar);
    }
    return nullptr;
}

std::unique_ptr<History> open(const std::vector<Located>& sources) {
    if (sources.empty())
        return nullptr;
    if (sources.size() == 1)
        return open(sources.front());
    const auto databases = static_cast<size_t>(std::count_if(
        sources.begin(), sources.end(), [](const Located& source) { return source.kind == Kind::Database; }));
    std::vector<std::unique_ptr<History>> members;
    for (const Located& source : sources) {
        if (source.kind != Kind::Database) {
            members.push_back(open(source));
            continue;
        }
        // Read side by side, the databases share the memory one would take.
        auto database = std::make_unique<DatabaseHistory>(source.path);
        database->shareMemory(databases);
        members.push_back(std::move(database));
    }
    return std::make_unique<HistorySet>(std::move(members));
}

} // namespace HistorySource
