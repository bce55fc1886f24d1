// The serial link against a real pseudo-terminal: the link opens the slave side by its
// device name, the test plays the target on the master side.

#include "pty.h"
#include "ser2net.h"
#include "seriallink.h"
#include "serialplatform.h"
#include "statuslog.h"
#include "targetsimprocess.h"
#include "telnet.h"

#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <termios.h>
#include <unistd.h>

namespace {

QByteArray Joined(const QSignalSpy &spy)
{
    QByteArray all;
    for (const QList<QVariant> &call : spy)
        all += call.at(0).toByteArray();
    return all;
}

} // namespace

class TestSerialLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void portTextNamesDevice_data();
    void portTextNamesDevice();
    void opensWithFixedLineSettings();
    void everyByteValuePassesUnchanged();
    void bytesWaitingArriveInOneCall();
    void lockStepLeavesTheEventLoopItsTurn();
    void reopeningTheSamePortDeliversAgain();
    void nothingIsDeliveredAfterClose();
    void portThatCannotBeOpenedLogsOneLine_data();
    void portThatCannotBeOpenedLogsOneLine();
    void portHeldByAnotherLinkLogsOneLine();
    void secondNodeOfADeviceIsTheSameDevice();
    void failedChangeLeavesPortClosed();
    void otherEndClosingReportsLossOnce();
    void telnetStreamReadsAnySplit_data();
    void telnetStreamReadsAnySplit();

private:
    StatusLog *log = nullptr;
    SerialLink *link = nullptr;
    Pty *pty = nullptr;
};

void TestSerialLink::init()
{
    log = new StatusLog;
    link = new SerialLink(*log);
    link->ConfigurePort();
    pty = new Pty;
    QVERIFY(pty->Open());
}

void TestSerialLink::cleanup()
{
    delete link;
    delete log;
    delete pty;
}

void TestSerialLink::portTextNamesDevice_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("device");
#if defined(Q_OS_WIN)
    QTest::newRow("1") << "1" << "COM1";
    QTest::newRow("12") << "12" << "COM12";
#else
    QTest::newRow("1") << "1" << "/dev/ttyS0";
    QTest::newRow("4") << "4" << "/dev/ttyS3";
    QTest::newRow("blanks around") << " 2 " << "/dev/ttyS1";
#endif
    QTest::newRow("empty") << "" << "";
    QTest::newRow("blank") << "  " << "";
    QTest::newRow("zero") << "0" << "";
    QTest::newRow("negative") << "-3" << "";
    QTest::newRow("too large") << "99999" << "";
    QTest::newRow("usb device") << "/dev/ttyUSB0" << "/dev/ttyUSB0";
    // A network port is its URL, scheme and host in lower case, on every system.
    QTest::newRow("raw network port") << "socket://127.0.0.1:4000" << "socket://127.0.0.1:4000";
    QTest::newRow("RFC 2217 port in capitals") << " RFC2217://LocalHost:4001/ " << "rfc2217://localhost:4001";
    QTest::newRow("IPv6 network port") << "socket://[::1]:4000" << "socket://[::1]:4000";
    QTest::newRow("network port 0") << "socket://127.0.0.1:0" << "";
    QTest::newRow("network port past 65535") << "rfc2217://127.0.0.1:65536" << "";
    QTest::newRow("network port with a user") << "socket://me@127.0.0.1:4000" << "";
#if defined(Q_OS_WIN)
    QTest::newRow("COM name") << "COM12" << "COM12";
#else
    // One device, one name: where the toolkit would look, with links followed. PTY is
    // the test's pseudo-terminal, DIR the current folder holding "link" to it.
    QTest::newRow("name under /dev") << "ttyUSB0" << "/dev/ttyUSB0";
    QTest::newRow("path under /dev") << "pts/5" << "/dev/pts/5";
    QTest::newRow("not a whole number") << "1.5" << "/dev/1.5";
    QTest::newRow("missing path cleaned") << "/dev//ttyUSB0/." << "/dev/ttyUSB0";
    QTest::newRow("pty") << "PTY" << "PTY";
    QTest::newRow("link") << "DIR/link" << "PTY";
    QTest::newRow("link from the current folder") << "./link" << "PTY";
    QTest::newRow("link through the parent") << "../DIRNAME/link" << "PTY";
