#include "StagedCopy.h"

#include "FileError.h"
#include "InterruptCleanup.h"
#include "OpenedFolder.h"
#include "ReadOnlyFile.h"
#include "StagedName.h"

#include <QRegularExpression>

#include <cstring>
#include <vector>

StagedCopy::StagedCopy(FileSystem& fileSystem, std::shared_ptr<OpenedFolder> folder)
    : m_fileSystem(fileSystem)
    , m_folder(std::move(folder)) {}

StagedCopy::~StagedCopy() {
    discard();
}

// The same length whatever the file's own name, which may take all the room a name has; the check
// letters make a file of that shape the program did not make hardly ever taken for one of its own.
QString StagedCopy::stagedName(const QString& random) {
    return StagedName::checked(QStringLiteral(".parlorix-copy.") + random);
}

bool StagedCopy::isStagedName(const QString& name) {
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        QStringLiteral("\\.parlorix-copy\\.([A-Za-z0-9]{4})[A-Za-z0-9]{2}\\.part")));
    const QRegularExpressionMatch match = pattern.match(name);
    return match.hasMatch() && stagedName(match.captured(1)) == name;
}

void StagedCopy::removeLeftovers(FileSystem& fileSystem, const OpenedFolder& folder) {
    for (const QString& name : folder.names()) {
        if (isStagedName(name))
            fileSystem.removeLeftover(folder, name);
    }
}

void StagedCopy::discard() {
    InterruptCleanup::forget(m_interruptEntry);
    m_interruptEntry = -1;
    // Only while the name still leads to the file made here.
    if (!m_staged.isEmpty()) {
        const std::optional<FileId> named = m_folder->entryId(m_staged, false);
        if (named && *named == m_id && named->owner == m_id.owner)
            m_fileSystem.remove(*m_folder, m_staged);
    }
    m_staged.clear();
    m_flushed = false;
}

int StagedCopy::write(const Source& source) {
    discard();
    for (int attempt = 0;; ++attempt) {
        const QString name = stagedName(StagedName::randomPart());
        const int error = m_fileSystem.createStaged(*m_folder, name, &m_id);
        if (error == 0) {
            m_staged = name;
            m_interruptEntry = InterruptCleanup::note(*m_folder, name, m_id);
            break;
        }
        if (fileErrorKind(error) != FileError::Exists || attempt == 100)
            return error;
    }
    std::vector<char> piece(static_cast<size_t>(kPieceSize));
    try {
        for (;;) {
            const qint64 read = source(piece.data(), kPieceSize);
            if (read <= 0)
                return 0;
            const int error =
                m_fileSystem.append(*m_folder, m_staged, m_id,
                                    QByteArray::fromRawData(piece.data(), static_cast<qsizetype>(read)));
            if (error != 0) {
                discard();
                return error;
            }
        }
    } catch (...) {
        discard();
        throw;
    }
}

int StagedCopy::place(const QString& name) {
    if (m_staged.isEmpty())
        return FileSystem::kNotTheStagedFile;
    if (!m_flushed) {
        const int error = m_fileSystem.flush(*m_folder, m_staged, m_id);
        if (error != 0) {
            discard();
            return error;
        }
        m_flushed = true;
    }
    // Gone from the interrupt's clean-up first: once moved, the staged name may be another file's.
    InterruptCleanup::forget(m_interruptEntry);
    m_interruptEntry = -1;
    const int error = m_fileSystem.place(*m_folder, m_staged, m_id, name);
    if (error != 0) {
        if (fileErrorKind(error) == FileError::Exists)
            m_interruptEntry = InterruptCleanup::note(*m_folder, m_staged, m_id);
        else
            discard();
        return error;
    }
    m_staged.clear();
    // Someone who may write in the folder can exchange the name for a file of theirs as it is moved.
    const std::optional<FileId> placed = m_folder->entryId(name, false);
    if (!placed || !(*placed == m_id) || placed->owner != m_id.owner)
        return FileSystem::kExchangedAfterMove;
    return 0;
}

int StagedCopy::holdsSame(const OpenedFolder& folder, const QString& name, qint64 size, const Source& source,
                          bool* same) {
    *same = false;
    int error = 0;
    const std::unique_ptr<ReadOnlyFile> file = ReadOnlyFile::open(folder, name, false, &error);
    if (!file) {
        // Something that is no file: not the same, and no reason to fail.
        const bool noFile =
            error == FileSystem::kIsLink || error == FileSystem::kNotAFile || error == FileSystem::kIsFolder;
        return noFile ? 0 : error;
    }
    if (file->size() != size)
        return 0;
    std::vector<char> theirs(static_cast<size_t>(kPieceSize));
    std::vector<char> ours(static_cast<size_t>(kPieceSize));
    qint64 compared = 0;
    for (;;) {
        const qint64 read = source(ours.data(), kPieceSize);
        if (read <= 0)
            break;
        qint64 done = 0;
        while (done < read) {
            qint64 got = 0;
            if ((error = file->read(theirs.data() + done, read - done, &got)) != 0)
                return error;
            if (got == 0)
                return 0; // shorter than it said: not the same
            done += got;
        }
        if (std::memcmp(theirs.data(), ours.data(), static_cast<size_t>(read)) != 0)
            return 0;
        compared += read;
    }
    // Nothing more in it than the source gave.
    qint64 more = 0;
    if ((error = file->read(theirs.data(), 1, &more)) != 0)
        return error;
    *same = compared == size && more == 0;
    return 0;
}
