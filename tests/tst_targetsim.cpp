// The simulated target, driven through its pseudo-terminal by a small host that plays
// the download protocol (and breaks it on request).

#include "pty.h"
#include "targetsimprocess.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>


namespace {

struct Block
{
    quint16 address;
    QList<quint16> words;
};

// A byte as the host's messages show it: 0x0D.
QString Hex(int byte)
{
    return QStringLiteral("0x") + QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

QByteArray BlockBytes(const Block &block)
{
    QByteArray bytes;
    auto put = [&bytes](quint16 v) {
        bytes.append(char(v & 0xff));
        bytes.append(char(v >> 8));
    };
    put(block.address);
    put(quint16(block.words.size() - 1));
    for (quint16 w : block.words)
        put(w);
    return bytes;
}

// Four small support blocks (their headers start with 0x00 and 0x0D) and `codeBlocks`
// blocks of code whose words hold the protocol's special byte values.
QList<Block> TestImage(int codeBlocks)
{
    QList<Block> blocks{{0x8000, {0x1234, 0x00EE}},
                        {0x800D, {0x0D0D}},
                        {0x8100, {0xAA00, 0x0000, 0xFFFF}},
                        {0x0D00, {0x5555}}};
    for (int i = 0; i < codeBlocks; ++i)
        blocks.append({quint16(0x0040 + 8 * i), {quint16(0x0D00 + i), 0xEEAA, 0x00FF, quint16(i)}});
    return blocks;
}

// The flash file expected after a download of these blocks.
QByteArray FlashText(const QList<Block> &blocks)
{
    QMap<quint16, quint16> flash;
    for (int k = 4; k < blocks.size(); ++k)
        for (int i = 0; i < blocks[k].words.size(); ++i)
            flash[quint16(blocks[k].address + i)] = blocks[k].words[i];
    QByteArray text;
    for (auto it = flash.cbegin(); it != flash.cend(); ++it)
        text += QStringLiteral("%1 %2\n")
                    .arg(it.key(), 4, 16, QLatin1Char('0'))
                    .arg(it.value(), 4, 16, QLatin1Char('0'))
                    .toUpper()
                    .toLatin1();
    return text;
}

// The host end of the line. Each protocol step returns an empty string when the target
// answered as it should, otherwise what the host saw instead.
class Host : public HostLine
{
public:
    QString Exchange(quint8 byte, quint8 expected, const QString &what)
    {
        Send(byte);
        const int reply = Receive(replyMs);
        if (reply == expected)
            return QString();
        if (reply == -1)
            return QStringLiteral("no reply at %1").arg(what);
        if (reply == -2)
            return QStringLiteral("line closed at %1").arg(what);
        return QStringLiteral("%1: received %2 instead of %3").arg(what, Hex(reply), Hex(expected));
    }

    QString Lock()
    {
        for (attempts = 1; attempts <= 31; ++attempts) {
            Send(0x0D);
            if (Receive(lockWaitMs) == 0xAA)
                return QString();
        }
        attempts = 31;
        return QStringLiteral("no lock");
    }

    QString SendBlock(const QByteArray &bytes)
    {
        for (char c : bytes) {
            const QString seen = Exchange(quint8(c), quint8(c), QStringLiteral("image byte %1").arg(pos));
            if (!seen.isEmpty())
                return seen;
            ++pos;
        }
        return QString();
    }

    QString EndMark(int k) { return Exchange(0xEE, 0x00, QStringLiteral("ack of block %1").arg(k)); }

    QString Handshake(int k)
    {
        QString seen = Exchange(0x0D, 0x0D, QStringLiteral("handshake 1 before block %1").arg(k));
        if (seen.isEmpty())
            seen = Exchange(0x0D, 0x0D, QStringLiteral("handshake 2 before block %1").arg(k));
        return seen;
    }

    QString Closing()
    {
        QString seen = Exchange(0x00, 0x00, QStringLiteral("closing zero 1"));
        if (seen.isEmpty())
            seen = Exchange(0x00, 0x00, QStringLiteral("closing zero 2"));
        if (seen.isEmpty())
            Send(0x00);
        return seen;
    }

    // Blocks `from` to the end, each with its handshake, end mark and acknowledgement.
    QString SendBlocks(const QList<Block> &blocks, int from = 0)
    {
        for (int k = from; k < blocks.size(); ++k) {
            QString seen = k >= 5 ? Handshake(k) : QString();
            if (seen.isEmpty())
                seen = SendBlock(BlockBytes(blocks[k]));
            if (seen.isEmpty())
                seen = EndMark(k);
            if (!seen.isEmpty())
                return seen;
        }
        return QString();
    }

    // A whole correct download; empty when it completed.
    QString Play(const QList<Block> &blocks)
    {
        pos = 0;
        QString seen = Lock();
        if (seen.isEmpty())
            seen = SendBlocks(blocks);
        if (seen.isEmpty())
            seen = Closing();
        return seen;
    }

    int attempts = 0;
    int pos = 0;
    int replyMs = 3000;
    // A lock byte that comes after the next carriage return has gone out breaks the
    // download, so wait long enough for it even on a loaded machine.
    int lockWaitMs = 200;
};

QByteArray ImageBytes(const QList<Block> &blocks)
{
    QByteArray bytes;
    for (const Block &b : blocks)
        bytes += BlockBytes(b);
    return bytes;
}

int ImageSize(const QList<Block> &blocks)
{
    return ImageBytes(blocks).size();
}

// A boot-table file read back: its segments and closing line; `error` says what is wrong.
struct BootTable
{
    QList<Block> segments;
    QByteArray closing;
    QString error;
};

BootTable ReadBootTable(const QString &path)
{
    BootTable table;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        table.error = QStringLiteral("cannot open");
        return table;
    }
    const QByteArray data = file.readAll();
    if (!data.endsWith("\r\n") || data.count('\n') != data.count("\r\n")) {
        table.error = QStringLiteral("line ends are not CR LF");
        return table;
    }
    QList<QByteArray> lines = data.left(data.size() - 2).split('\n');
    for (QByteArray &l : lines)
        l.chop(1);
    int at = 0;
    // A word line: four upper-case hex digits.
    auto word = [&](bool &ok) -> quint16 {
        const QByteArray l = lines.value(at++);
        bool hex = false;
        const uint value = l.toUInt(&hex, 16);
        if (l.size() != 4 || l != l.toUpper() || !hex)
            ok = false;
        return quint16(value);
    };
    bool ok = true;
    word(ok);
    quint16 length = word(ok);
    while (ok && length != 0) {
        Block segment{word(ok), {}};
        if (ok && lines.value(at++) != "0000")
            ok = false;
        for (int i = 0; ok && i < length; ++i)
            segment.words.append(word(ok));
        table.segments.append(segment);
        if (ok)
            length = word(ok);
    }
    if (!ok || at != lines.size() - 1)
        table.error = QStringLiteral("bad structure near line %1").arg(at);
    else
        table.closing = lines.last();
    return table;
}

} // namespace

