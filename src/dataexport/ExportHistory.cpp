#include "ExportHistory.h"

#include "CutShortGuard.h"
#include "JsonScanner.h"

#include "base/Failure.h"
#include "messages/ChatText.h"
#include "messages/MessageBody.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <archive.h>
#ifdef Q_OS_LINUX
#include <sys/mman.h>
#include <unistd.h>
#endif
#include <archive_entry.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

namespace {

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The text of a value that should be a string; null, missing and other types read as empty.
std::string_view textOf(simdjson::ondemand::value value) {
    std::string_view text;
    if (value.type() == simdjson::ondemand::json_type::string)
        text = value.get_string();
    return text;
}

// The UTF-16 unit of the escape "\uXXXX" at `at`, where one stands before `end`; else -1.
int escapedUnit(const char* at, const char* end) {
    if (end - at < 6 || at[0] != '\\' || at[1] != 'u')
        return -1;
    int unit = 0;
    for (int i = 2; i < 6; ++i) {
        const char c = at[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            return -1;
        unit = unit * 16 + digit;
    }
    return unit;
}

// The text of a string value decoded where it stands in `buffer`, which holds the conversation's
// messages and is the reader's own: a text is never longer decoded than escaped, so a long message
// is not held a second time in the parser's buffer. The parser has found every value's place before
// the first is read and does not look at a value's bytes again. Null, missing and other types read
// as empty.
std::string_view decodedInPlace(simdjson::ondemand::value value, char* buffer) {
    if (value.type() != simdjson::ondemand::json_type::string)
        return {};
    std::string_view raw = value.raw_json_token();
    // The token runs up to the next one, blanks included.
    while (!raw.empty() &&
           (raw.back() == ' ' || raw.back() == '\n' || raw.back() == '\r' || raw.back() == '\t'))
        raw.remove_suffix(1);
    if (raw.size() < 2 || raw.front() != '"' || raw.back() != '"')
        throw simdjson::simdjson_error(simdjson::STRING_ERROR);
    char* const begin = buffer + (raw.data() + 1 - buffer);
    const char* const end = raw.data() + raw.size() - 1;
    const char* in = begin;
    char* out = begin;
    while (in < end) {
        const auto* slash = static_cast<const char*>(std::memchr(in, '\\', static_cast<size_t>(end - in)));
        const char* const run = slash ? slash : end;
        if (out != in)
            std::memmove(out, in, static_cast<size_t>(run - in));
        out += run - in;
        in = run;
        if (in == end)
            break;
        if (end - in < 2)
            throw simdjson::simdjson_error(simdjson::STRING_ERROR);
        char32_t code = 0;
        switch (in[1]) {
        case '"':
        case '\\':
        case '/':
            code = static_cast<char32_t>(in[1]);
            in += 2;
            break;
        case 'b':
            code = '\b';
            in += 2;
            break;
        case 'f':
            code = '\f';
            in += 2;
            break;
        case 'n':
            code = '\n';
            in += 2;
            break;
        case 'r':
            code = '\r';
            in += 2;
            break;
        case 't':
            code = '\t';
            in += 2;
            break;
        case 'u': {
            const int unit = escapedUnit(in, end);
            if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF))
                throw simdjson::simdjson_error(simdjson::STRING_ERROR);
            in += 6;
            code = static_cast<char32_t>(unit);
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                const int low = escapedUnit(in, end);
                if (low < 0xDC00 || low > 0xDFFF)
                    throw simdjson::simdjson_error(simdjson::STRING_ERROR);
                in += 6;
                code = 0x10000 + ((code - 0xD800) << 10) + static_cast<char32_t>(low - 0xDC00);
            }
            break;
        }
        default:
            throw simdjson::simdjson_error(simdjson::STRING_ERROR);
        }
        // At most four bytes for an escape of at least two, six or twelve: never past `in`.
        if (code < 0x80) {
            *out++ = static_cast<char>(code);
        } else if (code < 0x800) {
            *out++ = static_cast<char>(0xC0 | (code >> 6));
            *out++ = static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            *out++ = static_cast<char>(0xE0 | (code >> 12));
            *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (code & 0x3F));
        } else {
            *out++ = static_cast<char>(0xF0 | (code >> 18));
            *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return std::string_view(begin, static_cast<size_t>(out - begin));
}

