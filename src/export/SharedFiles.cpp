#include "SharedFiles.h"

#include "SharedFileNames.h"
#include "TranscriptFiles.h"

#include "base/ErrorTrap.h"
#include "base/Failure.h"
#include "base/MessageBoxes.h"
#include "files/FileError.h"
#include "files/OpenedFolder.h"
#include "files/StagedCopy.h"
#include "messages/SharedFileStore.h"

#include <QDir>
#include <QFileInfo>

namespace {

#ifdef Q_OS_WIN
constexpr bool kWindowsNames = true;
#else
constexpr bool kWindowsNames = false;
#endif

// " (2)" to " (999)": past that a name is no longer worth trying.
constexpr int kMostCopies = 999;
// Tries of one name that someone else keeps taking just before the move.
constexpr int kTriesOfOneName = 3;

// The name the sender gave the file, else a stand-in.
QString nameOf(const SharedFile& file, const SharedFileStore::Object& object) {
    return file.originalName.trimmed().isEmpty()
               ? SharedFileNames::standInName(object.describedName, file.objectId, object.extension)
               : file.originalName;
}

// Each read of an object's file from its start: the file is never held whole. `meanwhile` runs
// before each piece.
StagedCopy::Source sourceOf(SharedFileStore& store, const QString& objectId,
                            const std::function<void()>& meanwhile) {
    std::shared_ptr<SharedFileStore::Reader> reader = store.open(objectId);
    return [reader, meanwhile](char* into, qint64 size) {
        if (meanwhile)
            meanwhile();
        return reader->read(into, size);
    };
}

} // namespace

// One save: the folders entered, the names taken, what is told at the end.
class SharedFiles::Saving final {
public:
    Saving(FileSystem& fileSystem, TranscriptFiles& transcripts, std::function<void()> meanwhile)
        : m_fileSystem(fileSystem)
        , m_transcripts(transcripts)
        , m_meanwhile(std::move(meanwhile)) {}

    void lookUp(const std::vector<Destination>& destinations);
    void saveInto(const Destination& destination);
    bool stopped() const { return !m_stop.isEmpty(); }
    void report(MessageBoxes& boxes) const;
    // The folders' names on the disk once, after their moves, as the transcripts' folders are.
    void flushFolders();

private:
    struct Folder {
        std::shared_ptr<OpenedFolder> opened;
        QString path; // as the user is shown it, with a trailing separator
        qsizetype maxBytes = 255;
        QSet<QString> taken; // names this save gave or kept
        bool placed = false; // a file was moved in: its names go to the disk at the end
    };

    // The folder of the destination's files, made where missing; null, having said why, when it cannot be.
    Folder* folderOf(const Destination& destination);
    // The folder `name` in `parent`, made where missing; null, having said why, where it cannot be.
    std::shared_ptr<OpenedFolder> enter(const std::shared_ptr<OpenedFolder>& parent, const QString& name,
                                        const QString& path);
    void saveOne(Folder& folder, const SharedFile& file, const SharedFileStore::Object& object);
    // Whether the file's store holds it as a file that may be read.
    bool holds(const SharedFile& file) const {
        return file.store && m_unreadStores.count(file.store.get()) == 0 &&
               file.store->object(file.objectId).state == SharedFileStore::Object::State::File;
    }
    void notSaved(const QString& path, const QString& why) {
        m_notSaved.append(path + QStringLiteral(": ") + why);
    }
    // A write that failed: the file is not saved, and where every later one would fail alike, the
    // saving stops.
    void writeFailed(const QString& folder, const QString& path, int error);
    void stop(const QString& because);

    FileSystem& m_fileSystem;
    TranscriptFiles& m_transcripts;
    std::function<void()> m_meanwhile;
    std::set<const SharedFileStore*> m_unreadStores;
    std::map<QString, std::shared_ptr<OpenedFolder>> m_sharedFolders; // "Shared files", by its parent
    std::map<QString, Folder> m_folders;                              // by folder and stem
    QStringList m_storeFailures;
    QStringList m_notSaved;
    int m_lacking = 0;
    QString m_stop;
};

