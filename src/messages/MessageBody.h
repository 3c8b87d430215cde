#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>
#include <string_view>

// What a message is, whichever history it comes from.
enum class MessageKind { Text, CallStarted, CallEnded, Call, Files, Contacts, Media, Event };

// The body a transcript shows for each kind of message, the same for both histories.
namespace MessageBody {

MessageKind kindOfDatabaseType(int type);
MessageKind kindOfExportType(std::string_view messageType);

// The plain text of a body's markup, line breaks as CR LF.
QString plainText(const QString& markup);

// The body of a message of this kind, or nothing when the message is left out of the collection.
std::optional<QString> bodyFor(MessageKind kind, const QString& markup);

// Bytes read as UTF-8 text is read (a leading byte order mark dropped, each bad sequence as
// U+FFFD), in UTF-8; whether that leaves them as they are.
QByteArray readableUtf8(QByteArrayView bytes);
bool isReadAsItIs(QByteArrayView bytes);

// The same from a body in UTF-8 to its text in UTF-8: the bytes of the above's text, without going
// through it for the common kinds. Bytes that are not UTF-8 read as U+FFFD, as above.
QByteArray plainTextUtf8(QByteArrayView markup);
std::optional<QByteArray> bodyForUtf8(MessageKind kind, QByteArrayView markup);
// The same, appended to `out`, which a long body then takes no more than its own size of: false,
// with `out` as it was, when the message is left out.
bool appendBodyUtf8(MessageKind kind, QByteArrayView markup, QByteArray& out);
// Whether a text body is its own text byte for byte: UTF-8 read as it is, with no markup, entity
// or line break to work out.
bool isPlainUtf8(QByteArrayView markup);

} // namespace MessageBody
