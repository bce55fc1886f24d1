// Platform file: terminal checks for the progress display and the stop signals, POSIX
// and Windows.
#include "terminal.h"

#include <csignal>
#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>

bool StandardErrorIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

bool PrepareTerminal()
{
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return false;
    return SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int TerminalColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return 80;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void InstallStopSignals(void (*handler)(int))
{
    std::signal(SIGINT, handler);
    std::signal(SIGTERM, handler);
}

#else
#include <sys/ioctl.h>
#include <unistd.h>

bool StandardErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

bool PrepareTerminal()
{
    return true;
}

int TerminalColumns()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0)
        return 80;
    return size.ws_col;
}

void InstallStopSignals(void (*handler)(int))
{
    std::signal(SIGINT, handler);
    std::signal(SIGTERM, handler);
    std::signal(SIGHUP, handler);
    std::signal(SIGPIPE, SIG_IGN);
}
#endif
