#pragma once

#include "messages/History.h"

#include <QString>

#include <string_view>
#include <vector>

class ExportText;

// Where each conversation of an export stands in its text, found in one pass without parsing the
// whole text: parsing it at once would hold its structure in memory, several times the size of the
// text. Built once, then only read, also by readers on other threads.
class ConversationIndex final {
public:
    // Where a conversation's MessageList stands in the text; empty when it has none.
    struct Span {
        size_t at = 0;
        size_t size = 0;
        // Set where the messages stand in something other than a list.
        bool noList = false;
    };

    // Fails with a description naming the export when its text holds no conversations as Skype
    // writes them.
    explicit ConversationIndex(ExportText& text);

    // The conversations other than the system's lists, in the export's order.
    const std::vector<HistoryChat>& chats() const { return m_chats; }
    const Span& messagesOf(size_t chat) const { return m_messageLists.at(chat); }

    // "8:live:.cid.1a2b" gives "live:.cid.1a2b"; groups, system lists and ids without a numeric
    // prefix give nothing.
    static QString partnerOf(std::string_view conversationId);
    // "8:alice" gives "alice"; a text without a numeric prefix is kept whole.
    static std::string_view withoutPrefix(std::string_view id, std::string_view* prefix = nullptr);

private:
    std::vector<HistoryChat> m_chats;
    std::vector<Span> m_messageLists;
};
