#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// The line a download talks through, without anything of the system behind it: bytes go
// out one at a time, and every arrival comes back through Received.
class DownloadPort : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool IsOpen() const = 0;
    // Sends one byte at once; nothing happens when the line is closed.
    virtual void SendByte(quint8 value) = 0;
    // Makes the port that portText names the open one, opening it when another one or
    // none is open. A port that cannot be opened gives one log line; returns false.
    virtual bool UsePort(const QString &portText) = 0;

signals:
    // All bytes waiting at one arrival; never empty.
    void Received(const QByteArray &InBuff);
    // The line went away (device unplugged, other end hung up) and has been closed.
    void PortLost(const QString &reason);
};
