#include "Console.h"

#include <cerrno>
#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

// False when some of the text did not get out.
bool write(std::FILE* stream, const QString& text) {
#ifdef Q_OS_WIN
    const HANDLE handle = GetStdHandle(stream == stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        std::fflush(stream);
        const std::wstring wide = text.toStdWString();
        DWORD written = 0;
        return WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) &&
               static_cast<size_t>(written) == wide.size();
    }
#endif
    const QByteArray bytes = text.toUtf8();
    const size_t size = static_cast<size_t>(bytes.size());
    const bool whole = std::fwrite(bytes.constData(), 1, size, stream) == size;
    return std::fflush(stream) == 0 && whole;
}

} // namespace

StandardConsole::StandardConsole() {
#ifdef Q_OS_WIN
    // The console's code page is left alone (it outlives the program): text reaches a console wide.
    m_errIsTerminal = _isatty(_fileno(stderr)) != 0;
#else
    m_errIsTerminal = isatty(fileno(stderr)) != 0;
#endif
}

void StandardConsole::out(const QString& text) {
    errno = 0;
#ifdef Q_OS_WIN
    SetLastError(ERROR_SUCCESS);
#endif
    if (write(stdout, text))
        return;
    m_outFailed = true;
    bool closed = errno == EPIPE;
#ifdef Q_OS_WIN
    const DWORD error = GetLastError();
    closed = closed || error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE;
#endif
    m_outClosed = m_outClosed || closed;
}

void StandardConsole::err(const QString& text) {
    write(stderr, text);
}
