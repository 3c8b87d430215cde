#include "HistoryRoot.h"

#include "HistorySource.h"

#include "base/Failure.h"

#include <algorithm>

namespace {

QDateTime localTime(const ChatTime& time) {
    if (!time)
        return QDateTime(QDate(1899, 12, 30), QTime(0, 0));
    return QDateTime::fromSecsSinceEpoch(*time);
}

size_t indexOf(int position, size_t count) {
    if (position < 1 || static_cast<size_t>(position) > count)
        throw Failure(QStringLiteral("Index out of bounds"));
    return static_cast<size_t>(position - 1);
}

class RootClient final : public ClientControl {
public:
    explicit RootClient(std::shared_ptr<HistoryRoot> root)
        : m_root(std::move(root)) {}
    bool isRunning() const override { return m_root->open(); }

private:
    std::shared_ptr<HistoryRoot> m_root;
};

class HandleContact final : public Contact {
public:
    explicit HandleContact(QString handle)
        : m_handle(std::move(handle)) {}
    QString handle() const override { return m_handle; }

private:
    QString m_handle;
};

class ContactWalk final : public Walk<Contact> {
public:
    explicit ContactWalk(QStringList handles)
        : m_handles(std::move(handles)) {}
    std::shared_ptr<Contact> next() override {
        if (m_next >= m_handles.size())
            return nullptr;
        return std::make_shared<HandleContact>(m_handles.at(m_next++));
    }

private:
    QStringList m_handles;
    qsizetype m_next = 0;
};

class RootContacts final : public ContactCollection {
public:
    explicit RootContacts(QStringList handles)
        : m_handles(std::move(handles)) {}
    std::unique_ptr<Walk<Contact>> walk() const override { return std::make_unique<ContactWalk>(m_handles); }

private:
    QStringList m_handles;
};

class RootMessages final : public MessageCollection {
public:
    RootMessages(std::shared_ptr<HistoryRoot> root, size_t chat)
        : m_root(std::move(root))
        , m_chat(chat) {}
    int count() const override {
        return m_messages ? static_cast<int>(m_messages->size()) : m_root->messageCount(m_chat);
    }
    std::shared_ptr<Message> item(int position) const override {
        if (!m_messages)
            m_messages = m_root->messagesOf(m_chat);
        // Shares the ownership of the whole chat's messages: no copy per item.
        HistoryMessage& message = m_messages->at(indexOf(position, m_messages->size()));
        if (ReadProgress* progress = m_root->progress())
            progress->messageRead();
        return std::shared_ptr<Message>(m_messages, &message);
    }
    std::vector<SharedFile> sharedFiles() const override { return m_root->sharedFilesOf(m_chat); }

private:
    std::shared_ptr<HistoryRoot> m_root;
    size_t m_chat;
    mutable std::shared_ptr<std::vector<HistoryMessage>> m_messages;
};

class RootChat final : public Chat {
public:
    RootChat(std::shared_ptr<HistoryRoot> root, size_t chat)
        : m_root(std::move(root))
        , m_chat(chat) {}
    QString name() const override { return m_root->history().chats().at(m_chat).name; }
    std::shared_ptr<MessageCollection> messages() const override {
        return std::make_shared<RootMessages>(m_root, m_chat);
    }
    QDateTime timeStamp() const override { return localTime(m_root->timeStamp(m_chat)); }
    QString partnerHandle() const override { return m_root->history().chats().at(m_chat).partner; }
    QString topic() const override { return m_root->history().chats().at(m_chat).topic; }

private:
    std::shared_ptr<HistoryRoot> m_root;
    size_t m_chat;
};

class RootChats final : public ChatCollection {
public:
    explicit RootChats(std::shared_ptr<HistoryRoot> root)
        : m_root(std::move(root))
        , m_count(m_root->history().chats().size()) {}
    int count() const override {
        if (ReadProgress* progress = m_root->progress())
            progress->chatsCounted(static_cast<int>(m_count));
        return static_cast<int>(m_count);
    }
    std::shared_ptr<Chat> item(int position) const override {
        auto chat = std::make_shared<RootChat>(m_root, indexOf(position, m_count));
        if (ReadProgress* progress = m_root->progress())
            progress->chatAsked(position);
        return chat;
    }
    void willRead(const std::vector<int>& positions) const override {
        // Told as it was asked for, whether or not the history takes the hint.
        if (ReadProgress* progress = m_root->progress())
            progress->chatsPlanned(positions);
        std::vector<size_t> chats;
        for (const int position : positions) {
            if (position >= 1 && static_cast<size_t>(position) <= m_count)
                chats.push_back(static_cast<size_t>(position - 1));
        }
        m_root->planReads(std::move(chats));
    }

private:
    std::shared_ptr<HistoryRoot> m_root;
    size_t m_count;
};

} // namespace

HistoryRoot::HistoryRoot(Locator locate, ReadProgress* progress)
    : m_locate(std::move(locate))
    , m_progress(progress) {}

bool HistoryRoot::open() {
    if (m_openFailure)
        throw Failure(*m_openFailure);
    if (!m_opened) {
        const std::optional<QString> path = m_locate();
        m_opened = true;
        if (!path)
            return false;
        try {
            const HistorySource::Located located = HistorySource::identify(*path);
            m_historyFile = located.path;
            m_history = HistorySource::open(located);
        } catch (const Failure& failure) {
            m_openFailure = failure.description();
            throw;
        }
    }
    return m_history != nullptr;
}

