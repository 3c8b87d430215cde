#include "TarWriter.h"

#include <QFile>

#include <archive.h>
#include <archive_entry.h>

#include <stdexcept>
#include <string>

TarWriter::TarWriter(const QString& path)
    : m_path(path)
    , m_tar(archive_write_new()) {
    check(m_tar != nullptr, "create");
    check(archive_write_set_format_pax_restricted(m_tar) == ARCHIVE_OK, "choose the tar format for");
#ifdef Q_OS_WIN
    const std::wstring wide = path.toStdWString();
    check(archive_write_open_filename_w(m_tar, wide.c_str()) == ARCHIVE_OK, "open");
#else
    check(archive_write_open_filename(m_tar, QFile::encodeName(path).constData()) == ARCHIVE_OK, "open");
#endif
}

TarWriter::~TarWriter() {
    archive_write_free(m_tar);
}

void TarWriter::check(bool ok, const char* what) const {
    if (ok)
        return;
    const char* reason = m_tar ? archive_error_string(m_tar) : nullptr;
    throw std::runtime_error(std::string("cannot ") + what + " " + m_path.toStdString() + ": " +
                             (reason ? reason : "out of memory"));
}

void TarWriter::begin(const QByteArray& name, qint64 size) {
    archive_entry* entry = archive_entry_new();
    check(entry != nullptr, "add a member to");
    archive_entry_set_pathname(entry, name.constData());
    archive_entry_set_size(entry, size);
    archive_entry_set_filetype(entry, AE_IFREG);
    archive_entry_set_perm(entry, 0644);
    archive_entry_set_mtime(entry, 1630424530, 0);
    const int status = archive_write_header(m_tar, entry);
    archive_entry_free(entry);
    check(status == ARCHIVE_OK, "write a member header of");
}

void TarWriter::write(const QByteArray& data) {
    const la_ssize_t written = archive_write_data(m_tar, data.constData(), static_cast<size_t>(data.size()));
    check(written == data.size(), "write");
}

void TarWriter::add(const QByteArray& name, const QByteArray& content) {
    begin(name, content.size());
    write(content);
}

void TarWriter::addEntry(const QByteArray& name, unsigned int type, const QByteArray& symlink,
                         const QByteArray& hardlink) {
    archive_entry* entry = archive_entry_new();
    check(entry != nullptr, "add a member to");
    archive_entry_set_pathname(entry, name.constData());
    archive_entry_set_filetype(entry, type);
    archive_entry_set_perm(entry, type == AE_IFDIR ? 0755 : 0644);
    archive_entry_set_mtime(entry, 1630424530, 0);
    if (!symlink.isEmpty())
        archive_entry_set_symlink(entry, symlink.constData());
    if (!hardlink.isEmpty())
        archive_entry_set_hardlink(entry, hardlink.constData());
    archive_entry_set_size(entry, 0);
    const int status = archive_write_header(m_tar, entry);
    archive_entry_free(entry);
    check(status == ARCHIVE_OK, "write a member header of");
}

void TarWriter::addLink(const QByteArray& name, const QByteArray& target) {
    addEntry(name, AE_IFLNK, target, QByteArray());
}

void TarWriter::addHardLink(const QByteArray& name, const QByteArray& target) {
    addEntry(name, AE_IFREG, QByteArray(), target);
}

void TarWriter::addFolder(const QByteArray& name) {
    addEntry(name, AE_IFDIR, QByteArray(), QByteArray());
}

void TarWriter::finish() {
    check(archive_write_close(m_tar) == ARCHIVE_OK, "finish");
}
