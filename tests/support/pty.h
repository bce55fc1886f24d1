#pragma once
// A pseudo-terminal pair for tests that play the far end of a serial line: the code under
// test opens the slave side by its device name, the test reads and writes the master side.
// The test keeps its own descriptor of the slave, in raw mode, so the line settings that
// the code under test makes can be read back from it.

#include <QByteArray>
#include <QString>

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
