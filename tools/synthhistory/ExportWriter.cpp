#include "ExportWriter.h"

#include "TarWriter.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTimeZone>

#include <stdexcept>

namespace {

QByteArray typeOf(SyntheticHistory::Kind kind, qint64 id) {
    switch (kind) {
    case SyntheticHistory::Kind::Text:
    case SyntheticHistory::Kind::Emote:
    case SyntheticHistory::Kind::ContactRequest:
        return "RichText";
    case SyntheticHistory::Kind::Sms:
        return "Text";
    case SyntheticHistory::Kind::CallStarted:
    case SyntheticHistory::Kind::CallEnded:
        return "Event/Call";
    case SyntheticHistory::Kind::Files:
        return "RichText/Files";
    case SyntheticHistory::Kind::Contacts:
        return "RichText/Contacts";
    case SyntheticHistory::Kind::Media:
        return id % 2 ? "RichText/UriObject" : "RichText/Media_GenericFile";
    case SyntheticHistory::Kind::Event:
        break;
    }
    return "ThreadActivity/AddMember";
}

QByteArray arrivalTime(const SyntheticHistory::Message& m) {
    QByteArray text = QDateTime::fromSecsSinceEpoch(m.time, QTimeZone::utc())
                          .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))
                          .toLatin1();
    if (m.fractionDigits > 0)
        text += '.' + QByteArray::number(m.millis + 1000).right(3).left(m.fractionDigits);
    return text + 'Z';
}

} // namespace

ExportWriter::ExportWriter(const QString& jsonPath, const SyntheticHistory& history)
    : m_file(jsonPath)
    , m_me(history.me().handle) {
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write " + jsonPath.toStdString());
    write("{\"userId\":\"8:" + m_me.toUtf8() +
          "\",\"exportDate\":\"2021-08-31T15:42\",\"conversations\":[\n");
    // A system list, which readers skip.
    write("{\"id\":\"48:calllogs\",\"displayName\":null,\"properties\":{},\"threadProperties\":null,"
          "\"MessageList\":[]}");
    m_first = false;
}

QByteArray ExportWriter::quoted(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (const char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                out += "\\u00" + QByteArray::number(static_cast<unsigned char>(c) + 0x100, 16).right(2);
            else
                out += c;
        }
    }
    out += '"';
    return out;
}

void ExportWriter::write(const QByteArray& bytes) {
    m_buffer += bytes;
    if (m_buffer.size() > (1 << 20)) {
        m_file.write(m_buffer);
        m_buffer.clear();
    }
}

void ExportWriter::writeMessage(const SyntheticHistory::Message& m, const QString& conversationId,
                                bool serverCopy) {
    const bool mine = m.author->handle == m_me;
    QByteArray json =
        "{\"id\":\"" + QByteArray::number(m.time * 1000 + m.millis) + QByteArray::number(m.id % 1000) + "\"";
    json += ",\"displayName\":" + (mine ? QByteArray(m.id % 2 ? "null" : "\"\"") : quoted(m.author->name));
    json += ",\"originalarrivaltime\":\"" + arrivalTime(m) + "\"";
    const bool media = m_withMedia && m.kind == SyntheticHistory::Kind::Media;
    const MediaObject object = media ? MediaObject::forMessage(m_seed, m.id) : MediaObject();
    if (media && !serverCopy)
        m_media.push_back(object);
    json += ",\"messagetype\":\"" + (media ? object.messageType() : typeOf(m.kind, m.id)) + "\"";
    json += ",\"version\":" + QByteArray::number(m.time * 1000);
    json += ",\"content\":" + quoted(media ? object.markup(object.fileName) : m.markup);
    json += ",\"conversationid\":" + quoted(conversationId);
    json += ",\"from\":" + quoted(QStringLiteral("8:") + m.author->handle);
    if (m.removed)
        json += ",\"properties\":{\"deletetime\":\"" + QByteArray::number(m.time * 1000 + 5000) + "\"}";
    else if (serverCopy)
        json += ",\"properties\":{\"isserversidegenerated\":true}";
    else if (m.edited)
        json += ",\"properties\":{\"edittime\":\"" + QByteArray::number(m.time * 1000 + 30000) + "\"}";
    else
        json += ",\"properties\":null";
    json +=
        media ? ",\"amsreferences\":[" + quoted(object.id) + "]}" : QByteArray(",\"amsreferences\":null}");
    write(json);
}

void ExportWriter::withMedia(quint64 seed) {
    m_withMedia = true;
    m_seed = seed;
}

void ExportWriter::add(const SyntheticHistory::Conversation& c) {
    QByteArray head = m_first ? "" : ",\n";
    m_first = false;
    head += "{\"id\":" + quoted(c.exportId) + ",\"displayName\":" + quoted(c.topic);
    head += ",\"version\":1,\"properties\":{\"conversationblocked\":false,\"lastimreceivedtime\":null}";
    if (c.group) {
        QString members = QStringLiteral("[\"8:%1\"]").arg(m_me);
        head += ",\"threadProperties\":{\"membercount\":2,\"members\":" + quoted(members) +
                ",\"topic\":" + quoted(c.topic) + "}";
    } else {
        head += ",\"threadProperties\":null";
    }
    head += ",\"MessageList\":[";
    write(head);
    // Newest first, as Skype writes them; an edited message also has a server copy beside it.
    bool firstMessage = true;
    for (auto it = c.messages.crbegin(); it != c.messages.crend(); ++it) {
        if (!firstMessage)
            write(",");
        firstMessage = false;
        writeMessage(*it, c.exportId, false);
        if (it->edited) {
            write(",");
            writeMessage(*it, c.exportId, true);
        }
    }
    write("]}");
}

void ExportWriter::finish() {
    write("\n]}\n");
    m_file.write(m_buffer);
    m_buffer.clear();
    if (!m_file.flush())
        throw std::runtime_error("cannot write " + m_file.fileName().toStdString());
    m_file.close();
}

void ExportWriter::packTar(const QString& jsonPath, const QString& tarPath,
                           const std::vector<MediaObject>& media) {
    QFile json(jsonPath);
    if (!json.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + jsonPath.toStdString());
    TarWriter tar(tarPath);
    tar.add("export_summary.json", "{\"exportDate\":\"2021-08-31T15:42\"}\n");
    tar.begin("messages.json", json.size());
    QByteArray chunk;
    while (!(chunk = json.read(1 << 20)).isEmpty())
        tar.write(chunk);
    for (const MediaObject& object : media)
        object.addTo(tar);
    tar.finish();
}

void ExportWriter::writeMedia(const QString& jsonPath, const std::vector<MediaObject>& media) {
    const QString folder = QFileInfo(jsonPath).absolutePath() + QStringLiteral("/media");
    for (const MediaObject& object : media)
        object.writeTo(folder);
}
