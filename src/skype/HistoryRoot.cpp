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
        return std::shared_ptr<Message>(m_messages, &message);
    }

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
    int count() const override { return static_cast<int>(m_count); }
    std::shared_ptr<Chat> item(int position) const override {
        return std::make_shared<RootChat>(m_root, indexOf(position, m_count));
    }
    void willRead(const std::vector<int>& positions) const override {
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

HistoryRoot::HistoryRoot(Locator locate)
    : m_locate(std::move(locate)) {}

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
    // Drop the previous chat first: only one chat's messages are held at a time, besides those
    // kept for a later planned read.
    m_cachedMessages.reset();
    // The chat asked last, asked again: its read failed, and the caller, going on after the error,
    // asks it once more. That is the same step of the walk or the plan, not a new one: the chats read
    // ahead after it are still the ones wanted.
    const bool again = m_lastAsked && chat == *m_lastAsked;
    // Two chats asked for one after the other make a walk in order worth reading ahead for.
    const bool next = m_lastAsked ? chat == *m_lastAsked + 1 : chat == 0;
    if (!again)
        m_inOrder = next ? m_inOrder + 1 : 0;
    m_lastAsked = chat;
    ReadAhead& ahead = readAhead();
    const std::optional<size_t> planned = again && m_lastInThisPlan ? m_lastPlanned : advancePlan(chat);
    m_lastPlanned = planned;
    m_lastInThisPlan = true;
    const auto kept = m_kept.find(chat);
    if (kept != m_kept.end()) {
        m_cachedMessages = kept->second.messages;
        m_cachedChat = chat;
    } else {
        std::optional<History::ChatContent> content;
        if (ahead.holds(chat))
            content = ahead.take(chat);
        // Not read ahead, or no worker has started on it yet: read here rather than wait.
        remember(chat, content ? std::move(*content) : history().messages(chat));
    }
    if (planned && m_nextRead[*planned])
        keep(chat);
    else
        release(chat);
    const std::vector<size_t> wanted = toReadNext(chat, planned.has_value());
    // A chat read ahead that is not wanted next (the caller passed over it, or left the walk) must
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

// The chats to read next: the plan's that are not kept (a chat it does not name comes in between,
// and the plan goes on after it), else, on a walk in order, the following ones.
std::vector<size_t> HistoryRoot::toReadNext(size_t chat, bool planned) {
    std::vector<size_t> wanted;
    if (planned || m_planAt < m_plan.size()) {
        for (size_t later = m_planAt; later < m_plan.size() && wanted.size() < ReadAhead::kAhead; ++later) {
            const size_t chatLater = m_plan[later];
            if (!m_kept.count(chatLater) &&
                std::find(wanted.begin(), wanted.end(), chatLater) == wanted.end())
                wanted.push_back(chatLater);
        }
    } else if (m_inOrder >= 2) {
        const size_t chats = history().chats().size();
        for (size_t later = chat + 1; later <= chat + ReadAhead::kAhead && later < chats; ++later)
            wanted.push_back(later);
    }
    return wanted;
}

// The chat's place in the plan, from where the plan stands on; the plan goes on after it. A chat
// kept for a planned read the caller passed over is let go when that was its last.
std::optional<size_t> HistoryRoot::advancePlan(size_t chat) {
    const auto from = m_plan.begin() + static_cast<std::ptrdiff_t>(qMin(m_planAt, m_plan.size()));
    const auto found = std::find(from, m_plan.end(), chat);
    if (found == m_plan.end())
        return std::nullopt;
    const auto at = static_cast<size_t>(found - m_plan.begin());
    for (size_t passed = m_planAt; passed < at; ++passed) {
        if (!m_nextRead[passed])
            release(m_plan[passed]);
    }
    m_planAt = at + 1;
    return at;
}

void HistoryRoot::keep(size_t chat) {
    if (m_kept.count(chat))
        return;
    size_t bytes = m_cachedMessages->capacity() * sizeof(HistoryMessage);
    for (const HistoryMessage& message : *m_cachedMessages)
        bytes += message.textBytes();
    if (m_keptBytes + bytes > kKeptBytes)
        return; // read again when the plan comes to it
    m_kept[chat] = {m_cachedMessages, bytes};
    m_keptBytes += bytes;
}

void HistoryRoot::release(size_t chat) {
    const auto kept = m_kept.find(chat);
    if (kept == m_kept.end())
        return;
    m_keptBytes -= kept->second.bytes;
    m_kept.erase(kept);
}

void HistoryRoot::planReads(std::vector<size_t> chats) {
    m_plan = std::move(chats);
    m_planAt = 0;
    m_lastInThisPlan = false;
    m_kept.clear();
    m_keptBytes = 0;
    m_nextRead.assign(m_plan.size(), std::nullopt);
    std::map<size_t, size_t> later;
    for (size_t at = m_plan.size(); at-- > 0;) {
        const auto found = later.find(m_plan[at]);
        if (found != later.end())
            m_nextRead[at] = found->second;
        later[m_plan[at]] = at;
    }
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
    m_cachedChat = chat;
    m_counts.at(chat) = static_cast<int>(m_cachedMessages->size());
    if (content.timeStampKnown)
        m_stamps.at(chat) = {true, content.timeStamp};
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
