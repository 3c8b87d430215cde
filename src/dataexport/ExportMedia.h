#pragma once

#include "ExportText.h"

#include "files/FileSystem.h"
#include "messages/SharedFileStore.h"

#include <QString>

#include <map>
#include <memory>

class OpenedFolder;

// The files people shared, as the Skype export holds them in media/: inside the .tar, or in the folder
// beside an unpacked messages.json. "media/<object id>.json" describes an object (its "filename"),
// "media/<object id>.1.<ext>" is its file; "….2.jpg", a video's preview, is not. Nothing is read
// before the look-up, which passes over the archive's headers once and keeps where each wanted file
// lies; each is then read from there, in pieces. A member that is a link, a hard link, a folder, a
// device or a sparse file is never followed or read, nor is such an entry of the folder.
class ExportMedia final : public SharedFileStore {
public:
    // `path`: the export .tar, or the messages.json the folder lies beside.
    ExportMedia(const QString& path, ExportText::Container container);
    ~ExportMedia() override;

    void lookUp(const QStringList& objectIds) override;
    Object object(const QString& objectId) const override;
    std::unique_ptr<Reader> open(const QString& objectId) override;

    // What a name in media/ is: an object's description, its file (with the file's extension), or
    // something else (a preview), which gives no object id.
    enum class Part { Description, File, Other };
    static Part partOf(const QString& fileName, QString* objectId, QString* extension);
    // The "filename" of a description, or empty.
    static QString describedName(const QByteArray& json);

private:
    struct Member {
        Object object;
        qint64 at = 0; // in the .tar: where its data lies
        // The digest of the first bytes the archive gave, that the file must hold at `at`: only the
        // digest is kept, as an export may share tens of thousands of files.
        QByteArray head;
        QString name; // in the folder: its entry
        FileId id;    // ... as it was found
    };

    void lookUpTar(const QStringList& objectIds);
    void lookUpFolder(const QStringList& objectIds);
    // The export changed or can no longer be read: every later file would fail alike.
    [[noreturn]] void changed() const;

    QString m_path;
    ExportText::Container m_container;
    std::map<QString, Member> m_members;
    std::shared_ptr<OpenedFolder> m_folder;
    qint64 m_archiveSize = 0;
    qint64 m_archiveModified = 0;
    // Why the archive could not be read past some member, or empty.
    QString m_damage;
};
