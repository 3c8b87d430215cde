#include "ExportMedia.h"

#include "JsonText.h"

#include "base/Failure.h"
#include "files/FileError.h"
#include "files/OpenedFolder.h"
#include "files/ReadOnlyFile.h"
#include "messages/SharedFile.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <archive.h>
#include <archive_entry.h>

#include <functional>

namespace {

// A description is a few hundred bytes; anything much larger is none.
constexpr qint64 kLongestDescription = 1 << 20;
// The first bytes of a member's data, kept to check that its data lies where it was found.
constexpr qint64 kHeadSize = 4096;

QByteArray headDigest(const QByteArray& head) {
    return QCryptographicHash::hash(head, QCryptographicHash::Sha256);
}

struct ArchiveCloser {
    void operator()(archive* a) const { archive_read_free(a); }
};

qint64 modifiedAt(const QString& path) {
    return QFileInfo(path).lastModified().toMSecsSinceEpoch();
}

// Why an entry of media/ is not read, as a file is named as not saved.
QString refusal(int error) {
    switch (error) {
    case FileSystem::kIsLink:
    case FileSystem::kNotAFile:
    case FileSystem::kOtherNames:
    case FileSystem::kIsFolder:
        return QStringLiteral("in the export ") + fileErrorText(error);
    default:
        return QStringLiteral("it cannot be read in the export: ") + fileErrorText(error);
    }
}

QString sparseRefusal() {
    return QStringLiteral("in the export it is a sparse file, with holes in it, as no shared file is");
}

// Reads a file's bytes as far as it holds them, checking at the end that it held all it should.
class PieceReader final : public SharedFileStore::Reader {
public:
    using ReadSome = std::function<qint64(char*, qint64)>;
    PieceReader(qint64 size, ReadSome readSome, std::function<void()> atEnd, std::function<void()> cutShort)
        : m_left(size)
        , m_readSome(std::move(readSome))
        , m_atEnd(std::move(atEnd))
        , m_cutShort(std::move(cutShort)) {}

    qint64 read(char* into, qint64 size) override {
        if (m_left == 0) {
            if (m_atEnd) {
                m_atEnd();
                m_atEnd = nullptr;
            }
            return 0;
        }
        const qint64 read = m_readSome(into, qMin(size, m_left));
        if (read <= 0)
            m_cutShort();
        m_left -= read;
        return read;
    }

private:
    qint64 m_left;
    ReadSome m_readSome;
    std::function<void()> m_atEnd;
    std::function<void()> m_cutShort;
};

} // namespace

ExportMedia::ExportMedia(const QString& path, ExportText::Container container)
    : m_path(path)
    , m_container(container) {}

ExportMedia::~ExportMedia() = default;

ExportMedia::Part ExportMedia::partOf(const QString& fileName, QString* objectId, QString* extension) {
    // Below media/ itself, or anywhere else, lies no object's file.
    if (fileName.contains(QLatin1Char('/')) || fileName.contains(QLatin1Char('\\')))
        return Part::Other;
    const qsizetype dot = fileName.indexOf(QLatin1Char('.'));
    if (dot <= 0 || !SharedFile::isObjectId(QStringView(fileName).left(dot)))
        return Part::Other;
    const QStringView rest = QStringView(fileName).mid(dot);
    *objectId = fileName.left(dot);
    extension->clear();
    if (rest == u".json")
        return Part::Description;
    if (rest == u".1")
        return Part::File;
    if (!rest.startsWith(u".1."))
        return Part::Other;
    // ".jpg" of "….1.jpg"; one no file name would hold as its extension is left out.
    const QStringView ending = rest.mid(2);
    if (ending.size() > 1 && ending.size() <= 16)
        *extension = ending.toString();
    return Part::File;
}

QString ExportMedia::describedName(const QByteArray& json) {
    const std::string mended =
        JsonText::mended(std::string_view(json.constData(), static_cast<size_t>(json.size())));
    simdjson::padded_string text(mended);
    simdjson::ondemand::parser parser;
    try {
        simdjson::ondemand::document document = parser.iterate(text);
        for (simdjson::ondemand::field field : document.get_object()) {
            const std::string_view key = field.unescaped_key();
            if (key != "filename")
                continue;
            simdjson::ondemand::value value = field.value();
            if (value.type() != simdjson::ondemand::json_type::string)
                return QString();
            const std::string_view name = value.get_string();
            return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
        }
    } catch (const simdjson::simdjson_error&) {
        // no description to be had: the file is named without it
    }
    return QString();
}

void ExportMedia::changed() const {
    throw Failure::endingRun(
        QStringLiteral("'%1' changed while its shared files were read: it is not as it was when it was "
                       "opened. Try again once it is written in full.")
            .arg(QDir::toNativeSeparators(m_path)),
        QStringLiteral("'%1' changed while it was read").arg(QDir::toNativeSeparators(m_path)));
}

