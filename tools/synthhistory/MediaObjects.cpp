#include "MediaObjects.h"

#include "ExportWriter.h"
#include "TarWriter.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <stdexcept>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace {

constexpr qint64 kPiece = qint64(1) << 20;

quint64 hashOf(const QByteArray& text) {
    const QByteArray hash = QCryptographicHash::hash(text, QCryptographicHash::Sha256);
    quint64 value = 0;
    for (int i = 0; i < 8; ++i)
        value = (value << 8) | static_cast<uchar>(hash.at(i));
    return value;
}

QString memberName(const MediaObject& object) {
    return QStringLiteral("media/") + object.id + QStringLiteral(".1") + object.extension();
}

} // namespace

MediaObject MediaObject::forMessage(quint64 seed, qint64 messageId) {
    const quint64 h = hashOf(QByteArray::number(seed) + ':' + QByteArray::number(messageId));
    MediaObject object;
    object.id = QStringLiteral("0-weu-d%1-%2").arg(h % 9).arg(h, 16, 16, QLatin1Char('0')) +
                QStringLiteral("%1").arg(hashOf(QByteArray::number(h)), 16, 16, QLatin1Char('0'));
    object.kind = static_cast<Kind>((h >> 8) % 4);
    const qint64 number = static_cast<qint64>((h >> 16) % 10000);
    switch (object.kind) {
    case Kind::Picture:
        object.fileName = (h >> 30) % 5 == 0 ? QStringLiteral("фото %1.jpg").arg(number)
                                             : QStringLiteral("IMG_%1.jpg").arg(number);
        break;
    case Kind::Document:
        object.fileName = QStringLiteral("report %1.pdf").arg(number);
        break;
    case Kind::Video:
        object.fileName = QStringLiteral("VID_%1.mp4").arg(number);
        break;
    case Kind::Voice:
        object.fileName = QStringLiteral("voice %1.m4a").arg(number);
        break;
    }
    const quint64 roll = (h >> 40) % 40;
    object.size = roll == 0 ? (qint64(8) << 20) + static_cast<qint64>((h >> 20) % (qint64(24) << 20))
                            : 10240 + static_cast<qint64>((h >> 20) % 307200);
    object.stored = (h >> 48) % 10 == 0 ? Stored::Missing : Stored::File;
    return object;
}

QString MediaObject::extension() const {
    switch (kind) {
    case Kind::Picture:
        return QStringLiteral(".jpg");
    case Kind::Document:
        return QStringLiteral(".pdf");
    case Kind::Video:
        return QStringLiteral(".mp4");
    case Kind::Voice:
        return QStringLiteral(".m4a");
    }
    return QString();
}

QByteArray MediaObject::messageType() const {
    switch (kind) {
    case Kind::Picture:
        return "RichText/UriObject";
    case Kind::Document:
        return "RichText/Media_GenericFile";
    case Kind::Video:
        return "RichText/Media_Video";
    case Kind::Voice:
        return "RichText/Media_AudioMsg";
    }
    return "RichText/UriObject";
}

QString MediaObject::markup(const QString& originalName) const {
    static const char* const types[] = {"Picture.1", "File.1", "Video.1/Message.1", "Audio.1/Message.1"};
    const QString uri = QStringLiteral("https://api.asm.skype.com/v1/objects/") + id;
    return QStringLiteral("<URIObject uri=\"%1\" url_thumbnail=\"%1/views/imgt1\" type=\"%2\" doc_id=\"%3\">"
                          "To view this shared file, go to: <a href=\"%1\">%1</a><OriginalName v=\"%4\"/>"
                          "<FileSize v=\"%5\"/></URIObject>")
        .arg(uri, QString::fromLatin1(types[static_cast<int>(kind)]), id, originalName.toHtmlEscaped())
        .arg(size);
}

QByteArray MediaObject::description() const {
    QByteArray json =
        "{\"filename\": " + ExportWriter::quoted(fileName) + ", \"contents\": {\"1\": {\"type\": \"";
    static const char* const types[] = {"image/jpeg", "application/pdf", "video/mp4", "audio/mp4"};
    json += types[static_cast<int>(kind)];
    json += "\"}";
    if (kind == Kind::Video)
        json += ", \"2\": {\"type\": \"image/jpeg\"}";
    return json + "}, \"expiry_date\": \"2021-09-30T00:00:00Z\"}\n";
}

QByteArray MediaObject::content(qint64 at, qint64 length) const {
    // Each 8 bytes made from their place and the id: any piece can be made on its own.
    const quint64 seed = hashOf(id.toUtf8()) | 1;
    const auto wordAt = [seed](qint64 word) {
        quint64 x = seed ^ (static_cast<quint64>(word) * 0x9E3779B97F4A7C15ULL);
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return x;
    };
    QByteArray bytes(length, Qt::Uninitialized);
    qint64 i = 0;
    while (i < length) {
        const qint64 word = (at + i) / 8;
        const quint64 x = wordAt(word);
        for (qint64 b = (at + i) % 8; b < 8 && i < length; ++b, ++i)
            bytes[i] = static_cast<char>(x >> (8 * b));
    }
    return bytes;
}

void MediaObject::addTo(TarWriter& tar) const {
    if (stored == Stored::Missing)
        return;
    tar.add("media/" + id.toUtf8() + ".json", description());
    const QByteArray member = memberName(*this).toUtf8();
    switch (stored) {
    case Stored::Link:
        tar.addLink(member, "/etc/passwd");
        return;
    case Stored::HardLink:
        tar.addHardLink(member, "messages.json");
        return;
    case Stored::Folder:
        tar.addFolder(member);
        return;
    default:
        break;
    }
    tar.begin(member, size);
    for (qint64 at = 0; at < size; at += kPiece)
        tar.write(content(at, qMin(kPiece, size - at)));
    if (kind == Kind::Video)
        tar.add("media/" + id.toUtf8() + ".2.jpg", "preview of " + id.toUtf8());
}

void MediaObject::writeTo(const QString& folder) const {
    if (stored == Stored::Missing)
        return;
    QDir().mkpath(folder);
    const auto write = [](const QString& path, const QByteArray& bytes) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            throw std::runtime_error("cannot write " + path.toStdString());
    };
    write(folder + QLatin1Char('/') + id + QStringLiteral(".json"), description());
    const QString path = folder + QLatin1Char('/') + memberName(*this).mid(6);
    switch (stored) {
    case Stored::Link:
#ifndef Q_OS_WIN // a link there takes privileges: the export then lacks the file
        QFile::link(QStringLiteral("/etc/passwd"), path);
#endif
        return;
    case Stored::HardLink:
#ifndef Q_OS_WIN
        if (::link(QFile::encodeName(folder + QStringLiteral("/../messages.json")).constData(),
                   QFile::encodeName(path).constData()) != 0)
            throw std::runtime_error("cannot link " + path.toStdString());
#endif
        return;
    case Stored::Folder:
        QDir().mkpath(path);
        return;
    default:
        break;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write " + path.toStdString());
    for (qint64 at = 0; at < size; at += kPiece) {
        const QByteArray piece = content(at, qMin(kPiece, size - at));
        if (file.write(piece) != piece.size())
            throw std::runtime_error("cannot write " + path.toStdString());
    }
    if (kind == Kind::Video)
        write(folder + QLatin1Char('/') + id + QStringLiteral(".2.jpg"), "preview of " + id.toUtf8());
}
