#pragma once

#include "ReadAhead.h"
#include "ReadProgress.h"
#include "SkypeLink.h"

#include "messages/History.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The Skype link over a history file. The history is found and opened once, at the first
// operation that needs it; each chat's messages are read when asked for, one chat at a time.
class HistoryRoot final : public SkypeRoot, public std::enable_shared_from_this<HistoryRoot> {
public:
    using Locator = std::function<std::optional<QString>()>;

    // `progress`, where given, is told what the root's chats and messages read.
    explicit HistoryRoot(Locator locate, ReadProgress* progress = nullptr);
    ~HistoryRoot() override;

    std::shared_ptr<ContactCollection> contacts() override;
    std::shared_ptr<ChatCollection> chats() override;
    std::shared_ptr<ClientControl> client() override;
    QString historyFile() const override { return m_historyFile; }

    // Null when nothing is told.
    ReadProgress* progress() const { return m_progress; }

    // False when no history was found; fails when one was named but cannot be used.
    bool open();
    // The opened history; fails when there is none.
    History& history();

    // The chat's messages, kept until another chat's are read. Along a plan, the history reads its
    // chats as it reads best, or the next four are read ahead on two other threads.
    std::shared_ptr<std::vector<HistoryMessage>> messagesOf(size_t chat);
    // The chats a caller will read next, in this order but not one after the other. A chat asked that
    // the plan does not name comes in between; one the caller passes over frees its worker.
    void planReads(std::vector<size_t> chats);
    // The number of messages, known without reading them again once they were read.
    int messageCount(size_t chat);
    ChatTime timeStamp(size_t chat);

private:
    ReadAhead& readAhead();
    void remember(size_t chat, History::ChatContent content);
    void advancePlan(size_t chat);
    std::vector<size_t> toReadNext() const;

    Locator m_locate;
    ReadProgress* m_progress;
    bool m_opened = false;
    std::unique_ptr<History> m_history;
    std::optional<QString> m_openFailure;
    QString m_historyFile;

    size_t m_cachedChat = 0;
    std::shared_ptr<std::vector<HistoryMessage>> m_cachedMessages;
    std::vector<int> m_counts;
    // A chat's time stamp, once reading its messages told it.
    struct KnownStamp {
        bool known = false;
        ChatTime time;
    };
    std::vector<KnownStamp> m_stamps;

    std::unique_ptr<ReadAhead> m_readAhead;
    std::optional<size_t> m_lastAsked;
    // Whether the history itself reads along the plan it was told.
    bool m_historyPlans = false;
    std::vector<size_t> m_plan;
    // Where in the plan the next chat to read stands.
    size_t m_planAt = 0;
    // Whether the chat asked last was asked under the plan that holds now.
    bool m_lastInThisPlan = false;
};