History& HistoryRoot::history() {
    if (!open())
        throw Failure(QStringLiteral("No Skype history was found. Drop your main.db or Skype export onto the "
                                     "window, or name it in PARLORIX_SKYPE_DATA."));
    return *m_history;
}

std::shared_ptr<ContactCollection> HistoryRoot::contacts() {
    return std::make_shared<RootContacts>(history().contacts());
}

std::shared_ptr<ChatCollection> HistoryRoot::chats() {
    return std::make_shared<RootChats>(shared_from_this());
}

std::shared_ptr<ClientControl> HistoryRoot::client() {
    return std::make_shared<RootClient>(shared_from_this());
}

std::shared_ptr<std::vector<HistoryMessage>> HistoryRoot::messagesOf(size_t chat) {
    if (m_cachedMessages && m_cachedChat == chat)
        return m_cachedMessages;
    // Drop the previous chat first: only one chat's messages are held at a time.
    m_cachedMessages.reset();
    m_cachedSharedFiles.clear();
    if (m_historyPlans) {
        remember(chat, history().messages(chat));
        return m_cachedMessages;
    }
    // The chat asked last, asked again: its read failed, and the caller, going on after the error,
    // asks it once more. That is the same step of the plan, not a new one: the chats read ahead after
    // it are still the ones wanted.
    const bool again = m_lastAsked && chat == *m_lastAsked;
    m_lastAsked = chat;
    if (!(again && m_lastInThisPlan))
        advancePlan(chat);
    m_lastInThisPlan = true;
    ReadAhead& ahead = readAhead();
    std::optional<History::ChatContent> content;
    if (ahead.holds(chat))
        content = ahead.take(chat);
    // Not read ahead, or no worker has started on it yet: read here rather than wait.
    remember(chat, content ? std::move(*content) : history().messages(chat));
    const std::vector<size_t> wanted = toReadNext();
    // A chat read ahead that is not wanted next (the caller passed over it, or left the plan) must
    // not keep its worker from the ones that are.
    for (const size_t held : ahead.held()) {
        if (std::find(wanted.begin(), wanted.end(), held) == wanted.end())
            ahead.drop(held);
    }
    for (const size_t nextChat : wanted) {
        if (!ahead.holds(nextChat))
            ahead.request(nextChat);
    }
    return m_cachedMessages;
}

// The plan's next chats; a chat it does not name comes in between, and the plan goes on after it.
std::vector<size_t> HistoryRoot::toReadNext() const {
    std::vector<size_t> wanted;
    for (size_t later = m_planAt; later < m_plan.size() && wanted.size() < ReadAhead::kAhead; ++later) {
        if (std::find(wanted.begin(), wanted.end(), m_plan[later]) == wanted.end())
            wanted.push_back(m_plan[later]);
    }
    return wanted;
}

// The plan goes on after the chat's place in it, if it has one from where the plan stands.
void HistoryRoot::advancePlan(size_t chat) {
    const auto from = m_plan.begin() + static_cast<std::ptrdiff_t>(qMin(m_planAt, m_plan.size()));
    const auto found = std::find(from, m_plan.end(), chat);
    if (found != m_plan.end())
        m_planAt = static_cast<size_t>(found - m_plan.begin()) + 1;
}

void HistoryRoot::planReads(std::vector<size_t> chats) {
    m_historyPlans = history().planReads(chats);
    if (m_historyPlans) {
        // The history reads along the plan itself: nothing is read ahead here.
        if (m_readAhead)
            m_readAhead->drop();
        chats.clear();
    }
    m_plan = std::move(chats);
    m_planAt = 0;
    m_lastInThisPlan = false;
}

ReadAhead& HistoryRoot::readAhead() {
    if (!m_readAhead)
        m_readAhead = std::make_unique<ReadAhead>([this] { return history().reader(); });
    return *m_readAhead;
}

void HistoryRoot::remember(size_t chat, History::ChatContent content) {
    const size_t chats = history().chats().size();
    m_counts.resize(chats, -1);
    m_stamps.resize(chats);
    m_cachedMessages = std::make_shared<std::vector<HistoryMessage>>(std::move(content.messages));
    m_cachedSharedFiles = std::move(content.sharedFiles);
    m_cachedChat = chat;
    m_counts.at(chat) = static_cast<int>(m_cachedMessages->size());
    if (content.timeStampKnown)
        m_stamps.at(chat) = {true, content.timeStamp};
}

std::vector<SharedFile> HistoryRoot::sharedFilesOf(size_t chat) {
    if (!(m_cachedMessages && m_cachedChat == chat))
        messagesOf(chat);
    return m_cachedSharedFiles;
}

int HistoryRoot::messageCount(size_t chat) {
    if (chat < m_counts.size() && m_counts[chat] >= 0)
        return m_counts[chat];
    return static_cast<int>(messagesOf(chat)->size());
}

ChatTime HistoryRoot::timeStamp(size_t chat) {
    if (chat < m_stamps.size() && m_stamps[chat].known)
        return m_stamps[chat].time;
    // A chat being read ahead tells its stamp on the way: waited for, not taken, so the walk and
    // its read-ahead go on as they were.
    if (m_readAhead && m_readAhead->holds(chat)) {
        try {
            const History::ChatContent& content = m_readAhead->peek(chat);
            if (content.timeStampKnown)
                return content.timeStamp;
        } catch (...) {
            // the history is asked itself, and reports its own failure
        }
    }
    return history().timeStamp(chat);
}

HistoryRoot::~HistoryRoot() = default;
