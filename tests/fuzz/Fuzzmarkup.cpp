// Any message body: the conversion never crashes, never hangs, and keeps its promises.
#include "skype/MessageBody.h"

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
    for (MessageKind kind : {MessageKind::Text, MessageKind::Call, MessageKind::Files, MessageKind::Contacts,
                             MessageKind::Media})
        MessageBody::bodyFor(kind, markup);
    return 0;
}
