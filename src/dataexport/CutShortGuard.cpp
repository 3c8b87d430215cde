#include "CutShortGuard.h"

#include <QtGlobal>

#if defined(Q_OS_UNIX) || defined(Q_OS_WIN)

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <csignal>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// The ranges guarded now; the handler reads them without a lock.
struct Range {
    std::atomic<uintptr_t> begin{0};
    std::atomic<uintptr_t> end{0};
    std::atomic<bool> metAFault{false};
};
constexpr int kSlots = 8;
Range g_ranges[kSlots];

std::mutex g_installing;
bool g_installed = false;

#ifdef Q_OS_WIN

// Where the view that holds `address` begins, and how long it is; false where it is no view.
bool viewAt(uintptr_t address, void** base, SIZE_T* size) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) == 0 || info.Type != MEM_MAPPED)
        return false;
    *base = info.AllocationBase;
    *size = 0;
    for (auto* at = static_cast<char*>(info.AllocationBase);
         VirtualQuery(at, &info, sizeof info) != 0 && info.AllocationBase == *base; at += info.RegionSize)
        *size += info.RegionSize;
    return *size > 0;
}

// A page of a mapped file that the system cannot give (a drive removed, a network share gone, a
// failing disk) is an in-page error, which ends the program unless handled; Wine tells it as a read
// that was refused at that address. Windows cannot exchange one page of a view: the whole view the
// read is in is unmapped and a view of as many zeros mapped at its place, so that the read goes on,
// the scan meets no JSON there, and the guard tells why. The file's own unmapping later unmaps the
// zeros as it would have the file.
LONG CALLBACK onInPageError(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    const bool failedRead = record->ExceptionCode == EXCEPTION_IN_PAGE_ERROR ||
                            (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION &&
                             record->NumberParameters >= 2 && record->ExceptionInformation[0] == 0);
    if (!failedRead || record->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    const auto address = static_cast<uintptr_t>(record->ExceptionInformation[1]);
    for (Range& range : g_ranges) {
        const uintptr_t begin = range.begin.load();
        const uintptr_t end = range.end.load();
        if (begin == 0 || end == 0 || address < begin || address >= end)
            continue;
        void* base = nullptr;
        SIZE_T size = 0;
        if (!viewAt(address, &base, &size))
            return EXCEPTION_CONTINUE_SEARCH;
        const auto wide = static_cast<unsigned long long>(size);
        HANDLE zeros = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE,
                                          static_cast<DWORD>(wide >> 32), static_cast<DWORD>(wide), nullptr);
        if (!zeros)
            return EXCEPTION_CONTINUE_SEARCH;
        void* view =
            UnmapViewOfFile(base) ? MapViewOfFileEx(zeros, FILE_MAP_READ, 0, 0, size, base) : nullptr;
        CloseHandle(zeros);
        // Without the zeros the read fails again and ends the program, as it would have.
        if (view != base) {
            if (view)
                UnmapViewOfFile(view);
            return EXCEPTION_CONTINUE_SEARCH;
        }
        range.metAFault.store(true);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

uintptr_t systemPageSize() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    return system.dwPageSize;
}

bool installHandler() {
    // First in line, and never removed.
    return AddVectoredExceptionHandler(1, onInPageError) != nullptr;
}

std::optional<int64_t> fileSize(int file) {
    LARGE_INTEGER size;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file));
    if (handle == INVALID_HANDLE_VALUE || !GetFileSizeEx(handle, &size))
        return std::nullopt;
    return size.QuadPart;
}

#else

struct sigaction g_previous;
std::atomic<uintptr_t> g_pageSize{0}; // sysconf may not be called from a signal handler