class TestTargetSim : public QObject
{
    Q_OBJECT

private slots:
    void cleanDownload_data();
    void cleanDownload();
    void violations_data();
    void violations();
    void failureOptions_data();
    void failureOptions();
    void bytesAfterInjectedFailure_data();
    void bytesAfterInjectedFailure();
    void lateReplyAfterInjectedFailure_data();
    void lateReplyAfterInjectedFailure();
    void hangupClosesAndReopensLine();
    void sessionFileAppliesPerDownload();
    void samplesParseAndDownload_data();
    void samplesParseAndDownload();
    void usageErrorsAndTimeout();
    void stopSignalPrintsSummary();
    void echoOnlyWithBaudTime();
};

void TestTargetSim::cleanDownload_data()
{
    QTest::addColumn<int>("codeBlocks");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("five blocks, no handshake") << 1 << QStringList{};
    QTest::newRow("six blocks") << 2 << QStringList{};
    QTest::newRow("seven blocks") << 3 << QStringList{};
    QTest::newRow("six blocks, spinning wire time") << 2 << QStringList{"--baud-time=spin"};
    QTest::newRow("seven blocks, sleeping wire time") << 3 << QStringList{"--baud-time=sleep"};
}

void TestTargetSim::cleanDownload()
{
    QFETCH(int, codeBlocks);
    QFETCH(QStringList, args);
    QTemporaryDir dir;
    const QString flashPath = dir.filePath(QStringLiteral("flash.txt"));
    TargetSimProcess sim;
    QVERIFY(sim.Start(args + QStringList{"--quiet-ms", "50", "--flash-out", flashPath}));
    Host host;
    QVERIFY(host.Open(sim.device));
    const QList<Block> blocks = TestImage(codeBlocks);
    QCOMPARE(host.Play(blocks), QString());
    QCOMPARE(host.attempts, 2);

    const int blockCount = 4 + codeBlocks;
    int words = 0;
    for (const Block &b : blocks)
        words += b.words.size();
    const QString line = sim.WaitForLine(QStringLiteral("download 1:"));
    QVERIFY2(line.startsWith(QStringLiteral("targetsim: download 1: complete: %1 blocks, %2 words, %3 bytes, ")
                                 .arg(blockCount).arg(words).arg(ImageSize(blocks))),
             qPrintable(line));
    QVERIFY(line.endsWith(QLatin1String(" seconds")));
    QCOMPARE(sim.WaitForExit(5000), 0);
    QVERIFY(sim.Output().contains(QStringLiteral("targetsim: summary: download 1 complete: %1 blocks")
                                         .arg(blockCount)));

    QFile flash(flashPath);
    QVERIFY(flash.open(QIODevice::ReadOnly));
    QCOMPARE(flash.readAll(), FlashText(blocks));
}

