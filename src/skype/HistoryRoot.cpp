#include "HistoryRoot.h"

#include "PlannedReads.h"

#include "base/Failure.h"

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
        const QStringList paths = m_locate();
        m_opened = true;
        if (paths.isEmpty())
            return false;
        // Every history of a set is opened before anything is read: a merge without one of them would
        // hold less than the user has.
        try {
            m_sources = HistorySource::identifyAll(paths);
            m_history = HistorySource::open(m_sources);
        } catch (const Failure& failure) {
            m_openFailure = failure.description();
            throw;
        }
    }
    return m_history != nullptr;
}

QStringList HistoryRoot::historyFiles() const {
    QStringList files;
    for (const HistorySource::Located& source : m_sources)
        files.append(source.path);
    return files;
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
    remember(chat, reads().read(chat));
    return m_cachedMessages;
}

void HistoryRoot::planReads(std::vector<size_t> chats) {
    reads().plan(std::move(chats));
}

PlannedReads& HistoryRoot::reads() {
    History& opened = history();
    if (!m_reads)
        m_reads = std::make_unique<PlannedReads>(opened);
    return *m_reads;
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
    // A chat being read ahead tells its stamp on the way.
    if (m_reads) {
        if (const std::optional<ChatTime> stamp = m_reads->stampReadAhead(chat))
            return *stamp;
    }
    return history().timeStamp(chat);
}

HistoryRoot::~HistoryRoot() = default;
