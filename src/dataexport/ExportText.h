#pragma once

#include <QString>

#include <simdjson.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string_view>

class QByteArray;
class QFile;

// The text of a messages.json where it lies: in the file itself (messages.json alone, or the member
// of an uncompressed .tar, whose data lies whole at a known offset), else in memory (a compressed
// archive, which Skype does not write, or a file system that cannot map files). Opened once; the
// export's readers on every thread share it. A file cut short or written to since it was opened
// fails with a message, never a crash.
class ExportText final {
public:
    enum class Container { Json, Tar };
    // What the first bytes of a messages.json say about its text: UTF-16 shows a byte order mark or
    // ASCII characters each beside a NUL byte; other NUL bytes are no text at all.
    enum class Encoding { Utf8, Utf16, NulBytes };

    // Fails with a description naming the path when it is not a usable Skype export.
    ExportText(const QString& path, Container container);
    // A text already in memory; `name` stands for it in descriptions.
    ExportText(const QString& name, const QByteArray& json);
    ~ExportText();
    ExportText(const ExportText&) = delete;
    ExportText& operator=(const ExportText&) = delete;

    // Tells the pass over the text that the text before `end` is not looked at again.
    using Passed = std::function<void(size_t end)>;
    using Pass = std::function<void(std::string_view text, const Passed& passed)>;
    // Hands the whole text to `pass`, once: mapped where it lies, its pages let go of as the pass
    // tells it has passed them, so that the pass's memory does not grow with the export; else in
    // memory. Pages of a file cut short meanwhile read as zeros; the pass then fails for what it met,
    // and is told why.
    void scan(const Pass& pass);
    // Copies `size` bytes of the text from `at` into `into`. Read from the file, not copied from a
    // mapping: a file cut short since it was opened fails here, where touching a mapped page past its
    // new end would end the program; so does one written to before or while it was read.
    void copy(size_t at, size_t size, char* into);

    // Fails naming the path, as it is not a Skype history for this reason.
    [[noreturn]] void fail(const QString& reason) const;

    static Encoding encodingOf(std::string_view head);

private:
    // Room in memory for messages.json of this size; fails when the memory cannot be had.
    void allocate(qint64 size);
    void openFile(const QString& path, qint64 textAt, qint64 textSize);
    void readTar(const QString& path);
    // Reads the text from the file into memory, where it cannot be mapped.
    void readWhole();
    // The file changed or cannot be read any more: every later read would fail too, and the run ends.
    [[noreturn]] void cutShort() const;
    [[noreturn]] void writtenTo() const;
    [[noreturn]] void readError(const QString& reason) const;
    // Fails when the file is not as it was when it was opened. The caller holds `m_reading`.
    void checkUnchanged(QFile& file) const;

    QString m_path;
    // The text is the bytes of `m_file` from `m_textAt` on (a plain tar holds its member whole), or,
    // when there is no file, `m_inMemory`.
    std::unique_ptr<QFile> m_file;
    qint64 m_textAt = 0;
    qint64 m_textSize = 0;
    // The file's size and modification time when it was opened: a file written to since may hold
    // other text where the index found a conversation.
    qint64 m_openedSize = 0;
    qint64 m_openedModified = 0;
    simdjson::padded_string m_inMemory;
    std::mutex m_reading; // the one file is read by every reader
};
