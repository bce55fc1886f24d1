#pragma once

#include "downloadport.h"

#include <QString>
#include <QStringList>

class NetworkLine;
class QSerialPort;
class StatusLog;

// The engine's one connection to the target: a serial port at 38400 baud, 8 data bits,
// no parity, 1 stop bit, no flow control, RTS asserted; or such a port of a device server
// on the network (socket://HOST:PORT, rfc2217://HOST:PORT; see NetworkLine). Bytes go out one at a time
// (SendByte); every arrival hands all bytes then waiting, unaltered and in order, to one
// emission of Received, on the thread that owns the link (the window's thread).
class SerialLink : public DownloadPort
{
    Q_OBJECT
public:
    explicit SerialLink(StatusLog &log, QObject *parent = nullptr);
    ~SerialLink() override;

    // Sets the fixed line parameters on the closed port.
    void ConfigurePort();
    // Opens the device that portText names (DeviceForPortText) and claims it for this
    // link alone. A failure logs one line naming the port and the reason (the system's,
    // or "it is in use by another program") and returns false.
    bool OpenPort(const QString &portText);
    // Closes the open port (if any) and opens the one portText names.
    bool ChangePort(const QString &portText);
    // Opens the port portText names unless it is the open one already.
    bool UsePort(const QString &portText) override;
    // Closes the port; nothing is delivered after this.
    void ClosePort();
    // Sends one byte at once (written and flushed to the device). Nothing happens when
    // the port is closed.
    void SendByte(quint8 value) override;

    bool IsOpen() const override;
    // The device name of the open (or last opened) port.
    QString DeviceName() const { return device; }

    // The device a port text names, the one name under which it is shown and opened:
    // a network port's URL with scheme and host in lower case, else the system's device
    // (SystemDeviceName: a whole number n is COMn on Windows and /dev/ttyS(n-1)
    // elsewhere, names as the system places them, links followed). Returns an empty text
    // for text that names nothing (empty, 0, negative, a malformed URL).
    static QString DeviceForPortText(const QString &portText);
    // What two devices share when they are one port: a network port's host and port
    // (whichever scheme speaks to it), a device's number (whichever node names it), or
    // else its name.
    static QString SameDeviceKey(const QString &device);
    // A serial port the system reports.
    struct PortInfo {
        QString device;        // device name, e.g. /dev/ttyUSB0 or COM3
        QString description;   // the product as the device describes itself
        QString manufacturer;
        QString serialNumber;
        QString byId;          // its stable /dev/serial/by-id name, where there is one

        // Description, maker and serial number, those that are known, in one line.
        QString Details() const;
    };
    // The serial ports that the system reports.
    static QList<PortInfo> SystemPorts();

private:
    void OnReadyRead();
    void OnError(int error);
    // Closes the lost line and tells the owner, from the event loop.
    void ReportLoss(const QString &reason);

    StatusLog &log;
    QSerialPort *port;
    NetworkLine *network;
    QString device;
    // The platform's claim on the open device (ClaimDevice), released at close.
    qintptr claim = -1;
    // Counts opens and closes, so that a loss reported for one port is not delivered
    // once that port has been closed or another opened.
    quint64 session = 0;
    // A byte went straight to the device and nothing has come back since: its answer
    // may be waited for on the device itself (OnReadyRead).
    bool answerAwaited = false;
    // How long OnReadyRead waits for answers on the device before the event loop has its
    // turn again.
    static constexpr int DirectSliceMs = 4;
};