#endif
}

void TestSerialLink::portTextNamesDevice()
{
    QFETCH(QString, text);
    QFETCH(QString, device);
    QTemporaryDir dir;
    const QString folder = QFileInfo(dir.path()).canonicalFilePath();
    QVERIFY(QFile::link(pty->slavePath, folder + "/link"));
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder));
    const auto placed = [&](QString text) {
        return text.replace("DIRNAME", QFileInfo(folder).fileName()).replace("DIR", folder)
                   .replace("PTY", pty->slavePath);
    };
    const QString named = SerialLink::DeviceForPortText(placed(text));
    QDir::setCurrent(before);
    QCOMPARE(named, placed(device));
}

void TestSerialLink::opensWithFixedLineSettings()
{
    QVERIFY(link->OpenPort(pty->slavePath));
    QVERIFY(link->IsOpen());
    QCOMPARE(link->DeviceName(), pty->slavePath);
    // The pseudo-terminal has no RTS line and no low-latency mode: no complaint.
    QCOMPARE(log->Text(), QString());

    termios tio{};
    QCOMPARE(::tcgetattr(pty->slave, &tio), 0);
    QCOMPARE(::cfgetispeed(&tio), speed_t(B38400));
    QCOMPARE(::cfgetospeed(&tio), speed_t(B38400));
    QCOMPARE(tio.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), tcflag_t(0));
    QCOMPARE(tio.c_oflag & OPOST, tcflag_t(0));
    QCOMPARE(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
}

void TestSerialLink::everyByteValuePassesUnchanged()
{
    QVERIFY(link->OpenPort(pty->slavePath));
    QSignalSpy received(link, &SerialLink::Received);

    // The values the protocol and the terminal layer care most about, then all others.
    QByteArray values = QByteArray::fromHex("000d11131aaaff");
    for (int b = 0; b < 256; ++b)
        values.append(char(b));

    // Out: each byte reaches the other end at once, without the event loop running.
    for (char b : std::as_const(values)) {
        link->SendByte(quint8(b));
        QCOMPARE(pty->Read(1).toHex(), QByteArray(1, b).toHex());
    }

    // In: everything arrives, in order, unaltered.
    QVERIFY(pty->Write(values));
    QTRY_COMPARE(Joined(received).size(), values.size());
    QCOMPARE(Joined(received).toHex(), values.toHex());
    for (const QList<QVariant> &call : std::as_const(received))
        QVERIFY(!call.at(0).toByteArray().isEmpty());
}

void TestSerialLink::bytesWaitingArriveInOneCall()
{
    QVERIFY(link->OpenPort(pty->slavePath));
    QSignalSpy received(link, &SerialLink::Received);

    const QByteArray bytes = QByteArray::fromHex("aa00ee0d");
    QVERIFY(pty->Write(bytes));
    LetBytesSettle();
    QVERIFY(received.wait(2000));
    QTest::qWait(50);
    QCOMPARE(received.count(), 1);
    QCOMPARE(received.at(0).at(0).toByteArray().toHex(), bytes.toHex());
}

void TestSerialLink::lockStepLeavesTheEventLoopItsTurn()
{
    // A target that answers every byte at once: the link waits for the answers on the
    // device itself, but never so long that the event loop (a window's painting, a close
    // request, a stop) is kept from its turn.
    TargetSimProcess target;
    QVERIFY(target.Start({"--echo-only", "--timeout", "60"}));
    QVERIFY(link->OpenPort(target.device));
    constexpr int count = 4000;
    QByteArray sent, echoed;
    connect(link, &SerialLink::Received, this, [&](const QByteArray &bytes) {
        echoed += bytes;
        if (sent.size() < count && echoed.size() == sent.size()) {
            sent += char(sent.size() * 7 + 3);
            link->SendByte(quint8(sent.back()));
        }
    });
    int turns = 0;
    QTimer turn;
    connect(&turn, &QTimer::timeout, this, [&] { ++turns; });
    turn.start(5);
    QElapsedTimer elapsed;
    elapsed.start();
    sent += char(3);
    link->SendByte(3);
    QTRY_VERIFY_WITH_TIMEOUT(echoed.size() == count, 60000);
    const qint64 ms = elapsed.elapsed();
    QCOMPARE(echoed.toHex(), sent.toHex());
    // Every few milliseconds at the least; a wait that kept the loop out would leave
    // none at all.
    QVERIFY2(turns >= ms / 40, qPrintable(QStringLiteral("%1 turns in %2 ms").arg(turns).arg(ms)));
}

