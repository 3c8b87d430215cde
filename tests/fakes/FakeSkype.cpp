#include "FakeSkype.h"

#include "base/Failure.h"

namespace {

class FakeMessageObject final : public Message {
public:
    FakeMessageObject(const FakeSkype& skype, const FakeSkype::FakeMessage& data, QString object)
        : m_skype(skype)
        , m_data(data)
        , m_object(std::move(object)) {}
    QString senderName() const override {
        m_skype.touch(QStringLiteral("sender"), m_object);
        if (m_skype.onMessageRead)
            m_skype.onMessageRead();
        return m_data.sender;
    }
    QString body() const override {
        m_skype.touch(QStringLiteral("body"), m_object);
        return m_data.body;
    }

private:
    const FakeSkype& m_skype;
    FakeSkype::FakeMessage m_data;
    QString m_object;
};

class FakeMessages final : public MessageCollection {
public:
    FakeMessages(const FakeSkype& skype, int chat)
        : m_skype(skype)
        , m_chat(chat) {}
    int count() const override {
        m_skype.touch(QStringLiteral("messageCount"), QString::number(m_chat));
        return static_cast<int>(data().messages.size());
    }
    std::shared_ptr<Message> item(int position) const override {
        const QString object = QString::number(m_chat) + QLatin1Char('.') + QString::number(position);
        m_skype.touch(QStringLiteral("messageItem"), object);
        if (position < 1 || position > data().messages.size())
            throw Failure(QStringLiteral("Index out of bounds"));
        auto message = std::make_shared<FakeMessageObject>(m_skype, data().messages.at(position - 1), object);
        if (m_skype.progress)
            m_skype.progress->messageRead();
        return message;
    }

private:
    const FakeSkype::FakeChat& data() const { return m_skype.chats.at(m_chat - 1); }
    const FakeSkype& m_skype;
    int m_chat;
};

class FakeChatObject final : public Chat {
public:
    FakeChatObject(const FakeSkype& skype, int chat)
        : m_skype(skype)
        , m_chat(chat) {}
    QString name() const override {
        touch(QStringLiteral("name"));
        return data().name;
    }
    std::shared_ptr<MessageCollection> messages() const override {
        touch(QStringLiteral("messages"));
        return std::make_shared<FakeMessages>(m_skype, m_chat);
    }
    QDateTime timeStamp() const override {
        touch(QStringLiteral("timeStamp"));
        return data().stamp;
    }
    QString partnerHandle() const override {
        touch(QStringLiteral("partner"));
        return data().partner;
    }
    QString topic() const override {
        touch(QStringLiteral("topic"));
        return data().topic;
    }

private:
    void touch(const QString& operation) const { m_skype.touch(operation, QString::number(m_chat)); }
    const FakeSkype::FakeChat& data() const { return m_skype.chats.at(m_chat - 1); }
    const FakeSkype& m_skype;
    int m_chat;
};

class FakeChats final : public ChatCollection {
public:
    explicit FakeChats(const FakeSkype& skype)
        : m_skype(skype) {}
    int count() const override {
        m_skype.touch(QStringLiteral("chatCount"));
        if (m_skype.progress)
            m_skype.progress->chatsCounted(static_cast<int>(m_skype.chats.size()));
        return static_cast<int>(m_skype.chats.size());
    }
    std::shared_ptr<Chat> item(int position) const override {
        m_skype.touch(QStringLiteral("chatItem"), QString::number(position));
        if (position < 1 || position > m_skype.chats.size())
            throw Failure(QStringLiteral("Index out of bounds"));
        if (m_skype.progress)
            m_skype.progress->chatAsked(position);
        return std::make_shared<FakeChatObject>(m_skype, position);
    }
    void willRead(const std::vector<int>& positions) const override {
        if (m_skype.progress)
            m_skype.progress->chatsPlanned(positions);
    }

private:
    const FakeSkype& m_skype;
};

class FakeContact final : public Contact {
public:
    FakeContact(const FakeSkype& skype, int index)
        : m_skype(skype)
        , m_index(index) {}
    QString handle() const override {
        m_skype.touch(QStringLiteral("handle"), QString::number(m_index));
        return m_skype.contacts.at(m_index - 1);
    }

private:
    const FakeSkype& m_skype;
    int m_index;
};

class FakeContactWalk final : public Walk<Contact> {
public:
    explicit FakeContactWalk(const FakeSkype& skype)
        : m_skype(skype) {}
    std::shared_ptr<Contact> next() override {
        m_skype.touch(QStringLiteral("next"), QString::number(m_next));
        if (m_next > m_skype.contacts.size())
            return nullptr;
        return std::make_shared<FakeContact>(m_skype, m_next++);
    }

private:
    const FakeSkype& m_skype;
    int m_next = 1;
};

class FakeContacts final : public ContactCollection {
public:
    explicit FakeContacts(const FakeSkype& skype)
        : m_skype(skype) {}
    std::unique_ptr<Walk<Contact>> walk() const override {
        m_skype.touch(QStringLiteral("contactWalk"));
        return std::make_unique<FakeContactWalk>(m_skype);
    }

private:
    const FakeSkype& m_skype;
};

class FakeClient final : public ClientControl {
public:
    explicit FakeClient(const FakeSkype& skype)
        : m_skype(skype) {}
    bool isRunning() const override {
        m_skype.touch(QStringLiteral("running"));
        return m_skype.running;
    }

private:
    const FakeSkype& m_skype;
};

class FakeRoot final : public SkypeRoot {
public:
    explicit FakeRoot(const FakeSkype& skype)
        : m_skype(skype) {}
    std::shared_ptr<ContactCollection> contacts() override {
        m_skype.touch(QStringLiteral("contacts"));
        return std::make_shared<FakeContacts>(m_skype);
    }
    std::shared_ptr<ChatCollection> chats() override {
        m_skype.touch(QStringLiteral("chats"));
        return std::make_shared<FakeChats>(m_skype);
    }
    std::shared_ptr<ClientControl> client() override {
        m_skype.touch(QStringLiteral("client"));
        return std::make_shared<FakeClient>(m_skype);
    }

private:
    const FakeSkype& m_skype;
};

} // namespace

std::shared_ptr<SkypeRoot> FakeSkype::createRoot() {
    touch(QStringLiteral("create"));
    ++rootsCreated;
    return std::make_shared<FakeRoot>(*this);
}

void FakeSkype::touch(const QString& operation, const QString& object) const {
    ++calls[operation];
    if (onTouch)
        onTouch(operation, object);
    if (failing.contains(operation) ||
        (!object.isEmpty() && failing.contains(operation + QLatin1Char('#') + object))) {
        const QString description = QStringLiteral("Skype failed at %1").arg(operation);
        if (!failingEndsRunBecause.isEmpty())
            throw Failure::endingRun(description, failingEndsRunBecause);
        throw Failure(description);
    }
}

FakeSkype::FakeChat& FakeSkype::addChat(const QString& partner, const QDateTime& stamp,
                                        const QStringList& linesOldestFirst) {
    FakeChat chat{partner, partner, stamp, {}, QString()};
    for (const QString& line : linesOldestFirst) {
        const qsizetype colon = line.indexOf(QLatin1String(": "));
        chat.messages.prepend({line.left(colon), line.mid(colon + 2)});
    }
    chats.append(chat);
    return chats.last();
}
