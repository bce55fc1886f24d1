#include "seriallink.h"

#include "networkline.h"
#include "serialplatform.h"
#include "statuslog.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QSerialPort>
#include <QSerialPortInfo>

#include <chrono>
#include <system_error>

namespace {

// Why a port could not be opened, in words the technician can act on. Qt SerialPort
// reports a PermissionError both for a port that another program holds (its lock file is
// taken: "Permission error while locking the device"; or the device is open for exclusive
// use: EBUSY) and for a real lack of permission (EACCES), whose system text stays.
QString OpenFailure(const QSerialPort &port)
{
    const QString text = port.errorString();
    const QString busy =
            QString::fromStdString(std::make_error_code(std::errc::device_or_resource_busy).message());
    if (port.error() == QSerialPort::PermissionError
        && (text == QSerialPort::tr("Permission error while locking the device") || text == busy))
        return QStringLiteral("it is in use by another program");
    return text;
}

} // namespace

SerialLink::SerialLink(StatusLog &log, QObject *parent)
    : DownloadPort(parent)
    , log(log)
    , port(new QSerialPort(this))
    , network(new NetworkLine(this))
{
    connect(network, &NetworkLine::Received, this, &SerialLink::Received);
    connect(network, &NetworkLine::Lost, this, &SerialLink::ReportLoss);
    connect(port, &QSerialPort::readyRead, this, &SerialLink::OnReadyRead);
    connect(port, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { OnError(int(error)); });
    // A port opened without ConfigurePort would run at the driver's defaults; the line
    // parameters are fixed, so the link starts with them.
    ConfigurePort();
}

SerialLink::~SerialLink()
{
    ClosePort();
}

void SerialLink::ConfigurePort()
{
    port->setBaudRate(QSerialPort::Baud38400);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
}

bool SerialLink::OpenPort(const QString &portText)
{
    ClosePort();

    const QString name = DeviceForPortText(portText);
    if (name.isEmpty()) {
        log.LogLine(QStringLiteral("---- Cannot open port \"%1\": it names no port").arg(portText));
        return false;
    }
    device = name;
    // A number or a link names its device by a rule the operator may not see: show both.
    const QString shown = name == portText ? name : QStringLiteral("%1 (%2)").arg(portText, name);
    NetworkAddress address;
    if (NetworkAddress::Parse(name, &address)) {
        QString reason;
        if (network->Open(address, &reason))
            return true;
        log.LogLine(QStringLiteral("---- Cannot open port %1: %2").arg(shown, reason));
        return false;
    }
    port->setPortName(name);
    if (!port->open(QIODevice::ReadWrite)) {
        log.LogLine(QStringLiteral("---- Cannot open port %1: %2").arg(shown, OpenFailure(*port)));
        port->clearError();
        return false;
    }
    // The handle is a file descriptor on POSIX systems and a HANDLE (a pointer) on Windows.
    if (!ClaimDevice(qintptr(port->handle()), &claim)) {
        port->close();
        port->clearError();
        log.LogLine(QStringLiteral("---- Cannot open port %1: it is in use by another program").arg(shown));
        return false;
    }
    // Bytes that reached the device before it was opened belong to nobody.
    port->clear();
    // A pseudo-terminal has no RTS line; it still carries the bytes.
    if (!port->setRequestToSend(true))
        port->clearError();
#if defined(Q_OS_LINUX)
    // Refused by drivers without the mode (a pseudo-terminal); the link works either way.
    RequestLowLatency(port->handle());
#endif
    return true;
}

bool SerialLink::ChangePort(const QString &portText)
{
    // OpenPort closes the open port first.
    return OpenPort(portText);
}

bool SerialLink::UsePort(const QString &portText)
{
    if (IsOpen() && DeviceForPortText(portText) == device)
        return true;
    return ChangePort(portText);
}

void SerialLink::ClosePort()
{
    // A loss reported but not yet delivered belongs to the port being closed.
    ++session;
    answerAwaited = false;
    network->Close();
    if (port->isOpen())
        port->close();
    port->clearError();
    ReleaseDevice(claim);
    claim = -1;
}

