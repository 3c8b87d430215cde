#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class Chat;
class ErrorTrap;
class MessageCollection;
class TranscriptFiles;

// The pieces of a transcript.
namespace Transcript {

// "[" + the chat's time stamp as text + "]".
QString header(const Chat& chat);

// A block of lines on its way into a transcript: in UTF-8 where transcripts are in UTF-8 and the
// link held every line so, which is then written without a conversion; else as text.
class Block {
public:
    static Block ofText(QString text);
    static Block ofUtf8(QByteArray text);

    // Adds ASCII text at the end.
    Block& operator+=(QLatin1String tail);
    void appendTo(TranscriptFiles& files, const QString& path) const;
    QString text() const;

private:
    QString m_text;
    QByteArray m_utf8;
    bool m_inUtf8 = false;
};

// Every message's line, sender + ": " + body + CR LF, from the highest position down to position 1.
// The count is read once under `countLine`; each message under `messageLine`, and a message that
// cannot be read leaves its line out. A count that cannot be read gives an empty block.
Block messageBlock(ErrorTrap& trap, int countLine, int messageLine,
                   const std::function<std::shared_ptr<MessageCollection>()>& readMessages);

} // namespace Transcript
