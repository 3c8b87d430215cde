#include "ExportText.h"

#include "CutShortGuard.h"

#include "base/Failure.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#ifdef Q_OS_LINUX
#include <sys/mman.h>
#include <unistd.h>
#endif
#include <archive_entry.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

namespace {

// A buffer for the whole export, where it cannot be mapped. On Linux it asks for huge pages:
// filling hundreds of megabytes page by page costs more in page faults than the copy itself. Empty
// when the memory cannot be had.
simdjson::padded_string exportBuffer(size_t size) {
    simdjson::padded_string buffer(size);
    if (!buffer.data())
        return buffer;
#ifdef Q_OS_LINUX
    const auto start = (reinterpret_cast<uintptr_t>(buffer.data()) + 4095) & ~uintptr_t(4095);
    const auto end = reinterpret_cast<uintptr_t>(buffer.data()) + size;
    if (end > start)
        madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#endif
    return buffer;
}

// The pages of a mapped file that a process has read count as its memory until it lets go of them,
// though the system keeps them cached for the file. The scan lets go of what it has passed, in steps
// of this size, so that its memory does not grow with the export.
constexpr size_t kReleaseStep = size_t(1) << 20;

class Mapping {
public:
    Mapping(QFile& file, qint64 at, qint64 size)
        : m_file(file)
        , m_data(size > 0 ? file.map(at, size) : nullptr) {}
    ~Mapping() {
        if (m_data)
            m_file.unmap(m_data);
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    const char* data() const { return reinterpret_cast<const char*>(m_data); }

private:
    QFile& m_file;
    uchar* m_data;
};

struct ArchiveCloser {
    void operator()(archive* a) const { archive_read_free(a); }
};

qint64 modifiedAt(const QFile& file) {
    return file.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch();
}

// What an archive member that is no file is, in words.
QString memberKind(archive_entry* entry) {
    if (const char* target = archive_entry_hardlink(entry))
        return QStringLiteral("a link to the member '%1'").arg(QString::fromUtf8(target));
    const char* target = archive_entry_symlink(entry);
    switch (archive_entry_filetype(entry)) {
    case AE_IFLNK:
        return target && *target ? QStringLiteral("a link to '%1'").arg(QString::fromUtf8(target))
                                 : QStringLiteral("a link");
    case AE_IFDIR:
        return QStringLiteral("a folder");
    case AE_IFIFO:
        return QStringLiteral("a pipe (FIFO)");
    case AE_IFCHR:
    case AE_IFBLK:
        return QStringLiteral("a device");
    case AE_IFSOCK:
        return QStringLiteral("a socket");
    default:
        return QStringLiteral("a member of an unknown kind");
    }
}

} // namespace

ExportText::ExportText(const QString& path, Container container)
    : m_path(path) {
    if (container == Container::Tar)
        readTar(path);
    else
        openFile(path, 0, -1);
}

ExportText::ExportText(const QString& name, const QByteArray& json)
    : m_path(name)
    , m_textSize(json.size())
    , m_inMemory(json.constData(), static_cast<size_t>(json.size())) {}

ExportText::~ExportText() = default;

void ExportText::fail(const QString& reason) const {
    throw Failure(QStringLiteral("'%1' is not a Skype history: %2").arg(m_path, reason));
}

void ExportText::cutShort() const {
    throw Failure::endingRun(
        QStringLiteral("'%1' changed while it was read: it is shorter now than when it was opened. "
                       "Try again once it is written in full.")
            .arg(m_path),
        QStringLiteral("'%1' changed while it was read").arg(m_path));
}

void ExportText::writtenTo() const {
    throw Failure::endingRun(
        QStringLiteral("'%1' changed while it was read: it was written to after it was opened. "
                       "Try again once it is written in full.")
            .arg(m_path),
        QStringLiteral("'%1' changed while it was read").arg(m_path));
}

void ExportText::readError(const QString& reason) const {
    throw Failure::endingRun(
        QStringLiteral("'%1' cannot be read: %2. The drive it is on may have been removed or be failing; "
                       "check it and try again.")
            .arg(m_path, reason),
        QStringLiteral("'%1' can no longer be read").arg(m_path));
}

void ExportText::checkUnchanged(QFile& file) const {
    // Asking the size of an open file asks the system again, for its time as well.
    const qint64 size = file.size();
    if (size < m_openedSize)
        cutShort();
    if (size != m_openedSize || modifiedAt(file) != m_openedModified)
        writtenTo();
}

void ExportText::allocate(qint64 size) {
    if (size < 0 ||
        static_cast<quint64>(size) > std::numeric_limits<size_t>::max() - simdjson::SIMDJSON_PADDING)
        fail(QStringLiteral("messages.json claims a size of %1 bytes").arg(size));
    m_inMemory = exportBuffer(static_cast<size_t>(size));
    if (!m_inMemory.data())
        fail(QStringLiteral("messages.json (%1 MiB) is larger than the memory this computer can give")
                 .arg(size >> 20));
}

void ExportText::openFile(const QString& path, qint64 textAt, qint64 textSize) {
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        fail(file->errorString());
    m_textAt = textAt;
    m_openedSize = file->size();
    m_openedModified = modifiedAt(*file);
    m_textSize = textSize < 0 ? m_openedSize : textSize;
    m_file = std::move(file);
}

void ExportText::readWhole() {
    QFile& file = *m_file;
    const qint64 size = m_textSize;
    allocate(size);
    if (!file.seek(m_textAt) || file.read(m_inMemory.data(), size) != size)
        fail(QStringLiteral("it cannot be read whole: %1").arg(file.errorString()));
    m_file.reset();
}

void ExportText::readTar(const QString& path) {
    std::unique_ptr<archive, ArchiveCloser> tar(archive_read_new());
    archive_read_support_format_tar(tar.get());
    // A compressed file that holds no archive is read as one member, to be told for what it is.
    archive_read_support_format_raw(tar.get());
    archive_read_support_filter_all(tar.get());
#ifdef Q_OS_WIN
    // The wide call: a folder with letters outside the ANSI code page opens too.
    const std::wstring wide = path.toStdWString();
    const int opened = archive_read_open_filename_w(tar.get(), wide.c_str(), 1 << 16);
#else
    const int opened = archive_read_open_filename(tar.get(), QFile::encodeName(path).constData(), 1 << 16);
#endif
    if (opened != ARCHIVE_OK)
        fail(QString::fromUtf8(archive_error_string(tar.get())));
    const auto readData = [&](char* into, la_int64_t count) {
        la_int64_t done = 0;
        while (done < count) {
            const la_ssize_t read =
                archive_read_data(tar.get(), into + done, static_cast<size_t>(count - done));
            if (read < 0)
                fail(QString::fromUtf8(archive_error_string(tar.get())));
            if (read == 0)
                fail(QStringLiteral("messages.json in the archive is cut short"));
            done += read;
        }
    };
    archive_entry* entry = nullptr;
    int status;
    // A warning is about one member, such as a name the locale cannot spell; the archive reads on.
    while ((status = archive_read_next_header(tar.get(), &entry)) == ARCHIVE_OK || status == ARCHIVE_WARN) {
        if (archive_format(tar.get()) == ARCHIVE_FORMAT_RAW) {
            if (archive_filter_code(tar.get(), 0) == ARCHIVE_FILTER_NONE)
                fail(QStringLiteral("the archive is damaged: its first header does not check out"));
            fail(QStringLiteral("it is a file compressed with %1, not an archive; uncompress it (it may "
                                "be a messages.json) and name what it holds")
                     .arg(QString::fromUtf8(archive_filter_name(tar.get(), 0))));
        }
        const char* pathname = archive_entry_pathname_utf8(entry);
        if (!pathname)
            pathname = archive_entry_pathname(entry);
        std::string_view name = pathname ? pathname : "";
        if (name.substr(0, 2) == "./")
            name.remove_prefix(2);
        // A folder's name may end in a slash.
        if (name.size() > 1 && name.back() == '/')
            name.remove_suffix(1);
        if (name != "messages.json")
            continue;
        if (archive_entry_filetype(entry) != AE_IFREG || archive_entry_hardlink(entry))
            fail(QStringLiteral("messages.json in the archive is not a file but %1").arg(memberKind(entry)));
        // Only a file with holes is stored sparse, which no export is; its size is what the holes
        // stand for, not what the archive holds.
        if (archive_entry_sparse_count(entry) > 0)
            fail(QStringLiteral("messages.json in the archive is stored as a sparse file, with holes in it, "
                                "as no Skype export is"));
        const la_int64_t size = archive_entry_size(entry);
        if (size < 0)
            fail(QStringLiteral("the size of messages.json in the archive is unknown"));
        // A plain tar holds its members whole: a member larger than the archive is a damaged header.
        const bool plain =
            archive_filter_count(tar.get()) == 1 && archive_filter_code(tar.get(), 0) == ARCHIVE_FILTER_NONE;
        const qint64 archiveSize = QFileInfo(path).size();
        if (plain && size > archiveSize)
            fail(QStringLiteral(
                     "the archive is damaged: it claims messages.json holds %1 bytes, more than the "
                     "archive itself")
                     .arg(size));
        // In a plain tar the member's data follows its header whole, where the archive has read to.
        // The first bytes the archive gives must be the file's at that place, or the member is read
        // into memory as from any other archive.
        QByteArray head;
        if (plain && archive_entry_sparse_count(entry) == 0) {
            const la_int64_t at = archive_filter_bytes(tar.get(), 0);
            head.resize(static_cast<qsizetype>(std::min<la_int64_t>(size, 4096)));
            readData(head.data(), head.size());
            if (at > 0 && at <= archiveSize - size) {
                openFile(path, at, size);
                QFile& file = *m_file;
                if (file.seek(at) && file.read(head.size()) == head)
                    return;
                m_file.reset();
            }
        }
        allocate(size);
        std::memcpy(m_inMemory.data(), head.constData(), static_cast<size_t>(head.size()));
        readData(m_inMemory.data() + head.size(), size - head.size());
        m_textSize = size;
        return;
    }
    if (status != ARCHIVE_EOF)
        fail(QString::fromUtf8(archive_error_string(tar.get())));
    fail(QStringLiteral("the archive holds no messages.json"));
}

void ExportText::scan(const Pass& pass) {
    std::optional<Mapping> mapping;
    if (m_file) {
        // Pages mapped past the end of a file that was cut short cannot be read at all.
        if (m_file->size() < m_textAt + m_textSize)
            cutShort();
        mapping.emplace(*m_file, m_textAt, m_textSize);
        // A file system that cannot map files: the text is read into memory, as it always could be.
        if (!mapping->data() && m_textSize > 0) {
            mapping.reset();
            readWhole();
        }
    }
    const std::string_view text = mapping ? std::string_view(mapping->data(), static_cast<size_t>(m_textSize))
                                          : std::string_view(m_inMemory.data(), m_inMemory.size());
    const char* const mapped = mapping ? mapping->data() : nullptr;
#ifdef Q_OS_LINUX
    const auto pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    // The mapping begins at the page that holds the text's first byte.
    uintptr_t released = reinterpret_cast<uintptr_t>(mapped) & ~(pageSize - 1);
#endif
    const Passed passed = [&](size_t end) {
#ifdef Q_OS_LINUX
        const uintptr_t at = (reinterpret_cast<uintptr_t>(mapped) + end) & ~(pageSize - 1);
        if (mapped && at - released >= kReleaseStep) {
            madvise(reinterpret_cast<void*>(released), at - released, MADV_DONTNEED);
            released = at;
        }
#else
        Q_UNUSED(end);
#endif
    };
    // The file cut short while it is scanned reads as zeros past its new end, not as the end of
    // the program; the scan then fails for what it met, and is told why.
    std::optional<CutShortGuard> guard;
    if (mapping)
        guard.emplace(mapped, text.size(), m_file->handle(), m_textAt + m_textSize);
    // Told apart by the file's size after the scan: a drive pulled or failing leaves it as it was.
    const auto failedRead = [&] {
        if (!guard)
            return;
        switch (guard->met()) {
        case CutShortGuard::Met::Nothing:
            return;
        case CutShortGuard::Met::TheEnd:
            cutShort();
        case CutShortGuard::Met::ReadError:
            readError(QStringLiteral("the system could not read a part of it"));
        }
    };
    try {
        pass(text, passed);
    } catch (const Failure&) {
        failedRead();
        throw;
    }
    failedRead();
}

void ExportText::copy(size_t at, size_t size, char* into) {
    if (!m_file) {
        std::memcpy(into, m_inMemory.data() + at, size);
        return;
    }
    const std::lock_guard<std::mutex> lock(m_reading);
    QFile& file = *m_file;
    const qint64 from = m_textAt + static_cast<qint64>(at);
    qint64 done = 0;
    if (file.size() >= from + static_cast<qint64>(size)) {
        if (!file.seek(from))
            readError(file.errorString());
        while (done < static_cast<qint64>(size)) {
            const qint64 read = file.read(into + done, static_cast<qint64>(size) - done);
            // An error is the disk's; nothing more to read is the file cut short meanwhile.
            if (read < 0)
                readError(file.errorString());
            if (read == 0)
                break;
            done += read;
        }
    }
    if (done != static_cast<qint64>(size))
        cutShort();
    // One written to before or while this was read fails too: the conversation may no longer stand
    // where the index found it.
    checkUnchanged(file);
}

ExportText::Encoding ExportText::encodingOf(std::string_view head) {
    if (head.substr(0, 2) == "\xFF\xFE" || head.substr(0, 2) == "\xFE\xFF")
        return Encoding::Utf16;
    // JSON starts with ASCII ('{' or a blank), which UTF-16 writes beside a NUL byte; and UTF-16 text
    // holds no unit that is NUL in both bytes.
    const size_t units = std::min<size_t>(head.size(), 64) / 2;
    bool text = units >= 2 && (head[0] == 0) != (head[1] == 0);
    for (size_t i = 0; text && i < units; ++i)
        text = head[2 * i] != 0 || head[2 * i + 1] != 0;
    if (text)
        return Encoding::Utf16;
    return head.find('\0') == std::string_view::npos ? Encoding::Utf8 : Encoding::NulBytes;
}
