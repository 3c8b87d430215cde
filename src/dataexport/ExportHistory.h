#pragma once

#include "messages/History.h"

#include <simdjson.h>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

class QFile;

// The Skype data export: messages.json, alone or inside the export .tar. The file is mapped once to
// find where each conversation's messages stand; each conversation's messages are read from the file
// again and parsed when asked for. Memory so holds about one conversation, never the whole export:
// only a compressed archive, which Skype does not write, is unpacked into memory. Each opening reads
// the export through anew, as the window opens its history anew for each of its buttons.
class ExportHistory final : public History {
public:
    enum class Container { Json, Tar };

    // Fails with a description naming the path when it is not a usable Skype export.
    ExportHistory(const QString& path, Container container);
    // An export already in memory; `name` stands for it in descriptions.
    ExportHistory(const QString& name, const QByteArray& json);

    QStringList contacts() override;
    const std::vector<HistoryChat>& chats() override;
    ChatContent messages(size_t chat) override;
    ChatTime timeStamp(size_t chat) override;
    std::unique_ptr<History> reader() const override;

    // "8:live:.cid.1a2b" gives "live:.cid.1a2b"; groups, system lists and ids without a numeric
    // prefix give nothing.
    static QString partnerOf(std::string_view conversationId);
    // ISO 8601 UTC with 0 to 3 fraction digits, as whole seconds since 1970 (the fraction dropped,
    // so that a time shown in a header and the same time in a date range compare equal).
    static ChatTime parseTime(std::string_view text);
    // A JSON string value as written (with its quotes), decoded; anything else gives "".
    static std::string jsonText(std::string_view raw);

    // What the first bytes of a messages.json say about its text: UTF-16 shows a byte order mark or
    // ASCII characters each beside a NUL byte; other NUL bytes are no text at all.
    enum class Encoding { Utf8, Utf16, NulBytes };
    static Encoding encodingOf(std::string_view head);

private:
    // Where the export's text is and where each conversation's messages stand in it. Built once,
    // then only read, also by readers on other threads.
    struct Index {
        Index();
        ~Index();
        // The text is the bytes of `file` from `textAt` on (a plain tar holds its member whole), or,
        // when `file` is null, `inMemory`.
        std::unique_ptr<QFile> file;
        qint64 textAt = 0;
        qint64 textSize = 0;
        // The file's size and modification time when it was opened: a file written to since may
        // hold other text where the index found a conversation.
        qint64 openedSize = 0;
        qint64 openedModified = 0;
        simdjson::padded_string inMemory;
        std::mutex reading; // the one file is read by every reader
        std::vector<HistoryChat> chats;
        // Where a conversation's MessageList stands in the text; empty when it has none.
        struct Span {
            size_t at = 0;
            size_t size = 0;
            // Set where the messages stand in something other than a list.
            bool noList = false;
        };
        std::vector<Span> messageLists;
    };
    struct Stamp {
        ChatTime earliest;
        bool known = false;
    };

    ExportHistory(QString path, std::shared_ptr<Index> index);

    // Room in memory for messages.json of this size; fails when the memory cannot be had.
    void allocate(qint64 size);
    void openFile(const QString& path, qint64 textAt, qint64 textSize);
    void readTar(const QString& path);
    // Reads the text from the file into memory, where it cannot be mapped.
    void readWhole();
    void prepare();
    void indexConversations(std::string_view text, const char* mapped);
    // Copies the conversation's MessageList into m_buffer, with the parser's padding behind it, and
    // mends what the parser would refuse; returns its size.
    size_t load(const Index::Span& span);
    [[noreturn]] void fail(const QString& reason) const;
    // The file changed or cannot be read any more: every later read would fail too, and the run ends.
    [[noreturn]] void cutShort() const;
    [[noreturn]] void writtenTo() const;
    [[noreturn]] void readError(const QString& reason) const;
    // Fails when the file is not as it was when it was opened. The caller holds `reading`.
    void checkUnchanged(QFile& file) const;

    QString m_path;
    std::shared_ptr<Index> m_index;
    simdjson::ondemand::parser m_parser;
    simdjson::padded_string m_buffer;
    std::vector<Stamp> m_stamps;
};
