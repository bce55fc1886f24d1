#include "line.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <termios.h>
#include <unistd.h>

namespace {

std::string SystemError(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

} // namespace

Line::~Line()
{
    Close();
}

bool Line::Open(std::string &error)
{
    Close();
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        error = SystemError("posix_openpt");
        return false;
    }
    char name[PATH_MAX];
    if (grantpt(master) != 0 || unlockpt(master) != 0
        || ptsname_r(master, name, sizeof name) != 0) {
        error = SystemError("pseudo-terminal set-up");
        Close();
        return false;
    }
    device = name;
    slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        error = SystemError("open " + device);
        Close();
        return false;
    }
    termios tio{};
    if (tcgetattr(slave, &tio) != 0) {
        error = SystemError("tcgetattr " + device);
        Close();
        return false;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    if (tcsetattr(slave, TCSANOW, &tio) != 0) {
        error = SystemError("tcsetattr " + device);
        Close();
        return false;
    }
    const int flags = fcntl(master, F_GETFL);
    if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = SystemError("fcntl");
        Close();
        return false;
    }
    return true;
}

void Line::Close()
{
    if (slave >= 0)
        ::close(slave);
    if (master >= 0)
        ::close(master);
    slave = master = -1;
}

bool UpdateLink(const std::string &link, const std::string &device, std::string &error)
{
    const std::string temp = link + ".tmp" + std::to_string(getpid());
    ::unlink(temp.c_str());
    if (::symlink(device.c_str(), temp.c_str()) != 0) {
        error = SystemError("symlink " + temp);
        return false;
    }
    if (::rename(temp.c_str(), link.c_str()) != 0) {
        error = SystemError("rename " + temp + " to " + link);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

void RemoveLink(const std::string &link, const std::string &device)
{
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n < 0)
        return;
    target[n] = '\0';
    if (device == target)
        ::unlink(link.c_str());
}

bool WriteAll(int fd, const void *data, size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n > 0) {
            p += n;
            size -= size_t(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd pfd{fd, POLLOUT, 0};
            ::poll(&pfd, 1, 100);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}