enum class Deviation {
    ByteBeforeLock,
    MissingEndMark,
    BlockByteInsteadOfHandshakeOrClosing,
    WrongSecondHandshake,
    WrongClosingByte,
    ByteAfterCompleteDownload,
};

void TestTargetSim::violations_data()
{
    QTest::addColumn<int>("deviation");
    QTest::addColumn<QString>("message");
    const QList<Block> six = TestImage(2);
    const int fiveSize = ImageSize(TestImage(1));
    const int block0End = BlockBytes(six[0]).size() - 1;
    QTest::newRow("byte before lock")
        << int(Deviation::ByteBeforeLock)
        << QStringLiteral("violation at image byte 0: expected 0x0D (lock attempt), received 0x41");
    QTest::newRow("missing end mark")
        << int(Deviation::MissingEndMark)
        << QStringLiteral("violation at image byte %1: expected end mark 0xEE after block 0, received 0x00")
               .arg(block0End);
    QTest::newRow("block byte where handshake or closing expected")
        << int(Deviation::BlockByteInsteadOfHandshakeOrClosing)
        << QStringLiteral("violation at image byte %1: expected 0x0D or 0x00 after block 4, received 0x48")
               .arg(fiveSize);
    QTest::newRow("wrong second handshake")
        << int(Deviation::WrongSecondHandshake)
        << QStringLiteral("violation at image byte %1: expected second handshake 0x0D before block 5, received 0x0E")
               .arg(fiveSize);
    QTest::newRow("wrong closing byte")
        << int(Deviation::WrongClosingByte)
        << QStringLiteral("violation at image byte %1: expected closing 0x00 (2 of 3), received 0x01")
               .arg(fiveSize);
    QTest::newRow("byte after complete download")
        << int(Deviation::ByteAfterCompleteDownload)
        << QStringLiteral("violation at image byte %1: expected silence after the end of download 1, received 0x0D")
               .arg(fiveSize);
}