void TestSerialLink::reopeningTheSamePortDeliversAgain()
{
    QVERIFY(link->OpenPort(pty->slavePath));
    QSignalSpy received(link, &SerialLink::Received);

    // Bytes that reach the port while it is closed are stale at the next open.
    link->ClosePort();
    QVERIFY(pty->Write("old"));
    LetBytesSettle();

    QVERIFY(link->ChangePort(pty->slavePath));
    QVERIFY(link->IsOpen());
    QVERIFY(link->ChangePort(pty->slavePath));
    QVERIFY(link->IsOpen());
    QCOMPARE(log->Text(), QString());

    QVERIFY(pty->Write("new"));
    QTRY_COMPARE(Joined(received), QByteArray("new"));
    link->SendByte(0x0D);
    QCOMPARE(pty->Read(1), QByteArray("\r"));
}

void TestSerialLink::nothingIsDeliveredAfterClose()
{
    QVERIFY(link->OpenPort(pty->slavePath));
    QSignalSpy received(link, &SerialLink::Received);
    QSignalSpy lost(link, &SerialLink::PortLost);

    QVERIFY(pty->Write("before"));
    LetBytesSettle();
    link->ClosePort();
    QVERIFY(!link->IsOpen());
    QVERIFY(pty->Write("after"));
    link->SendByte(0x55);

    QTest::qWait(200);
    QCOMPARE(received.count(), 0);
    QCOMPARE(lost.count(), 0);
    QCOMPARE(pty->Read(1, 100), QByteArray());
    // Closing twice is harmless.
    link->ClosePort();
    QCOMPARE(log->Text(), QString());
}

void TestSerialLink::portThatCannotBeOpenedLogsOneLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("named");
    // The reason after the port; any when empty. On loopback: REFUSED is a port nobody
    // listens on, SILENT one that accepts and never answers, TELNET ser2net's telnet
    // without COM-port control.
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing device") << "/dev/orvant-no-such-port" << "/dev/orvant-no-such-port" << "";
#if !defined(Q_OS_WIN)
    QTest::newRow("number of a missing device") << "32000" << "32000 (/dev/ttyS31999)" << "";
#endif
    QTest::newRow("empty") << "" << "\"\"" << "it names no port";
    QTest::newRow("zero") << "0" << "\"0\"" << "it names no port";
    QTest::newRow("negative") << "-2" << "\"-2\"" << "it names no port";
    QTest::newRow("network port without a port number")
        << "socket://127.0.0.1" << "\"socket://127.0.0.1\"" << "it names no port";
    QTest::newRow("network port with a path")
        << "rfc2217://127.0.0.1:4000/x" << "\"rfc2217://127.0.0.1:4000/x\"" << "it names no port";
    // A name longer than 255 characters is not found without asking any name server.
    const QString host = QString(63, 'a') + "." + QString(63, 'b') + "." + QString(63, 'c') + "."
                       + QString(63, 'd') + ".invalid";
    QTest::newRow("host not found")
        << "socket://" + host + ":4000" << "socket://" + host + ":4000" << "host " + host + " not found";
    QTest::newRow("connection refused")
        << "socket://127.0.0.1:REFUSED" << "socket://127.0.0.1:REFUSED"
        << "the connection was refused (no server listens on port REFUSED)";
    QTest::newRow("no answer in time")
        << "rfc2217://127.0.0.1:SILENT" << "rfc2217://127.0.0.1:SILENT"
        << "no answer from the server within 5 seconds";
    QTest::newRow("COM-port option refused")
        << "RFC2217://127.0.0.1:TELNET" << "RFC2217://127.0.0.1:TELNET (rfc2217://127.0.0.1:TELNET)"
        << "the server refuses the COM-port option (it does not set the line)";
}