void ExportMedia::lookUp(const QStringList& objectIds) {
    m_members.clear();
    m_damage.clear();
    if (m_container == ExportText::Container::Tar)
        lookUpTar(objectIds);
    else
        lookUpFolder(objectIds);
}

void ExportMedia::lookUpTar(const QStringList& objectIds) {
    const QSet<QString> wanted(objectIds.begin(), objectIds.end());
    const QString shown = QDir::toNativeSeparators(m_path);
    std::unique_ptr<archive, ArchiveCloser> tar(archive_read_new());
    archive_read_support_format_tar(tar.get());
    archive_read_support_filter_all(tar.get());
    const auto reason = [&] {
        const char* text = archive_error_string(tar.get());
        return text ? QString::fromUtf8(text) : QStringLiteral("unknown error");
    };
    const auto failed = [&] {
        return Failure(QStringLiteral("The shared files in '%1' cannot be read: %2").arg(shown, reason()));
    };
    m_archiveSize = QFileInfo(m_path).size();
    m_archiveModified = modifiedAt(m_path);
    // Headers only: the data of members passed over is skipped by seeking, not read.
#ifdef Q_OS_WIN
    const std::wstring wide = m_path.toStdWString();
    if (archive_read_open_filename_w(tar.get(), wide.c_str(), 10240) != ARCHIVE_OK)
#else
    if (archive_read_open_filename(tar.get(), QFile::encodeName(m_path).constData(), 10240) != ARCHIVE_OK)
#endif
        throw failed();
    // A damaged or cut-short archive still gives the files that lie whole before the damage; those
    // after it are named as not saved with it, never counted as files the export lacks.
    struct Damaged {};
    const auto readData = [&](qint64 size) {
        QByteArray data(size, Qt::Uninitialized);
        qint64 done = 0;
        while (done < size) {
            const la_ssize_t read =
                archive_read_data(tar.get(), data.data() + done, static_cast<size_t>(size - done));
            if (read < 0)
                throw Damaged();
            if (read == 0)
                break;
            done += read;
        }
        data.truncate(done);
        return data;
    };
    archive_entry* entry = nullptr;
    int status = ARCHIVE_OK;
    try {
        while ((status = archive_read_next_header(tar.get(), &entry)) == ARCHIVE_OK ||
               status == ARCHIVE_WARN) {
            // Read where the files lie, never unpacked into memory or elsewhere first.
            if (archive_filter_count(tar.get()) != 1 ||
                archive_filter_code(tar.get(), 0) != ARCHIVE_FILTER_NONE)
                throw Failure(
                    QStringLiteral("The shared files in '%1' were not saved: it is a compressed archive, "
                                   "which Skype does not write; uncompress it and name the .tar it holds")
                        .arg(shown));
            const char* pathname = archive_entry_pathname_utf8(entry);
            if (!pathname)
                pathname = archive_entry_pathname(entry);
            QString name = QString::fromUtf8(pathname ? pathname : "");
            if (name.startsWith(QLatin1String("./")))
                name.remove(0, 2);
            // A folder's name ends so: one in place of a file is named as not saved.
            if (name.endsWith(QLatin1Char('/')))
                name.chop(1);
            if (!name.startsWith(QLatin1String("media/")))
                continue;
            QString objectId;
            QString extension;
            const Part part = partOf(name.mid(6), &objectId, &extension);
            if (part == Part::Other || !wanted.contains(objectId))
                continue;
            Member& member = m_members[objectId];
            const bool regular = archive_entry_filetype(entry) == AE_IFREG &&
                                 !archive_entry_hardlink(entry) && archive_entry_sparse_count(entry) == 0;
            const la_int64_t size = archive_entry_size(entry);
            if (part == Part::Description) {
                if (regular && size >= 0 && size <= kLongestDescription)
                    member.object.describedName = describedName(readData(size));
                continue;
            }
            // A later member of the same name stands for the file, as it would where the archive is unpacked.
            const QString described = member.object.describedName;
            member = Member();
            member.object.describedName = described;
            member.object.extension = extension;
            member.object.state = Object::State::Refused;
            if (archive_entry_filetype(entry) != AE_IFREG || archive_entry_hardlink(entry)) {
                member.object.why = QStringLiteral("in the export it is ") + ExportText::memberKind(entry);
                continue;
            }
            if (archive_entry_sparse_count(entry) > 0) {
                member.object.why = sparseRefusal();
                continue;
            }
            const la_int64_t at = archive_filter_bytes(tar.get(), 0);
            member.object.why = QStringLiteral("the export is damaged where it holds it");
            if (size < 0 || at <= 0 || at > m_archiveSize - size)
                continue;
            const QByteArray head = readData(qMin<qint64>(size, kHeadSize));
            if (head.size() != qMin<qint64>(size, kHeadSize))
                continue;
            member.object.why.clear();
            member.object.state = Object::State::File;
            member.object.size = size;
            member.at = at;
            member.head = headDigest(head);
        }
    } catch (const Damaged&) {
        status = ARCHIVE_FATAL;
    }
    if (status != ARCHIVE_EOF)
        m_damage = reason();
}

