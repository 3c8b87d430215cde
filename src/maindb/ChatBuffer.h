#pragma once

#include <QByteArray>

#include <memory>
#include <string>
#include <vector>

class QFile;

// The rows of many chats gathered while a table is read once, each chat's bytes one after the other,
// within a budget of memory. When the budget is passed, the chats that will be taken last are set
// aside in a private temporary file, which has no name while it is used (Linux, macOS) or goes with
// its last handle (Windows), also when the program is killed.
class ChatBuffer final {
public:
    // `takenLast`: the chats from the one that will be taken last, set aside in this order.
    ChatBuffer(size_t chats, std::vector<size_t> takenLast, size_t budget);
    ~ChatBuffer();
    ChatBuffer(const ChatBuffer&) = delete;
    ChatBuffer& operator=(const ChatBuffer&) = delete;

    // Fails when the temporary file cannot be made or written.
    void append(size_t chat, const char* data, size_t size);
    // Every byte appended for the chat, in the order appended. Fails when the file cannot be read.
    QByteArray bytesOf(size_t chat) const;
    void release(size_t chat);
    // Lets go of every chat's bytes, and of the file.
    void clear();
    // Whether anything had to be set aside.
    bool usedFile() const { return m_file != nullptr; }

private:
    void setAside();
    // Lets go of a chat's bytes in memory.
    void forget(std::string& bytes);

    struct Piece {
        qint64 at = 0;
        qint64 size = 0;
    };
    std::vector<std::string> m_memory;
    std::vector<std::vector<Piece>> m_pieces;
    std::vector<size_t> m_takenLast;
    size_t m_budget;
    size_t m_inMemory = 0;
    qint64 m_fileSize = 0;
    std::unique_ptr<QFile> m_file;
};