void SharedFiles::Saving::lookUp(const std::vector<Destination>& destinations) {
    std::map<SharedFileStore*, QStringList> wanted;
    std::map<SharedFileStore*, QSet<QString>> seen;
    for (const Destination& destination : destinations) {
        for (const SharedFile& file : destination.files) {
            if (file.store && !seen[file.store.get()].contains(file.objectId)) {
                seen[file.store.get()].insert(file.objectId);
                wanted[file.store.get()].append(file.objectId);
            }
        }
    }
    for (const auto& [store, objectIds] : wanted) {
        try {
            store->lookUp(objectIds);
        } catch (const Failure& failure) {
            m_unreadStores.insert(store);
            m_storeFailures.append(failure.description());
        }
    }
}

std::shared_ptr<OpenedFolder> SharedFiles::Saving::enter(const std::shared_ptr<OpenedFolder>& parent,
                                                         const QString& name, const QString& path) {
    int error = 0;
    std::shared_ptr<OpenedFolder> folder = parent->makeFolder(name, &error);
    if (folder)
        return folder;
    // Writing through a link would write wherever it points.
    if (error == FileSystem::kIsLink)
        notSaved(path,
                 QStringLiteral("it is a link; shared files are saved only into a folder of their own"));
    else
        writeFailed(path, path, error);
    return nullptr;
}

SharedFiles::Saving::Folder* SharedFiles::Saving::folderOf(const Destination& destination) {
    const QString key = destination.folderPath + QLatin1Char('\n') + destination.stem;
    const auto known = m_folders.find(key);
    if (known != m_folders.end())
        return known->second.opened ? &known->second : nullptr;
    Folder& folder = m_folders[key];
    const QString sharedPath =
        QDir::toNativeSeparators(destination.folderPath + QLatin1Char('/') + subfolderName());
    folder.path = sharedPath + QDir::separator() + destination.stem + QDir::separator();
    const std::shared_ptr<OpenedFolder> parent = m_transcripts.openedFolder(destination.folderPath);
    if (!parent) {
        notSaved(folder.path, QStringLiteral("the run does not hold its folder"));
        return nullptr;
    }
    // Made or refused once, for every transcript in the folder.
    const bool tried = m_sharedFolders.count(destination.folderPath) > 0;
    std::shared_ptr<OpenedFolder>& shared = m_sharedFolders[destination.folderPath];
    if (!tried)
        shared = enter(parent, subfolderName(), sharedPath);
    if (!shared)
        return nullptr;
    folder.opened = enter(shared, destination.stem, folder.path.chopped(1));
    if (!folder.opened)
        return nullptr;
    // Left by a run that was killed while it copied into this folder.
    StagedCopy::removeLeftovers(m_fileSystem, *folder.opened);
    folder.maxBytes = qMin<qsizetype>(255, folder.opened->nameLimit());
    return &folder;
}

void SharedFiles::Saving::saveInto(const Destination& destination) {
    // An object is one file, however many messages (or histories of one account, read as one) name
    // it: saved once, from the first history that holds it.
    std::map<QString, size_t> chosen;
    for (size_t i = 0; i < destination.files.size(); ++i) {
        const SharedFile& file = destination.files[i];
        const auto [at, first] = chosen.emplace(file.objectId, i);
        if (!first && !holds(destination.files[at->second]) && holds(file))
            at->second = i;
    }
    Folder* folder = nullptr;
    bool entered = false;
    for (size_t i = 0; i < destination.files.size(); ++i) {
        const SharedFile& file = destination.files[i];
        if (stopped())
            return;
        if (chosen.at(file.objectId) != i)
            continue;
        // A store that could not be read was told once.
        if (file.store && m_unreadStores.count(file.store.get()) > 0)
            continue;
        const SharedFileStore::Object object =
            file.store ? file.store->object(file.objectId) : SharedFileStore::Object();
        if (object.state == SharedFileStore::Object::State::Missing) {
            ++m_lacking;
            continue;
        }
        if (!entered) {
            folder = folderOf(destination);
            entered = true;
        }
        if (!folder)
            return;
        if (object.state == SharedFileStore::Object::State::Refused) {
            notSaved(folder->path + SharedFileNames::nameOf(file.time, nameOf(file, object), 1,
                                                            folder->maxBytes, kWindowsNames),
                     object.why);
            continue;
        }
        try {
            saveOne(*folder, file, object);
        } catch (const Failure& failure) {
            // The export changed or fails: every later file would too.
            if (!failure.endsRunBecause().isEmpty())
                stop(failure.endsRunBecause());
            else
                notSaved(folder->path + SharedFileNames::nameOf(file.time, nameOf(file, object), 1,
                                                                folder->maxBytes, kWindowsNames),
                         failure.description());
        }
    }
}

