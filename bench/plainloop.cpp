// Linux only: raw POSIX terminal I/O, for the benchmark's floor measurement.
#include "plainloop.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

double PlainLockStepLoop(const std::string &device, long count)
{
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return -1;
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B38400);
    ::tcsetattr(fd, TCSANOW, &tio);

    const auto start = std::chrono::steady_clock::now();
    bool ok = true;
    for (long i = 0; i < count && ok; ++i) {
        const unsigned char out = static_cast<unsigned char>(i * 7 + 3);
        ok = ::write(fd, &out, 1) == 1;
        unsigned char in = 0;
        while (ok) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 5000) != 1) {
                ok = false;
                break;
            }
            const ssize_t n = ::read(fd, &in, 1);
            if (n == 1)
                break;
            ok = n < 0;
        }
        ok = ok && in == out;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(fd);
    return ok ? seconds : -1;
}
