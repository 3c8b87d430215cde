#include "Transcript.h"

#include "NarrowText.h"
#include "TranscriptFiles.h"

#include "base/DateText.h"
#include "base/ErrorTrap.h"
#include "skype/SkypeLink.h"

#include <cstring>
#include <vector>

namespace Transcript {

QString header(const Chat& chat) {
    return QLatin1Char('[') + DateText::toText(chat.timeStamp()) + QLatin1Char(']');
}

Block Block::ofText(QString text) {
    Block block;
    block.m_text = std::move(text);
    return block;
}

Block Block::ofUtf8(QByteArray text) {
    Block block;
    block.m_utf8 = std::move(text);
    block.m_inUtf8 = true;
    return block;
}

Block& Block::operator+=(QLatin1String tail) {
    if (m_inUtf8)
        m_utf8.append(tail.data(), tail.size());
    else
        m_text += tail;
    return *this;
}

void Block::appendTo(TranscriptFiles& files, const QString& path) const {
    if (m_inUtf8)
        files.appendUtf8(path, m_utf8);
    else
        files.append(path, m_text);
}

QString Block::text() const {
    return m_inUtf8 ? QString::fromUtf8(m_utf8) : m_text;
}

Block messageBlock(ErrorTrap& trap, int countLine, int messageLine,
                   const std::function<std::shared_ptr<MessageCollection>()>& readMessages) {
    std::shared_ptr<MessageCollection> messages;
    const int count = trap.count(
        countLine,
        [&] {
            messages = readMessages();
            return messages->count();
        },
        0);

    // Read in position order, written from the highest position down: collected, then joined once,
    // which gives the bytes of putting each line in front while staying linear in the block's length.
    // A line the link holds in UTF-8 keeps its message, which its bytes belong to.
    struct Line {
        std::shared_ptr<Message> message;
        Message::Utf8 utf8;
        QString sender;
        QString body;
    };
    std::vector<Line> lines;
    lines.reserve(static_cast<size_t>(qMax(count, 0)));
    bool allUtf8 = NarrowText::systemIsUtf8();
    qsizetype length = 0;
    for (int position = 1; position <= count; ++position) {
        trap.step(messageLine, [&] {
            std::shared_ptr<Message> message = messages->item(position);
            if (allUtf8) {
                if (const std::optional<Message::Utf8> utf8 = message->utf8()) {
                    length += utf8->senderName.size() + utf8->body.size() + 4;
                    lines.push_back({std::move(message), *utf8, QString(), QString()});
                    return;
                }
            }
            QString sender = message->senderName();
            QString body = message->body();
            length += sender.size() + body.size() + 4;
            lines.push_back({nullptr, {}, std::move(sender), std::move(body)});
            allUtf8 = false;
        });
    }
    if (allUtf8) {
        // Sized once and filled in place: a chat of many short lines would spend more on appending
        // than on its bytes.
        QByteArray block(length, Qt::Uninitialized);
        char* at = block.data();
        const auto put = [&](QByteArrayView bytes) {
            if (!bytes.isEmpty())
                std::memcpy(at, bytes.data(), static_cast<size_t>(bytes.size()));
            at += bytes.size();
        };
        for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
            put(line->utf8.senderName);
            put(": ");
            put(line->utf8.body);
            put("\r\n");
        }
        return Block::ofUtf8(std::move(block));
    }
    QString block;
    block.reserve(length);
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        if (line->message) {
            block.append(QString::fromUtf8(line->utf8.senderName))
                .append(QLatin1String(": "))
                .append(QString::fromUtf8(line->utf8.body))
                .append(QLatin1String("\r\n"));
        } else {
            block.append(line->sender)
                .append(QLatin1String(": "))
                .append(line->body)
                .append(QLatin1String("\r\n"));
        }
    }
    return Block::ofText(std::move(block));
}

} // namespace Transcript
