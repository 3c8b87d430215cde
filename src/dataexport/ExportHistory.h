#pragma once

#include "ConversationIndex.h"
#include "ExportText.h"

#include "messages/History.h"

#include <simdjson.h>

#include <memory>
#include <string_view>

// The Skype data export: messages.json, alone or inside the export .tar. The file is mapped once to
// find where each conversation's messages stand; each conversation's messages are read from the file
// again and parsed when asked for. Memory so holds about one conversation, never the whole export:
// only a compressed archive, which Skype does not write, is unpacked into memory. Each opening reads
// the export through anew, as the window opens its history anew for each of its buttons.
class ExportHistory final : public History {
public:
    using Container = ExportText::Container;
    using Encoding = ExportText::Encoding;

    // Fails with a description naming the path when it is not a usable Skype export.
    ExportHistory(const QString& path, Container container);
    // An export already in memory; `name` stands for it in descriptions.
    ExportHistory(const QString& name, const QByteArray& json);
    ~ExportHistory() override;

    QStringList contacts() override;
    const std::vector<HistoryChat>& chats() override;
    ChatContent messages(size_t chat) override;
    ChatTime timeStamp(size_t chat) override;
    std::unique_ptr<History> reader() const override;

    // ISO 8601 UTC with 0 to 3 fraction digits, as whole seconds since 1970 (the fraction dropped,
    // so that a time shown in a header and the same time in a date range compare equal).
    static ChatTime parseTime(std::string_view text);
    static Encoding encodingOf(std::string_view head) { return ExportText::encodingOf(head); }

private:
    struct Stamp {
        ChatTime earliest;
        bool known = false;
    };

    explicit ExportHistory(std::shared_ptr<ExportText> text);
    ExportHistory(std::shared_ptr<ExportText> text, std::shared_ptr<const ConversationIndex> index);

    // Copies the conversation's MessageList into m_buffer, with the parser's padding behind it, and
    // mends what the parser would refuse; returns its size.
    size_t load(const ConversationIndex::Span& span);

    std::shared_ptr<ExportText> m_text;
    std::shared_ptr<const ConversationIndex> m_index;
    simdjson::ondemand::parser m_parser;
    simdjson::padded_string m_buffer;
    std::vector<Stamp> m_stamps;
};
