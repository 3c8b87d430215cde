#pragma once

#include <QByteArray>
#include <QString>

struct archive;

// Writes a plain tar as the Skype export has it, member by member. Every result of libarchive is
// checked: a failure throws std::runtime_error naming the archive.
class TarWriter {
public:
    explicit TarWriter(const QString& path);
    ~TarWriter();
    TarWriter(const TarWriter&) = delete;
    TarWriter& operator=(const TarWriter&) = delete;

    // Starts a member of `size` bytes; write() then gives exactly that many.
    void begin(const QByteArray& name, qint64 size);
    void write(const QByteArray& data);
    void add(const QByteArray& name, const QByteArray& content);
    // Members that are no file, as damaged or hostile archives hold them.
    void addLink(const QByteArray& name, const QByteArray& target);
    void addHardLink(const QByteArray& name, const QByteArray& target);
    void addFolder(const QByteArray& name);
    void finish();

private:
    void check(bool ok, const char* what) const;
    void addEntry(const QByteArray& name, unsigned int type, const QByteArray& symlink,
                  const QByteArray& hardlink);

    QString m_path;
    archive* m_tar;
};