void TestTargetSim::violations()
{
    QFETCH(int, deviation);
    QFETCH(QString, message);
    TargetSimProcess sim;
    QVERIFY(sim.Start({"--quiet-ms", "2000"}));
    Host host;
    QVERIFY(host.Open(sim.device));
    const QList<Block> five = TestImage(1);
    const QList<Block> six = TestImage(2);
    QCOMPARE(ImageBytes(six.mid(0, 5)), ImageBytes(five));

    switch (Deviation(deviation)) {
    case Deviation::ByteBeforeLock:
        QVERIFY(host.Send(0x0D));
        QVERIFY(host.Send(0x41));
        break;
    case Deviation::MissingEndMark:
        QCOMPARE(host.Lock(), QString());
        QCOMPARE(host.SendBlock(BlockBytes(six[0])), QString());
        QVERIFY(host.Send(0x00));
        break;
    case Deviation::BlockByteInsteadOfHandshakeOrClosing:
        QCOMPARE(host.Lock(), QString());
        QCOMPARE(host.SendBlocks(five), QString());
        QVERIFY(host.Send(0x48));
        break;
    case Deviation::WrongSecondHandshake:
        QCOMPARE(host.Lock(), QString());
        QCOMPARE(host.SendBlocks(five), QString());
        QCOMPARE(host.Exchange(0x0D, 0x0D, "handshake 1"), QString());
        QVERIFY(host.Send(0x0E));
        break;
    case Deviation::WrongClosingByte:
        QCOMPARE(host.Lock(), QString());
        QCOMPARE(host.SendBlocks(five), QString());
        QCOMPARE(host.Exchange(0x00, 0x00, "closing zero 1"), QString());
        QVERIFY(host.Send(0x01));
        break;
    case Deviation::ByteAfterCompleteDownload:
        QCOMPARE(host.Play(five), QString());
        QVERIFY(host.Send(0x0D));
        break;
    }
    QCOMPARE(sim.WaitForLine(QStringLiteral("violation")), QStringLiteral("targetsim: ") + message);
    QCOMPARE(sim.WaitForExit(5000), 1);
}

void TestTargetSim::failureOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("hostSees");
    QTest::addColumn<QString>("sessionLine");
    const QList<Block> six = TestImage(2);
    const QByteArray image = ImageBytes(six);
    const int closingPos = image.size();
    const QString nothing = QStringLiteral("; nothing received after it");

    QTest::newRow("no lock") << QStringList{"--no-lock"} << "no lock"
                             << "failure injected (no lock: 31 carriage returns not answered)" + nothing;
    QTest::newRow("lock after 5") << QStringList{"--lock-after", "5"} << QString() << "complete: 6 blocks";
    QTest::newRow("wrong echo") << QStringList{"--wrong-echo", "37"}
                                << QStringLiteral("image byte 37: received %1 instead of %2")
                                       .arg(Hex(quint8(image[37]) ^ 1), Hex(quint8(image[37])))
                                << "failure injected (wrong echo at image byte 37)" + nothing;
    QTest::newRow("bad ack") << QStringList{"--bad-ack", "2"} << "ack of block 2: received 0x05 instead of 0x00"
                             << "failure injected (acknowledgement 0x05 for block 2)" + nothing;
    QTest::newRow("bad handshake") << QStringList{"--bad-handshake", "5"}
                                   << "handshake 1 before block 5: received 0x41 instead of 0x0D"
                                   << "failure injected (handshake before block 5 answered with 0x41)" + nothing;
    QTest::newRow("bad close 1") << QStringList{"--bad-close", "1"}
                                 << "closing zero 1: received 0x05 instead of 0x00"
                                 << "failure injected (closing zero 1 answered with 0x05)" + nothing;
    QTest::newRow("bad close 2") << QStringList{"--bad-close", "2"}
                                 << "closing zero 2: received 0x05 instead of 0x00"
                                 << "failure injected (closing zero 2 answered with 0x05)" + nothing;
    QTest::newRow("silent after") << QStringList{"--silent-after", "10"} << "no reply at image byte 11"
                                  << "failure injected (silent after image byte 10, next byte "
                                         + Hex(quint8(image[11])) + " not answered)" + nothing;
    QTest::newRow("silent after last byte") << QStringList{"--silent-after", QString::number(closingPos - 1)}
                                            << "no reply at ack of block 5"
                                            << "failure injected (silent after image byte "
                                                   + QString::number(closingPos - 1)
                                                   + ", next byte 0xEE not answered)" + nothing;
}

