#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>

class SharedFileStore;

// A file a message shared, as the message names it: the object the history keeps it under, the name
// the sender gave it and the message's time. It comes with the store that holds it, so that files of
// several histories read as one are each read from their own.
struct SharedFile {
    QString objectId;
    QString originalName; // empty where the message names none
    qint64 time = 0;      // the message's, seconds since 1970 (UTC)
    std::shared_ptr<SharedFileStore> store;

    // What a shared-media message names: the objects of its "amsreferences", else the one its
    // URIObject's uri names (".../objects/<id>"); and the name its OriginalName gives. An object id
    // that could name anything but an object (a path, a name with a dot) is left out.
    struct Named {
        QStringList objectIds;
        QString originalName;
    };
    static Named namedIn(QByteArrayView markup, const QStringList& amsReferences);
    // Letters, digits, '-' and '_', as Skype's object ids are: nothing that could climb out of a
    // folder or be taken for a file's extension.
    static bool isObjectId(QStringView id);
};
