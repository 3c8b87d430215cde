#pragma once

#include "base/FileSystem.h"

#include <string>

// The file system of the machine.
class LocalFileSystem : public FileSystem {
public:
    int createNew(const QString& path) override;
    int append(const QString& path, const QByteArray& bytes) override;
    int appendCopy(const QString& from, const QString& to) override;
    int replace(const QString& from, const QString& to) override;
    int remove(const QString& path) override;
    bool foldsCase(const QString& folder, const QString& probe) override;

#ifdef Q_OS_WIN
    // The path in the form Windows takes beyond 260 characters ("\\?\C:\…", "\\?\UNC\server\…"):
    // absolute, with its dots and separators resolved as the plain form would resolve them.
    static std::wstring longPath(const QString& path);
#endif
};
