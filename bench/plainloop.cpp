#include "plainloop.h"

#include "pty.h"

#include <chrono>

double PlainLockStepLoop(const std::string &device, long count)
{
    HostLine line;
    if (!line.Open(QString::fromStdString(device)))
        return -1;
    const auto start = std::chrono::steady_clock::now();
    bool ok = true;
    for (long i = 0; i < count && ok; ++i) {
        const quint8 out = quint8(i * 7 + 3);
        ok = line.Send(out) && line.Receive(5000) == out;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return ok ? seconds : -1;
}