void TestTargetSim::failureOptions()
{
    QFETCH(QStringList, args);
    QFETCH(QString, hostSees);
    QFETCH(QString, sessionLine);
    TargetSimProcess sim;
    QVERIFY(sim.Start(args + QStringList{"--quiet-ms", "400"}));
    Host host;
    QVERIFY(host.Open(sim.device));
    host.replyMs = 200;
    if (args.contains(QLatin1String("--no-lock")))
        host.lockWaitMs = 30;  // no lock byte ever comes
    QCOMPARE(host.Play(TestImage(2)), hostSees);
    if (args.first() == QLatin1String("--lock-after"))
        QCOMPARE(host.attempts, 5);
    const QString line = sim.WaitForLine(QStringLiteral("download 1:"));
    QVERIFY2(line.startsWith(QStringLiteral("targetsim: download 1: ") + sessionLine), qPrintable(line));
    QCOMPARE(sim.WaitForExit(5000), 0);
}

void TestTargetSim::bytesAfterInjectedFailure_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("after a wrong echo") << QStringList{"--wrong-echo", "3"};
    QTest::newRow("after the unanswered byte") << QStringList{"--silent-after", "3"};
    QTest::newRow("after a bad acknowledgement") << QStringList{"--bad-ack", "0"};
}

void TestTargetSim::bytesAfterInjectedFailure()
{
    QFETCH(QStringList, args);
    TargetSimProcess sim;
    QVERIFY(sim.Start(args + QStringList{"--quiet-ms", "3000"}));
    Host host;
    QVERIFY(host.Open(sim.device));
    host.replyMs = 200;
    QVERIFY(!host.Play(TestImage(1)).isEmpty());
    QVERIFY(host.Send(0x55));
    const QString line = sim.WaitForLine(QStringLiteral("violation"));
    QVERIFY2(line.endsWith(QLatin1String("expected silence after the injected failure, received 0x55")),
             qPrintable(line));
    QCOMPARE(sim.WaitForExit(5000), 1);
}

void TestTargetSim::lateReplyAfterInjectedFailure_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("late");
    QTest::addColumn<bool>("hostAnswers");
    const int echo = quint8(ImageBytes(TestImage(2))[37]);
    for (bool answers : {false, true}) {
        const QByteArray tag = answers ? ", host answers it" : ", host stays silent";
        QTest::newRow("wrong echo" + tag) << QStringList{"--wrong-echo", "37"} << echo << answers;
        QTest::newRow("bad ack" + tag) << QStringList{"--bad-ack", "2"} << 0x00 << answers;
        QTest::newRow("bad handshake" + tag) << QStringList{"--bad-handshake", "5"} << 0x0D << answers;
        QTest::newRow("bad close" + tag) << QStringList{"--bad-close", "2"} << 0x00 << answers;
    }
}

