// Platform file: the terminal of the progress display, the signals of writes and the
// writing of the record, POSIX and Windows.
#include "terminal.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdio>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
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

int TerminalRows()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return 24;
    return info.srWindow.Bottom - info.srWindow.Top + 1;
}

void IgnoreWriteSignals() {}

int StandardOutput()
{
    return _fileno(stdout);
}

int OpenRecordFile(const QString &path, bool *endsOpen, QString *reason)
{
    *endsOpen = false;
    const int fd = _wopen(reinterpret_cast<const wchar_t *>(path.utf16()),
                          _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        *reason = qt_error_string(errno);
    return fd;
}

void CloseRecordFile(int fd)
{
    _close(fd);
}

QString WriteWhole(int fd, const QByteArray &bytes, bool *readerGone)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const int count = _write(fd, bytes.constData() + done, unsigned(bytes.size() - done));
        if (count <= 0) {
            if (readerGone)
                *readerGone = errno == EPIPE;
            return qt_error_string(count < 0 ? errno : EIO);
        }
        done += count;
    }
    return QString();
}

#else
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What a file system object that cannot take a record is, for the reason.
const char *KindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISDIR(mode))
        return "a folder";
    return "not a file";
}

bool TakesRecord(mode_t mode)
{
    return S_ISREG(mode) || S_ISCHR(mode);
}

// A write cut short at the end of a file: the part that got in is taken off again.
void TakeBack(int fd, qsizetype written)
{
    struct stat info{};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < written
        || ::lseek(fd, 0, SEEK_CUR) != info.st_size)
        return;
    // Should this fail too, the part stays; the next run begins on a line of its own.
    if (::ftruncate(fd, info.st_size - written) != 0)
        return;
}

} // namespace

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

int TerminalRows()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_row == 0)
        return 24;
    return size.ws_row;
}

void IgnoreWriteSignals()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

int StandardOutput()
{
    return STDOUT_FILENO;
}

int OpenRecordFile(const QString &path, bool *endsOpen, QString *reason)
{
    *endsOpen = false;
    const QByteArray name = QFile::encodeName(path);
    // A FIFO would hold the open until a reader comes: look before opening, and open
    // without waiting in case it came in between.
    struct stat info{};
    if (::stat(name.constData(), &info) == 0 && !TakesRecord(info.st_mode)) {
        *reason = QStringLiteral("it is %1, not a file").arg(QLatin1String(KindOf(info.st_mode)));
        return -1;
    }
    const int flags = O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    // Read access only to see the last byte; a file that may only be written is fine.
    int fd = ::open(name.constData(), O_RDWR | flags, 0666);
    if (fd < 0 && (errno == EACCES || errno == EPERM))
        fd = ::open(name.constData(), O_WRONLY | flags, 0666);
    if (fd < 0) {
        *reason = qt_error_string(errno);
        return -1;
    }
    if (::fstat(fd, &info) != 0 || !TakesRecord(info.st_mode)) {
        *reason = QStringLiteral("it is %1, not a file").arg(QLatin1String(KindOf(info.st_mode)));
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    char last = '\n';
    if (S_ISREG(info.st_mode) && info.st_size > 0 && ::pread(fd, &last, 1, info.st_size - 1) == 1)
        *endsOpen = last != '\n';
    return fd;
}

void CloseRecordFile(int fd)
{
    ::close(fd);
}

QString WriteWhole(int fd, const QByteArray &bytes, bool *readerGone)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (count > 0) {
            done += count;
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        // A descriptor left non-blocking by whoever made it: wait until it takes more.
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd ready{fd, POLLOUT, 0};
            if (::poll(&ready, 1, 10000) > 0)
                continue;
        }
        const int error = count < 0 ? errno : EIO;
        if (done > 0)
            TakeBack(fd, done);
        if (readerGone)
            *readerGone = error == EPIPE;
        return qt_error_string(error);
    }
    return QString();
}
#endif
