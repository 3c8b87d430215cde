#pragma once

#include <QString>
#include <QStringList>

#include <memory>

// Where a history keeps the files its messages shared (a Skype export's media/), read out piece by
// piece, never whole in memory. Used on one thread.
class SharedFileStore {
public:
    struct Object {
        enum class State {
            Missing, // the history does not hold it (Skype did not keep it, or the export has no files)
            Refused, // what it holds is a link, a folder, a device or a sparse file, or cannot be read
            File,
        };
        State state = State::Missing;
        QString why; // of Refused: why it is not read, in words
        qint64 size = 0;
        QString extension;     // of the stored file (".jpg"), or empty
        QString describedName; // the name the history's description of it gives, if any
    };

    // Reads an object's file from its start; fails with a Failure that ends the run where the history
    // changed or cannot be read any more.
    class Reader {
    public:
        virtual ~Reader() = default;
        // Up to `size` bytes into `into`; 0 after the last one.
        virtual qint64 read(char* into, qint64 size) = 0;
    };

    virtual ~SharedFileStore() = default;

    // Looks the objects up all at once, before any is read: an archive is passed over once. Fails
    // with a description when the store cannot be read at all.
    virtual void lookUp(const QStringList& objectIds) = 0;
    // What the look-up found of the object.
    virtual Object object(const QString& objectId) const = 0;
    // The file of an object found as one.
    virtual std::unique_ptr<Reader> open(const QString& objectId) = 0;
};
