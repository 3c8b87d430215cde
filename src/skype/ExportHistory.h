#pragma once

#include "History.h"

#include <simdjson.h>

#include <memory>
#include <string>
#include <string_view>

// The Skype data export: messages.json, alone or read in place from the export .tar. The text is
// kept in memory once; each conversation's messages are parsed when asked for.
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
    // The export's text and where each conversation's messages stand in it. Built once, then
    // only read, also by readers on other threads.
    struct Index {
        simdjson::padded_string json;
        std::vector<HistoryChat> chats;
        std::vector<std::string_view> messageLists; // raw JSON arrays inside `json`
    };
    struct Stamp {
        ChatTime earliest;
        bool known = false;
    };

    ExportHistory(QString path, std::shared_ptr<Index> index);

    // Room for messages.json of this size; fails when the memory cannot be had.
    void allocate(qint64 size);
    void readJson(const QString& path);
    void readTar(const QString& path);
    void prepare();
    void indexConversations();
    [[noreturn]] void fail(const QString& reason) const;

    QString m_path;
    std::shared_ptr<Index> m_index;
    simdjson::ondemand::parser m_parser;
    std::vector<Stamp> m_stamps;
};
