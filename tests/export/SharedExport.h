#pragma once

#include "MediaObjects.h"

#include <QByteArray>
#include <QString>

#include <vector>

// A Skype export with files, written as the generator writes them (MediaObject): chats whose
// shared-media messages each name one object, held in media/ inside the .tar or beside messages.json.
// Each chat starts with a text message, at the time of its first file.
class SharedExport {
public:
    struct Shared {
        QString chat;    // "8:ann", or a group's "19:….@thread.skype" (topic "Family")
        QString arrival; // "2021-08-31T13:42:10.123Z"
        MediaObject object;
        QString originalName;        // as the message gives it
        bool namedByUriOnly = false; // no "amsreferences"
    };

    explicit SharedExport(std::vector<Shared> messages);

    QByteArray messagesJson() const;
    // The export .tar, messages.json first and media/ after it (or before it).
    void writeTar(const QString& path, bool mediaFirst = false) const;
    // messages.json and media/ in the folder.
    void writeFolder(const QString& folder) const;

    static MediaObject object(const QString& id, MediaObject::Kind kind, const QString& fileName, qint64 size,
                              MediaObject::Stored stored = MediaObject::Stored::File);
    // The bytes the object's file holds.
    static QByteArray bytesOf(const MediaObject& object);

private:
    std::vector<Shared> m_messages;
};