// "8:alice" gives "alice"; a text without a numeric prefix is kept whole.
std::string_view withoutPrefix(std::string_view id, std::string_view* prefix = nullptr) {
    size_t digits = 0;
    while (digits < id.size() && id[digits] >= '0' && id[digits] <= '9')
        ++digits;
    if (digits == 0 || digits >= id.size() || id[digits] != ':')
        return id;
    if (prefix)
        *prefix = id.substr(0, digits);
    return id.substr(digits + 1);
}

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

qint64 numberOf(std::string_view digits) {
    qint64 value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9' || value > (std::numeric_limits<qint64>::max() - 9) / 10)
            return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

// properties.deletetime marks a deleted message, properties.isserversidegenerated a server copy of an edit.
bool isDeletedOrServerCopy(simdjson::ondemand::value properties) {
    using simdjson::ondemand::json_type;
    if (properties.type() != json_type::object)
        return false;
    bool hidden = false;
    for (simdjson::ondemand::field property : properties.get_object()) {
        const std::string_view name = property.unescaped_key();
        simdjson::ondemand::value value = property.value();
        const json_type type = value.type();
        if (name == "deletetime") {
            hidden = hidden || (type == json_type::string ? !textOf(value).empty() : type != json_type::null);
        } else if (name == "isserversidegenerated") {
            if (type == json_type::boolean)
                hidden = hidden || bool(value.get_bool());
            else if (type == json_type::string) {
                const std::string_view flag = textOf(value);
                hidden = hidden || flag == "true" || flag == "True";
            }
        }
    }
    return hidden;
}

// Every "\uD800" to "\uDFFF" escape that is not half of a pair becomes "\uFFFD", which is just as
// long: the parser refuses a lone surrogate, and one such character must not cost its conversation.
void repairLoneSurrogates(char* json, size_t size) {
    const auto surrogateAt = [&](size_t at, int low, int high) {
        const int unit = at < size ? escapedUnit(json + at, json + size) : -1;
        return unit >= low && unit <= high;
    };
    for (char* found = static_cast<char*>(memchr(json, '\\', size)); found;) {
        size_t at = static_cast<size_t>(found - json);
        if (surrogateAt(at, 0xD800, 0xDBFF) && surrogateAt(at + 6, 0xDC00, 0xDFFF)) {
            at += 12;
        } else if (surrogateAt(at, 0xD800, 0xDFFF)) {
            memcpy(json + at, "\\uFFFD", 6);
            at += 6;
        } else {
            at += 2; // any other escape: the character after the backslash is not one
        }
        found = at < size ? static_cast<char*>(memchr(json + at, '\\', size - at)) : nullptr;
    }
}

// A copy of a short text, such as a conversation's id, with what the parser would refuse mended.
std::string mended(std::string_view raw) {
    std::string text(raw);
    repairLoneSurrogates(text.data(), text.size());
    if (!simdjson::validate_utf8(text.data(), text.size()))
        text = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUtf8().toStdString();
    return text;
}

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
// A conversation's buffer is kept for the next one up to this size; a larger one goes when parsed.
constexpr size_t kKeptBuffer = size_t(4) << 20;
// Skype's conversation ids and names run to a few hundred bytes. A thousand times that is no id or
// name but damage, whose copies (as text, as a contact, as a file name) would take gigabytes.
constexpr size_t kLongestId = size_t(1) << 20;

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

} // namespace

ExportHistory::Index::Index() = default;
ExportHistory::Index::~Index() = default;

ExportHistory::ExportHistory(const QString& path, Container container)
    : m_path(path)
    , m_index(std::make_shared<Index>()) {
    if (container == Container::Tar)
        readTar(path);
    else
        openFile(path, 0, -1);
    prepare();
}

