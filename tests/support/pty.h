#pragma once
// Both ends of serial lines for tests and benchmarks: a pseudo-terminal pair whose far end
// the test plays, and the host end of a device that something else serves.

#include <QByteArray>
#include <QString>

// A pseudo-terminal pair: the code under test opens the slave side by its device name, the
// test reads and writes the master side. The test keeps its own descriptor of the slave,
// in raw mode, so the line settings that the code under test makes can be read back.
struct Pty
{
    int master = -1;
    int slave = -1;
    QString slavePath;

    Pty() = default;
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;
    ~Pty();

    bool Open();
    void CloseMaster();
    // Writes all bytes to the master side; false when that fails.
    bool Write(const QByteArray &bytes) const;
    // Reads what has reached the master side, waiting up to timeoutMs for count bytes. The
    // event loop does not run.
    QByteArray Read(int count, int timeoutMs = 2000) const;
};

// Lets the bytes written to a master side pass the terminal layer before anyone looks.
void LetBytesSettle();

// Makes node a second device node of the device that device names (mknod with its device
// number), as a container's device node is; false where that is not allowed (not root).
bool MakeSecondNode(const QString &device, const QString &node);

// The host end of a line that a device name gives (targetsim's pseudo-terminal), in raw
// mode, for tests that play the host byte by byte.
struct HostLine
{
    int fd = -1;

    HostLine() = default;
    HostLine(const HostLine &) = delete;
    HostLine &operator=(const HostLine &) = delete;
    ~HostLine() { Close(); }

    bool Open(const QString &device);
    void Close();
    bool Send(quint8 byte) const;
    bool Send(const QByteArray &bytes) const;
    // The next byte; -1 when none came within ms, -2 when the line was closed.
    int Receive(int ms) const;
};
