#include "Transcript.h"

#include "base/DateText.h"
#include "base/ErrorTrap.h"
#include "skype/SkypeLink.h"

#include <vector>

namespace Transcript {

QString header(const Chat& chat) {
    return QLatin1Char('[') + DateText::toText(chat.timeStamp()) + QLatin1Char(']');
}

QString messageBlock(ErrorTrap& trap, int countLine, int messageLine,
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
    std::vector<std::pair<QString, QString>> lines;
    lines.reserve(static_cast<size_t>(qMax(count, 0)));
    qsizetype length = 0;
    for (int position = 1; position <= count; ++position) {
        trap.step(messageLine, [&] {
            const std::shared_ptr<Message> message = messages->item(position);
            QString sender = message->senderName();
            QString body = message->body();
            length += sender.size() + body.size() + 4;
            lines.emplace_back(std::move(sender), std::move(body));
        });
    }
    QString block;
    block.reserve(length);
    for (auto line = lines.crbegin(); line != lines.crend(); ++line)
        block.append(line->first)
            .append(QLatin1String(": "))
            .append(line->second)
            .append(QLatin1String("\r\n"));
    return block;
}

} // namespace Transcript
