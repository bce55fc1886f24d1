#include "pty.h"

#include <QElapsedTimer>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

Pty::~Pty()
{
    CloseMaster();
    if (slave >= 0)
        ::close(slave);
}

bool Pty::Open()
{
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return false;
    slavePath = QString::fromLocal8Bit(::ptsname(master));
    slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    if (slave < 0)
        return false;
    termios tio{};
    if (::tcgetattr(slave, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    if (::tcsetattr(slave, TCSANOW, &tio) != 0)
        return false;
    return ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK) == 0;
}

void Pty::CloseMaster()
{
    if (master >= 0)
        ::close(master);
    master = -1;
}

bool Pty::Write(const QByteArray &bytes) const
{
    return ::write(master, bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size());
}

QByteArray Pty::Read(int count, int timeoutMs) const
{
    QByteArray got;
    QElapsedTimer timer;
    timer.start();
    while (got.size() < count && timer.elapsed() < timeoutMs) {
        pollfd pfd{master, POLLIN, 0};
        if (::poll(&pfd, 1, 50) <= 0)
            continue;
        char buffer[512];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0)
            got.append(buffer, int(n));
    }
    return got;
}

void LetBytesSettle()
{
    QThread::msleep(50);
}