ExportHistory::ExportHistory(const QString& name, const QByteArray& json)
    : m_path(name)
    , m_index(std::make_shared<Index>()) {
    m_index->inMemory = simdjson::padded_string(json.constData(), static_cast<size_t>(json.size()));
    m_index->textSize = json.size();
    prepare();
}

ExportHistory::ExportHistory(QString path, std::shared_ptr<Index> index)
    : m_path(std::move(path))
    , m_index(std::move(index))
    , m_stamps(m_index->chats.size()) {}

std::unique_ptr<History> ExportHistory::reader() const {
    return std::unique_ptr<History>(new ExportHistory(m_path, m_index));
}

void ExportHistory::prepare() {
    std::optional<Mapping> mapping;
    if (m_index->file) {
        // Pages mapped past the end of a file that was cut short cannot be read at all.
        if (m_index->file->size() < m_index->textAt + m_index->textSize)
            cutShort();
        mapping.emplace(*m_index->file, m_index->textAt, m_index->textSize);
        // A file system that cannot map files: the text is read into memory, as it always could be.
        if (!mapping->data() && m_index->textSize > 0) {
            mapping.reset();
            readWhole();
        }
    }
    const std::string_view text =
        mapping ? std::string_view(mapping->data(), static_cast<size_t>(m_index->textSize))
                : std::string_view(m_index->inMemory.data(), m_index->inMemory.size());
    // The file cut short while it is scanned reads as zeros past its new end, not as the end of
    // the program; the scan then fails for what it met, and is told why.
    std::optional<CutShortGuard> guard;
    if (mapping)
        guard.emplace(mapping->data(), text.size(), m_index->file->handle(),
                      m_index->textAt + m_index->textSize);
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
        switch (encodingOf(text.substr(0, 512))) {
        case Encoding::Utf16:
            fail(QStringLiteral(
                "messages.json is saved as UTF-16; save it as UTF-8, as Skype exports it, and try again"));
        case Encoding::NulBytes:
            fail(QStringLiteral("messages.json is damaged: it holds NUL bytes where its text should be"));
        case Encoding::Utf8:
            break;
        }
        indexConversations(text, mapping ? mapping->data() : nullptr);
    } catch (const Failure&) {
        failedRead();
        throw;
    }
    failedRead();
    m_stamps.resize(m_index->chats.size());
}

void ExportHistory::fail(const QString& reason) const {
    throw Failure(QStringLiteral("'%1' is not a Skype history: %2").arg(m_path, reason));
}

void ExportHistory::cutShort() const {
    throw Failure::endingRun(
        QStringLiteral("'%1' changed while it was read: it is shorter now than when it was opened. "
                       "Try again once it is written in full.")
            .arg(m_path),
        QStringLiteral("'%1' changed while it was read").arg(m_path));
}

void ExportHistory::writtenTo() const {
    throw Failure::endingRun(
        QStringLiteral("'%1' changed while it was read: it was written to after it was opened. "
                       "Try again once it is written in full.")
            .arg(m_path),
        QStringLiteral("'%1' changed while it was read").arg(m_path));
}

void ExportHistory::readError(const QString& reason) const {
    throw Failure::endingRun(
        QStringLiteral("'%1' cannot be read: %2. The drive it is on may have been removed or be failing; "
                       "check it and try again.")
            .arg(m_path, reason),
        QStringLiteral("'%1' can no longer be read").arg(m_path));
}

namespace {

qint64 modifiedAt(const QFile& file) {
    return file.fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch();
}

} // namespace

void ExportHistory::checkUnchanged(QFile& file) const {
    // Asking the size of an open file asks the system again, for its time as well.
    const qint64 size = file.size();
    if (size < m_index->openedSize)
        cutShort();
    if (size != m_index->openedSize || modifiedAt(file) != m_index->openedModified)
        writtenTo();
}

