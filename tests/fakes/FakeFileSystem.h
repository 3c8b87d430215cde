#pragma once

#include "export/LocalFileSystem.h"

#include <QString>

// The machine's file system, with what a test can turn on: folders that fold letter case, as on
// Windows and macOS; appends that fail from the nth one on with a given error, as on a disk that
// fills up; moves into place that fail, as on a disk that turned read-only.
class FakeFileSystem final : public LocalFileSystem {
public:
    int append(const QString& path, const QByteArray& bytes) override {
        ++appends;
        if (failAppendsFrom > 0 && appends >= failAppendsFrom)
            return appendError;
        return LocalFileSystem::append(path, bytes);
    }
    int replace(const QString& from, const QString& to) override {
        return replaceError != 0 ? replaceError : LocalFileSystem::replace(from, to);
    }
    bool foldsCase(const QString& folder, const QString& probe) override {
        return foldCase || LocalFileSystem::foldsCase(folder, probe);
    }

    bool foldCase = false;
    int failAppendsFrom = 0; // 0: never
    int appendError = 0;
    int appends = 0;
    int replaceError = 0;
};
