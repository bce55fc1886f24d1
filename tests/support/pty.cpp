#include "pty.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
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

bool MakeSecondNode(const QString &device, const QString &node)
{
    struct stat status{};
    return ::stat(QFile::encodeName(device).constData(), &status) == 0
        && ::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0600, status.st_rdev) == 0;
}

bool HostLine::Open(const QString &device)
{
    Close();
    fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return false;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B38400);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

void HostLine::Close()
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool HostLine::Send(quint8 byte) const
{
    return ::write(fd, &byte, 1) == 1;
}

bool HostLine::Send(const QByteArray &bytes) const
{
    return ::write(fd, bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size());
}

int HostLine::Receive(int ms) const
{
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, ms) <= 0)
        return -1;
    quint8 byte;
    return ::read(fd, &byte, 1) == 1 ? byte : -2;
}
