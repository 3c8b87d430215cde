#pragma once

#include <QString>

#include <functional>
#include <memory>

class Chat;
class ErrorTrap;
class MessageCollection;

// The pieces of a transcript.
namespace Transcript {

// "[" + the chat's time stamp as text + "]".
QString header(const Chat& chat);

// Every message's line, sender + ": " + body + CR LF, from the highest position down to position 1.
// The count is read once under `countLine`; each message under `messageLine`, and a message that
// cannot be read leaves its line out. A count that cannot be read gives an empty block.
QString messageBlock(ErrorTrap& trap, int countLine, int messageLine,
                     const std::function<std::shared_ptr<MessageCollection>()>& readMessages);

} // namespace Transcript
