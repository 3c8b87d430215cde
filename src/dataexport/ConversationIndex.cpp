#include "ConversationIndex.h"

#include "ExportText.h"
#include "JsonScanner.h"
#include "JsonText.h"

#include <stdexcept>
#include <string>

namespace {

// Skype's conversation ids and names run to a few hundred bytes. A thousand times that is no id or
// name but damage, whose copies (as text, as a contact, as a file name) would take gigabytes.
constexpr size_t kLongestId = size_t(1) << 20;

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

ConversationIndex::ConversationIndex(ExportText& exported) {
    // Only the conversations' ids and where their messages stand are needed now; each
    // conversation's messages are parsed when asked for.
    exported.scan([&](std::string_view text, const ExportText::Passed& passed) {
        switch (ExportText::encodingOf(text.substr(0, 512))) {
        case ExportText::Encoding::Utf16:
            exported.fail(QStringLiteral(
                "messages.json is saved as UTF-16; save it as UTF-8, as Skype exports it, and try again"));
        case ExportText::Encoding::NulBytes:
            exported.fail(
                QStringLiteral("messages.json is damaged: it holds NUL bytes where its text should be"));
        case ExportText::Encoding::Utf8:
            break;
        }
        size_t conversations = 0;
        const auto conversation = [&](const std::vector<std::string_view>& members, size_t end) {
            ++conversations;
            for (const size_t member : {size_t(0), size_t(2)}) {
                if (members[member].size() > kLongestId)
                    exported.fail(
                        QStringLiteral("messages.json is damaged: the %1 of its conversation %2 is %3 bytes "
                                       "long, where Skype's are a few hundred")
                            .arg(member == 0 ? QStringLiteral("id") : QStringLiteral("name"))
                            .arg(conversations)
                            .arg(members[member].size()));
            }
            const std::string id = JsonText::decoded(JsonText::mended(members[0]));
            if (id.compare(0, 3, "48:") != 0) {
                const std::string_view messages = members[1];
                m_chats.push_back(
                    {fromUtf8(id), partnerOf(id), fromUtf8(JsonText::decoded(JsonText::mended(members[2])))});
                Span span;
                if (!messages.empty() && messages.front() == '[')
                    span = {static_cast<size_t>(messages.data() - text.data()), messages.size()};
                else
                    span.noList = !messages.empty() && messages != "null"; // missing or null: none
                m_messageLists.push_back(span);
            }
            passed(end);
        };
        bool found = false;
        try {
            found = JsonScanner(text).forEach("conversations", {"id", "MessageList", "displayName"},
                                              conversation);
        } catch (const std::runtime_error& error) {
            exported.fail(QString::fromUtf8(error.what()));
        }
        if (!found)
            exported.fail(QStringLiteral("it holds no conversations"));
    });
}

std::string_view ConversationIndex::withoutPrefix(std::string_view id, std::string_view* prefix) {
    size_t digits = 0;
    while (digits < id.size() && id[digits] >= '0' && id[digits] <= '9')
        ++digits;
    if (digits == 0 || digits >= id.size() || id[digits] != ':')
        return id;
    if (prefix)
        *prefix = id.substr(0, digits);
    return id.substr(digits + 1);
}

QString ConversationIndex::partnerOf(std::string_view conversationId) {
    std::string_view prefix;
    const std::string_view handle = withoutPrefix(conversationId, &prefix);
    if (prefix.empty() || prefix == "19" || prefix == "48" || endsWith(handle, "@thread.skype") ||
        endsWith(handle, "@thread.v2"))
        return QString();
    return fromUtf8(handle);
}
