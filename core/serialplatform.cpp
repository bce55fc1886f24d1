#include "serialplatform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#if defined(Q_OS_LINUX)
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

namespace {

// The number a port text holds: 1 to 32767 is a port number, 0 none at all; -1 when the
// text is no whole number.
qlonglong PortNumber(const QString &portText)
{
    bool isNumber = false;
    const qlonglong number = portText.trimmed().toLongLong(&isNumber);
    if (!isNumber)
        return -1;
    return number <= 0 || number > 32767 ? 0 : number;
}

} // namespace

#if defined(Q_OS_WIN)

QString SystemDeviceName(const QString &portText)
{
    const qlonglong number = PortNumber(portText);
    if (number >= 0)
        return number == 0 ? QString() : QStringLiteral("COM%1").arg(number);
    return portText;
}

#else

QString SystemDeviceName(const QString &portText)
{
    const qlonglong number = PortNumber(portText);
    if (number >= 0)
        return number == 0 ? QString() : QStringLiteral("/dev/ttyS%1").arg(number - 1);
    // Where the toolkit would look for the name: an absolute path as it stands, one
    // that starts with ./ or ../ from the current folder, any other name under /dev.
    QString path = portText;
    if (portText.startsWith(QLatin1String("./")) || portText.startsWith(QLatin1String("../")))
        path = QDir::current().absoluteFilePath(portText);
    else if (!portText.startsWith(QLatin1Char('/')))
        path = QStringLiteral("/dev/") + portText;
    // Links (/dev/serial/by-id/...) lead to the device itself: one device has one name
    // for the toolkit's lock file and the open.
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

#endif

#if defined(Q_OS_UNIX)

quint64 DeviceNumber(const QString &path)
{
    struct stat status{};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISCHR(status.st_mode))
        return 0;
    return quint64(status.st_rdev);
}

#else

quint64 DeviceNumber(const QString &)
{
    return 0;
}

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

namespace {

// The lock file of one device number, in the system's lock folder where every user may
// create files (the temporary folder where there is none).
QByteArray LockPath(dev_t device)
{
    const char *folder = ::access("/run/lock", W_OK) == 0 ? "/run/lock" : "/tmp";
    return QStringLiteral("%1/orvant-device-%2-%3.lock")
            .arg(QString::fromLatin1(folder))
            .arg(major(device))
            .arg(minor(device))
            .toLocal8Bit();
}

// Opens the lock file, made by whoever comes first. A file that another user made in a
// sticky folder cannot be opened with O_CREAT there (protected_regular), only without.
int OpenLockFile(const QByteArray &path)
{
    int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.constData(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0 && errno == EEXIST)
            fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    return fd;
}

} // namespace

// A lock on the device itself, held by this open file description: another open of the
// same node, by any user, finds it taken. A second node of the same device (made with
// mknod, or a container's device node) is another file, so the device's number is locked
// too, through a lock file named by it. A device or folder that takes no lock is not
// refused for that.
bool ClaimDevice(qintptr handle, qintptr *claim)
{
    *claim = -1;
    if (::flock(int(handle), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return false;
    struct stat status{};
    if (::fstat(int(handle), &status) != 0 || !S_ISCHR(status.st_mode))
        return true;
    const int fd = OpenLockFile(LockPath(status.st_rdev));
    if (fd < 0)
        return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool taken = errno == EWOULDBLOCK;
        ::close(fd);
        if (taken)
            ::flock(int(handle), LOCK_UN);
        return !taken;
    }
    *claim = fd;
    return true;
}

void ReleaseDevice(qintptr claim)
{
    if (claim >= 0)
        ::close(int(claim));
}

#else

bool ClaimDevice(qintptr, qintptr *claim)
{
    *claim = -1;
    return true;
}

void ReleaseDevice(qintptr)
{
}

#endif

#if defined(Q_OS_UNIX)

DirectWrite WriteByteDirect(qintptr handle, quint8 value)
{
    const char byte = char(value);
    for (;;) {
        const ssize_t written = ::write(int(handle), &byte, 1);
        if (written == 1)
            return DirectWrite::Written;
        if (written < 0 && errno == EINTR)
            continue;
        if (written == 0 || errno == EAGAIN || errno == EWOULDBLOCK)
            return DirectWrite::NotHandled;
        return DirectWrite::Failed;
    }
}

qint64 ReadDirect(qintptr handle, char *buffer, qint64 size, int timeoutMs)
{
    pollfd line{int(handle), POLLIN, 0};
    const int ready = ::poll(&line, 1, timeoutMs);
    if (ready == 0 || (ready < 0 && errno == EINTR))
        return 0;
    if (ready < 0 || !(line.revents & POLLIN))
        return -1;
    const ssize_t got = ::read(int(handle), buffer, size_t(size));
    if (got > 0)
        return got;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return 0;
    return -1;
}

#else

// The toolkit's overlapped write is the way to a Windows port.
DirectWrite WriteByteDirect(qintptr, quint8)
{
    return DirectWrite::NotHandled;
}

qint64 ReadDirect(qintptr, char *, qint64, int)
{
    return -1;
}

#endif
