#pragma once

#include <cstddef>
#include <cstdint>

// While it lives, a read in the pages that hold a file's mapped bytes that the system cannot give
// (someone cut the file short after it was mapped, or the disk failed under it) reads zeros instead
// of ending the program with SIGBUS (on Windows, an in-page error), and the guard remembers it. On
// Windows the rest of the mapping then reads as zeros too. Its handler is installed with the first
// guard and stays: a handler installed after it is never undone by a guard that ends.
// Guards may live on several threads at once, up to a few; one more guards nothing.
class CutShortGuard final {
public:
    // `file`, the open file mapped, and `fileEnd`, where the mapped bytes end in it, tell what a
    // failed read met.
    CutShortGuard(const char* mapped, size_t size, int file = -1, int64_t fileEnd = 0);
    ~CutShortGuard();
    CutShortGuard(const CutShortGuard&) = delete;
    CutShortGuard& operator=(const CutShortGuard&) = delete;

    enum class Met {
        Nothing,
        // The file is shorter now than the mapped bytes (or no file was named).
        TheEnd,
        // The file is as long as it was, or cannot be asked: the system could not read it.
        ReadError
    };
    // What the reads met so far; the file's size is asked after a read failed.
    Met met() const;

private:
    int m_slot = -1;
    int m_file = -1;
    int64_t m_fileEnd = 0;
};
