#pragma once

#include "HistorySource.h"
#include "ReadProgress.h"
#include "SkypeLink.h"

#include "messages/History.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class PlannedReads;

// The Skype link over a history file, or over several read as one. The history is found and opened
// once, at the first operation that needs it; each chat's messages are read when asked for, one chat
// at a time.
class HistoryRoot final : public SkypeRoot, public std::enable_shared_from_this<HistoryRoot> {
public:
    // The paths of the history, or of the histories to read as one; none when none was found.
    using Locator = std::function<QStringList()>;

    // `progress`, where given, is told what the root's chats and messages read.
    explicit HistoryRoot(Locator locate, ReadProgress* progress = nullptr);
    ~HistoryRoot() override;

    std::shared_ptr<ContactCollection> contacts() override;
    std::shared_ptr<ChatCollection> chats() override;
    std::shared_ptr<ClientControl> client() override;
    QStringList historyFiles() const override;
    // What the history was found to be, each history of a set once, in the order named.
    const std::vector<HistorySource::Located>& sources() const { return m_sources; }

    // Null when nothing is told.
    ReadProgress* progress() const { return m_progress; }

    // False when no history was found; fails when one was named but cannot be used.
    bool open();
    // The opened history; fails when there is none.
    History& history();

    // The chat's messages, kept until another chat's are read. Along a plan, the history reads its
    // chats as it reads best, or the next four are read ahead on two other threads.
    std::shared_ptr<std::vector<HistoryMessage>> messagesOf(size_t chat);
    // The files the chat's messages shared, read with them.
    std::vector<SharedFile> sharedFilesOf(size_t chat);
    // The chats a caller will read next, in this order but not one after the other. A chat asked that
    // the plan does not name comes in between; one the caller passes over frees its worker.
    void planReads(std::vector<size_t> chats);
    // The number of messages, known without reading them again once they were read.
    int messageCount(size_t chat);
    ChatTime timeStamp(size_t chat);

private:
    PlannedReads& reads();
    void remember(size_t chat, History::ChatContent content);

    Locator m_locate;
    ReadProgress* m_progress;
    bool m_opened = false;
    std::unique_ptr<History> m_history;
    std::optional<QString> m_openFailure;
    std::vector<HistorySource::Located> m_sources;

    size_t m_cachedChat = 0;
    std::shared_ptr<std::vector<HistoryMessage>> m_cachedMessages;
    std::vector<SharedFile> m_cachedSharedFiles;
    std::vector<int> m_counts;
    // A chat's time stamp, once reading its messages told it.
    struct KnownStamp {
        bool known = false;
        ChatTime time;
    };
    std::vector<KnownStamp> m_stamps;

    // Last: its reads ahead end before the history they read goes.
    std::unique_ptr<PlannedReads> m_reads;
};
