#pragma once
// A ser2net serving one serial device on free loopback ports for a test: raw TCP, telnet
// with COM-port control (RFC 2217) and plain telnet without it. Started with its own
// configuration in a temporary folder, stopped with the object; never a system service.

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <array>
#include <memory>

class Ser2Net
{
public:
    enum Mode { Raw, Rfc2217, PlainTelnet };

    ~Ser2Net() { Stop(); }

    // Serves device (at 38400 baud, 8N1, no modem lines) until Stop; false when ser2net
    // did not come up within a few seconds.
    bool Start(const QString &device)
    {
        if (!dir.isValid() || !TakeFreePorts())
            return false;
        static const char *const accepters[] = {"tcp", "telnet(rfc2217),tcp", "telnet,tcp"};
        QByteArray config = "%YAML 1.1\n---\n";
        for (int mode = Raw; mode <= PlainTelnet; ++mode)
            config += QStringLiteral("connection: &line%1\n"
                                     "  accepter: %2,127.0.0.1,%3\n"
                                     "  connector: serialdev,%4,38400n81,local\n")
                          .arg(mode).arg(accepters[mode]).arg(ports[size_t(mode)]).arg(device)
                          .toLocal8Bit();
        QFile file(dir.filePath("ser2net.yaml"));
        if (!file.open(QIODevice::WriteOnly) || file.write(config) != config.size())
            return false;
        file.close();
        process.setProgram(QStringLiteral("ser2net"));
        // Foreground, no UUCP lock files, this configuration only.
        process.setArguments({"-n", "-d", "-u", "-c", file.fileName()});
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start();
        if (!process.waitForStarted(5000))
            return false;
        // Up when every port is taken; connecting to find out would open the device.
        QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired() && process.state() == QProcess::Running) {
            if (AllListening())
                return true;
            QThread::msleep(20);
        }
        return false;
    }

    void Stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(3000);
    }

    QString Url(Mode mode) const
    {
        return QStringLiteral("%1://127.0.0.1:%2").arg(mode == Raw ? "socket" : "rfc2217").arg(ports[size_t(mode)]);
    }

    std::array<quint16, 3> ports{};
    QProcess process;

private:
    bool TakeFreePorts()
    {
        // All three held at once, so that they differ; ser2net takes them right after.
        std::array<std::unique_ptr<QTcpServer>, 3> servers;
        for (size_t i = 0; i < servers.size(); ++i) {
            servers[i] = std::make_unique<QTcpServer>();
            if (!servers[i]->listen(QHostAddress::LocalHost))
                return false;
            ports[i] = servers[i]->serverPort();
        }
        return true;
    }

    bool AllListening() const
    {
        for (quint16 port : ports) {
            QTcpServer probe;
            if (probe.listen(QHostAddress::LocalHost, port))
                return false;
        }
        return true;
    }

    QTemporaryDir dir;
};
