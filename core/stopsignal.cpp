// Platform file: the stop signals of the process, POSIX and Windows.
#include "stopsignal.h"

#include <QSocketNotifier>
#include <QTimer>

#ifndef Q_OS_WIN
// ---- POSIX: signals handed to the event loop through a socket pair. ----

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int StopSignalNumbers[] = {SIGTERM, SIGHUP, SIGINT};
constexpr int SignalCount = int(sizeof(StopSignalNumbers) / sizeof(StopSignalNumbers[0]));
// [0]: written by the handler, [1]: read by the event loop.
int wakeUp[2] = {-1, -1};
struct sigaction before[SignalCount];

extern "C" void OnStopSignal(int)
{
    // Only what is safe in a signal handler: one write, errno left as it was.
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeUp[0], &byte, 1);
    errno = savedErrno;
}

} // namespace

StopSignals::StopSignals(Second second, QObject *parent) : QObject(parent)
{
    if (wakeUp[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, wakeUp) != 0)
        return;
    for (int fd : wakeUp) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    auto *notifier = new QSocketNotifier(qintptr(wakeUp[1]), QSocketNotifier::Read, this);
    watcher = notifier;
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[64];
        ssize_t count;
        while ((count = ::read(wakeUp[1], bytes, sizeof bytes)) > 0) {
            for (ssize_t i = 0; i < count; ++i)
                emit Stopped();
        }
    });
    for (int i = 0; i < SignalCount; ++i) {
        struct sigaction action = {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        // SA_RESETHAND: the handler is taken away as it runs, so the next signal of the
        // kind does what it would without us, end the process.
        action.sa_flags = SA_RESTART | (second == Second::Ends ? SA_RESETHAND : 0);
        ::sigaction(StopSignalNumbers[i], &action, &before[i]);
    }
}

StopSignals::~StopSignals()
{
    if (!watcher)
        return;
    delete watcher;
    for (int i = 0; i < SignalCount; ++i)
        ::sigaction(StopSignalNumbers[i], &before[i], nullptr);
    ::close(wakeUp[0]);
    ::close(wakeUp[1]);
    wakeUp[0] = wakeUp[1] = -1;
}

#else
// ---- Windows: the C runtime's Ctrl-C and SIGTERM set a flag that a timer looks at. ----

#include <atomic>
#include <csignal>

namespace {

std::atomic<int> pending{0};
bool endsOnSecond = false;
bool installed = false;

extern "C" void OnStopSignal(int signal)
{
    ++pending;
    // The C runtime resets the handler before calling it: set it again unless a second
    // signal is to end the process.
    if (!endsOnSecond)
        std::signal(signal, OnStopSignal);
}

} // namespace

StopSignals::StopSignals(Second second, QObject *parent) : QObject(parent)
{
    if (installed)
        return;
    installed = true;
    endsOnSecond = second == Second::Ends;
    pending = 0;
    auto *poll = new QTimer(this);
    watcher = poll;
    connect(poll, &QTimer::timeout, this, [this] {
        for (int count = pending.exchange(0); count > 0; --count)
            emit Stopped();
    });
    poll->start(50);
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

StopSignals::~StopSignals()
{
    if (!watcher)
        return;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    installed = false;
}

#endif