// The right reply after the failure does not undo it: a host that takes it up is at fault.
void TestTargetSim::lateReplyAfterInjectedFailure()
{
    QFETCH(QStringList, args);
    QFETCH(int, late);
    QFETCH(bool, hostAnswers);
    TargetSimProcess sim;
    QVERIFY(sim.Start(args + QStringList{"--late-reply", "100", "--quiet-ms", "200"}));
    Host host;
    QVERIFY(host.Open(sim.device));
    host.replyMs = 200;
    QVERIFY(!host.Play(TestImage(2)).isEmpty());  // the wrong reply; failureOptions checks it
    QCOMPARE(host.Receive(3000), late);
    QCOMPARE(sim.WaitForLine(QStringLiteral("late reply")),
             QStringLiteral("targetsim: late reply %1 sent after 100 ms").arg(Hex(late)));
    if (hostAnswers)
        QVERIFY(host.Send(0x0D));
    const QString line = sim.WaitForLine(QLatin1String(hostAnswers ? "violation" : "download 1:"));
    QVERIFY2(line.endsWith(QLatin1String(hostAnswers ? "expected silence after the injected failure, received 0x0D"
                                                     : "; nothing received after it")),
             qPrintable(line));
    QCOMPARE(sim.WaitForExit(5000), hostAnswers ? 1 : 0);
}

void TestTargetSim::hangupClosesAndReopensLine()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyTarget"));
    TargetSimProcess sim;
    QVERIFY(sim.Start({"--hangup-after", "15", "--downloads", "2", "--link", link, "--quiet-ms", "50"}));
    QCOMPARE(QFile::symLinkTarget(link), sim.device);
    const QList<Block> six = TestImage(2);
    {
        // Two bytes in one write after the last echo: the second must not reach the
        // next download on the new line.
        Host host;
        QVERIFY(host.Open(link));
        QCOMPARE(host.Lock(), QString());
        const QByteArray block2 = BlockBytes(six[2]);  // image bytes 14 to 23
        QCOMPARE(host.SendBlocks(six.mid(0, 2)), QString());
        QCOMPARE(host.SendBlock(block2.left(2)), QString());
        QVERIFY(block2[3] != '\r');  // not a lock attempt
        QVERIFY(host.Send(block2.mid(2, 2)));
        QCOMPARE(host.Receive(3000), -2);
    }
    QCOMPARE(sim.WaitForLine(QStringLiteral("download 1:")),
             QStringLiteral("targetsim: download 1: failure injected (line closed after image byte 15)"));
    const QString reopened = sim.WaitForLine(QStringLiteral("line reopened at "));
    const QString device = reopened.mid(reopened.indexOf(QLatin1String("/dev/")));
    QVERIFY2(device.startsWith(QLatin1String("/dev/")), qPrintable(reopened));
    QCOMPARE(QFile::symLinkTarget(link), device);

    // The second download hangs up the same way; then the simulator ends, removing its link.
    Host host;
    QVERIFY(host.Open(link));
    QCOMPARE(host.Play(six), QStringLiteral("line closed at image byte 16"));
    QVERIFY(!sim.WaitForLine(QStringLiteral("download 2: failure injected (line closed")).isEmpty());
    QCOMPARE(sim.WaitForExit(5000), 0);
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
}

void TestTargetSim::sessionFileAppliesPerDownload()
{
    QTemporaryDir dir;
    const QString sessions = dir.filePath(QStringLiteral("sessions.txt"));
    QFile file(sessions);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("--bad-ack 1 --late-reply 0\n\n");
    file.close();
    TargetSimProcess sim;
    QVERIFY(sim.Start({"--session-file", sessions, "--wrong-echo", "2", "--downloads", "3", "--quiet-ms", "50"}));
    Host host;
    QVERIFY(host.Open(sim.device));
    host.replyMs = 300;
    const QList<Block> five = TestImage(1);

    QCOMPARE(host.Play(five), QStringLiteral("ack of block 1: received 0x05 instead of 0x00"));
    QCOMPARE(host.Receive(1000), 0x00);  // the late reply stays within download 1
    QVERIFY(!sim.WaitForLine(QStringLiteral("download 1: failure injected (acknowledgement")).isEmpty());
    QCOMPARE(host.Play(five), QString());
    QVERIFY(!sim.WaitForLine(QStringLiteral("download 2: complete: 5 blocks")).isEmpty());
    QCOMPARE(host.Play(five), QStringLiteral("image byte 2: received %1 instead of %2")
                                  .arg(Hex(quint8(ImageBytes(five)[2]) ^ 1), Hex(quint8(ImageBytes(five)[2]))));
    QVERIFY(!sim.WaitForLine(QStringLiteral("download 3: failure injected (wrong echo at image byte 2)")).isEmpty());
    QCOMPARE(sim.WaitForExit(5000), 0);
}