void onBusError(int signal, siginfo_t* info, void* context) {
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    // Sent by kill or raise, not met by a read: it holds no address.
    const bool sent = info->si_code <= 0;
    for (Range& range : g_ranges) {
        // A range is set begin first and cleared end first: one with either at zero is no range.
        const uintptr_t begin = range.begin.load();
        const uintptr_t end = range.end.load();
        if (!sent && begin != 0 && end != 0 && address >= begin && address < end) {
            // A page of zeros where the file's page was: the read goes on, the scan meets no JSON
            // there, and the guard tells why.
            const uintptr_t pageSize = g_pageSize.load();
            void* page = reinterpret_cast<void*>(address & ~(pageSize - 1));
            if (mmap(page, pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
                MAP_FAILED) {
                range.metAFault.store(true);
                return;
            }
        }
    }
    // Not ours: whatever handled it before does, as if this handler had never been there.
    if (g_previous.sa_flags & SA_SIGINFO) {
        if (g_previous.sa_sigaction) {
            g_previous.sa_sigaction(signal, info, context);
            return;
        }
    } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(signal);
        return;
    }
    if (sent && !(g_previous.sa_flags & SA_SIGINFO) && g_previous.sa_handler == SIG_IGN)
        return;
    ::signal(signal, SIG_DFL); // the faulting read is tried again, and ends the program as before
    if (sent)
        raise(signal); // no read to try again: it comes once this handler returns
}

uintptr_t systemPageSize() {
    const auto pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    g_pageSize.store(pageSize);
    return pageSize;
}

bool installHandler() {
    struct sigaction action{};
    action.sa_sigaction = onBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGBUS, &action, &g_previous) == 0;
}

std::optional<int64_t> fileSize(int file) {
    struct stat status{};
    if (fstat(file, &status) != 0)
        return std::nullopt;
    return status.st_size;
}

#endif

} // namespace

CutShortGuard::CutShortGuard(const char* mapped, size_t size, int file, int64_t fileEnd)
    : m_file(file)
    , m_fileEnd(fileEnd) {
    if (!mapped || size == 0)
        return;
    std::lock_guard<std::mutex> lock(g_installing);
    for (int slot = 0; slot < kSlots; ++slot) {
        if (g_ranges[slot].end.load() == 0) {
            m_slot = slot;
            break;
        }
    }
    if (m_slot < 0)
        return;
    const uintptr_t pageSize = systemPageSize();
    Range& range = g_ranges[m_slot];
    range.metAFault.store(false);
    // Whole pages, as they are mapped: a read that begins before the first byte in its page (one
    // aligned down, as memchr's may be) faults there, and so does one past the last byte.
    range.begin.store(reinterpret_cast<uintptr_t>(mapped) & ~(pageSize - 1));
    range.end.store((reinterpret_cast<uintptr_t>(mapped) + size + pageSize - 1) & ~(pageSize - 1));
    // Once for the program: put back when a guard ends, it would undo a handler installed since.
    if (!g_installed)
        g_installed = installHandler();
}

CutShortGuard::~CutShortGuard() {
    if (m_slot < 0)
        return;
    std::lock_guard<std::mutex> lock(g_installing);
    Range& range = g_ranges[m_slot];
    range.end.store(0);
    range.begin.store(0);
}

CutShortGuard::Met CutShortGuard::met() const {
    if (m_slot < 0 || !g_ranges[m_slot].metAFault.load())
        return Met::Nothing;
    if (m_file < 0)
        return Met::TheEnd;
    // A page the file still has that could not be read is the disk's failure (a drive pulled, a
    // failing disk), not a file cut short. Windows lets no one cut a mapped file short, but a file on
    // another system's share may be.
    const std::optional<int64_t> size = fileSize(m_file);
    if (!size || *size >= m_fileEnd)
        return Met::ReadError;
    return Met::TheEnd;
}

#else

CutShortGuard::CutShortGuard(const char*, size_t, int file, int64_t fileEnd)
    : m_file(file)
    , m_fileEnd(fileEnd) {}
CutShortGuard::~CutShortGuard() = default;
CutShortGuard::Met CutShortGuard::met() const {
    return Met::Nothing;
}

#endif
