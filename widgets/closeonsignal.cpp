#include "closeonsignal.h"

#include <QWidget>

#ifndef Q_OS_WIN
// ---- POSIX only: signals handed to the event loop through a socket pair. ----

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int ClosingSignals[] = {SIGTERM, SIGHUP, SIGINT};
constexpr int SignalCount = int(sizeof(ClosingSignals) / sizeof(ClosingSignals[0]));
// [0]: written by the handler, [1]: read by the event loop.
int wakeUp[2] = {-1, -1};
struct sigaction before[SignalCount];

extern "C" void OnClosingSignal(int)
{
    // Only what is safe in a signal handler: one write, errno left as it was.
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeUp[0], &byte, 1);
    errno = savedErrno;
}

} // namespace

CloseOnSignals::CloseOnSignals(QWidget *window) : QObject(window)
{
    if (wakeUp[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, wakeUp) != 0)
        return;
    for (int fd : wakeUp) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    notifier = new QSocketNotifier(qintptr(wakeUp[1]), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, window, [window] {
        char bytes[64];
        while (::read(wakeUp[1], bytes, sizeof bytes) > 0) {
        }
        window->close();
    });
    for (int i = 0; i < SignalCount; ++i) {
        struct sigaction action = {};
        action.sa_handler = OnClosingSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(ClosingSignals[i], &action, &before[i]);
    }
}

CloseOnSignals::~CloseOnSignals()
{
    if (!notifier)
        return;
    delete notifier;
    for (int i = 0; i < SignalCount; ++i)
        ::sigaction(ClosingSignals[i], &before[i], nullptr);
    ::close(wakeUp[0]);
    ::close(wakeUp[1]);
    wakeUp[0] = wakeUp[1] = -1;
}

#else
// ---- Windows: a logout closes the window through the window system; nothing to do. ----

CloseOnSignals::CloseOnSignals(QWidget *window) : QObject(window) {}
CloseOnSignals::~CloseOnSignals() = default;

#endif
