#pragma once

#include "files/FolderLock.h"
#include "files/OpenedFolder.h"

#include <QString>

#include <memory>

// A folder that transcripts of the run go to (TranscriptFiles).
struct TranscriptFolder {
    std::shared_ptr<OpenedFolder> opened; // none when it could not be opened
    int openError = 0;
    std::unique_ptr<FolderLock> lock;
    bool foldsCase = false;
    QString key;        // its place among the run's folders
    bool moved = false; // a transcript was moved or deleted there, or a folder made

    // Another run writes here, or the lock cannot be had: nothing of this run may be written here.
    bool refused() const {
        return lock->state() == FolderLock::State::Busy || lock->state() == FolderLock::State::Failed;
    }
    QString refusal() const {
        return lock->state() == FolderLock::State::Busy ? lock->busyMessage() : lock->failureMessage();
    }
};