void ExportMedia::lookUpFolder(const QStringList& objectIds) {
    const QSet<QString> wanted(objectIds.begin(), objectIds.end());
    const QString media = QFileInfo(m_path).absolutePath() + QStringLiteral("/media");
    const QString shown = QDir::toNativeSeparators(media);
    int error = 0;
    m_folder = OpenedFolder::open(media, false, &error);
    if (!m_folder) {
        const QFileInfo info(media);
        // An export made without files has no media/.
        if (!info.exists() && !info.isSymLink())
            return;
        if (info.isSymLink())
            throw Failure(
                QStringLiteral("The shared files in '%1' were not saved: it is a link, and files are "
                               "read only from a folder of the export's own")
                    .arg(shown));
        if (!info.isDir())
            return;
        throw Failure(
            QStringLiteral("The shared files in '%1' cannot be read: %2").arg(shown, fileErrorText(error)));
    }
    for (const QString& name : m_folder->names()) {
        QString objectId;
        QString extension;
        const Part part = partOf(name, &objectId, &extension);
        if (part == Part::Other || !wanted.contains(objectId))
            continue;
        Member& member = m_members[objectId];
        int opened = 0;
        const std::unique_ptr<ReadOnlyFile> file = ReadOnlyFile::open(*m_folder, name, true, &opened);
        if (part == Part::Description) {
            if (file && file->size() <= kLongestDescription) {
                QByteArray json(file->size(), Qt::Uninitialized);
                qint64 done = 0;
                qint64 read = 0;
                while (done < json.size() && file->read(json.data() + done, json.size() - done, &read) == 0 &&
                       read > 0)
                    done += read;
                json.truncate(done);
                member.object.describedName = describedName(json);
            }
            continue;
        }
        member.object.extension = extension;
        member.name = name;
        if (!file) {
            member.object.state = Object::State::Refused;
            member.object.why = refusal(opened);
            continue;
        }
        // A few bytes on the disk could stand for more than it holds.
        if (file->hasHoles()) {
            member.object.state = Object::State::Refused;
            member.object.why = sparseRefusal();
            continue;
        }
        member.object.state = Object::State::File;
        member.object.size = file->size();
        member.id = file->id();
    }
}

SharedFileStore::Object ExportMedia::object(const QString& objectId) const {
    const auto found = m_members.find(objectId);
    Object object = found == m_members.end() ? Object() : found->second.object;
    // Not found before the archive's damage: it may lie after it.
    if (object.state == Object::State::Missing && !m_damage.isEmpty()) {
        object.state = Object::State::Refused;
        object.why =
            QStringLiteral("the export is damaged or cut short before it could be found (%1)").arg(m_damage);
    }
    return object;
}

std::unique_ptr<SharedFileStore::Reader> ExportMedia::open(const QString& objectId) {
    const auto found = m_members.find(objectId);
    if (found == m_members.end() || found->second.object.state != Object::State::File)
        throw Failure(QStringLiteral("the export does not hold it"));
    const Member& member = found->second;
    const QString shown = QDir::toNativeSeparators(m_path);
    const auto readError = [shown](const QString& reason) {
        throw Failure::endingRun(
            QStringLiteral("'%1' cannot be read: %2. The drive it is on may have been removed or be failing; "
                           "check it and try again.")
                .arg(shown, reason),
            QStringLiteral("'%1' can no longer be read").arg(shown));
    };
    const std::function<void()> cutShort = [this] { changed(); };
    if (m_container != ExportText::Container::Tar) {
        int error = 0;
        std::shared_ptr<ReadOnlyFile> file = ReadOnlyFile::open(*m_folder, member.name, true, &error);
        if (!file || !(file->id() == member.id) || file->size() != member.object.size)
            changed();
        return std::make_unique<PieceReader>(
            member.object.size,
            [file, readError](char* into, qint64 size) {
                qint64 done = 0;
                const int error = file->read(into, size, &done);
                if (error != 0)
                    readError(fileErrorText(error));
                return done;
            },
            nullptr, cutShort);
    }
    auto file = std::make_shared<QFile>(m_path);
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        readError(file->errorString());
    if (file->size() != m_archiveSize || modifiedAt(m_path) != m_archiveModified)
        changed();
    // Where the archive's header said: the bytes there must be those the archive gave.
    if (!file->seek(member.at) ||
        headDigest(file->read(qMin<qint64>(member.object.size, kHeadSize))) != member.head ||
        !file->seek(member.at))
        changed();
    const auto unchanged = [this, file] {
        if (file->size() != m_archiveSize || modifiedAt(m_path) != m_archiveModified)
            changed();
    };
    return std::make_unique<PieceReader>(
        member.object.size,
        [file, readError](char* into, qint64 size) {
            const qint64 read = file->read(into, size);
            if (read < 0)
                readError(file->errorString());
            return read;
        },
        unchanged, cutShort);
}