void TestSerialLink::portThatCannotBeOpenedLogsOneLine()
{
    QFETCH(QString, text);
    QFETCH(QString, named);
    QFETCH(QString, reason);

    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    quint16 refused = 0;
    {
        QTcpServer gone;
        QVERIFY(gone.listen(QHostAddress::LocalHost));
        refused = gone.serverPort();
    }
    Ser2Net server;
    if (text.contains("TELNET"))
        QVERIFY(server.Start(pty->slavePath));
    const auto placed = [&](QString text) {
        return text.replace("REFUSED", QString::number(refused))
                .replace("SILENT", QString::number(silent.serverPort()))
                .replace("TELNET", QString::number(server.ports[Ser2Net::PlainTelnet]));
    };

    log->LogLine("before");
    QVERIFY(!link->OpenPort(placed(text)));
    QVERIFY(!link->IsOpen());

    const QStringList lines = log->Text().split("\r\n");
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(1), QString("before"));
    const QString prefix = "---- Cannot open port " + placed(named) + ": ";
    QVERIFY2(lines.at(2).startsWith(prefix), qPrintable(lines.at(2)));
    // The reason follows the port.
    QVERIFY2(lines.at(2).size() > prefix.size(), qPrintable(lines.at(2)));
    if (!reason.isEmpty())
        QCOMPARE(lines.at(2).mid(prefix.size()), placed(reason));
    // Nothing reached the line.
    QCOMPARE(pty->Read(1, 100), QByteArray());
}

void TestSerialLink::portHeldByAnotherLinkLogsOneLine()
{
    QVERIFY(link->OpenPort(pty->slavePath));
    SerialLink other(*log);
    QVERIFY(!other.OpenPort(pty->slavePath));
    QVERIFY(!other.IsOpen());
    // Not the toolkit's "Permission error while locking the device", which sends the
    // technician to the user groups.
    QCOMPARE(log->Text(), "\r\n---- Cannot open port " + pty->slavePath
                              + ": it is in use by another program");

    // The first link still works.
    QSignalSpy received(link, &SerialLink::Received);
    QVERIFY(pty->Write("z"));
    QTRY_COMPARE(Joined(received), QByteArray("z"));
}

// A second node of a device (mknod, a container's device node) is the same device: one
// key for the duplicate check, one claim. The kernel opens a pseudo-terminal through its
// own node only, so the claim is tried on a second node of /dev/null.
void TestSerialLink::secondNodeOfADeviceIsTheSameDevice()
{
    QTemporaryDir dir;
    const QString node = dir.filePath("node");
    const QString nullNode = dir.filePath("null");
    if (!MakeSecondNode(pty->slavePath, node) || !MakeSecondNode("/dev/null", nullNode))
        QSKIP("device nodes cannot be made here (not root)");
    QCOMPARE(SerialLink::SameDeviceKey(node), SerialLink::SameDeviceKey(pty->slavePath));
    Pty another;
    QVERIFY(another.Open());
    QVERIFY(SerialLink::SameDeviceKey(another.slavePath) != SerialLink::SameDeviceKey(pty->slavePath));

    QFile first("/dev/null");
    QFile second(nullNode);
    QVERIFY(first.open(QIODevice::ReadWrite) && second.open(QIODevice::ReadWrite));
    qintptr firstClaim = -1;
    qintptr secondClaim = -1;
    QVERIFY(ClaimDevice(first.handle(), &firstClaim));
    QVERIFY(!ClaimDevice(second.handle(), &secondClaim));
    ReleaseDevice(firstClaim);
    first.close();
    QVERIFY(ClaimDevice(second.handle(), &secondClaim));
    ReleaseDevice(secondClaim);
}

