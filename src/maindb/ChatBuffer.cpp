#include "ChatBuffer.h"

#include "base/Failure.h"

#include <QTemporaryFile>

#ifdef Q_OS_WIN
#include <QDir>
#include <QRandomGenerator>

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

// A private file in the temporary folder, without a name while it is used where the system allows
// it: a run that is killed leaves no chat text behind.
std::unique_ptr<QFile> privateFile() {
#ifdef Q_OS_WIN
    // Windows removes no open file, but removes one made to go with its last handle, which the
    // system closes also for a program that is killed. No one else may open it meanwhile.
    const QString folder = QDir::toNativeSeparators(QDir::tempPath());
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString name =
            folder + QStringLiteral("\\parlorix-chats-%1.tmp")
                         .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
        const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t*>(name.utf16()),
                                          GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS)
                continue;
            throw Failure(
                QStringLiteral("no temporary file could be made for the messages read: error %1").arg(error));
        }
        // Read and written through the C library's descriptor of that handle, in binary.
        const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
        if (descriptor < 0) {
            CloseHandle(handle);
            throw Failure(QStringLiteral("no temporary file could be made for the messages read"));
        }
        auto file = std::make_unique<QFile>();
        if (!file->open(descriptor, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle)) {
            _close(descriptor);
            throw Failure(QStringLiteral("no temporary file could be made for the messages read: %1")
                              .arg(file->errorString()));
        }
        return file;
    }
    throw Failure(QStringLiteral("no temporary file could be made for the messages read: no free name"));
#else
    auto file = std::make_unique<QTemporaryFile>();
    if (!file->open())
        throw Failure(QStringLiteral("no temporary file could be made for the messages read: %1")
                          .arg(file->errorString()));
    file->setAutoRemove(false);
    ::unlink(QFile::encodeName(file->fileName()).constData());
    return file;
#endif
}

} // namespace

ChatBuffer::ChatBuffer(size_t chats, std::vector<size_t> takenLast, size_t budget)
    : m_memory(chats)
    , m_pieces(chats)
    , m_takenLast(std::move(takenLast))
    , m_budget(budget) {}

ChatBuffer::~ChatBuffer() = default;

void ChatBuffer::append(size_t chat, const char* data, size_t size) {
    // What the memory holds, not what was asked for: a growing string holds up to twice its size.
    std::string& bytes = m_memory[chat];
    const size_t before = bytes.capacity();
    bytes.append(data, size);
    m_inMemory += bytes.capacity() - before;
    if (m_inMemory > m_budget)
        setAside();
}

// Down to half the budget, so that the file is written in large pieces, not once per row.
void ChatBuffer::setAside() {
    if (!m_file)
        m_file = privateFile();
    for (const size_t chat : m_takenLast) {
        if (m_inMemory <= m_budget / 2)
            break;
        std::string& bytes = m_memory[chat];
        if (bytes.empty())
            continue;
        const auto size = static_cast<qint64>(bytes.size());
        if (!m_file->seek(m_fileSize) || m_file->write(bytes.data(), size) != size)
            throw Failure(QStringLiteral("the messages read could not be set aside in a temporary file: %1")
                              .arg(m_file->errorString()));
        m_pieces[chat].push_back({m_fileSize, size});
        m_fileSize += size;
        forget(bytes);
    }
}

void ChatBuffer::forget(std::string& bytes) {
    m_inMemory -= bytes.capacity() - std::string().capacity();
    std::string().swap(bytes);
}

QByteArray ChatBuffer::bytesOf(size_t chat) const {
    qint64 total = static_cast<qint64>(m_memory[chat].size());
    for (const Piece& piece : m_pieces[chat])
        total += piece.size;
    QByteArray bytes;
    bytes.reserve(total);
    for (const Piece& piece : m_pieces[chat]) {
        const qsizetype at = bytes.size();
        bytes.resize(at + piece.size);
        if (!m_file->seek(piece.at) || m_file->read(bytes.data() + at, piece.size) != piece.size)
            throw Failure(
                QStringLiteral("the messages set aside in a temporary file could not be read back: %1")
                    .arg(m_file->errorString()));
    }
    bytes.append(m_memory[chat].data(), static_cast<qsizetype>(m_memory[chat].size()));
    return bytes;
}

void ChatBuffer::release(size_t chat) {
    forget(m_memory[chat]);
    m_pieces[chat].clear();
}

void ChatBuffer::clear() {
    for (size_t chat = 0; chat < m_memory.size(); ++chat)
        release(chat);
    m_file.reset();
    m_fileSize = 0;
}
