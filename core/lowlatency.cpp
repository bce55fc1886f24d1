#include "lowlatency.h"

#if defined(Q_OS_LINUX)
#include <linux/serial.h>
#include <sys/ioctl.h>

bool RequestLowLatency(qintptr handle)
{
    serial_struct serial{};
    if (::ioctl(int(handle), TIOCGSERIAL, &serial) != 0)
        return false;
    serial.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(int(handle), TIOCSSERIAL, &serial) == 0;
}
#else
// Windows hands each byte over as it arrives already; other systems have no such mode.
bool RequestLowLatency(qintptr)
{
    return false;
}
#endif
