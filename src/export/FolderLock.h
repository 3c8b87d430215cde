#pragma once

#include <QString>

#include <memory>

class QLockFile;

// Keeps two runs, of this copy of the program or of another, from writing into one folder at once.
// The lock lives in the temporary folder, not among the user's transcripts, and a lock left by a
// program that died is taken over.
class FolderLock final {
public:
    // `folderText` as the transcripts' paths start: the folder's path, or a folder and a name prefix.
    explicit FolderLock(const QString& folderText);
    ~FolderLock();

    // False while another run writes into the folder.
    bool tryLock();
    // What the user is told when tryLock() failed.
    QString busyMessage() const;

private:
    QString m_folder;
    std::unique_ptr<QLockFile> m_lock;
};
