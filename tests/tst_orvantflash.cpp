// orvant-flash end to end: the built program against the simulated target, its output
// beside the log of the engine the windows use, its exit statuses, several boards at
// once, --check, --log as a time-stamped record, and --json.
#include "engine.h"
#include "files.h"
#include "pty.h"
#include "ser2net.h"
#include "targetsimprocess.h"
#include "unreadablefile.h"
#include "watchdog.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

#include <csignal>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

struct FlashRun
{
    int status = -1;
    QString out;
    QString err;
};

// Runs orvant-flash to its end; or, with a command, that command (which runs it).
FlashRun RunFlash(const QStringList &arguments, const QStringList &command = {})
{
    QProcess flash;
    if (command.isEmpty())
        flash.start(QStringLiteral(ORVANT_FLASH_PATH), arguments);
    else
        flash.start(command.first(), command.mid(1));
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

// The log file's lines without their time stamps. Each stamp must be UTC with
// milliseconds, no earlier than the line before and within the test's own run; a line
// without one comes back whole, so that it fails the caller's comparison.
QStringList Unstamped(const QString &path, const QDateTime &notBefore, QList<QDateTime> *stamps = nullptr)
{
    static const QRegularExpression stamp(R"(^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z) )");
    QDateTime last = notBefore.addMSecs(-1);
    QStringList lines;
    for (const QString &line : Lines(QString::fromUtf8(ReadFile(path)))) {
        const QRegularExpressionMatch m = stamp.match(line);
        const QDateTime time = QDateTime::fromString(m.captured(1), Qt::ISODateWithMs);
        if (!m.hasMatch() || time < last || time > QDateTime::currentDateTimeUtc()) {
            lines << "unstamped or out of order: " + line;
            continue;
        }
        last = time;
        lines << line.mid(m.capturedLength());
        if (stamps)
            *stamps << time;
    }
    return lines;
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
        // Bytes 0xFF, which a telnet line must double, are among those sent.
        bool hasFF = false;
        for (quint16 word : TargetSimProcess::CodeWords(code))
            hasFF = hasFF || (word & 0xFF) == 0xFF || word >> 8 == 0xFF;
        QVERIFY(hasFF);
    }

    void cleanDownloadPrintsTheWindowsLogAndLogsTheRun()
    {
        auto target = StartTarget("flash.txt");
        QVERIFY(target);
        const QString logFile = dir.filePath("station.log");
        const QDateTime before = QDateTime::currentDateTimeUtc();
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
                                    + R"(: programmed, 1296 of 1296 bytes, transfer \d+\.\d\d s, )"
                                    + R"(total \d+\.\d\d s, \d+ bytes/s$)")
                     .match(summary).hasMatch(),
                 qPrintable(summary));

        // The log file, every line time-stamped: its head, then the run as printed, then
        // the exit status. A second run (a port that cannot be opened) is appended under
        // a head of its own.
        QCOMPARE(RunFlash({"-p", "/dev/orvant-no-such-port", "-s", dir.path(), "--log", logFile, code}).status, 3);
        const QStringList logged = Unstamped(logFile, before);
        QVERIFY2(logged.size() > 9 + lines.size() + 2, qPrintable(logged.join('\n')));
        QCOMPARE(logged[0], "==== orvant-flash " ORVANT_VERSION);
        QCOMPARE(logged.mid(1, 8),
                 QStringList({"code file: " + code, "code file SHA-256: " + Sha256(code),
                              "support files: " + dir.path(),
                              "krnl24xx.hex SHA-256: " + Sha256(dir.filePath("krnl24xx.hex")),
                              "clr24_x1.hex SHA-256: " + Sha256(dir.filePath("clr24_x1.hex")),
                              "era24_x1.hex SHA-256: " + Sha256(dir.filePath("era24_x1.hex")),
                              "prg24_x1.hex SHA-256: " + Sha256(dir.filePath("prg24_x1.hex")),
                              "port " + target->device + ": device " + target->device + ", adapter null"}));
        QCOMPARE(logged.mid(9, lines.size() + 2), Lines(run.out) + QStringList{"==== exit status 0"});
        QVERIFY(logged[9 + lines.size() + 2].startsWith("==== orvant-flash "));
        QCOMPARE(logged.last(), "==== exit status 3");
    }

    // Each way a run ends: its exit status, the log line that says why, the summary's
    // count of what the board echoed, and what targetsim saw. The code file is the
    // sample, or "fifo", "missing" or "escape" (a closing line with terminal controls);
    // LOG in the options is a log file of the row's own; a run is ended by itself, by
    // a signal, or goes on after its standard output was closed.
    void exitStatuses_data()
    {
        QTest::addColumn<QStringList>("simOptions");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("codeKind");
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("logLine");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("simSays");
        QTest::addColumn<QString>("error");

        const QStringList quick{"--timeout", "1"};
        const QString complete = "download 1: complete";
        // What targetsim reports shows that nothing reached it after the failure (or
        // at all): an injected failure is followed by a quiet period it watches.
        QTest::newRow("missing support file") << quick << QStringList{"-s", "nosupport"} << "" << "" << 2
                                              << "------ Download cancelled: the image could not be built. "
                                                 "Nothing was sent."
                                              << "failed (2, the image cannot be built), 0 of 0 bytes"
                                              << "0 bytes received" << "";
        QTest::newRow("port that does not exist")
            << quick << QStringList{"-p", "/dev/orvant-no-such-port"} << "" << "" << 3
            << "[/dev/orvant-no-such-port] ---- Cannot open port /dev/orvant-no-such-port: No such file or directory"
            << "failed (3, the port cannot be opened), 0 of 1296 bytes" << "0 bytes received" << "";
        QTest::newRow("no lock") << QStringList{"--no-lock"} << QStringList{} << "" << "" << 4
                                 << "Baud Did not Match. Exiting..."
                                 << "failed (4, no lock), 0 of 1296 bytes"
                                 << "nothing received after it" << "";
        QTest::newRow("wrong echo") << QStringList{"--wrong-echo", "30"} << QStringList{} << "" << "" << 5
                                    << "------ Serial Communications Error at  30"
                                    << "failed (5, transfer failed), 30 of 1296 bytes" << "nothing received after it"
                                    << "";
        QTest::newRow("port lost") << QStringList{"--hangup-after", "30"} << QStringList{} << "" << "" << 6
                                   << "------ Download stopped: the port was lost"
                                   << "failed (6, port lost), 31 of 1296 bytes" << "line closed after image byte 30"
                                   << "";
        // Through ser2net: RAW and RFC2217 are its ports for targetsim's line. The code
        // file holds 0xFF bytes, which RFC 2217 doubles both ways.
        QTest::newRow("whole download over raw TCP")
            << QStringList{} << QStringList{"-p", "RAW"} << "" << "" << 0 << "------ DSP programmed in "
            << "programmed, 1296 of 1296 bytes" << complete << "";
        QTest::newRow("whole download over RFC 2217")
            << QStringList{} << QStringList{"-p", "RFC2217"} << "" << "" << 0 << "------ DSP programmed in "
            << "programmed, 1296 of 1296 bytes" << complete << "";
        QTest::newRow("connection dropped over RFC 2217")
            << QStringList{"--hangup-after", "30"} << QStringList{"-p", "RFC2217"} << "" << "" << 6
            << "------ Download stopped: the port was lost (the server closed the connection)"
            << "failed (6, port lost), 31 of 1296 bytes" << "line closed after image byte 30" << "";
        QTest::newRow("stall") << QStringList{"--silent-after", "30", "--quiet-ms", "2000"}
                               << QStringList{"--stall-timeout", "1"} << "" << "" << 7
                               << "------ Download stopped: no reply for 1 s. Nothing more is sent."
                               << "failed (7, stall timeout), 31 of 1296 bytes" << "nothing received after it" << "";
        // With standard error on a terminal, the progress line tells of the silent board
        // within seconds, without a time left, until the stall timeout gives it up.
        QTest::newRow("stall seen on a terminal")
            << QStringList{"--silent-after", "30", "--quiet-ms", "8000"} << QStringList{"--stall-timeout", "6"} << ""
            << "terminal" << 7 << "------ Download stopped: no reply for 6 s. Nothing more is sent."
            << "failed (7, stall timeout), 31 of 1296 bytes" << "nothing received after it" << "";
        // SIGTERM while the board waits for an echo; targetsim then serves a second
        // download, so that anything sent after the signal would show.
        QTest::newRow("SIGTERM") << QStringList{"--silent-after", "30", "--downloads", "2"}
                                 << QStringList{"--stall-timeout", "0"} << "" << "SIGTERM" << 130
                                 << "------ Download stopped: interrupted. Nothing more is sent."
                                 << "failed (130, interrupted), 31 of 1296 bytes"
                                 << "summary: download 1 failure injected" << "";

        // A hang-up of the station's session stops like SIGTERM. It comes while the kernel's
        // acknowledgement is awaited: all 62 bytes of it were echoed.
        QTest::newRow("SIGHUP awaiting an acknowledgement")
            << QStringList{"--silent-after", "61", "--downloads", "2"} << QStringList{"--stall-timeout", "0"} << ""
            << "SIGHUP" << 130 << "------ Download stopped: interrupted. Nothing more is sent."
            << "failed (130, interrupted), 62 of 1296 bytes" << "summary: download 1 failure injected" << "";
        // The closing exchange sends no image bytes: the count stops at the image.
        QTest::newRow("bad closing reply")
            << QStringList{"--bad-close", "1"} << QStringList{} << "" << "" << 5
            << "------ Did Not receive Acknowledge for Algo/Block 7 Exiting"
            << "failed (5, transfer failed), 1296 of 1296 bytes" << "nothing received after it" << "";

        // The files come first: a file problem is exit status 2 with no port opened, and
        // the record never waits on a file (a FIFO without a writer).
        QTest::newRow("missing code file and a missing port")
            << quick << QStringList{"-p", "/dev/orvant-no-such-port"} << "missing" << "" << 2
            << "---- Cannot load CODE: No such file or directory"
            << "failed (2, the image cannot be built), 0 of 0 bytes" << "0 bytes received"
            << "orvant-flash: Cannot load CODE: No such file or directory";
        QTest::newRow("FIFO as the code file, with a record")
            << quick << QStringList{"--log", "LOG"} << "fifo" << "" << 2
            << "---- Cannot load CODE: not a regular file"
            << "failed (2, the image cannot be built), 0 of 0 bytes" << "0 bytes received"
            << "orvant-flash: Cannot load CODE: not a regular file";

        // A record that cannot be written is no plain success; the board still runs to
        // its end.
        QTest::newRow("log file that cannot be written")
            << QStringList{} << QStringList{"--log", "/dev/full"} << "" << "" << 8 << "------ DSP programmed in "
            << "programmed, 1296 of 1296 bytes" << complete
            << "orvant-flash: cannot write the log file /dev/full: No space left on device";
        // Standard output that goes away (| head) ends nothing: the log file gets the
        // whole record and the status is the board's.
        QTest::newRow("standard output closed")
            << QStringList{} << QStringList{"--log", "LOG"} << "" << "close stdout" << 0 << "------ DSP programmed in "
            << "programmed, 1296 of 1296 bytes" << complete << "";

        // Standard output is a record too: a full disk is no plain success, with JSON or
        // without.
        QTest::newRow("standard output on a full disk")
            << QStringList{} << QStringList{"--log", "LOG"} << "" << "stdout full" << 8 << "------ DSP programmed in "
            << "programmed, 1296 of 1296 bytes" << complete
            << "orvant-flash: cannot write the standard output: No space left on device";
        QTest::newRow("JSON on a full disk")
            << QStringList{} << QStringList{"--json", "--log", "LOG"} << "" << "stdout full" << 8
            << "------ DSP programmed in " << "programmed, 1296 of 1296 bytes" << complete
            << "orvant-flash: cannot write the standard output: No space left on device";
        // A JSON line that does not fit is not left in part: the file keeps whole lines.
        QTest::newRow("JSON line beyond the file size limit")
            << QStringList{} << QStringList{"--json", "--log", "LOG"} << "" << "JSON size limit" << 8
            << "------ DSP programmed in " << "programmed, 1296 of 1296 bytes" << complete
            << "orvant-flash: cannot write the standard output: File too large";
        // The log file reaches the size limit of the process in its closing line: the line
        // is not left in part, the status says the record is not whole, and the reason is
        // the system's. The fragment an earlier run left is ended before this run's head.
        QTest::newRow("closing line beyond the file size limit")
            << QStringList{} << QStringList{"--log", "LOG"} << "" << "file size limit" << 8
            << "------ DSP programmed in " << "programmed, 1296 of 1296 bytes" << complete
            << "orvant-flash: cannot write the log file LOG: File too large";

        // Text from a file reaches the terminal with its control characters escaped.
        QTest::newRow("terminal controls in the closing line")
            << QStringList{} << QStringList{"--log", "LOG"} << "escape" << "" << 0
            << "Done with CODE. Read '\\x1b[2J\\x1b]0;owned\\x07\\x08\\x00end' from file"
            << "programmed, 1296 of 1296 bytes" << complete << "";
        QTest::newRow("DEL and C1 controls in the closing line")
            << QStringList{} << QStringList{} << "c1" << "" << 0
            << "Done with CODE. Read 'a\\x7fb\\x9b[31mc\\x85d' from file"
            << "programmed, 1296 of 1296 bytes" << complete << "";
        // So does the toolkit's own text: a log file through a link whose name holds
        // terminal controls, to a device.
        QTest::newRow("log file named with terminal controls, on a device")
            << QStringList{} << QStringList{"--log", "CONTROLLOG"} << "" << "" << 0 << "------ DSP programmed in "
            << "programmed, 1296 of 1296 bytes" << complete << "";

        // A port that another program holds with flock, as Qt's own lock file never shows.
        QTest::newRow("port held with flock by another program")
            << quick << QStringList{} << "" << "flock" << 3
            << "---- Cannot open port PORT: it is in use by another program"
            << "failed (3, the port cannot be opened), 0 of 1296 bytes" << "0 bytes received" << "";
        // A good port beside one that cannot be opened is never started, and says so.
        QTest::newRow("good port beside a missing one, JSON")
            << quick << QStringList{"-p", "/dev/orvant-no-such-port", "--json", "--log", "LOG"} << "" << "" << 3
            << "0 of 2 programmed; failed: /dev/orvant-no-such-port (3, the port cannot be opened); not started: PORT"
            << "not started (another port cannot be opened)" << "0 bytes received" << "";
        // The least stall timeout there is: taken, and the lock wait is not bound by it.
        QTest::newRow("least stall timeout, no lock")
            << QStringList{"--no-lock"} << QStringList{"--stall-timeout", "0.001"} << "" << "" << 4
            << "Baud Did not Match. Exiting..." << "failed (4, no lock), 0 of 1296 bytes"
            << "nothing received after it" << "";
    }

    void exitStatuses()
    {
        QFETCH(QStringList, simOptions);
        QFETCH(QStringList, options);
        QFETCH(QString, codeKind);
        QFETCH(QString, how);
        QFETCH(int, status);
        QFETCH(QString, logLine);
        QFETCH(QString, summary);
        QFETCH(QString, simSays);
        QFETCH(QString, error);

        const QString noSupport = dir.filePath("nosupport");
        for (const char *name : {"krnl24xx.hex", "clr24_x1.hex", "prg24_x1.hex"})
            QVERIFY(WriteFile(noSupport + "/" + name, ReadFile(dir.filePath(name))));
        const QString own = dir.filePath(QTest::currentDataTag());
        QVERIFY(QDir().mkpath(own));
        QString codeFile = code;
        if (codeKind == "fifo")
            codeFile = UnreadableFile(own, "fifo");
        else if (codeKind == "missing")
            codeFile = own + "/missing.hex";
        else if (codeKind == "escape")
            QVERIFY(WriteFile(codeFile = own + "/escape.hex",
                              BootTable({{0x40, Words(500)}}, QByteArray("\x1b[2J\x1b]0;owned\x07\x08\0end", 19))));
        else if (codeKind == "c1")
            QVERIFY(WriteFile(codeFile = own + "/c1.hex", BootTable({{0x40, Words(500)}}, "a\x7f" "b\xc2\x9b[31mc\xc2\x85" "d")));
        const QString logFile = own + "/station.log";
        const QString controlLog = own + "/log\x1b[31mRED\x07";
        QFile::remove(controlLog);
        QVERIFY(QFile::link("/dev/null", controlLog));
        options.replaceInStrings(QRegularExpression("^nosupport$"), noSupport)
            .replaceInStrings(QRegularExpression("^LOG$"), logFile)
            .replaceInStrings(QRegularExpression("^CONTROLLOG$"), controlLog);
        logLine.replace("CODE", codeFile);
        error.replace("CODE", codeFile).replace("LOG", logFile);

        // The size limit falls in the closing line: a run as the row's, on a target of its
        // own, tells how long the record of such a run is.
        qint64 sizeLimit = 0;
        if (how == "file size limit") {
            auto measure = StartTarget("unused.txt");
            QVERIFY(measure);
            const QString measured = own + "/measure.log";
            QCOMPARE(RunFlash({"-p", measure->device, "-s", dir.path(), "--log", measured, codeFile}).status, 0);
            QVERIFY(WriteFile(logFile, "fragment"));
            sizeLimit = QFileInfo(logFile).size() + 1 + QFileInfo(measured).size() - 20;
        }

        auto target = StartTarget("unused.txt", simOptions);
        QVERIFY(target);
        logLine.replace("PORT", target->device);
        Ser2Net server;
        const bool served = options.contains("RAW") || options.contains("RFC2217");
        if (served) {
            QVERIFY(server.Start(target->device));
            options.replaceInStrings(QRegularExpression("^RAW$"), server.Url(Ser2Net::Raw))
                .replaceInStrings(QRegularExpression("^RFC2217$"), server.Url(Ser2Net::Rfc2217));
        }
        const QStringList arguments = (served ? QStringList{} : QStringList{"-p", target->device})
                                      + QStringList{"-s", dir.path()} + options + QStringList{codeFile};

        const QDateTime before = QDateTime::currentDateTimeUtc();
        FlashRun run;
        if (how == "close stdout") {
            // Standard output is a pipe whose reader ("true") is gone at once; the shell
            // reports the program's status (141 for a death by SIGPIPE).
            run = RunFlash({}, QStringList{"/bin/sh", "-c", "exec 3>&1; { \"$0\" \"$@\" 3>&-; echo $? >&3; } | true",
                                           ORVANT_FLASH_PATH} + arguments);
            run.status = run.out.trimmed().toInt();
        } else if (how == "stdout full") {
            run = RunFlash({}, QStringList{"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/full", ORVANT_FLASH_PATH}
                                   + arguments);
        } else if (how == "JSON size limit") {
            // The earlier lines of the JSON file keep the log file under the limit.
            QVERIFY(WriteFile(own + "/station.jsonl", QByteArray(99, 'x').append('\n').repeated(200)));
            run = RunFlash({}, QStringList{"prlimit", "--fsize=20100", "--", "/bin/sh", "-c",
                                           "exec \"$0\" \"$@\" >>'" + own + "/station.jsonl'", ORVANT_FLASH_PATH}
                                   + arguments);
            QCOMPARE(QFileInfo(own + "/station.jsonl").size(), 20000);
        } else if (how == "file size limit") {
            run = RunFlash({}, QStringList{"prlimit", QStringLiteral("--fsize=%1").arg(sizeLimit), "--",
                                           ORVANT_FLASH_PATH} + arguments);
        } else if (how == "flock") {
            QProcess holder;
            holder.start("flock", {target->device, "sleep", "30"});
            QVERIFY(holder.waitForStarted());
            QTest::qWait(300);
            run = RunFlash(arguments);
            holder.kill();
            holder.waitForFinished();
        } else if (how == "terminal") {
            Pty pty;
            QVERIFY(pty.Open());
            QProcess flash;
            flash.start("/bin/sh", QStringList{"-c", "exec \"$0\" \"$@\" 2>" + pty.slavePath, ORVANT_FLASH_PATH}
                                       + arguments);
            QVERIFY(flash.waitForStarted());
            QByteArray terminal;
            QElapsedTimer running;
            running.start();
            while (!flash.waitForFinished(10) && running.elapsed() < 30000)
                terminal += pty.Read(1 << 16, 100);
            terminal += pty.Read(1 << 16, 200);
            run.status = flash.exitStatus() == QProcess::NormalExit ? flash.exitCode() : -1;
            run.out = QString::fromLocal8Bit(flash.readAllStandardOutput());
            const QString shown = QString::fromUtf8(terminal);
            const qsizetype silent = shown.indexOf(
                QRegularExpression("No answer for \\d+ s at byte 31 of 1,296 · check the cable and the board"));
            QVERIFY2(silent > 0 && shown.left(silent).contains(" s left") && !shown.mid(silent).contains(" s left"),
                     qPrintable(shown));
        } else if (!how.isEmpty()) {
            Watchdog watchdog(30);
            QProcess flash;
            flash.start(QStringLiteral(ORVANT_FLASH_PATH), arguments);
            QVERIFY(flash.waitForStarted());
            QVERIFY2(target->WaitFor("nothing received after it"), qPrintable(target->Output()));
            ::kill(pid_t(flash.processId()), how == "SIGHUP" ? SIGHUP : SIGTERM);
            QVERIFY(flash.waitForFinished(20000));
            run.status = flash.exitStatus() == QProcess::NormalExit ? flash.exitCode() : -1;
            run.out = QString::fromLocal8Bit(flash.readAllStandardOutput());
            run.err = QString::fromLocal8Bit(flash.readAllStandardError());
            target->process.terminate();
        } else {
            run = RunFlash(arguments);
        }
        QCOMPARE(run.status, status);
        // With standard output gone or carrying JSON, the record shows what it would have
        // said.
        QString record = options.contains(logFile) ? Unstamped(logFile, before).join('\n') + '\n' : QString();
        const bool json = options.contains("--json");
        const QString shown = how == "close stdout" || how == "stdout full" || json ? record : run.out;
        const bool outLost = how == "stdout full" || how == "JSON size limit";
        QVERIFY2(!Lines(shown).filter(QRegularExpression("^" + QRegularExpression::escape(logLine))).isEmpty(),
                 qPrintable(shown));
        QVERIFY2(shown.contains(": " + summary), qPrintable(shown));
        if (how == "file size limit") {
            // Whole lines after the fragment, the last one before the closing line.
            const QByteArray bytes = ReadFile(logFile);
            QVERIFY2(bytes.startsWith("fragment\n") && bytes.endsWith('\n') && !bytes.contains("==== exit status"),
                     bytes.right(300).constData());
            record = record.mid(record.indexOf('\n') + 1) + QStringLiteral("==== exit status %1\n").arg(status);
        }
        if (options.contains(logFile))
            QVERIFY2(record.endsWith(QStringLiteral("==== exit status %1\n").arg(status)), qPrintable(record));
        // Each board's JSON line, whole; null is the status of a board never started.
        if (json && !outLost) {
            QJsonObject own;
            for (const QString &line : Lines(run.out)) {
                const QJsonObject object = QJsonDocument::fromJson(line.toUtf8()).object();
                QVERIFY2(!object.isEmpty(), qPrintable(line));
                if (object["port"] == target->device)
                    own = object;
            }
            const QJsonValue expected = summary.startsWith("not started") ? QJsonValue() : QJsonValue(status);
            QVERIFY2(own["status"] == expected, qPrintable(run.out));
        }
        if (!error.isEmpty())
            QVERIFY2(Lines(run.err).contains(error), qPrintable(run.err));
        for (const QString &text : {run.out, run.err, record})
            QVERIFY2(!text.contains(QChar(0x1b)) && !text.contains(QChar(0x07)), qPrintable(text));
        target->WaitForExit();
        QVERIFY2(target->Output().contains(simSays), qPrintable(target->Output()));
        QVERIFY2(!target->Output().contains("violation"), qPrintable(target->Output()));
    }

    // Every board ends with its status, whatever their number: no crash as the boards
    // are taken down, also with a small stack limit per thread.
    void manyBoards_data()
    {
        QTest::addColumn<int>("targets");
        QTest::addColumn<int>("missingPorts");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("processLimit");
        QTest::newRow("eight boards, 20 MiB stack limit") << 8 << 0 << 0 << 0;
        QTest::newRow("forty missing ports, 20 MiB stack limit") << 0 << 40 << 3 << 0;
        // A station's limit on processes leaves boards without a thread: the run ends with
        // nothing sent, each board not started, and a status of its own. The limit binds
        // an unprivileged user only.
        QTest::newRow("five missing ports, three processes") << 0 << 5 << 9 << 3;
    }

    void manyBoards()
    {
        QFETCH(int, targets);
        QFETCH(int, missingPorts);
        QFETCH(int, status);
        QFETCH(int, processLimit);
        std::vector<std::unique_ptr<TargetSimProcess>> sims;
        QStringList arguments{ORVANT_FLASH_PATH};
        if (processLimit > 0) {
            if (::geteuid() != 0)
                QSKIP("a process limit binds only another user, and only root can become one");
            // The files must be readable by that user.
            QVERIFY(QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ReadOther
                                                          | QFile::ExeOther));
            arguments = QStringList{"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "prlimit",
                                    QStringLiteral("--nproc=%1").arg(processLimit), "--"} + arguments;
        }
        for (int i = 0; i < targets; ++i) {
            sims.push_back(StartTarget(QStringLiteral("many%1.txt").arg(i)));
            QVERIFY(sims.back());
            arguments << "-p" << sims.back()->device;
        }
        for (int i = 0; i < missingPorts; ++i)
            arguments << "-p" << QStringLiteral("/dev/orvant-missing-%1").arg(i);
        QProcess flash;
        if (processLimit > 0) {
            // A sanitizer's leak check needs a thread of its own at the end: none is left.
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("ASAN_OPTIONS", "detect_leaks=0");
            flash.setProcessEnvironment(environment);
        }
        flash.start("/bin/sh", QStringList{"-c", "ulimit -s 20480 && exec \"$@\"", "sh"} + arguments
                                   + QStringList{"-q", "-s", dir.path(), code});
        QVERIFY(flash.waitForFinished(120000));
        const QString err = QString::fromLocal8Bit(flash.readAllStandardError());
        QCOMPARE(flash.exitStatus(), QProcess::NormalExit);
        QVERIFY2(flash.exitCode() == status, qPrintable(QString::number(flash.exitCode()) + "\n" + err));
        if (processLimit > 0)
            QVERIFY2(err.contains("cannot start the board of /dev/orvant-missing-")
                         && err.contains("the system refuses another thread"),
                     qPrintable(err));
        // A summary line per board, then the verdict.
        const QStringList out = Lines(QString::fromLocal8Bit(flash.readAllStandardOutput()));
        QCOMPARE(out.size(), targets + missingPorts + 1);
        QVERIFY2(out.last().startsWith(QStringLiteral("%1 of %2 programmed").arg(targets).arg(targets + missingPorts)),
                 qPrintable(out.last()));
        for (int i = 0; i < targets; ++i) {
            QCOMPARE(sims[size_t(i)]->WaitForExit(), 0);
            QCOMPARE(TargetSimProcess::ReadFlash(dir.filePath(QStringLiteral("many%1.txt").arg(i))),
                     TargetSimProcess::CodeWords(code));
        }
    }

    // One device, one owner: a second program that reaches a board through a link to its
    // device is refused, also as root, and the first one's download goes on unharmed.
    void secondProgramOnTheSameDeviceIsRefused()
    {
        // The lock answers the tenth carriage return: a second of lock wait to try in.
        auto target = StartTarget("owned.txt", {"--lock-after", "10"});
        QVERIFY(target);
        const QString link = dir.filePath("board-link");
        QFile::remove(link);
        QVERIFY(QFile::link(target->device, link));

        QProcess first;
        first.start(QStringLiteral(ORVANT_FLASH_PATH), {"-p", target->device, "-s", dir.path(), code});
        QString firstOut;
        QVERIFY(WaitUntil([&] {
            firstOut += QString::fromLocal8Bit(first.readAllStandardOutput());
            return firstOut.contains("Waiting reply from DSP");
        }));
        const FlashRun second = RunFlash({"-p", link, "-s", dir.path(), code});
        QCOMPARE(second.status, 3);
        QVERIFY2(second.out.contains("---- Cannot open port " + link + " (" + target->device
                                     + "): it is in use by another program"),
                 qPrintable(second.out));

        QVERIFY(first.waitForFinished(20000));
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(target->WaitForExit(), 0);
        QVERIFY2(!target->Output().contains("violation"), qPrintable(target->Output()));
        QCOMPARE(TargetSimProcess::ReadFlash(dir.filePath("owned.txt")), TargetSimProcess::CodeWords(code));
    }

    void threeBoardsAtOnceOneFailing()
    {
        auto first = StartTarget("flash1.txt");
        auto second = StartTarget("flash2.txt", {"--wrong-echo", "300"});
        auto third = StartTarget("flash3.txt", {"--lock-after", "3"});
        QVERIFY(first && second && third);
        const QStringList ports{first->device, second->device, third->device};
        const FlashRun run = RunFlash({"-p", ports[0], "-p", ports[1], "--label", "SN-0002", "-p", ports[2],
                                       "-s", dir.path(), code});
        QCOMPARE(run.status, 5);
        QCOMPARE(first->WaitForExit(), 0);
        QCOMPARE(third->WaitForExit(), 0);
        QCOMPARE(TargetSimProcess::ReadFlash(dir.filePath("flash1.txt")), TargetSimProcess::CodeWords(code));
        QCOMPARE(TargetSimProcess::ReadFlash(dir.filePath("flash3.txt")), TargetSimProcess::CodeWords(code));
        QVERIFY2(second->WaitFor("nothing received after it"), qPrintable(second->Output()));

        // Each board's lines, whole and in order under its own prefix, then the summary
        // in command-line order, the label beside its port, and the verdict.
        QStringList lines = Lines(run.out);
        QCOMPARE(lines.size() > 4, true);
        QCOMPARE(lines.takeLast(), "2 of 3 programmed; failed: " + ports[1] + " [SN-0002] (5, transfer failed)");
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
        QVERIFY2(summary[1].startsWith(ports[1] + " [SN-0002]: failed (5, transfer failed), 300 of 1296 bytes"),
                 qPrintable(summary[1]));
        QVERIFY2(summary[2].startsWith(ports[2] + ": programmed, 1296 of 1296 bytes"), qPrintable(summary[2]));
        // The error line and the record give the reason with its position.
        const QRegularExpressionMatch echo
            = QRegularExpression("^Received ([0-9A-F]+) instead of ([0-9A-F]+) EXITING$").match(own[1].last());
        const QString reason = "Serial Communications Error at 300: received " + echo.captured(1) + " instead of "
                               + echo.captured(2);
        QCOMPARE(run.err, "orvant-flash: " + ports[1] + " [SN-0002]: transfer failed: " + reason + "\n");
        auto again = StartTarget("unused.txt", {"--wrong-echo", "300"});
        QVERIFY(again);
        const FlashRun json = RunFlash({"-p", again->device, "-s", dir.path(), "--json", code});
        QCOMPARE(json.status, 5);
        QCOMPARE(QJsonDocument::fromJson(json.out.toUtf8()).object()["reason"].toString(), reason);
    }

    void jsonAndLabelsMakeARecord()
    {
        // Two boards with labels: one programmed through ser2net over RFC 2217, one that
        // never answers the lock wait.
        auto good = StartTarget("json-flash.txt");
        auto bad = StartTarget("unused.txt", {"--no-lock"});
        QVERIFY(good && bad);
        Ser2Net server;
        QVERIFY(server.Start(good->device));
        const QString goodPort = server.Url(Ser2Net::Rfc2217);
        const QString logFile = dir.filePath("json.log");
        const QDateTime before = QDateTime::currentDateTimeUtc();
        const FlashRun run = RunFlash({"-p", goodPort, "-l", "SN-0001", "-p", bad->device, "--label",
                                       "slot 2", "-s", dir.path(), "--json", "--log", logFile, code});
        const QDateTime after = QDateTime::currentDateTimeUtc();
        QCOMPARE(run.status, 4);
        QVERIFY2(good->WaitForExit() == 0, qPrintable(good->Output() + run.out));
        QCOMPARE(TargetSimProcess::ReadFlash(dir.filePath("json-flash.txt")), TargetSimProcess::CodeWords(code));

        // Standard output: one JSON object a line for each board, in the order they
        // ended; board 0 here is the programmed one, SN-0001.
        const QStringList out = Lines(run.out);
        QCOMPARE(out.size(), 2);
        QJsonObject board[2];
        for (int i = 0; i < 2; ++i) {
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(out[i].toUtf8(), &error);
            QVERIFY2(document.isObject(), qPrintable(error.errorString() + ": " + out[i]));
            board[i] = document.object();
        }
        if (board[0]["label"] != QJsonValue("SN-0001"))
            std::swap(board[0], board[1]);
        QJsonObject support;
        for (const char *name : SupportFileNames)
            support[name] = Sha256(dir.filePath(name));
        const struct
        {
            const char *field;
            QJsonValue good, bad;
        } fields[] = {
            {"port", goodPort, bad->device},
            {"device", goodPort, bad->device},
            {"label", "SN-0001", "slot 2"},
            // A network port has no adapter; the system lists no pseudo-terminal.
            {"adapter", QJsonValue(), QJsonValue()},
            {"result", "programmed", "no-lock"},
            {"status", 0, 4},
            {"reason", QJsonValue(), "Baud Did not Match. Exiting..."},
            {"bytes", 1296, 0},
            {"total_bytes", 1296, 1296},
            {"code_file", code, code},
            {"code_sha256", Sha256(code), Sha256(code)},
            {"support_sha256", support, support},
            {"version", ORVANT_VERSION, ORVANT_VERSION},
        };
        auto show = [](const QJsonValue &value) {
            return QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
        };
        for (const auto &f : fields) {
            for (int i = 0; i < 2; ++i) {
                const QJsonValue expected = i == 0 ? f.good : f.bad;
                QVERIFY2(board[i][f.field] == expected,
                         qPrintable(QString("%1 of board %2: %3, not %4")
                                        .arg(f.field).arg(i).arg(show(board[i][f.field]), show(expected))));
            }
        }
        // Its times: started and ended in the run, seconds between them, the transfer a
        // part of it (none for the board that never locked, which waited 31 x 100 ms).
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(board[i].size(), qsizetype(std::size(fields)) + 4);
            const QDateTime started = QDateTime::fromString(board[i]["started"].toString(), Qt::ISODateWithMs);
            const QDateTime ended = QDateTime::fromString(board[i]["ended"].toString(), Qt::ISODateWithMs);
            QVERIFY2(board[i]["ended"].toString().endsWith('Z') && before <= started && started <= ended
                         && ended <= after,
                     QJsonDocument(board[i]).toJson());
            QVERIFY(qAbs(board[i]["seconds"].toDouble() * 1000 - started.msecsTo(ended)) <= 1);
        }
        QVERIFY(board[0]["transfer_seconds"].toDouble() > 0);
        QVERIFY(board[0]["transfer_seconds"].toDouble() < board[0]["seconds"].toDouble());
        QCOMPARE(board[1]["transfer_seconds"].toDouble(), 0.0);
        QVERIFY(board[1]["seconds"].toDouble() >= 3.1);

        // The log file: the labels in the head and the summary, the verdict, the error,
        // and the closing line, stamped after both boards ended.
        QList<QDateTime> stamps;
        const QStringList logged = Unstamped(logFile, before, &stamps);
        QVERIFY2(logged.size() > 14, qPrintable(logged.join('\n')));
        QCOMPARE(logged.mid(8, 2),
                 QStringList({"port " + goodPort + " [SN-0001]: device " + goodPort + ", adapter null",
                              "port " + bad->device + " [slot 2]: device " + bad->device + ", adapter null"}));
        const QStringList end = logged.mid(logged.size() - 5);
        QVERIFY2(end[0].startsWith(goodPort + " [SN-0001]: programmed, 1296 of 1296 bytes, transfer "),
                 qPrintable(end[0]));
        QVERIFY2(end[1].startsWith(bad->device
                                   + " [slot 2]: failed (4, no lock), 0 of 1296 bytes, transfer 0.00 s, total "),
                 qPrintable(end[1]));
        const QString badName = bad->device + " [slot 2]";
        QCOMPARE(end.mid(2), QStringList({"1 of 2 programmed; failed: " + badName + " (4, no lock)",
                                          "orvant-flash: " + badName + ": no lock: Baud Did not Match. Exiting...",
                                          "==== exit status 4"}));
        for (const QJsonObject &one : board)
            QVERIFY(stamps.last() >= QDateTime::fromString(one["ended"].toString(), Qt::ISODateWithMs));
        QCOMPARE(run.err, end[3] + "\n");
    }

    // The progress block on a terminal of 40 x 6 with eight boards, their ports named in
    // CJK characters: every frame has at most five lines (the rest told on one), each
    // narrower than the terminal in cells, and erases exactly what the frame before drew,
    // so that nothing is left in the scrollback.
    void progressFitsTheTerminal()
    {
        Pty terminal;
        QVERIFY(terminal.Open());
        winsize size{};
        size.ws_row = 6;
        size.ws_col = 40;
        QCOMPARE(::ioctl(terminal.master, TIOCSWINSZ, &size), 0);
        std::vector<std::unique_ptr<TargetSimProcess>> sims;
        QStringList arguments{"-q", "-s", dir.path()};
        for (int i = 0; i < 8; ++i) {
            sims.push_back(StartTarget(QStringLiteral("progress%1.txt").arg(i), {"--lock-after", "8"}));
            QVERIFY(sims.back());
            const QString link = dir.filePath(QStringLiteral("端口%1").arg(i));
            QFile::remove(link);
            QVERIFY(QFile::link(sims.back()->device, link));
            arguments << "-p" << link;
        }
        QProcess flash;
        flash.start("/bin/sh", QStringList{"-c", "exec \"$0\" \"$@\" 2>" + terminal.slavePath, ORVANT_FLASH_PATH}
                                   + arguments + QStringList{code});
        QByteArray shown;
        while (!flash.waitForFinished(0) && flash.state() != QProcess::NotRunning)
            shown += terminal.Read(1 << 16, 50);
        shown += terminal.Read(1 << 16, 200);
        QCOMPARE(flash.exitCode(), 0);

        const QStringList frames = QString::fromUtf8(shown).remove('\r').split(QRegularExpression("\x1b\\[J"));
        QVERIFY2(frames.size() > 3, shown.constData());
        qsizetype drawn = 0;
        for (qsizetype f = 0; f < frames.size(); ++f) {
            // "ESC[nA" before the next erase backs up over the n lines this frame drew.
            QString frame = frames[f];
            const QRegularExpressionMatch up = QRegularExpression("\x1b\\[(\\d+)A$").match(frame);
            if (up.hasMatch())
                frame.chop(up.capturedLength());
            const QStringList lines = Lines(frame);
            QVERIFY2(lines.size() <= 5, qPrintable(frame));
            for (const QString &line : lines) {
                int cells = 0;
                for (const QChar c : line)
                    cells += c.unicode() >= 0x1100 ? 2 : 1;
                QVERIFY2(cells < 40, qPrintable(line));
            }
            if (f + 1 < frames.size())
                QVERIFY2(up.hasMatch() && up.captured(1).toInt() == lines.size(), qPrintable(frame));
            drawn += lines.size();
        }
        QVERIFY(drawn > 0);
        QVERIFY2(shown.contains("and 4 more boards: "), shown.constData());
        for (const auto &sim : sims)
            QCOMPARE(sim->WaitForExit(), 0);
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

        // A table that cannot be written whole is no table.
        const FlashRun full = RunFlash({}, QStringList{"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/full",
                                                       ORVANT_FLASH_PATH, "--check", "-s", support,
                                                       support + "/code.hex"});
        QCOMPARE(full.status, 8);
        QCOMPARE(full.err, "orvant-flash: cannot write the standard output: No space left on device\n");

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
        // Less than a millisecond would be no timeout at all.
        QTest::newRow("stall timeout under a millisecond")
            << QStringList{"-p", "1", "--stall-timeout", "0.0004", "code.hex"}
            << "--stall-timeout: \"0.0004\" is not 0 or a number of seconds from 0.001 to 86400";
        QTest::newRow("log file without a name")
            << QStringList{"-p", "1", "--log", "", "code.hex"} << "--log: no file name given";
        // A name without /dev/ lies under /dev, as the toolkit has it: one device twice.
        QTest::newRow("same device under two names")
            << QStringList{"-p", "pts/5", "-p", "/dev/pts/5", "code.hex"} << "port /dev/pts/5 is given twice";
        // One network port, one owner, whichever way it is spoken to.
        QTest::newRow("one network port twice")
            << QStringList{"-p", "socket://127.0.0.1:4000", "-p", "RFC2217://127.0.0.1:4000/", "code.hex"}
            << "port RFC2217://127.0.0.1:4000/ is given twice";
        QTest::newRow("network port without a port number")
            << QStringList{"-p", "rfc2217://127.0.0.1", "code.hex"} << "-p \"rfc2217://127.0.0.1\" names no port";
        // NODE is a second device node (mknod) of the pseudo-terminal PTY.
        QTest::newRow("second node of one device")
            << QStringList{"-p", "PTY", "-p", "NODE", "code.hex"} << "port NODE is given twice";
        QTest::newRow("label before any port") << QStringList{"-l", "SN-1", "-p", "1", "code.hex"}
                                               << "--label \"SN-1\" comes before any -p";
        QTest::newRow("two labels for one port") << QStringList{"-p", "1", "-l", "A", "--label=B", "code.hex"}
                                                 << "port 1 has two labels";
        QTest::newRow("label of two lines") << QStringList{"-p", "1", "-l", "SN-1\nOK", "code.hex"}
                                            << "--label of port 1: a label is one line of printable text";
        QTest::newRow("check with json") << QStringList{"--check", "--json", "code.hex"}
                                         << "--check takes only -s and the code file";
        QTest::newRow("support folder without a name")
            << QStringList{"-p", "1", "-s", "", "code.hex"} << "--support-dir: no folder given";
        // A label shows what it means: no blanks alone, no line separator, nothing that
        // turns the text around, no stand-in for bytes that were not UTF-8.
        for (const auto &label : {std::pair<const char *, QString>{"label of blanks", "   "},
                                  {"label with a line separator", QString("SN-1") + QChar(0x2028) + "OK"},
                                  {"label with a right-to-left override", QString("SN-") + QChar(0x202E) + "1"},
                                  {"label of bytes that are not UTF-8", QString("SN-") + QChar(0xFFFD)}})
            QTest::newRow(label.first) << QStringList{"-p", "1", "-l", label.second, "code.hex"}
                                       << "--label of port 1: a label is one line of printable text";
        // A FIFO would hold the run in its open until a reader came, and keeps no record.
        QTest::newRow("FIFO as the log file") << QStringList{"-p", "1", "--log", "FIFOPATH", "code.hex"}
                                              << "cannot open the log file FIFOPATH: it is a FIFO, not a file";
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const QString fifo = dir.filePath("usage/fifo");
        if (!QFileInfo::exists(fifo))
            QVERIFY(QDir().mkpath(dir.filePath("usage")) && UnreadableFile(dir.filePath("usage"), "fifo") == fifo);
        arguments.replaceInStrings(QRegularExpression("^FIFOPATH$"), fifo);
        message.replace("FIFOPATH", fifo);
        Pty pty;
        const QString node = dir.filePath("second-node");
        if (arguments.contains("NODE")) {
            QFile::remove(node);
            QVERIFY(pty.Open());
            if (!MakeSecondNode(pty.slavePath, node))
                QSKIP("device nodes cannot be made here (not root)");
            arguments.replaceInStrings(QRegularExpression("^PTY$"), pty.slavePath)
                .replaceInStrings(QRegularExpression("^NODE$"), node);
            message.replace("NODE", node);
        }
        const FlashRun run = RunFlash(arguments);
        QCOMPARE(run.status, 1);
        QCOMPARE(run.err, "orvant-flash: " + message + "\nTry 'orvant-flash --help'.\n");
        QVERIFY(run.out.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestOrvantFlash)
#include "tst_orvantflash.moc"