void TestTargetSim::samplesParseAndDownload_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("words");
    QTest::addColumn<int>("base");
    QTest::newRow("defaults") << QStringList{} << 200 << 0x40;
    QTest::newRow("full lower half") << QStringList{"--words", "32768", "--seed", "7"} << 32768 << 0;
    QTest::newRow("given base") << QStringList{"--words", "3", "--base", "7FFD", "--code-name", "x.hex"} << 3
                                << 0x7FFD;
}

void TestTargetSim::samplesParseAndDownload()
{
    QFETCH(QStringList, args);
    QFETCH(int, words);
    QFETCH(int, base);
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("samples"));
    QProcess writer;
    writer.start(QStringLiteral(TARGETSIM_PATH), QStringList{"--write-samples", out} + args);
    QVERIFY(writer.waitForFinished(10000));
    QCOMPARE(writer.exitCode(), 0);
    QCOMPARE(writer.readAllStandardOutput(), QByteArray());

    QList<Block> blocks;
    const char *const support[] = {"krnl24xx.hex", "clr24_x1.hex", "era24_x1.hex", "prg24_x1.hex"};
    for (const char *name : support) {
        const BootTable table = ReadBootTable(out + "/" + name);
        QVERIFY2(table.error.isEmpty(), qPrintable(name + (": " + table.error)));
        QCOMPARE(table.segments.size(), 1);
        QVERIFY(table.segments[0].words.size() >= 12 && table.segments[0].words.size() <= 100);
        QVERIFY2(table.closing.startsWith("PLACEHOLDER - not a real "), table.closing.constData());
        blocks.append(table.segments[0]);
    }

    const int codeIndex = args.indexOf(QLatin1String("--code-name"));
    const QString codeName = codeIndex >= 0 ? args[codeIndex + 1] : QStringLiteral("sample.hex");
    const BootTable code = ReadBootTable(out + "/" + codeName);
    QVERIFY2(code.error.isEmpty(), qPrintable(code.error));
    int next = base;
    QSet<quint8> bytes;
    for (const Block &segment : code.segments) {
        QCOMPARE(int(segment.address), next);
        QVERIFY(segment.words.size() <= 0x4000);
        next += segment.words.size();
        for (quint16 w : segment.words)
            bytes << quint8(w & 0xff) << quint8(w >> 8);
        // Cut into blocks of 192 words as the programs do.
        for (int i = 0; i < segment.words.size(); i += 192)
            blocks.append({quint16(segment.address + i), segment.words.mid(i, 192)});
    }
    QCOMPARE(next - base, words);
    QVERIFY(next <= 0x8000);
    if (words >= 5) {
        for (quint8 special : {0x00, 0x0D, 0xAA, 0xEE, 0xFF})
            QVERIFY2(bytes.contains(special), qPrintable(QString::number(special, 16)));
    }
    if (words > 1000)
        return;  // the big one is only checked for its structure

    // The samples download cleanly.
    const QString flashPath = dir.filePath(QStringLiteral("flash.txt"));
    TargetSimProcess sim;
    QVERIFY(sim.Start({"--quiet-ms", "50", "--flash-out", flashPath}));
    Host host;
    QVERIFY(host.Open(sim.device));
    QCOMPARE(host.Play(blocks), QString());
    QVERIFY(!sim.WaitForLine(QStringLiteral("download 1: complete")).isEmpty());
    QCOMPARE(sim.WaitForExit(5000), 0);
    QFile flash(flashPath);
    QVERIFY(flash.open(QIODevice::ReadOnly));
    QCOMPARE(flash.readAll(), FlashText(blocks));
}

