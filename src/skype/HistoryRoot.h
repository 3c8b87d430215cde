#pragma once

#include "History.h"
#include "SkypeLink.h"

#include <array>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>

// The Skype link over a history file. The history is found and opened once, at the first
// operation that needs it; each chat's messages are read when asked for, one chat at a time.
class HistoryRoot final : public SkypeRoot, public std::enable_shared_from_this<HistoryRoot> {
public:
    using Locator = std::function<std::optional<QString>()>;

    explicit HistoryRoot(Locator locate);

    std::shared_ptr<ContactCollection> contacts() override;
    std::shared_ptr<ChatCollection> chats() override;
    std::shared_ptr<ClientControl> client() override;

    // False when no history was found; fails when one was named but cannot be used.
    bool open();
    // The opened history; fails when there is none.
    History& history();

    // The chat's messages, kept until another chat's are read. While a caller walks the chats in
    // order, the next chat's messages are read ahead on another thread.
    std::shared_ptr<std::vector<HistoryMessage>> messagesOf(size_t chat);
    // The number of messages, known without reading them again once they were read.
    int messageCount(size_t chat);
    ChatTime timeStamp(size_t chat);

private:
    void readAhead(size_t from);
    void dropReadAhead();
    void remember(size_t chat, History::ChatContent content);

    Locator m_locate;
    bool m_opened = false;
    std::unique_ptr<History> m_history;
    std::optional<QString> m_openFailure;

    size_t m_cachedChat = 0;
    std::shared_ptr<std::vector<HistoryMessage>> m_cachedMessages;
    std::vector<int> m_counts;
    // Each chat's time stamp once reading its messages told it.
    std::vector<std::optional<ChatTime>> m_stamps;

    // Two readers-ahead (more only compete for the two cores of a typical machine), each with its
    // own reader of the history: chat c is read by reader c % 2,
    // so while one chat is written the next two are being read.
    static constexpr size_t kReadersAhead = 2;
    std::array<std::unique_ptr<History>, kReadersAhead> m_readers;
    std::map<size_t, std::future<History::ChatContent>> m_ahead;
    std::optional<size_t> m_lastAsked;
    int m_inOrder = 0;
};
