#pragma once

#include <QString>
#include <QtGlobal>

// Platform file: the only place of the engine with operating-system calls, and the one
// place of each system's rules for naming and sharing serial devices.

// The device that a port text other than a network port names on this system: a whole
// number n is COMn on Windows and /dev/ttyS(n-1) elsewhere (empty for 0, negative or past
// 32767). On Windows any other text is taken as it stands; elsewhere an absolute path
// stands, one that starts with ./ or ../ is taken from the current folder, any other name
// lies under /dev, and links are followed to the device. portText is not blank.
QString SystemDeviceName(const QString &portText);

// The number of the device that path names (its major and minor number), so that two
// nodes of one device are known as one; 0 where path is no device node or the system
// has no such numbers.
quint64 DeviceNumber(const QString &path);

// Asks the serial driver behind the open file handle for low-latency mode, so that each
// received byte is handed over at once instead of after the driver's batching delay.
// Returns false where the driver refuses (a pseudo-terminal) or the platform has no such
// mode; the caller carries on either way.
bool RequestLowLatency(qintptr handle);

// Claims the device behind the open file handle for this open alone, so that a second
// program (or a second link in this one) cannot drive the same board, through this name
// or any other node of the same device. Unlike the toolkit's exclusive mode this also
// holds against root, and unlike its lock file it does not depend on which lock folder
// each program can write. Returns false when another open of the device holds the claim;
// true where the platform has no such claim (Windows opens a serial port for one owner
// only anyway). *claim receives what ReleaseDevice must be given when the port closes.
bool ClaimDevice(qintptr handle, qintptr *claim);
void ReleaseDevice(qintptr claim);

// What WriteByteDirect did with the byte.
enum class DirectWrite { Written, NotHandled, Failed };

// Writes one byte straight to the open, non-blocking file handle, without the toolkit's
// write buffer and its notifier, which would cost two passes of the event loop for every
// byte. NotHandled where the driver cannot take the byte now (its buffer is full) or the
// platform has no such write (Windows): the caller then hands the byte to the toolkit.
// Failed where the system refuses the write for good (the line is gone).
DirectWrite WriteByteDirect(qintptr handle, quint8 value);

// Waits up to timeoutMs for bytes on the open, non-blocking file handle and reads those
// waiting (at most size) straight into buffer, past the toolkit and its event loop.
// Returns how many were read; 0 when none came in time (or a signal broke the wait);
// -1 where the platform has no such read (Windows) or the device reports anything but
// bytes (an error, a hang-up), which the toolkit's own read then reports.
qint64 ReadDirect(qintptr handle, char *buffer, qint64 size, int timeoutMs);
