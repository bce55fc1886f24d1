#include "serialplatform.h"

#if defined(Q_OS_LINUX)
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <sys/file.h>
#endif

#if defined(Q_OS_LINUX)
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

#if defined(Q_OS_UNIX)
// A lock on the device itself, held by this open file description: another open of the
// same device, under any of its names and by any user, finds it taken. A device that
// takes no such lock at all is not refused for that.
bool ClaimDevice(qintptr handle)
{
    if (::flock(int(handle), LOCK_EX | LOCK_NB) == 0)
        return true;
    return errno != EWOULDBLOCK;
}
#else
bool ClaimDevice(qintptr)
{
    return true;
}
#endif
