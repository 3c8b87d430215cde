#pragma once

#include "Message.h"

#include <QByteArray>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

// One message as a history gives it: sender and body already worked out, as text or in UTF-8.
class HistoryMessage final : public Message {
public:
    HistoryMessage(QString sender, QString body)
        : m_sender(std::move(sender))
        , m_body(std::move(body)) {}
    // Both valid UTF-8, lying in a block of text the chat's messages share: held, not copied.
    struct Span {
        qsizetype at = 0;
        qsizetype size = 0;
    };
    HistoryMessage(const QByteArray& block, Span sender, Span body)
        : m_block(block)
        , m_senderAt(sender.at)
        , m_senderSize(sender.size)
        , m_bodyAt(body.at)
        , m_bodySize(body.size)
        , m_inUtf8(true) {}
    QString senderName() const override { return m_inUtf8 ? QString::fromUtf8(senderUtf8()) : m_sender; }
    QString body() const override { return m_inUtf8 ? QString::fromUtf8(bodyUtf8()) : m_body; }
    std::optional<Utf8> utf8() const override {
        if (!m_inUtf8)
            return std::nullopt;
        return Utf8{senderUtf8(), bodyUtf8()};
    }
    // What its texts take in memory, a block shared with other messages counted for its part.
    size_t textBytes() const {
        return static_cast<size_t>(m_sender.size() + m_body.size()) * sizeof(QChar) +
               static_cast<size_t>(m_senderSize + m_bodySize);
    }

private:
    QByteArrayView senderUtf8() const {
        return QByteArrayView(m_block.constData() + m_senderAt, m_senderSize);
    }
    QByteArrayView bodyUtf8() const { return QByteArrayView(m_block.constData() + m_bodyAt, m_bodySize); }

    QString m_sender;
    QString m_body;
    QByteArray m_block;
    qsizetype m_senderAt = 0;
    qsizetype m_senderSize = 0;
    qsizetype m_bodyAt = 0;
    qsizetype m_bodySize = 0;
    bool m_inUtf8 = false;
};

// A chat's time stamp: whole seconds since 1970 (UTC), or nothing when the chat has no time at all.
using ChatTime = std::optional<qint64>;

struct HistoryChat {
    QString name;
    // The other person of a one-to-one chat, else empty.
    QString partner;
    // The name given to the chat (a group's topic), else empty.
    QString topic;
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
        // Whether reading the messages worked out the chat's time stamp (the export's stamp is its
        // earliest message), and the stamp so found.
        bool timeStampKnown = false;
        ChatTime timeStamp;
    };
    virtual ChatContent messages(size_t chat) = 0;
    virtual ChatTime timeStamp(size_t chat) = 0;
    // Another reader of the same history, for use on another thread.
    virtual std::unique_ptr<History> reader() const = 0;
    // The chats the caller will read next, in this order, a chat possibly more than once. True when
    // the history reads along the plan itself (the caller need not read ahead); a chat asked that the
    // plan does not name, or no longer names, is read on its own.
    virtual bool planReads(const std::vector<size_t>& chats) {
        static_cast<void>(chats);
        return false;
    }

    // Orders and de-duplicates contact handles the way both histories list them.
    static void sortHandles(QStringList& handles);
    // Times stored outside the years 1 to 9999 are damaged: they read as no time at all.
    static constexpr qint64 kEarliestTime = -62135596800; // 0001-01-01T00:00:00Z
    static constexpr qint64 kLatestTime = 253402300799;   // 9999-12-31T23:59:59Z
    static bool isReadableTime(qint64 seconds) { return seconds >= kEarliestTime && seconds <= kLatestTime; }
};