void SharedFiles::Saving::saveOne(Folder& folder, const SharedFile& file,
                                  const SharedFileStore::Object& object) {
    const QString fileName = nameOf(file, object);
    SharedFileStore& store = *file.store;
    StagedCopy copy(m_fileSystem, folder.opened);
    bool written = false;
    int tries = 0;
    QString first;
    for (int number = 1; number <= kMostCopies;) {
        const QString name =
            SharedFileNames::nameOf(file.time, fileName, number, folder.maxBytes, kWindowsNames);
        if (first.isEmpty())
            first = folder.path + name;
        if (folder.taken.contains(name)) {
            ++number;
            continue;
        }
        if (folder.opened->entryId(name, false)) {
            // One copy of each file: the same bytes already there stay as they are.
            bool same = false;
            StagedCopy::holdsSame(*folder.opened, name, object.size,
                                  sourceOf(store, file.objectId, m_meanwhile), &same);
            if (same) {
                folder.taken.insert(name);
                return;
            }
            ++number;
            continue;
        }
        if (!written) {
            const int error = copy.write(sourceOf(store, file.objectId, m_meanwhile));
            if (error != 0) {
                writeFailed(folder.path, folder.path + name, error);
                return;
            }
            written = true;
        }
        const int error = copy.place(name);
        if (error == 0) {
            folder.taken.insert(name);
            folder.placed = true;
            return;
        }
        // Taken just now by something else: looked at again, a few times.
        if (fileErrorKind(error) == FileError::Exists && ++tries < kTriesOfOneName)
            continue;
        if (fileErrorKind(error) == FileError::Exists) {
            ++number;
            continue;
        }
        writeFailed(folder.path, folder.path + name, error);
        return;
    }
    notSaved(first, QStringLiteral("%1 files of its name and time are there already").arg(kMostCopies));
}

void SharedFiles::Saving::writeFailed(const QString& folder, const QString& path, int error) {
    const FileError kind = fileErrorKind(error);
    if (kind != FileError::DiskFull && kind != FileError::Refused && kind != FileError::NotFound &&
        kind != FileError::Stale) {
        notSaved(path, fileErrorText(error));
        return;
    }
    notSaved(path, fileErrorText(error));
    QString shown = folder;
    if (shown.endsWith(QDir::separator()))
        shown.chop(1);
    stop(QStringLiteral("it cannot write into the folder '%1': %2").arg(shown, fileErrorText(error)));
}

void SharedFiles::Saving::stop(const QString& because) {
    if (m_stop.isEmpty())
        m_stop =
            QStringLiteral("The export stopped because %1. The shared files it had not yet saved were not "
                           "saved; the transcripts are in place.")
                .arg(because);
}

void SharedFiles::Saving::flushFolders() {
    // Errors left out: some file systems take no flush of a folder.
    bool placed = false;
    for (const auto& [key, folder] : m_folders) {
        if (folder.opened && folder.placed) {
            m_fileSystem.flushFolder(*folder.opened);
            placed = true;
        }
    }
    // The folders made for them, in "Shared files" and beside it.
    for (const auto& [parent, shared] : m_sharedFolders) {
        if (shared && placed) {
            m_fileSystem.flushFolder(*shared);
            if (const std::shared_ptr<OpenedFolder> above = m_transcripts.openedFolder(parent))
                m_fileSystem.flushFolder(*above);
        }
    }
}

