#include "ChatText.h"

#include <cstring>

namespace {

constexpr qsizetype kLongestSharedName = 4096;

} // namespace

std::optional<ChatText::Span> ChatText::addBody(MessageKind kind, QByteArrayView markup) {
    const qsizetype at = m_block.size();
    if (kind == MessageKind::Text && MessageBody::isPlainUtf8(markup)) {
        // Most bodies: copied once, straight into the block.
        if (markup.isEmpty())
            return std::nullopt;
        m_block.append(markup);
    } else if (!MessageBody::appendBodyUtf8(kind, markup, m_block)) {
        return std::nullopt;
    }
    return Span{at, m_block.size() - at};
}

ChatText::Span ChatText::addName(QByteArrayView bytes, LastName& last) {
    if (bytes.isEmpty())
        return Span{m_block.size(), 0};
    if (last.m_span && bytes == QByteArrayView(last.m_bytes))
        return *last.m_span;
    const qsizetype at = m_block.size();
    if (MessageBody::isReadAsItIs(bytes))
        m_block.append(bytes);
    else
        m_block.append(MessageBody::readableUtf8(bytes));
    const Span span{at, m_block.size() - at};
    // Kept in a buffer of its own that grows only for a longer name; a name longer than anyone's is
    // not held twice to be shared.
    if (bytes.size() <= kLongestSharedName) {
        last.m_bytes.resize(bytes.size());
        std::memcpy(last.m_bytes.data(), bytes.data(), static_cast<size_t>(bytes.size()));
        last.m_span = span;
    }
    return span;
}
