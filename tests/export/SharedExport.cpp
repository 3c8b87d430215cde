#include "SharedExport.h"

#include "ExportWriter.h"
#include "TarWriter.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <stdexcept>

SharedExport::SharedExport(std::vector<Shared> messages)
    : m_messages(std::move(messages)) {}

MediaObject SharedExport::object(const QString& id, MediaObject::Kind kind, const QString& fileName,
                                 qint64 size, MediaObject::Stored stored) {
    MediaObject object;
    object.id = id;
    object.kind = kind;
    object.fileName = fileName;
    object.size = size;
    object.stored = stored;
    return object;
}

QByteArray SharedExport::bytesOf(const MediaObject& object) {
    return object.content(0, object.size);
}

QByteArray SharedExport::messagesJson() const {
    QStringList chats;
    for (const Shared& shared : m_messages) {
        if (!chats.contains(shared.chat))
            chats.append(shared.chat);
    }
    QByteArray json = R"({"userId": "8:me", "exportDate": "2021-09-10T10:00", "conversations": [)";
    int id = 1;
    for (const QString& chat : chats) {
        const bool group = chat.startsWith(QLatin1String("19:"));
        const QByteArray from = group ? "8:ann" : chat.toUtf8();
        json += QByteArray(chat == chats.first() ? "\n" : ",\n") + "{\"id\": " + ExportWriter::quoted(chat) +
                ", \"displayName\": " + (group ? "\"Family\"" : "null") +
                ", \"properties\": {}, \"threadProperties\": " +
                (group ? "{\"members\": \"[]\", \"topic\": \"Family\"}" : "null") + ", \"MessageList\": [";
        bool first = true;
        for (const Shared& shared : m_messages) {
            if (shared.chat != chat)
                continue;
            if (first) {
                // A text the transcript shows, whatever the files: at the same time, before by its id.
                json += "{\"id\": \"" + QByteArray::number(id++) +
                        "\", \"displayName\": \"Ann\", \"originalarrivaltime\": \"" +
                        shared.arrival.toUtf8() +
                        "\", \"messagetype\": \"RichText\", \"content\": \"hi\", \"from\": \"" + from +
                        "\", \"properties\": null}";
            }
            first = false;
            json += ",\n  {\"id\": \"" + QByteArray::number(id++) +
                    "\", \"displayName\": \"Ann\", \"originalarrivaltime\": \"" + shared.arrival.toUtf8() +
                    "\", \"messagetype\": \"" + shared.object.messageType() +
                    "\", \"content\": " + ExportWriter::quoted(shared.object.markup(shared.originalName)) +
                    ", \"from\": \"" + from + "\", \"properties\": null, \"amsreferences\": " +
                    (shared.namedByUriOnly ? QByteArray("null")
                                           : "[" + ExportWriter::quoted(shared.object.id) + "]") +
                    "}";
        }
        json += "]}";
    }
    return json + "\n]}\n";
}

void SharedExport::writeTar(const QString& path, bool mediaFirst) const {
    TarWriter tar(path);
    const auto media = [&] {
        QStringList written;
        for (const Shared& shared : m_messages) {
            if (!written.contains(shared.object.id))
                shared.object.addTo(tar);
            written.append(shared.object.id);
        }
    };
    if (mediaFirst)
        media();
    tar.add("messages.json", messagesJson());
    if (!mediaFirst)
        media();
    tar.finish();
}

void SharedExport::writeFolder(const QString& folder) const {
    QDir().mkpath(folder);
    QFile json(folder + QStringLiteral("/messages.json"));
    if (!json.open(QIODevice::WriteOnly) || json.write(messagesJson()) < 0)
        throw std::runtime_error("cannot write messages.json");
    json.close();
    QStringList written;
    for (const Shared& shared : m_messages) {
        if (!written.contains(shared.object.id))
            shared.object.writeTo(folder + QStringLiteral("/media"));
        written.append(shared.object.id);
    }
}
