#pragma once

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

} // namespace MessageBody
