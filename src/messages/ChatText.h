#pragma once

#include "History.h"
#include "MessageBody.h"

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// The texts of one chat's messages in UTF-8, one after the other in one block: a chat costs one
// growing allocation instead of two per message. The messages made from it share the block.
class ChatText final {
public:
    using Span = HistoryMessage::Span;

    // The last name added by one sender column: consecutive messages mostly share a sender.
    class LastName {
        friend class ChatText;
        QByteArray m_bytes;
        std::optional<Span> m_span;
    };

    // The body a transcript shows for a message of this kind, added; nothing when the message is
    // left out.
    std::optional<Span> addBody(MessageKind kind, QByteArrayView markup);
    // A sender's name, read as text reads it; the same bytes as `last` share its text.
    Span addName(QByteArrayView bytes, LastName& last);
    // A message whose texts were added before; it holds the block as it is now.
    HistoryMessage message(Span sender, Span body) const { return HistoryMessage(m_block, sender, body); }

private:
    QByteArray m_block;
};