void SerialLink::SendByte(quint8 value)
{
    if (network->IsOpen()) {
        network->SendByte(value);
        return;
    }
    if (!port->isOpen())
        return;
    // Straight to the device while nothing waits in the toolkit's buffer (a byte written
    // directly then could pass the ones waiting there): the toolkit's write would switch
    // its write notifier on and off again for every byte.
    if (port->bytesToWrite() == 0) {
        switch (WriteByteDirect(qintptr(port->handle()), value)) {
        case DirectWrite::Written:
            answerAwaited = true;
            return;
        case DirectWrite::Failed:
            ReportLoss(QStringLiteral("writing to the port failed"));
            return;
        case DirectWrite::NotHandled:
            break;
        }
    }
    const char byte = char(value);
    // write() only buffers; flush() puts the byte on the line now instead of on the
    // next pass of the event loop.
    port->write(&byte, 1);
    port->flush();
}

bool SerialLink::IsOpen() const
{
    return port->isOpen() || network->IsOpen();
}

QString SerialLink::DeviceForPortText(const QString &portText)
{
    if (portText.trimmed().isEmpty())
        return QString();
    if (NetworkAddress::IsNetworkText(portText)) {
        NetworkAddress address;
        return NetworkAddress::Parse(portText, &address) ? address.Url() : QString();
    }
    return SystemDeviceName(portText);
}

QString SerialLink::SameDeviceKey(const QString &device)
{
    NetworkAddress address;
    if (NetworkAddress::Parse(device, &address))
        return QStringLiteral("tcp ") + address.Endpoint();
    const quint64 number = DeviceNumber(device);
    return number != 0 ? QStringLiteral("device %1").arg(number) : device;
}

QString SerialLink::PortInfo::Details() const
{
    QStringList parts;
    for (const QString &part : {description, manufacturer})
        if (!part.isEmpty())
            parts << part;
    if (!serialNumber.isEmpty())
        parts << QStringLiteral("serial number ") + serialNumber;
    return parts.join(QStringLiteral(", "));
}

QList<SerialLink::PortInfo> SerialLink::SystemPorts()
{
    // Adapters keep their /dev/serial/by-id name across plugging, where the system
    // has such names; the device they point at can change.
    QMap<QString, QString> byId;
    const QDir idDir(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo &link : idDir.entryInfoList(QDir::System | QDir::Files))
        byId.insert(link.canonicalFilePath(), link.absoluteFilePath());

    QList<PortInfo> ports;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        const QString device = info.systemLocation();
        ports.append({device, info.description(), info.manufacturer(), info.serialNumber(),
                      byId.value(QFileInfo(device).canonicalFilePath())});
    }
    return ports;
}

void SerialLink::OnReadyRead()
{
    const QByteArray bytes = port->readAll();
    if (bytes.isEmpty())
        return;
    answerAwaited = false;
    emit Received(bytes);

    // In lock step the byte just sent back is answered within a byte time or two: that
    // answer is waited for on the device itself, which spares a whole pass of the event
    // loop per byte. The wait goes on for a few milliseconds at most; then the event loop
    // has its turn (painting, a close request, a stop), and the next answer comes through
    // the toolkit again. A wait that ends without bytes leaves the device to the toolkit,
    // which reports an error or a hang-up as it always does.
    const quint64 open = session;
    const auto sliceEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(DirectSliceMs);
    char buffer[256];
    while (answerAwaited && session == open && port->isOpen()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(sliceEnd - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        const qint64 got = ReadDirect(qintptr(port->handle()), buffer, qint64(sizeof buffer), int(left.count()));
        if (got <= 0)
            break;
        answerAwaited = false;
        emit Received(QByteArray(buffer, int(got)));
    }
}

void SerialLink::OnError(int error)
{
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        break;
    default:
        // Line errors, status changes and the NoError that setters and clearError() report.
        return;
    }
    if (!port->isOpen())
        return;
    // Close at once: a hung-up pseudo-terminal repeats ReadError for as long as its
    // read notifier stays armed, and nothing may be delivered from a lost port.
    // A hung-up line (the other end closed, an adapter pulled out) reads as the end of
    // the data, which Qt SerialPort reports as a ReadError with whatever system error an
    // earlier call left behind; that text would mislead, so none is shown.
    const QString reason = error == QSerialPort::ResourceError
            ? QStringLiteral("the device was unplugged or is no longer available")
            : error == QSerialPort::ReadError
            ? QStringLiteral("the other end hung up or the adapter was unplugged")
            : QStringLiteral("writing to the port failed");
    ReportLoss(reason);
}

void SerialLink::ReportLoss(const QString &reason)
{
    ClosePort();
    // Receivers run from the event loop, not from inside the line's own notification,
    // and not at all when the port was reopened or closed in between.
    const quint64 lost = session;
    QMetaObject::invokeMethod(this, [this, lost, reason] {
        if (lost == session)
            emit PortLost(reason);
    }, Qt::QueuedConnection);
}