void ExportHistory::allocate(qint64 size) {
    if (size < 0 ||
        static_cast<quint64>(size) > std::numeric_limits<size_t>::max() - simdjson::SIMDJSON_PADDING)
        fail(QStringLiteral("messages.json claims a size of %1 bytes").arg(size));
    m_index->inMemory = exportBuffer(static_cast<size_t>(size));
    if (!m_index->inMemory.data())
        fail(QStringLiteral("messages.json (%1 MiB) is larger than the memory this computer can give")
                 .arg(size >> 20));
}

void ExportHistory::openFile(const QString& path, qint64 textAt, qint64 textSize) {
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        fail(file->errorString());
    m_index->textAt = textAt;
    m_index->openedSize = file->size();
    m_index->openedModified = modifiedAt(*file);
    m_index->textSize = textSize < 0 ? m_index->openedSize : textSize;
    m_index->file = std::move(file);
}

void ExportHistory::readWhole() {
    QFile& file = *m_index->file;
    const qint64 size = m_index->textSize;
    allocate(size);
    if (!file.seek(m_index->textAt) || file.read(m_index->inMemory.data(), size) != size)
        fail(QStringLiteral("it cannot be read whole: %1").arg(file.errorString()));
    m_index->file.reset();
}

namespace {

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

void ExportHistory::readTar(const QString& path) {
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
                QFile& file = *m_index->file;
                if (file.seek(at) && file.read(head.size()) == head)
                    return;
                m_index->file.reset();
            }
        }
        allocate(size);
        std::memcpy(m_index->inMemory.data(), head.constData(), static_cast<size_t>(head.size()));
        readData(m_index->inMemory.data() + head.size(), size - head.size());
        m_index->textSize = size;
        return;
    }
    if (status != ARCHIVE_EOF)
        fail(QString::fromUtf8(archive_error_string(tar.get())));
    fail(QStringLiteral("the archive holds no messages.json"));
}

void ExportHistory::indexConversations(std::string_view text, const char* mapped) {
    // Only the conversations' ids and where their messages stand are needed now; each
    // conversation's messages are parsed when asked for. Parsing the whole export at once would
    // hold its structure in memory, several times the size of the text.
#ifdef Q_OS_LINUX
    const auto pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    // The mapping begins at the page that holds the text's first byte.
    uintptr_t released = reinterpret_cast<uintptr_t>(mapped) & ~(pageSize - 1);
#endif
    size_t conversations = 0;
    const auto conversation = [&](const std::vector<std::string_view>& members, size_t end) {
        ++conversations;
        for (const size_t member : {size_t(0), size_t(2)}) {
            if (members[member].size() > kLongestId)
                fail(QStringLiteral(
                         "messages.json is damaged: the %1 of its conversation %2 is %3 bytes long, "
                         "where Skype's are a few hundred")
                         .arg(member == 0 ? QStringLiteral("id") : QStringLiteral("name"))
                         .arg(conversations)
                         .arg(members[member].size()));
        }
        const std::string id = jsonText(mended(members[0]));
        if (id.compare(0, 3, "48:") != 0) {
            const std::string_view messages = members[1];
            m_index->chats.push_back({fromUtf8(id), partnerOf(id), fromUtf8(jsonText(mended(members[2])))});
            Index::Span span;
            if (!messages.empty() && messages.front() == '[')
                span = {static_cast<size_t>(messages.data() - text.data()), messages.size()};
            else
                span.noList = !messages.empty() && messages != "null"; // missing or null: none
            m_index->messageLists.push_back(span);
        }
#ifdef Q_OS_LINUX
        const uintptr_t passed = (reinterpret_cast<uintptr_t>(mapped) + end) & ~(pageSize - 1);
        if (mapped && passed - released >= kReleaseStep) {
            madvise(reinterpret_cast<void*>(released), passed - released, MADV_DONTNEED);
            released = passed;
        }
#else
        Q_UNUSED(mapped);
        Q_UNUSED(end);
#endif
    };
    bool found = false;
    try {
        found =
            JsonScanner(text).forEach("conversations", {"id", "MessageList", "displayName"}, conversation);
    } catch (const std::runtime_error& error) {
        fail(QString::fromUtf8(error.what()));
    }
    if (!found)
        fail(QStringLiteral("it holds no conversations"));
}