void SharedFiles::Saving::report(MessageBoxes& boxes) const {
    for (const QString& failure : m_storeFailures)
        boxes.show(failure, QString(), MessageBoxes::Buttons::Ok, MessageBoxes::Icon::Warning,
                   MessageBoxes::Answer::Ok);
    if (!m_notSaved.isEmpty()) {
        QStringList lines = m_notSaved.mid(0, kListed);
        if (m_notSaved.size() > kListed)
            lines.append(QStringLiteral("and %1 more").arg(m_notSaved.size() - kListed));
        boxes.show(notSavedHeading() + lines.join(QStringLiteral("\r\n")), QString(),
                   MessageBoxes::Buttons::Ok, MessageBoxes::Icon::Warning, MessageBoxes::Answer::Ok);
    }
    if (stopped())
        boxes.show(m_stop, QString(), MessageBoxes::Buttons::Ok, MessageBoxes::Icon::Warning,
                   MessageBoxes::Answer::Ok);
    if (m_lacking > 0)
        boxes.show(lackingMessage(m_lacking), QString(), MessageBoxes::Buttons::Ok, MessageBoxes::Icon::None,
                   MessageBoxes::Answer::Ok);
}

SharedFiles::SharedFiles(FileSystem& fileSystem)
    : m_fileSystem(fileSystem) {}

SharedFiles::~SharedFiles() = default;

QString SharedFiles::subfolderName() {
    return QStringLiteral("Shared files");
}

QString SharedFiles::notSavedHeading() {
    return QStringLiteral("These shared files were not saved:\r\n");
}

QString SharedFiles::lackingMessage(int files) {
    if (files == 1)
        return QStringLiteral(
            "1 shared file the chats name is not in the export (Skype did not keep it, or the "
            "export was made without files), so it was not saved.");
    return QStringLiteral("%1 shared files the chats name are not in the export (Skype did not keep them, or "
                          "the export was made without files), so they were not saved.")
        .arg(files);
}

bool SharedFiles::isLackingMessage(const QString& text) {
    return text.contains(QLatin1String(" the chats name ")) &&
           text.contains(QLatin1String(" not in the export (Skype did not keep "));
}

void SharedFiles::want(const QString& transcriptPath, int chat, const std::vector<SharedFile>& files) {
    auto found = m_byPath.find(transcriptPath);
    if (found == m_byPath.end()) {
        const QFileInfo info(transcriptPath);
        QString stem = info.fileName();
        if (stem.endsWith(QLatin1String(".txt")))
            stem.chop(4);
        m_destinations.push_back({QDir::cleanPath(info.absolutePath()), stem, {}, {}, false});
        found = m_byPath.emplace(transcriptPath, m_destinations.size() - 1).first;
    }
    Destination& destination = m_destinations.at(found->second);
    if (destination.left || !destination.chats.insert(chat).second)
        return;
    destination.files.insert(destination.files.end(), files.begin(), files.end());
}

void SharedFiles::forget(const QString& transcriptPath) {
    const auto found = m_byPath.find(transcriptPath);
    if (found == m_byPath.end())
        return;
    m_destinations.at(found->second).files.clear();
    m_destinations.at(found->second).left = true;
}

void SharedFiles::save(ErrorTrap& trap, MessageBoxes& boxes, TranscriptFiles& transcripts,
                       const std::function<void()>& meanwhile) {
    if (transcripts.stopped() || !trap.endedRunBecause().isEmpty())
        return;
    Saving saving(m_fileSystem, transcripts, meanwhile);
    saving.lookUp(m_destinations);
    for (const Destination& destination : m_destinations) {
        if (saving.stopped())
            break;
        saving.saveInto(destination);
    }
    saving.flushFolders();
    saving.report(boxes);
}
