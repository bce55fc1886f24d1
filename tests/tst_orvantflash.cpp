// orvant-flash end to end: the built program against the simulated target, its output
// beside the log of the engine the windows use, its exit statuses, several boards at
// once, --check and --log.
#include "engine.h"
#include "files.h"
#include "targetsimprocess.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

struct FlashRun
{
    int status = -1;
    QString out;
    QString err;
};

// Runs orvant-flash to its end.
FlashRun RunFlash(const QStringList &arguments)
{
    QProcess flash;
    flash.start(QStringLiteral(ORVANT_FLASH_PATH), arguments);
    FlashRun run;
    if (!flash.waitForFinished(60000)) {
        flash.kill();
        flash.waitForFinished();
        return run;
    }
    run.status = flash.exitStatus() == QProcess::NormalExit ? flash.exitCode() : -1;
    run.out = QString::fromLocal8Bit(flash.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(flash.readAllStandardError());
    return run;
}

// The elapsed time of the closing line as "E", as Engine::Text() has it.
QString WithoutTime(QString text)
{
    text.replace(QRegularExpression("DSP programmed in ( [0-9.]{1,5}) Seconds"),
                 "DSP programmed in E Seconds");
    return text;
}

QStringList Lines(const QString &text)
{
    QStringList lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString Sha256(const QString &path)
{
    return QCryptographicHash::hash(ReadFile(path), QCryptographicHash::Sha256).toHex();
}

} // namespace

class TestOrvantFlash : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString code;

    std::unique_ptr<TargetSimProcess> StartTarget(const QString &flashFile, const QStringList &options = {})
    {
        auto target = std::make_unique<TargetSimProcess>();
        const bool started = target->Start(QStringList{"--flash-out", dir.filePath(flashFile), "--timeout",
                                                       "20", "--quiet-ms", "300"}
                                           + options);
        return started ? std::move(target) : nullptr;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TargetSimProcess::WriteSamples(dir.path(), 500));
        code = dir.filePath("sample.hex");
    }

    void cleanDownloadPrintsTheWindowsLogAndLogsTheRun()
    {
        auto target = StartTarget("flash.txt");
        QVERIFY(target);
        const QString logFile = dir.filePath("station.log");
        const FlashRun run = RunFlash({"-p", target->device, "-s", dir.path(), "--log", logFile, code});
        QCOMPARE(run.status, 0);
        QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
        QCOMPARE(target->WaitForExit(), 0);
        QVERIFY2(!target->Output().contains("violation"), qPrintable(target->Output()));
        QCOMPARE(TargetSimProcess::ReadFlash(dir.filePath("flash.txt")), TargetSimProcess::CodeWords(code));

        // The engine of the windows, on a target of its own, logs the same lines.
        Engine engine;
        auto other = StartTarget("engine-flash.txt");
        QVERIFY(other);
        QVERIFY(engine.link.OpenPort(other->device));
        engine.download.StartDownload(dir.path(), code);
        QVERIFY(engine.WaitUntilEnded());
        QStringList lines = Lines(run.out);
        const QString summary = lines.takeLast();
        QCOMPARE(WithoutTime(lines.join("\r\n")), engine.Text());

        // The lines a test station looks for, in their order.
        qsizetype at = 0;
        for (const QString &line : {"------ Opened " + dir.filePath("krnl24xx.hex"), "------ Opened " + code,
                                    QString("------ Programming ------"), QString("Waiting reply from DSP"),
                                    QString("=="), QString("--0xAA received"), QString("---- Locked at  2th Char"),
                                    QString("------ Downloading Kernel Downloaded!"),
                                    QString("------ Downloading My Code Downloaded!"),
                                    QString("Programing Block  6 Downloaded!"), QString("------ DSP programmed in ")}) {
            at = lines.indexOf(QRegularExpression("^" + QRegularExpression::escape(line) + ".*"), at);
            QVERIFY2(at >= 0, qPrintable(line));
        }
        QVERIFY2(QRegularExpression("^" + QRegularExpression::escape(target->device)
                                    + R"(: programmed, 1296 of 1296 bytes in \d+\.\d\d s, \d+ bytes/s$)")
                     .match(summary).hasMatch(),
                 qPrintable(summary));

        // The log file: its head, then the run as printed, then the exit status. A second
        // run (a port that cannot be opened) is appended under a head of its own.
        QCOMPARE(RunFlash({"-p", "/dev/orvant-no-such-port", "-s", dir.path(), "--log", logFile, code}).status, 3);
        const QStringList logged = Lines(QString::fromUtf8(ReadFile(logFile)));
        QVERIFY2(logged.size() > 9 + lines.size() + 2, qPrintable(logged.join('\n')));
        QVERIFY(QRegularExpression(R"(^==== orvant-flash \d+\.\d+\.\d+, \d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)")
                    .match(logged[0]).hasMatch());
        QCOMPARE(logged.mid(1, 8),
                 QStringList({"code file: " + code, "code file SHA-256: " + Sha256(code),
                              "support files: " + dir.path(),
                              "krnl24xx.hex SHA-256: " + Sha256(dir.filePath("krnl24xx.hex")),
                              "clr24_x1.hex SHA-256: " + Sha256(dir.filePath("clr24_x1.hex")),
                              "era24_x1.hex SHA-256: " + Sha256(dir.filePath("era24_x1.hex")),
                              "prg24_x1.hex SHA-256: " + Sha256(dir.filePath("prg24_x1.hex")),
                              "ports: " + target->device}));
        QCOMPARE(logged.mid(9, lines.size() + 2), Lines(run.out) + QStringList{"==== exit status 0"});
        QVERIFY(logged[9 + lines.size() + 2].startsWith("==== orvant-flash "));
        QCOMPARE(logged.last(), "==== exit status 3");
    }

    void exitStatuses_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("terminate");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("logLine");
        QTest::addColumn<QString>("simSays");

        // What targetsim reports shows that nothing reached it after the failure (or
        // at all): an injected failure is followed by a quiet period it watches.
        QTest::newRow("missing support file") << QStringList{"--timeout", "1"} << QStringList{"-s", "nosupport"}
                                              << false << 2
                                              << "------ Download cancelled: the image could not be built. "
                                                 "Nothing was sent."
                                              << "0 bytes received";
        QTest::newRow("port that does not exist")
            << QStringList{"--timeout", "1"} << QStringList{"-p", "/dev/orvant-no-such-port"} << false << 3
            << "[/dev/orvant-no-such-port] ---- Cannot open port /dev/orvant-no-such-port: No such file or directory"
            << "0 bytes received";
        QTest::newRow("no lock") << QStringList{"--no-lock"} << QStringList{} << false << 4
                                 << "Baud Did not Match. Exiting..." << "nothing received after it";
        QTest::newRow("wrong echo") << QStringList{"--wrong-echo", "30"} << QStringList{} << false << 5
                                    << "------ Serial Communications Error at  30" << "nothing received after it";
        QTest::newRow("port lost") << QStringList{"--hangup-after", "30"} << QStringList{} << false << 6
                                   << "------ Download stopped: the port was lost" << "line closed after image byte 30";
        QTest::newRow("stall") << QStringList{"--silent-after", "30", "--quiet-ms", "2000"}
                               << QStringList{"--stall-timeout", "1"} << false << 7
                               << "------ Download stopped: no reply for 1 s. Nothing more is sent."
                               << "nothing received after it";
        // SIGTERM while the board waits for an echo; targetsim then serves a second
        // download, so that anything sent after the signal would show.
        QTest::newRow("SIGTERM") << QStringList{"--silent-after", "30", "--downloads", "2"}
                                 << QStringList{"--stall-timeout", "0"} << true << 130
                                 << "------ Download stopped: interrupted. Nothing more is sent."
                                 << "summary: download 1 failure injected";
    }

    void exitStatuses()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(QStringList, options);
        QFETCH(bool, terminate);
        QFETCH(int, status);
        QFETCH(QString, logLine);
        QFETCH(QString, simSays);

        const QString noSupport = dir.filePath("nosupport");
        for (const char *name : {"krnl24xx.hex", "clr24_x1.hex", "prg24_x1.hex"})
            QVERIFY(WriteFile(noSupport + "/" + name, ReadFile(dir.filePath(name))));
        auto target = StartTarget("unused.txt", simOptions);
        QVERIFY(target);
        const QStringList arguments = QStringList{"-p", target->device, "-s", dir.path()}
                                      + options.replaceInStrings(QRegularExpression("^nosupport$"), noSupport)
                                      + QStringList{code};

        FlashRun run;
        if (terminate) {
            QProcess flash;
            flash.start(QStringLiteral(ORVANT_FLASH_PATH), arguments);
            QVERIFY2(target->WaitFor("nothing received after it"), qPrintable(target->Output()));
            flash.terminate();
            QVERIFY(flash.waitForFinished(10000));
            run.status = flash.exitCode();
            run.out = QString::fromLocal8Bit(flash.readAllStandardOutput());
            target->process.terminate();
        } else {
            run = RunFlash(arguments);
        }
        QCOMPARE(run.status, status);
        const QStringList lines = Lines(run.out);
        QVERIFY2(!lines.filter(QRegularExpression("^" + QRegularExpression::escape(logLine))).isEmpty(),
                 qPrintable(run.out));
        QVERIFY2(run.out.contains(QStringLiteral(": failed (%1, ").arg(status)), qPrintable(run.out));
        target->WaitForExit();
        QVERIFY2(target->Output().contains(simSays), qPrintable(target->Output()));
        QVERIFY2(!target->Output().contains("violation"), qPrintable(target->Output()));
    }

    void threeBoardsAtOnceOneFailing()
    {
        auto first = StartTarget("flash1.txt");
        auto second = StartTarget("flash2.txt", {"--wrong-echo", "300"});
        auto third = StartTarget("flash3.txt", {"--lock-after", "3"});
        QVERIFY(first && second && third);
        const QStringList ports{first->device, second->device, third->device};
        const FlashRun run = RunFlash({"-p", ports[0], "-p", ports[1], "-p", ports[2], "-s", dir.path(), code});
        QCOMPARE(run.status, 5);
        QCOMPARE(first->WaitForExit(), 0);
        QCOMPARE(third->WaitForExit(), 0);
        QCOMPARE(TargetSimProcess::ReadFlash(dir.filePath("flash1.txt")), TargetSimProcess::CodeWords(code));
        QCOMPARE(TargetSimProcess::ReadFlash(dir.filePath("flash3.txt")), TargetSimProcess::CodeWords(code));
        QVERIFY2(second->WaitFor("nothing received after it"), qPrintable(second->Output()));

        // Each board's lines, whole and in order under its own prefix, then the summary
        // in command-line order.
        QStringList lines = Lines(run.out);
        QCOMPARE(lines.size() > 3, true);
        const QStringList summary = lines.mid(lines.size() - 3);
        lines = lines.mid(0, lines.size() - 3);
        QStringList own[3];
        for (const QString &line : std::as_const(lines)) {
            int board = 0;
            while (board < 3 && !(line == "[" + ports[board] + "]" || line.startsWith("[" + ports[board] + "] ")))
                ++board;
            QVERIFY2(board < 3, qPrintable(line));
            own[board] << line.mid(ports[board].size() + 3);
        }
        for (int board = 0; board < 3; ++board) {
            QCOMPARE(own[board].filter(QRegularExpression("^------ Opened ")).size(), 5);
            QVERIFY(own[board].contains(QString(board == 2 ? 3 : 2, '=')));
        }
        QVERIFY(own[0].last().startsWith("------ DSP programmed in "));
        QCOMPARE(own[1].at(own[1].size() - 2), "------ Serial Communications Error at  300");
        QVERIFY(QRegularExpression("^Received [0-9A-F]+ instead of [0-9A-F]+ EXITING$").match(own[1].last()).hasMatch());
        QVERIFY(own[2].contains("---- Locked at  3th Char"));
        QVERIFY(own[2].last().startsWith("------ DSP programmed in "));
        QVERIFY2(summary[0].startsWith(ports[0] + ": programmed, 1296 of 1296 bytes"), qPrintable(summary[0]));
        QVERIFY2(summary[1].startsWith(ports[1] + ": failed (5, transfer failed), 300 of 1296 bytes"),
                 qPrintable(summary[1]));
        QVERIFY2(summary[2].startsWith(ports[2] + ": programmed, 1296 of 1296 bytes"), qPrintable(summary[2]));
        QCOMPARE(run.err, "orvant-flash: " + ports[1] + ": transfer failed: " + own[1].last() + "\n");
    }

    void checkPrintsTheBlockTable()
    {
        // The kernel has two segments, so two blocks; the code file's 200 words make a
        // block of 192 and one of 8.
        const QString support = dir.filePath("check");
        QVERIFY(WriteFile(support + "/krnl24xx.hex", BootTable({{0x0000, {0x1111}}, {0x0050, {0x2222}}})));
        for (int i = 1; i < 4; ++i)
            QVERIFY(WriteFile(support + "/" + SupportFileNames[i], BootTable({{quint16(0x10 * i), {0x3333}}})));
        QVERIFY(WriteFile(support + "/code.hex", BootTable({{0x0100, Words(200)}})));

        const FlashRun run = RunFlash({"--check", "-s", support, support + "/code.hex"});
        QCOMPARE(run.status, 0);
        const QString table = "block  name    address  words  bytes\n"
                              "    0  Kernel     0000      1      6\n"
                              "    1  Kernel     0050      1      6\n"
                              "    2  Clear      0010      1      6\n"
                              "    3  Erase      0020      1      6\n"
                              "    4  Prog       0030      1      6\n"
                              "    5  Code       0100    192    388\n"
                              "    6  Code       01C0      8     20\n"
                              "total: 7 blocks, 438 bytes\n";
        QVERIFY2(run.out.contains(table), qPrintable(run.out));
        // 438 image bytes twice, 7 end marks and acknowledgements, two handshakes of four
        // bytes and the five bytes of the closing exchange: 903 bytes of 10 bits.
        QVERIFY2(run.out.contains("at 38400 baud: 0.2 s (903 bytes of 10 bits"), qPrintable(run.out));

        QFile::remove(support + "/era24_x1.hex");
        const FlashRun missing = RunFlash({"--check", "-s", support, support + "/code.hex"});
        QCOMPARE(missing.status, 2);
        QCOMPARE(missing.err, "orvant-flash: Cannot load " + support + "/era24_x1.hex: No such file or directory\n");
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("same port twice") << QStringList{"-p", "1", "-p", "/dev/ttyS0", "code.hex"}
                                         << "port /dev/ttyS0 is given twice";
        QTest::newRow("port naming nothing") << QStringList{"-p", "0", "code.hex"} << "-p \"0\" names no port";
        QTest::newRow("no port") << QStringList{"code.hex"} << "no port given (-p PORT)";
        QTest::newRow("no code file") << QStringList{"-p", "1"} << "no code file given";
        QTest::newRow("check with a port") << QStringList{"--check", "-p", "1", "code.hex"}
                                           << "--check takes only -s and the code file";
        QTest::newRow("negative stall timeout")
            << QStringList{"-p", "1", "--stall-timeout", "-1", "code.hex"}
            << "--stall-timeout: \"-1\" is not 0 or a number of seconds from 0.001 to 86400";
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const FlashRun run = RunFlash(arguments);
        QCOMPARE(run.status, 1);
        QCOMPARE(run.err, "orvant-flash: " + message + "\nTry 'orvant-flash --help'.\n");
        QVERIFY(run.out.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestOrvantFlash)
#include "tst_orvantflash.moc"
