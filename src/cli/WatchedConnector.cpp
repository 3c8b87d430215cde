#include "WatchedConnector.h"

#include "ProgressLine.h"

#include "skype/SkypeLink.h"

namespace {

class WatchedMessages final : public MessageCollection {
public:
    WatchedMessages(std::shared_ptr<MessageCollection> inner, ProgressLine& progress)
        : m_inner(std::move(inner))
        , m_progress(progress) {}
    int count() const override { return m_inner->count(); }
    std::shared_ptr<Message> item(int position) const override {
        std::shared_ptr<Message> message = m_inner->item(position);
        m_progress.addMessages(1);
        return message;
    }

private:
    std::shared_ptr<MessageCollection> m_inner;
    ProgressLine& m_progress;
};

class WatchedChat final : public Chat {
public:
    WatchedChat(std::shared_ptr<Chat> inner, ProgressLine& progress)
        : m_inner(std::move(inner))
        , m_progress(progress) {}
    QString name() const override { return m_inner->name(); }
    std::shared_ptr<MessageCollection> messages() const override {
        return std::make_shared<WatchedMessages>(m_inner->messages(), m_progress);
    }
    QDateTime timeStamp() const override { return m_inner->timeStamp(); }
    QString partnerHandle() const override { return m_inner->partnerHandle(); }
    QString topic() const override { return m_inner->topic(); }

private:
    std::shared_ptr<Chat> m_inner;
    ProgressLine& m_progress;
};

class WatchedChats final : public ChatCollection {
public:
    WatchedChats(std::shared_ptr<ChatCollection> inner, ProgressLine& progress)
        : m_inner(std::move(inner))
        , m_progress(progress) {}
    int count() const override {
        const int count = m_inner->count();
        m_progress.chatsCounted(count);
        return count;
    }
    std::shared_ptr<Chat> item(int position) const override {
        auto chat = std::make_shared<WatchedChat>(m_inner->item(position), m_progress);
        m_progress.chatAsked(position);
        return chat;
    }
    void willRead(const std::vector<int>& positions) const override {
        // The plan counts whether or not the reader takes the hint.
        m_progress.setPlan(positions);
        m_inner->willRead(positions);
    }

private:
    std::shared_ptr<ChatCollection> m_inner;
    ProgressLine& m_progress;
};

class WatchedRoot final : public SkypeRoot {
public:
    WatchedRoot(std::shared_ptr<SkypeRoot> inner, ProgressLine& progress)
        : m_inner(std::move(inner))
        , m_progress(progress) {}
    std::shared_ptr<ContactCollection> contacts() override { return m_inner->contacts(); }
    std::shared_ptr<ChatCollection> chats() override {
        return std::make_shared<WatchedChats>(m_inner->chats(), m_progress);
    }
    std::shared_ptr<ClientControl> client() override { return m_inner->client(); }

private:
    std::shared_ptr<SkypeRoot> m_inner;
    ProgressLine& m_progress;
};

} // namespace

WatchedConnector::WatchedConnector(SkypeConnector& link, ProgressLine* progress)
    : m_link(link)
    , m_progress(progress) {}

std::shared_ptr<SkypeRoot> WatchedConnector::createRoot() {
    if (!m_root) {
        m_root = m_link.createRoot();
        if (m_progress && m_root)
            m_root = std::make_shared<WatchedRoot>(m_root, *m_progress);
    }
    return m_root;
}

void WatchedConnector::chooseHistory(const QString& path) {
    m_link.chooseHistory(path);
    m_root.reset();
}