void TestSerialLink::failedChangeLeavesPortClosed()
{
    QVERIFY(link->OpenPort(pty->slavePath));
    QSignalSpy received(link, &SerialLink::Received);

    QVERIFY(!link->ChangePort("/dev/orvant-no-such-port"));
    QVERIFY(!link->IsOpen());
    QCOMPARE(log->Text().count("\r\n"), 1);
    QVERIFY(log->Text().contains("/dev/orvant-no-such-port"));
    link->SendByte(0x0D);
    QVERIFY(pty->Write("x"));
    QTest::qWait(100);
    QCOMPARE(received.count(), 0);
    QCOMPARE(pty->Read(1, 100), QByteArray());

    // The operator picks the working port again.
    QVERIFY(link->ChangePort(pty->slavePath));
    QVERIFY(pty->Write("y"));
    QTRY_COMPARE(Joined(received), QByteArray("y"));
}

void TestSerialLink::otherEndClosingReportsLossOnce()
{
    QVERIFY(link->OpenPort(pty->slavePath));
    QSignalSpy received(link, &SerialLink::Received);
    QSignalSpy lost(link, &SerialLink::PortLost);

    pty->CloseMaster();
    // Also the test's own descriptor, so the terminal hangs up completely.
    ::close(pty->slave);
    pty->slave = -1;

    QVERIFY(lost.wait(2000));
    QVERIFY(!link->IsOpen());
    QTest::qWait(200);
    QCOMPARE(lost.count(), 1);
    // The system's text at a hang-up is a stale one from some earlier call: it is left out.
    QCOMPARE(lost.at(0).at(0).toString(), QString("the other end hung up or the adapter was unplugged"));
    QCOMPARE(received.count(), 0);
    // The link reports the loss to its owner only; the log stays as it was.
    QCOMPARE(log->Text(), QString());
    // Sending to a lost port does nothing.
    link->SendByte(0x0D);
}

void TestSerialLink::telnetStreamReadsAnySplit_data()
{
    // What the server sends after the client's greeting (hex), the line's bytes among it,
    // what the client answers, and the state of the COM-port control afterwards.
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<QString>("comPort");
    QTest::newRow("doubled 0xFF is one byte") << QByteArray("41ffff42ffff") << QByteArray("41ff42ff")
                                               << QByteArray() << "pending";
    // The server agrees to what was asked: nothing to answer, no loop.
    QTest::newRow("agreement and line settings among data")
        << QByteArray("fffd2cfffb00fffd00fffb0378fffa2c6500009600fff0fffa2c6608fff0fffa2c6701fff0"
                      "fffa2c6801fff0fffa2c690bfff079fffa2c6901fff0")
        << QByteArray("7879") << QByteArray() << "set";
    QTest::newRow("COM-port option refused") << QByteArray("fffe2c") << QByteArray() << QByteArray() << "refused";
    QTest::newRow("another speed") << QByteArray("fffd2cfffa2c6500002580fff0") << QByteArray() << QByteArray()
                                   << "line refused";
    // Echo by the server would double every echo the download compares.
    QTest::newRow("server offers to echo") << QByteArray("fffb01fffd18") << QByteArray()
                                           << QByteArray("fffe01fffc18") << "pending";
}

void TestSerialLink::telnetStreamReadsAnySplit()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, replies);
    QFETCH(QString, comPort);
    const QByteArray bytes = QByteArray::fromHex(stream);
    // Whole, and one byte an arrival: an 0xFF echo can end one TCP segment.
    for (const int piece : {int(bytes.size()), 1}) {
        TelnetStream telnet;
        telnet.Greeting();
        QByteArray got;
        for (int at = 0; at < bytes.size(); at += piece)
            got += telnet.Take(bytes.mid(at, piece));
        QCOMPARE(got.toHex(), data);
        QCOMPARE(telnet.TakeReplies().toHex(), replies);
        const QString state = telnet.ComPortRefused() ? "refused"
                            : telnet.LineRefused()    ? "line refused"
                            : telnet.LineSet()        ? "set"
                                                      : "pending";
        QCOMPARE(state, comPort);
    }
}

QTEST_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
