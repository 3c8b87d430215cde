#pragma once

#include <QByteArray>
#include <QString>

class TarWriter;

// A file someone shared, as a Skype export holds it in media/: "<id>.json" describing it, "<id>.1.<ext>"
// the file itself and, for a video, "<id>.2.jpg" its preview. Its bytes are made from its id, the same
// every time, piece by piece, so that files of tens of megabytes need no memory.
struct MediaObject {
    enum class Kind { Picture, Document, Video, Voice };
    // How the export holds it: as a file, not at all (Skype did not keep it), or as something that is
    // no file, as a damaged or hostile export may.
    enum class Stored { File, Missing, Link, HardLink, Folder };

    QString id;
    Kind kind = Kind::Picture;
    QString fileName; // the description's
    qint64 size = 0;
    Stored stored = Stored::File;

    // The object a synthetic message shares: kind, name and size drawn from the message's id, most
    // files small, one in forty tens of megabytes, one in ten missing from the export.
    static MediaObject forMessage(quint64 seed, qint64 messageId);

    QString extension() const;
    // The message's "messagetype" and "content", naming the object and, as OriginalName, `originalName`.
    QByteArray messageType() const;
    QString markup(const QString& originalName) const;
    // media/<id>.json
    QByteArray description() const;
    // The file's bytes from `at`, `size` of them.
    QByteArray content(qint64 at, qint64 size) const;

    // Adds its members to an export .tar (none when Missing).
    void addTo(TarWriter& tar) const;
    // Writes its entries into the media/ folder beside an unpacked messages.json (`folder` is that
    // media/); a hard link names messages.json beside it.
    void writeTo(const QString& folder) const;
};
