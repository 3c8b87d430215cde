#pragma once

#include <cstddef>

// While it lives, a read in the pages that hold a file's mapped bytes that meets a page the file no
// longer has (someone cut the file short after it was mapped) reads zeros instead of ending the
// program with SIGBUS, and the guard remembers it. Where a mapped file cannot be cut short
// (Windows) it does nothing.
// Guards may live on several threads at once, up to a few; one more guards nothing.
class CutShortGuard final {
public:
    CutShortGuard(const char* mapped, size_t size);
    ~CutShortGuard();
    CutShortGuard(const CutShortGuard&) = delete;
    CutShortGuard& operator=(const CutShortGuard&) = delete;

    // Whether a read met the end of the file.
    bool metTheEnd() const;

private:
    int m_slot = -1;
};
