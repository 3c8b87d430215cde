#include "InterruptCleanup.h"

#include "OpenedFolder.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QFile>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// The handler may run on any thread, in the middle of anything: it only reads a fixed table of
// entries that were complete before they were put in it, and removes each by the folder's own
// handle. An entry is taken out of the table before it is freed, and freed only once no handler
// reads the table.
namespace InterruptCleanup {

namespace {

struct Entry {
#ifdef Q_OS_WIN
    std::wstring path;
#else
    int folder = -1;
    QByteArray name;
#endif
    FileId id;
};

constexpr int kEntries = 1 << 15;
std::atomic<Entry*> g_entries[kEntries];
std::atomic<int> g_removing{0};

std::mutex g_noting;
bool g_installed = false;
int g_noted = 0;
int g_next = 0;

#ifdef Q_OS_WIN
// Only the file made, opened as itself and deleted through that handle: someone who may write in the
// folder may have put one of theirs under its name. The console's handler runs on a thread of its own,
// where this may be done.
void removeIfMade(const Entry& entry) {
    const HANDLE file = CreateFileW(entry.path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(file, &information) &&
        information.dwVolumeSerialNumber == entry.id.device &&
        ((quint64(information.nFileIndexHigh) << 32) | information.nFileIndexLow) == entry.id.file) {
        FILE_DISPOSITION_INFO disposition{TRUE};
        SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
    }
    CloseHandle(file);
}
#endif

void removeAll() {
    g_removing.fetch_add(1);
    for (std::atomic<Entry*>& slot : g_entries) {
        if (const Entry* entry = slot.load()) {
#ifdef Q_OS_WIN
            removeIfMade(*entry);
#else
            // Only the file made: someone who may write in the folder may have put one of theirs
            // under its name.
            struct stat named{};
            if (::fstatat(entry->folder, entry->name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                static_cast<quint64>(named.st_dev) == entry->id.device &&
                static_cast<quint64>(named.st_ino) == entry->id.file &&
                static_cast<quint64>(named.st_uid) == entry->id.owner)
                ::unlinkat(entry->folder, entry->name.constData(), 0);
#endif
        }
    }
    g_removing.fetch_sub(1);
}

#ifdef Q_OS_WIN
BOOL WINAPI onConsoleEvent(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT)
        removeAll();
    return FALSE; // the program ends as it would have
}

void install() {
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}
#else
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onSignal(int signal) {
    const int savedErrno = errno;
    removeAll();
    // The program ends as the signal would have ended it: it comes again once this handler returns.
    struct sigaction standard{};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    ::sigaction(signal, &standard, nullptr);
    ::raise(signal);
    errno = savedErrno;
}

void install() {
    struct sigaction action{};
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int signal : kSignals)
        sigaddset(&action.sa_mask, signal);
    for (const int signal : kSignals) {
        // Only where the signal would end the program as it is: one it ignores (started with nohup,
        // or in the background) or that something else handles stays so.
        struct sigaction current{};
        if (::sigaction(signal, nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
            current.sa_handler == SIG_DFL)
            ::sigaction(signal, &action, nullptr);
    }
}
#endif

} // namespace

int note(const OpenedFolder& folder, const QString& name, const FileId& id) {
    auto entry = std::make_unique<Entry>();
#ifdef Q_OS_WIN
    entry->path = folder.longPath(name);
#else
    entry->folder = folder.fd();
    entry->name = QFile::encodeName(name);
#endif
    entry->id = id;
    const std::lock_guard<std::mutex> lock(g_noting);
    if (!g_installed) {
        install();
        g_installed = true;
    }
    if (g_noted == kEntries)
        return -1;
    for (int at = g_next;; at = (at + 1) % kEntries) {
        if (!g_entries[at].load()) {
            g_entries[at].store(entry.release());
            g_next = (at + 1) % kEntries;
            ++g_noted;
            return at;
        }
    }
}

void forget(int entry) {
    if (entry < 0 || entry >= kEntries)
        return;
    std::unique_ptr<Entry> taken;
    {
        const std::lock_guard<std::mutex> lock(g_noting);
        taken.reset(g_entries[entry].exchange(nullptr));
        if (taken)
            --g_noted;
    }
    // A handler at work on another thread may still read it: it ends the program when done.
    while (g_removing.load() > 0)
        std::this_thread::yield();
}

} // namespace InterruptCleanup
