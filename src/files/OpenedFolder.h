#pragma once

#include "FileSystem.h"

#include <QStringList>

#include <memory>
#include <optional>
#include <string>

// A folder opened once and held for the run: everything done in it goes through this handle, so a
// folder removed or replaced under its path meanwhile is simply not the one written to. On Windows
// the handle keeps the folder from being renamed or removed while it is held.
class OpenedFolder final {
public:
    // Opens the folder at `path`; through a link only when `followLink` (the folder a user picked may
    // be one). Returns nothing, with the system's error code, when it cannot be opened.
    static std::unique_ptr<OpenedFolder> open(const QString& path, bool followLink, int* error);
    // The folder of that name in this one, made when missing, entered through this folder (never
    // through a link), so that this folder moved away and another made under its path meanwhile is not
    // the one entered. Returns nothing, with the system's error code (FileSystem::kIsLink or
    // kNotAFolder where the name is taken), when it cannot be made or opened.
    std::unique_ptr<OpenedFolder> makeFolder(const QString& name, int* error) const;
    ~OpenedFolder();
    OpenedFolder(const OpenedFolder&) = delete;
    OpenedFolder& operator=(const OpenedFolder&) = delete;

    // The path it was opened by, absolute, with '/' separators.
    const QString& path() const { return m_path; }
    // The same for every path that named this folder when it was opened.
    const FileId& id() const { return m_id; }
    // True once the folder was removed: no name leads to it any more.
    bool removed() const;
    // What the entry of that name is, itself or, with `followLink`, what a link there leads to, and
    // whose (on Linux and macOS); nothing when there is none.
    std::optional<FileId> entryId(const QString& name, bool followLink) const;
    // Whether the entry of that name is a regular file itself, not a link, a folder or a device.
    bool isFile(const QString& name) const;
    // The names in the folder.
    QStringList names() const;
    // The longest file name the folder takes, as the file system counts its length.
    qsizetype nameLimit() const;
    static qsizetype nameLength(const QString& name);

#ifdef Q_OS_WIN
    // Whether the open file or folder is a link itself (a symbolic link, a junction): a reparse point
    // that names another place. Other reparse points, such as a sync client's cloud files (the
    // Desktop in OneDrive), are the file itself. A link too when that cannot be told.
    static bool isLink(void* handle);
    // The same for a file's attributes and reparse tag, as a listing of the folder gives them.
    static bool isLink(quint32 attributes, quint32 reparseTag);
    void* handle() const { return m_handle; }
    // The path of a file in the folder in the form Windows takes beyond 260 characters.
    std::wstring longPath(const QString& name) const;
    static std::wstring longForm(const QString& path);
#else
    int fd() const { return m_fd; }
#endif

private:
    OpenedFolder() = default;

    QString m_path;
    FileId m_id;
#ifdef Q_OS_WIN
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};
