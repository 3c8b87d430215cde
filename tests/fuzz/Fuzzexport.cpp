// Any messages.json: reading it either works or fails with a Failure, never a crash or a hang.
#include "dataexport/ExportHistory.h"

#include "base/Failure.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray json(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        ExportHistory history(QStringLiteral("fuzz.json"), json);
        history.contacts();
        for (size_t chat = 0; chat < history.chats().size(); ++chat) {
            for (const HistoryMessage& message : history.messages(chat).messages)
                (void)message.body();
            history.timeStamp(chat);
        }
    } catch (const Failure&) {
    }
    return 0;
}
