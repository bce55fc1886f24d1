#pragma once

#include "telnet.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class QTcpSocket;

// A port text that names a serial line served over the network: socket://HOST:PORT is a
// raw TCP connection to a device server's port, rfc2217://HOST:PORT a telnet connection
// that also sets the line's speed and format. HOST is a name, an IPv4 address or an IPv6
// address in brackets.
struct NetworkAddress
{
    bool rfc2217 = false;
    QString host;
    quint16 port = 0;

    // The address written the one way it is compared and shown: scheme and host in lower
    // case, no path.
    QString Url() const;
    // The network port itself, whichever way it is spoken to: one owner per port.
    QString Endpoint() const;

    // Whether text starts like a network port (a known scheme), well-formed or not.
    static bool IsNetworkText(const QString &text);
    // Reads a network port text; false when it is not one or is malformed (no host, no
    // port, port 0 or past 65535, a path, a user name).
    static bool Parse(const QString &text, NetworkAddress *address);
};

// The engine's line over TCP. Opening connects and, for RFC 2217, negotiates COM-port
// control and sets 38400 baud, 8 data bits, no parity, 1 stop bit, no flow control; it
// returns only when that is done or has failed, within TimeoutMs, without running the
// event loop. Afterwards every arrival's line bytes come through Received (never empty),
// and a connection that goes away is reported once through Lost.
class NetworkLine : public QObject
{
    Q_OBJECT
public:
    static constexpr int TimeoutMs = 5000;

    explicit NetworkLine(QObject *parent = nullptr);

    // False with the reason in words when the connection or the line settings fail.
    bool Open(const NetworkAddress &address, QString *reason);
    void Close();
    bool IsOpen() const { return open; }
    // Sends one byte of the line now (0xFF doubled over RFC 2217).
    void SendByte(quint8 value);

signals:
    void Received(const QByteArray &bytes);
    void Lost(const QString &reason);

private:
    bool Connect(const NetworkAddress &address, int timeoutMs, QString *reason);
    bool Negotiate(qint64 deadline, QString *reason);
    void Write(const QByteArray &bytes);
    void OnReadyRead();
    void OnGone();

    QTcpSocket *socket;
    TelnetStream telnet;
    bool rfc2217 = false;
    bool open = false;
};
