#include "networkline.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QUrl>

namespace {

const QString RawScheme = QStringLiteral("socket");
const QString Rfc2217Scheme = QStringLiteral("rfc2217");

QString TimeoutText()
{
    return QStringLiteral("no answer from the server within %1 seconds").arg(NetworkLine::TimeoutMs / 1000);
}

} // namespace

QString NetworkAddress::Url() const
{
    return (rfc2217 ? Rfc2217Scheme : RawScheme) + QStringLiteral("://") + Endpoint();
}

QString NetworkAddress::Endpoint() const
{
    const QString shownHost = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("%1:%2").arg(shownHost).arg(port);
}

bool NetworkAddress::IsNetworkText(const QString &text)
{
    const QString trimmed = text.trimmed();
    for (const QString &scheme : {RawScheme, Rfc2217Scheme})
        if (trimmed.startsWith(scheme + QStringLiteral("://"), Qt::CaseInsensitive))
            return true;
    return false;
}

bool NetworkAddress::Parse(const QString &text, NetworkAddress *address)
{
    if (!IsNetworkText(text))
        return false;
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() || url.hasQuery()
        || url.hasFragment() || !(url.path().isEmpty() || url.path() == QLatin1String("/")))
        return false;
    const int port = url.port();
    if (port <= 0 || port > 65535)
        return false;
    address->rfc2217 = url.scheme().compare(Rfc2217Scheme, Qt::CaseInsensitive) == 0;
    address->host = url.host().toLower();
    address->port = quint16(port);
    return true;
}

NetworkLine::NetworkLine(QObject *parent)
    : QObject(parent)
    , socket(new QTcpSocket(this))
{
    connect(socket, &QTcpSocket::readyRead, this, &NetworkLine::OnReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &NetworkLine::OnGone);
    connect(socket, &QTcpSocket::errorOccurred, this, &NetworkLine::OnGone);
}

bool NetworkLine::Open(const NetworkAddress &address, QString *reason)
{
    Close();
    telnet = TelnetStream();
    rfc2217 = address.rfc2217;
    const QDeadlineTimer deadline(TimeoutMs);
    if (!Connect(address, TimeoutMs, reason)
        || (rfc2217 && !Negotiate(deadline.deadline(), reason))) {
        socket->abort();
        return false;
    }
    // Every byte waits for its echo: a byte held back to fill a segment would stall both.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    open = true;
    return true;
}

bool NetworkLine::Connect(const NetworkAddress &address, int timeoutMs, QString *reason)
{
    socket->connectToHost(address.host, address.port);
    if (socket->waitForConnected(timeoutMs))
        return true;
    switch (socket->error()) {
    case QAbstractSocket::HostNotFoundError:
        *reason = QStringLiteral("host %1 not found").arg(address.host);
        break;
    case QAbstractSocket::ConnectionRefusedError:
        *reason = QStringLiteral("the connection was refused (no server listens on port %1)").arg(address.port);
        break;
    case QAbstractSocket::SocketTimeoutError:
        *reason = TimeoutText();
        break;
    default:
        *reason = socket->errorString();
        break;
    }
    return false;
}

// Offers COM-port control, and once the server agrees sets the line; the bytes of the line
// that come meanwhile were sent before the port was ours and are dropped.
bool NetworkLine::Negotiate(qint64 deadline, QString *reason)
{
    Write(telnet.Greeting());
    bool settingsSent = false;
    for (;;) {
        telnet.Take(socket->readAll());
        Write(telnet.TakeReplies());
        if (telnet.ComPortRefused()) {
            *reason = QStringLiteral("the server refuses the COM-port option (it does not set the line)");
            return false;
        }
        if (telnet.ComPortAgreed() && !settingsSent) {
            Write(TelnetStream::LineSettings());
            settingsSent = true;
        }
        if (telnet.LineRefused()) {
            *reason = QStringLiteral("the server did not set the line to 38400 baud, 8 data bits, "
                                     "no parity, 1 stop bit, no flow control");
            return false;
        }
        if (telnet.LineSet())
            return true;
        if (socket->state() != QAbstractSocket::ConnectedState) {
            *reason = QStringLiteral("the server closed the connection");
            return false;
        }
        const QDeadlineTimer left(deadline);
        if (left.hasExpired()
            || (!socket->waitForReadyRead(int(left.remainingTime()))
                && socket->error() == QAbstractSocket::SocketTimeoutError)) {
            *reason = TimeoutText();
            return false;
        }
    }
}

void NetworkLine::Close()
{
    open = false;
    if (socket->state() != QAbstractSocket::UnconnectedState)
        socket->abort();
}

void NetworkLine::SendByte(quint8 value)
{
    if (!open)
        return;
    Write(rfc2217 ? TelnetStream::Escaped(value) : QByteArray(1, char(value)));
}

void NetworkLine::Write(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    // write() only buffers; flush() hands the bytes to the system now.
    socket->write(bytes);
    socket->flush();
}

void NetworkLine::OnReadyRead()
{
    // While opening, the negotiation reads for itself.
    if (!open)
        return;
    QByteArray bytes = socket->readAll();
    if (rfc2217) {
        bytes = telnet.Take(bytes);
        Write(telnet.TakeReplies());
    }
    if (!bytes.isEmpty())
        emit Received(bytes);
}

void NetworkLine::OnGone()
{
    if (!open)
        return;
    const QString reason = socket->error() == QAbstractSocket::RemoteHostClosedError
                                   || socket->state() != QAbstractSocket::ConnectedState
            ? QStringLiteral("the server closed the connection")
            : socket->errorString();
    open = false;
    emit Lost(reason);
}
