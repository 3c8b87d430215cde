#pragma once

#include <QString>

#include <exception>
#include <memory>

class HistoryCopy;

namespace SQLite {
class Database;
} // namespace SQLite

// The file SQLite opens for a main.db, as it stood when it was opened: a file that changed since
// explains damage met later. A history in WAL mode is read from a private copy. Readers on other
// threads share it, each with a connection of its own.
class DatabaseSource final {
public:
    // Fails with a description naming the path where a file the history keeps beside it is no file,
    // or where no private copy can be made.
    explicit DatabaseSource(const QString& path);

    // The history as the user named it.
    const QString& path() const { return m_path; }
    // A new read-only connection, used by one thread at a time.
    std::unique_ptr<SQLite::Database> connect() const;

    // Fails as the history could not be opened for this error: one in use, left half-written or cut
    // short is a Skype history all the same; otherwise the file is none.
    [[noreturn]] void failOpening(const std::exception& error) const;
    // Fails as the history could not be read; the run ends where it cannot be read any more, or
    // changed while it was read.
    [[noreturn]] void fail(const std::exception& error) const;

private:
    // What went wrong, in words a user can act on where SQLite's own are no help.
    QString reasonOf(const std::exception& error) const;
    // Why the run must end after this error: the history cannot be read any more, or changed while
    // it was read. Empty for damage that is the chat's alone.
    QString endsRunBecause(const std::exception& error) const;

    QString m_path;
    // What SQLite opens: the history itself or its private copy.
    QString m_name;
    std::shared_ptr<HistoryCopy> m_copy;
    qint64 m_size = -1;
    qint64 m_modified = 0;
    // How the file is shorter than its header says it is, else empty.
    QString m_cutShort;
};