size_t ExportHistory::load(const Index::Span& span) {
    size_t size = span.size;
    if (!m_buffer.data() || m_buffer.size() < size) {
        m_buffer = simdjson::padded_string(size);
        if (!m_buffer.data())
            fail(QStringLiteral("a conversation of %1 MiB is larger than the memory this computer can give")
                     .arg(size >> 20));
    }
    if (!m_index->file) {
        std::memcpy(m_buffer.data(), m_index->inMemory.data() + span.at, size);
    } else {
        // Read, not copied from a mapping: a file cut short since it was opened then fails here,
        // where touching a mapped page past its new end would end the program.
        const std::lock_guard<std::mutex> lock(m_index->reading);
        QFile& file = *m_index->file;
        const qint64 at = m_index->textAt + static_cast<qint64>(span.at);
        qint64 done = 0;
        if (file.size() >= at + static_cast<qint64>(size)) {
            if (!file.seek(at))
                readError(file.errorString());
            while (done < static_cast<qint64>(size)) {
                const qint64 read = file.read(m_buffer.data() + done, static_cast<qint64>(size) - done);
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
        // One written to before or while this was read fails too: the conversation may no longer
        // stand where the index found it.
        checkUnchanged(file);
    }
    std::memset(m_buffer.data() + size, 0, simdjson::SIMDJSON_PADDING);
    repairLoneSurrogates(m_buffer.data(), size);
    if (!simdjson::validate_utf8(m_buffer.data(), size)) {
        // Invalid bytes become U+FFFD instead of making the conversation unreadable.
        const QByteArray repaired = QString::fromUtf8(m_buffer.data(), static_cast<qsizetype>(size)).toUtf8();
        m_buffer = simdjson::padded_string(repaired.constData(), static_cast<size_t>(repaired.size()));
        size = m_buffer.size();
    }
    return size;
}

ExportHistory::Encoding ExportHistory::encodingOf(std::string_view head) {
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

std::string ExportHistory::jsonText(std::string_view raw) {
    if (raw.size() < 2 || raw.front() != '"')
        return std::string();
    const std::string_view inside = raw.substr(1, raw.size() - 2);
    if (inside.find('\\') == std::string_view::npos)
        return std::string(inside);
    // Escapes are rare in ids: the parser decodes them.
    simdjson::ondemand::parser parser;
    simdjson::padded_string text(raw);
    std::string_view decoded;
    if (parser.iterate(text).get_string().get(decoded) != simdjson::SUCCESS)
        return std::string();
    return std::string(decoded);
}

QString ExportHistory::partnerOf(std::string_view conversationId) {
    std::string_view prefix;
    const std::string_view handle = withoutPrefix(conversationId, &prefix);
    if (prefix.empty() || prefix == "19" || prefix == "48" || endsWith(handle, "@thread.skype") ||
        endsWith(handle, "@thread.v2"))
        return QString();
    return fromUtf8(handle);
}

ChatTime ExportHistory::parseTime(std::string_view text) {
    // 2020-07-06T17:20:30.609Z
    const auto number = [&](size_t at, size_t length, int& out) {
        if (at + length > text.size())
            return false;
        out = 0;
        for (size_t i = at; i < at + length; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return false;
            out = out * 10 + (text[i] - '0');
        }
        return true;
    };
    int year, month, day, hour, minute, second;
    if (!number(0, 4, year) || text.size() < 20 || text[4] != '-' || !number(5, 2, month) || text[7] != '-' ||
        !number(8, 2, day) || text[10] != 'T' || !number(11, 2, hour) || text[13] != ':' ||
        !number(14, 2, minute) || text[16] != ':' || !number(17, 2, second))
        return std::nullopt;
    size_t at = 19;
    if (text[at] == '.') {
        const size_t fraction = ++at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9')
            ++at;
        if (at == fraction)
            return std::nullopt;
    }
    if (at + 1 != text.size() || text[at] != 'Z')
        return std::nullopt;
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, QTimeZone::utc()).toSecsSinceEpoch();
}

QStringList ExportHistory::contacts() {
    QStringList handles;
    for (const HistoryChat& chat : m_index->chats) {
        if (!chat.partner.isEmpty())
            handles.append(chat.partner);
    }
    sortHandles(handles);
    return handles;
}

const std::vector<HistoryChat>& ExportHistory::chats() {
    return m_index->chats;
}

History::ChatContent ExportHistory::messages(size_t chat) {
    using namespace simdjson;
    const Index::Span messageList = m_index->messageLists.at(chat);
    if (messageList.noList)
        fail(QStringLiteral("the messages of '%1' are not a list").arg(m_index->chats.at(chat).name));
    struct Row {
        qint64 time;
        qint64 id;
        size_t order;
        ChatText::Span sender;
        ChatText::Span body;
    };
    std::vector<Row> rows;
    ChatTime earliest;
    // In UTF-8, as the export holds them, all the way to a transcript in UTF-8.
    ChatText text;
    ChatText::LastName names;
    if (messageList.size > 0) {
        const size_t size = load(messageList);
        try {
            ondemand::document document =
                m_parser.iterate(m_buffer.data(), size, m_buffer.size() + SIMDJSON_PADDING);
            for (ondemand::value entry : document.get_array()) {
                if (entry.type() != ondemand::json_type::object)
                    continue;
                std::string_view id, name, arrival, type, content, from;
                bool hidden = false;
                char* const buffer = m_buffer.data();
                for (ondemand::field field : entry.get_object()) {
                    const std::string_view key = field.unescaped_key();
                    ondemand::value value = field.value();
                    if (key == "id") {
                        id = value.type() == ondemand::json_type::number ? value.raw_json_token()
                                                                         : decodedInPlace(value, buffer);
                    } else if (key == "displayName") {
                        name = decodedInPlace(value, buffer);
                    } else if (key == "originalarrivaltime") {
                        arrival = decodedInPlace(value, buffer);
                    } else if (key == "messagetype") {
                        type = decodedInPlace(value, buffer);
                    } else if (key == "content") {
                        content = decodedInPlace(value, buffer);
                    } else if (key == "from") {
                        from = decodedInPlace(value, buffer);
                    } else if (key == "properties") {
                        hidden = isDeletedOrServerCopy(value);
                    }
                }
                const ChatTime time = parseTime(arrival);
                if (time && (!earliest || *time < *earliest))
                    earliest = time;
                if (hidden)
                    continue;
                const MessageKind kind = MessageBody::kindOfExportType(type);
                if (kind == MessageKind::Event)
                    continue;
                const std::optional<ChatText::Span> body = text.addBody(kind, QByteArrayView(content));
                if (!body)
                    continue;
                const ChatText::Span sender =
                    text.addName(QByteArrayView(name.empty() ? withoutPrefix(from) : name), names);
                rows.push_back({time.value_or(0), numberOf(id), rows.size(), sender, *body});
            }
        } catch (const simdjson_error& error) {
            fail(QString::fromUtf8(error.what()));
        }
        // The parser's own buffers grow with the largest list it parsed: both go after a large one.
        if (m_buffer.size() > kKeptBuffer) {
            m_buffer = simdjson::padded_string();
            m_parser = simdjson::ondemand::parser();
        }
    }
    m_stamps.at(chat) = {earliest, true};

    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        return a.time != b.time ? a.time > b.time : a.id > b.id;
    });
    ChatContent content;
    content.messages.reserve(rows.size());
    for (const Row& row : rows)
        content.messages.push_back(text.message(row.sender, row.body));
    content.timeStampKnown = true;
    content.timeStamp = earliest;
    return content;
}

ChatTime ExportHistory::timeStamp(size_t chat) {
    if (!m_stamps.at(chat).known)
        messages(chat);
    return m_stamps.at(chat).earliest;
}
