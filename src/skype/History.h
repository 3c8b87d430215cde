#pragma once

#include "SkypeLink.h"

#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

// One message as a history gives it: sender and body already worked out.
class HistoryMessage final : public Message {
public:
    HistoryMessage(QString sender, QString body)
        : m_sender(std::move(sender))
        , m_body(std::move(body)) {}
    QString senderName() const override { return m_sender; }
    QString body() const override { return m_body; }

private:
    QString m_sender;
    QString m_body;
};

struct HistoryChat {
    QString name;
    // The other person of a one-to-one chat, else empty.
    QString partner;
};

// A Skype history opened for reading: the classic database or the data export.
class History {
public:
    virtual ~History() = default;

    // Sorted by handle ignoring case, then by code points; no duplicates.
    virtual QStringList contacts() = 0;
    // In the history's own order; read once.
    virtual const std::vector<HistoryChat>& chats() = 0;
    struct ChatContent {
        // Of the kinds a transcript shows, newest first.
        std::vector<HistoryMessage> messages;
        // The chat's time stamp, where reading the messages told it.
        std::optional<std::optional<qint64>> timeStamp;
    };
    virtual ChatContent messages(size_t chat) = 0;
    // Milliseconds since 1970 (UTC), or nothing when the chat has no time at all.
    virtual std::optional<qint64> timeStamp(size_t chat) = 0;
    // Another reader of the same history, for use on another thread.
    virtual std::unique_ptr<History> reader() const = 0;

    // Orders and de-duplicates contact handles the way both histories list them.
    static void sortHandles(QStringList& handles);
};