void TestTargetSim::usageErrorsAndTimeout()
{
    QTemporaryDir dir;
    const QString badSessions = dir.filePath(QStringLiteral("bad.txt"));
    QFile file(badSessions);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("--wrong-echo 4\n--downloads 3\n");
    file.close();
    const QList<QStringList> usageErrors{
        {"--frobnicate"},
        {"--bad-close", "3"},
        {"--late-reply", "-100"},
        {"--late-reply"},
        {"--baud-time=bogus"},
        {"--baud-time="},
        {"--baud-time", "sleep"},
        {"--bad-handshake", "4"},
        {"--lock-after", "0"},
        {"--wrong-echo", "-1"},
        {"--wrong-echo"},
        {"--downloads", "two"},
        {"--write-samples", dir.path(), "--words", "33000"},
        {"--write-samples", dir.path(), "--words", "100", "--base", "7FF0"},
        {"--session-file", badSessions},
        {"--session-file", dir.filePath(QStringLiteral("missing.txt"))},
    };
    for (const QStringList &args : usageErrors) {
        QProcess process;
        process.start(QStringLiteral(TARGETSIM_PATH), args);
        QVERIFY(process.waitForFinished(5000));
        QVERIFY2(process.exitCode() == 2, qPrintable(args.join(' ')));
        QVERIFY(process.readAllStandardOutput().isEmpty());
    }

    TargetSimProcess sim;
    QVERIFY(sim.Start({"--timeout", "0.3"}));
    QCOMPARE(sim.WaitForLine(QStringLiteral("timeout")),
             QStringLiteral("targetsim: timeout: nothing received for 0.3 seconds"));
    QCOMPARE(sim.WaitForExit(5000), 3);
    QVERIFY(sim.Output().trimmed().endsWith(QLatin1String("targetsim: summary: no download received: 0 bytes received")));
}

void TestTargetSim::stopSignalPrintsSummary()
{
    TargetSimProcess sim;
    QVERIFY(sim.Start({}));
    Host host;
    QVERIFY(host.Open(sim.device));
    const QList<Block> six = TestImage(2);
    QCOMPARE(host.Lock(), QString());
    QCOMPARE(host.SendBlocks(six.mid(0, 2)), QString());
    sim.process.terminate();
    QCOMPARE(sim.WaitForExit(5000), 0);
    const QString expected = QStringLiteral("targetsim: summary: download 1 in progress: 2 blocks, 3 words, %1 bytes, ")
                                 .arg(ImageSize(six.mid(0, 2)));
    QVERIFY2(sim.Output().contains(expected), qPrintable(sim.Output()));
}

void TestTargetSim::echoOnlyWithBaudTime()
{
    TargetSimProcess sim;
    QVERIFY(sim.Start({"--echo-only", "--baud-time"}));
    Host host;
    QVERIFY(host.Open(sim.device));
    QElapsedTimer timer;
    timer.start();
    // Bytes the protocol gives a meaning elsewhere are echoed like any other.
    for (int i = 0; i < 40; ++i) {
        const quint8 byte = quint8(i * 37 + 0x0D);
        QCOMPARE(host.Exchange(byte, byte, QString::number(i)), QString());
    }
    // Each round trip takes at least two byte times of 10 bits at 38400 baud.
    QVERIFY(timer.nsecsElapsed() >= 40LL * 2 * 10 * 1000000000LL / 38400);
    sim.process.terminate();
    QCOMPARE(sim.WaitForExit(5000), 0);
    QVERIFY(sim.Output().contains(QLatin1String("targetsim: summary: echo only: 40 bytes echoed")));
}

QTEST_GUILESS_MAIN(TestTargetSim)
#include "tst_targetsim.moc"
