// Any message body: the conversion never crashes, never hangs, and keeps its promises.
#include "messages/MessageBody.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString markup =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = MessageBody::plainText(markup);
    // Every line break comes out as CR LF.
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('\n') && (i == 0 || text.at(i - 1) != QLatin1Char('\r')))
            std::abort();
        if (text.at(i) == QLatin1Char('\r') && (i + 1 == text.size() || text.at(i + 1) != QLatin1Char('\n')))
            std::abort();
    }
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (MessageKind kind : {MessageKind::Text, MessageKind::Call, MessageKind::Files, MessageKind::Contacts,
                             MessageKind::Media}) {
        // Kept in UTF-8, the body is the same bytes.
        const std::optional<QString> body = MessageBody::bodyFor(kind, markup);
        const std::optional<QByteArray> utf8 = MessageBody::bodyForUtf8(kind, bytes);
        if (body.has_value() != utf8.has_value() || (body && body->toUtf8() != *utf8))
            std::abort();
    }
    return 0;
}
