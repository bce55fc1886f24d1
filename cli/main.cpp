// orvant-flash: programs the flash of DSP boards from the command line, with the same
// loader, image and download as the window programs, several boards at a time.
#include "board.h"
#include "console.h"
#include "downloadimage.h"
#include "record.h"
#include "seriallink.h"
#include "statuslog.h"
#include "terminal.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int ExitOk = 0;
constexpr int ExitUsage = 1;
constexpr int ExitNotBuilt = 2;
constexpr double DefaultStallSeconds = 60;
constexpr double BaudRate = 38400;
constexpr double BitsPerByte = 10;
constexpr int NamedBlocks = Download::NamedBlocks;

const char *const HelpText =
    "Usage: orvant-flash -p PORT [-p PORT ...] [options] CODE_FILE\n"
    "  or:  orvant-flash --check [-s DIR] CODE_FILE\n"
    "  or:  orvant-flash --list-ports\n"
    "\n"
    "Writes CODE_FILE, a boot-table text file, into the flash of the DSP board on\n"
    "each PORT over RS-232 at 38400 baud, as the window programs do: the image of\n"
    "the four support files and CODE_FILE, the lock wait (up to 31 carriage returns\n"
    "100 ms apart), then every byte echoed and every block acknowledged. Several\n"
    "ports are programmed at the same time with the same image; each board runs on\n"
    "its own and never waits for another. Every port is opened before any download\n"
    "starts.\n"
    "\n"
    "Options:\n"
    "  -p, --port PORT        the board's port: a whole number n is /dev/ttyS(n-1)\n"
    "                         (COMn on Windows); /PATH as it stands, ./PATH and\n"
    "                         ../PATH from the current folder, any other name\n"
    "                         under /dev (ttyUSB0). Links lead to the device. Once\n"
    "                         per board; one device twice, by any names, is\n"
    "                         refused, and so is a device another program holds.\n"
    "  -l, --label LABEL      a label for the board of the -p just before it (its\n"
    "                         serial number or fixture slot), shown with its port\n"
    "                         in the summary, the verdict, the log file and the\n"
    "                         JSON; one line of printable text, at most one per\n"
    "                         port\n"
    "  -s, --support-dir DIR  the folder of krnl24xx.hex, clr24_x1.hex,\n"
    "                         era24_x1.hex and prg24_x1.hex (default: the folder of\n"
    "                         this program)\n"
    "      --check            build the image and print its block table, its size\n"
    "                         and the time it takes on the line; sends nothing,\n"
    "                         opens no port\n"
    "      --list-ports       list the serial ports the system reports: device\n"
    "                         name, description, maker, serial number and the\n"
    "                         /dev/serial/by-id name\n"
    "      --log FILE         append the whole run to FILE, every line stamped with\n"
    "                         its UTC time, headed by the code file's path and\n"
    "                         SHA-256, the SHA-256 of the four support files (of\n"
    "                         the bytes sent) and each port's device and adapter,\n"
    "                         closed by the exit status\n"
    "      --json             standard output carries one JSON object per board, on\n"
    "                         one line, written when that board ends, and nothing\n"
    "                         else (the log lines, the summary and the verdict go\n"
    "                         to --log only)\n"
    "      --stall-timeout SECONDS\n"
    "                         give a board up when it sends nothing for SECONDS\n"
    "                         during the transfer (default 60, at least 0.001;\n"
    "                         0 waits for ever, as the windows do)\n"
    "  -q, --quiet            no log lines on standard output: only the summary\n"
    "                         and errors\n"
    "  -h, --help             show this text\n"
    "      --version          show the version\n"
    "\n"
    "Output:\n"
    "  Standard output carries each board's status log, line for line as the\n"
    "  windows show it, in whole lines (the \"=\" marks of the lock wait appear as one\n"
    "  line once the lock wait is over). With several ports each line begins with\n"
    "  \"[PORT] \", PORT as given to -p. Then one summary line per board, in\n"
    "  command-line order (\"PORT [LABEL]\" for a board with a label):\n"
    "  PORT: programmed, BYTES of TOTAL bytes, transfer T s, total S s, RATE bytes/s\n"
    "  PORT: failed (STATUS, WHAT), BYTES of TOTAL bytes, transfer T s, total S s,\n"
    "  RATE bytes/s\n"
    "  BYTES are the image bytes the board echoed; T counts from the first image\n"
    "  byte on (the lock wait is not counted), S from the start of the download (the\n"
    "  lock wait) to its end; RATE is BYTES / T. With two or more boards a verdict\n"
    "  follows:\n"
    "  2 of 3 programmed; failed: PORT (STATUS, WHAT)\n"
    "  With --json each board's object has the fields port, device, label, adapter\n"
    "  (description, manufacturer, serial_number and by_id, those the system\n"
    "  reports; null for none), result (programmed, image, port, no-lock, transfer,\n"
    "  port-lost, stall, interrupted or not-started), status (its exit status; null\n"
    "  when not started), reason (the log line that tells why it failed; null when\n"
    "  programmed), bytes, total_bytes, transfer_seconds, seconds, started and ended\n"
    "  (UTC, ISO 8601 with milliseconds), code_file, code_sha256, support_sha256\n"
    "  (file name to SHA-256) and version.\n"
    "  Errors, with the log line that tells why a board failed, go to standard\n"
    "  error. When standard error is a terminal it shows a live progress line per\n"
    "  board. Control characters from files and paths are shown as \\xNN.\n"
    "  The files are read and the image is built before any port is opened.\n"
    "  Ctrl-C, SIGTERM or SIGHUP stops every board at once: nothing more is sent,\n"
    "  the ports are closed, the summary is printed (exit status 130). A second one\n"
    "  ends the program at once, without a summary. A closed standard output stops\n"
    "  nothing.\n"
    "\n"
    "Exit status:\n"
    "  0    every board programmed\n"
    "  1    usage error, or the log file cannot be opened\n"
    "  2    the image cannot be built (a boot-table file cannot be loaded, or the\n"
    "       image holds fewer than five blocks); nothing is sent\n"
    "  3    a port cannot be opened; nothing is sent to any board\n"
    "  4    no lock after 31 carriage returns\n"
    "  5    transfer failure: wrong echo, refused acknowledgement or failed\n"
    "       handshake\n"
    "  6    the port was lost during the download\n"
    "  7    stall timeout\n"
    "  8    programmed, but the log file could not be written\n"
    "  130  interrupted by Ctrl-C, SIGTERM or SIGHUP\n"
    "  With several boards: 0 only when every board was programmed, else the status\n"
    "  of the first failed board in command-line order; the others still run to\n"
    "  their end.\n"
    "\n"
    "Examples:\n"
    "  orvant-flash -p /dev/ttyUSB0 drive.hex\n"
    "  orvant-flash -p 1 -s /opt/boards/support drive.hex\n"
    "  orvant-flash -p /dev/ttyUSB0 -p /dev/ttyUSB1 --log station.log drive.hex\n"
    "  orvant-flash -p /dev/ttyUSB0 -l SN-0042 -p /dev/ttyUSB1 -l SN-0043 --json \\\n"
    "      --log station.log drive.hex\n"
    "  orvant-flash --check drive.hex\n"
    "  orvant-flash --list-ports\n";

std::atomic<bool> stopRequested{false};

extern "C" void OnStopSignal(int signal)
{
    stopRequested = true;
    // A second Ctrl-C (SIGTERM, SIGHUP) ends the program at once.
    std::signal(signal, SIG_DFL);
}

void PrintError(const QString &text)
{
    std::fprintf(stderr, "orvant-flash: %s\n", qPrintable(Escaped(text)));
}

int UsageError(const QString &text)
{
    PrintError(text);
    std::fputs("Try 'orvant-flash --help'.\n", stderr);
    return ExitUsage;
}

struct Arguments
{
    QStringList ports;
    QStringList labels;  // each port's label; empty where none
    QString supportDir;
    QString codeFile;
    QString logFile;
    double stallSeconds = DefaultStallSeconds;
    bool quiet = false;
    bool json = false;
};

// The folder and code file as the log shows them: whole paths.
QString WholePath(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

int ListPorts()
{
    for (const SerialLink::PortInfo &port : SerialLink::SystemPorts()) {
        QString line = port.device;
        const QString details = port.Details();
        if (!details.isEmpty())
            line += QStringLiteral("  ") + details;
        if (!port.byId.isEmpty())
            line += QStringLiteral("  ") + port.byId;
        std::printf("%s\n", qPrintable(Escaped(line)));
    }
    return ExitOk;
}

// --check: the image as a download would send it, block by block, and its time on the line.
int Check(const Arguments &a)
{
    StatusLog log;
    auto image = std::make_unique<DownloadImage>();
    const bool built = image->AssembleImage(a.supportDir, a.codeFile, log);
    if (!built || image->BlockTotal() < NamedBlocks) {
        const QStringList lines = log.Text().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        if (!built && !lines.isEmpty())
            PrintError(WithoutDashes(lines.last()));
        else
            PrintError(QStringLiteral("the image holds %1 blocks, at least %2 are needed")
                           .arg(image->BlockTotal()).arg(NamedBlocks));
        return ExitNotBuilt;
    }

    // Each support file gives as many blocks as it has segments: count them on their own
    // to name each block after its file.
    static const char *const supportNames[4] = {"Kernel", "Clear", "Erase", "Prog"};
    QStringList names;
    auto scratch = std::make_unique<DownloadImage>();
    for (int i = 0; i < 4; ++i) {
        StatusLog unused;
        scratch->ImagePos = scratch->ImageEnd = scratch->BlockNum = 0;
        scratch->LoadHexFile(a.supportDir + QLatin1Char('/') + QLatin1String(SupportFileNames[i]),
                             true, unused);
        for (int k = 0; k < scratch->BlockNum; ++k)
            names << QLatin1String(supportNames[i]);
    }

    std::printf("Image of %s\nwith the support files of %s\n\n", qPrintable(Escaped(a.codeFile)),
                qPrintable(Escaped(a.supportDir)));
    std::printf("block  name    address  words  bytes\n");
    for (int b = 0; b < image->BlockTotal(); ++b) {
        const int start = b == 0 ? 0 : image->BlockEnds[b - 1];
        const int address = image->ImageBytes[start] | image->ImageBytes[start + 1] << 8;
        const int words = (image->ImageBytes[start + 2] | image->ImageBytes[start + 3] << 8) + 1;
        const QString name = b < names.size() ? names[b] : QStringLiteral("Code");
        std::printf("%5d  %-6s  %7s  %5d  %5d\n", b, qPrintable(name),
                    qPrintable(QString::number(address, 16).toUpper().rightJustified(4, QLatin1Char('0'))),
                    words, image->BlockEnds[b] - start);
    }
    const int blocks = image->BlockTotal();
    const int bytes = image->ImageLength();
    std::printf("total: %d blocks, %d bytes\n", blocks, bytes);

    // Bytes on the line: each image byte out and echoed back; each block's end mark and
    // acknowledgement; two carriage returns out and two back before each block after the
    // fifth; three closing zeros out, two answered.
    const long lineBytes = 2L * bytes + 2L * blocks + 4L * (blocks - NamedBlocks) + 5;
    const double seconds = lineBytes * BitsPerByte / BaudRate;
    std::printf("time on the line at 38400 baud: %.1f s (%ld bytes of 10 bits: every image byte\n"
                "out and echoed back, the end mark and acknowledgement of each block, the\n"
                "handshakes before blocks 5 on and the closing exchange), plus the lock wait of\n"
                "0.1 s per carriage return until the board answers (at most 3.1 s) and the\n"
                "turnaround of the adapter and the board at every byte\n",
                seconds, lineBytes);
    return ExitOk;
}

constexpr int ExitLogFile = 8;

// The files of the record: the SHA-256 of the very bytes the image was built from.
// Files are read in download order and the reading stops at the first that fails.
RunFiles FilesOf(const Arguments &a, const QList<FileRead> &reads)
{
    const auto digest = [&reads](int file) {
        return file < reads.size() ? QString::fromLatin1(reads[file].sha256.toHex()) : QString();
    };
    RunFiles files;
    files.codeFile = a.codeFile;
    files.codeSha256 = digest(4);
    for (int i = 0; i < 4; ++i)
        files.supportSha256.append({QLatin1String(SupportFileNames[i]), digest(i)});
    return files;
}

// The head of a run in the log file: what was sent, where to, through which adapter.
void WriteLogHead(Console &console, const Arguments &a, const QList<FileRead> &reads,
                  const std::vector<BoardResult> &results)
{
    console.FileLine(QStringLiteral("==== orvant-flash %1").arg(QStringLiteral(ORVANT_VERSION)));
    const auto digest = [&reads](int file) {
        if (file >= reads.size())
            return QStringLiteral("not read (an earlier file cannot be loaded)");
        const FileRead &read = reads[file];
        return read.sha256.isEmpty() ? QStringLiteral("cannot be read: ") + read.reason
                                     : QString::fromLatin1(read.sha256.toHex());
    };
    console.FileLine(QStringLiteral("code file: ") + a.codeFile);
    console.FileLine(QStringLiteral("code file SHA-256: ") + digest(4));
    console.FileLine(QStringLiteral("support files: ") + a.supportDir);
    for (int i = 0; i < 4; ++i)
        console.FileLine(QStringLiteral("%1 SHA-256: %2").arg(QLatin1String(SupportFileNames[i]), digest(i)));
    for (const BoardResult &result : results)
        console.FileLine(PortHeadLine(result));
}

// Runs every board at once, each in a thread of its own, until all have finished. The
// boards are made, run and destroyed within this function; their results stay. ended
// runs in this thread for each board as soon as it is done.
void RunBoards(const Arguments &a, Console &console, const DownloadImage &image,
               const QString &loaderText, std::vector<BoardResult> &results,
               const std::function<void(const BoardResult &)> &ended)
{
    const int count = int(results.size());
    std::vector<Board *> boards;
    std::vector<std::unique_ptr<QThread>> threads;
    QEventLoop loop;
    int finished = 0;
    for (int i = 0; i < count; ++i) {
        const QString prefix = count > 1 ? QStringLiteral("[%1] ").arg(a.ports[i]) : QString();
        auto *board = new Board(i, prefix, a.stallSeconds, console, image, loaderText, results[i]);
        boards.push_back(board);
        threads.push_back(std::make_unique<QThread>());
        QThread *thread = threads.back().get();
        QObject::connect(board, &Board::Finished, &loop, [&, i] {
            ended(results[size_t(i)]);
            if (++finished == count)
                loop.quit();
        });
        board->moveToThread(thread);
        // A board's serial port and timers belong to its thread: the board is destroyed
        // there, as the thread ends, never from the main thread.
        QObject::connect(thread, &QThread::finished, board, &QObject::deleteLater);
        thread->start();
    }

    // Every port is opened before any download starts: a port that cannot be opened
    // stops the run before anything is sent to any board.
    bool allOpen = true;
    for (Board *board : boards) {
        bool open = false;
        QMetaObject::invokeMethod(board, [&] { open = board->Open(); }, Qt::BlockingQueuedConnection);
        allOpen = allOpen && open;
    }
    for (Board *board : boards) {
        if (allOpen && !stopRequested)
            QMetaObject::invokeMethod(board, [board] { board->Start(stopRequested); }, Qt::QueuedConnection);
        else
            QMetaObject::invokeMethod(board, [board] { board->Close(stopRequested); }, Qt::QueuedConnection);
    }

    // The stop signals only set a flag; this timer passes it on to every board's thread.
    // It also redraws the progress lines.
    QTimer poll;
    bool interrupted = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (stopRequested && !interrupted) {
            interrupted = true;
            for (Board *board : boards)
                QMetaObject::invokeMethod(board, [board] { board->Interrupt(); }, Qt::QueuedConnection);
        }
        console.DrawProgress();
    });
    poll.start(50);
    if (finished < count)
        loop.exec();
    poll.stop();
    // Each thread ends once its board has been destroyed in it.
    for (const auto &thread : threads) {
        thread->quit();
        thread->wait();
    }
    console.EndProgress();
}

// Programs every board at once; returns the exit status.
int Program(const Arguments &a)
{
    const int count = int(a.ports.size());
    std::vector<BoardResult> results(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        results[size_t(i)].portText = a.ports[i];
        results[size_t(i)].device = SerialLink::DeviceForPortText(a.ports[i]);
        results[size_t(i)].label = a.labels[i];
    }
    const QList<SerialLink::PortInfo> system = SerialLink::SystemPorts();
    for (BoardResult &result : results)
        result.adapter = AdapterOf(result.device, system);

    // The image first, once, before any port is opened: a file that cannot be loaded
    // stops the run with nothing opened, and the record names the bytes that were sent.
    StatusLog loaderLog;
    auto image = std::make_unique<DownloadImage>();
    QList<FileRead> reads;
    const bool loaded = image->AssembleImage(a.supportDir, a.codeFile, loaderLog, &reads);
    const bool built = loaded && image->BlockTotal() >= NamedBlocks;
    const QString cancelled = loaded
            ? QStringLiteral("------ Download cancelled: the image holds %1 blocks, at least %2 are "
                             "needed. Nothing was sent.").arg(image->BlockTotal()).arg(NamedBlocks)
            : QStringLiteral("------ Download cancelled: the image could not be built. Nothing was sent.");

    Console console(a.quiet, a.json, built && StandardErrorIsTerminal(), count);
    // With --json, each board's line as soon as it ends.
    const RunFiles files = FilesOf(a, reads);
    const auto ended = [&](const BoardResult &result) {
        if (a.json)
            console.Json(JsonLine(result, files));
    };
    if (!a.logFile.isEmpty()) {
        QString reason;
        if (!console.OpenLogFile(a.logFile, &reason))
            return UsageError(QStringLiteral("cannot open the log file %1: %2").arg(a.logFile, reason));
        WriteLogHead(console, a, reads, results);
    }
    InstallStopSignals(OnStopSignal);

    if (built) {
        RunBoards(a, console, *image, loaderLog.Text(), results, ended);
    } else {
        // The loader's lines once, for every board, then why nothing was sent.
        {
            LineSink sink(console, QString());
            sink.LogAdded(loaderLog.Text() + QStringLiteral("\r\n\r\n") + cancelled);
            sink.Flush();
        }
        // The loader's last line says which file and why.
        const QStringList lines = loaderLog.Text().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        const QString reason = WithoutDashes(loaded || lines.isEmpty() ? cancelled : lines.last());
        console.Error(QStringLiteral("orvant-flash: ") + reason);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (BoardResult &result : results) {
            result.outcome = Download::Outcome::NotBuilt;
            result.reason = reason;
            result.started = result.ended = now;
            ended(result);
        }
    }

    int status = ExitOk;
    for (const BoardResult &result : results) {
        console.Out(SummaryLine(result));
        const BoardEnding ending = result.Ending();
        if (ending.status > 0 && status == ExitOk)
            status = ending.status;
    }
    if (count > 1)
        console.Out(Verdict(results));
    for (const BoardResult &result : results) {
        if (result.Ending().status > 0 && result.outcome != Download::Outcome::NotBuilt)
            console.Error(QStringLiteral("orvant-flash: %1: %2: %3")
                              .arg(BoardName(result), QLatin1String(result.Ending().what), result.reason));
    }
    // Programmed, but without the record a line relies on: that is no plain success.
    if (status == ExitOk && console.LogFileFailures() > 0)
        status = ExitLogFile;
    console.FileLine(QStringLiteral("==== exit status %1").arg(status));
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvant-flash"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVANT_VERSION));

    QCommandLineParser parser;
    const QCommandLineOption port({"p", "port"}, QString(), QStringLiteral("PORT"));
    const QCommandLineOption supportDir({"s", "support-dir"}, QString(), QStringLiteral("DIR"));
    const QCommandLineOption check(QStringLiteral("check"));
    const QCommandLineOption listPorts(QStringLiteral("list-ports"));
    const QCommandLineOption logFile(QStringLiteral("log"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption stall(QStringLiteral("stall-timeout"), QString(), QStringLiteral("SECONDS"));
    const QCommandLineOption quiet(QStringList{"q", "quiet"});
    const QCommandLineOption label(QStringList{"l", "label"}, QString(), QStringLiteral("LABEL"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption help(QStringList{"h", "help"});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({port, supportDir, check, listPorts, logFile, stall, quiet, label, json, help, version});
    if (!parser.parse(app.arguments()))
        return UsageError(parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(HelpText, stdout);
        return ExitOk;
    }
    if (parser.isSet(version)) {
        std::printf("orvant-flash %s\n", ORVANT_VERSION);
        return ExitOk;
    }
    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(listPorts)) {
        if (parser.optionNames().size() > 1 || !positional.isEmpty())
            return UsageError(QStringLiteral("--list-ports takes nothing else"));
        return ListPorts();
    }
    if (positional.size() != 1)
        return UsageError(positional.isEmpty() ? QStringLiteral("no code file given")
                                               : QStringLiteral("one code file only"));

    Arguments a;
    a.codeFile = WholePath(positional.first());
    a.supportDir = WholePath(parser.isSet(supportDir) ? parser.value(supportDir)
                                                      : QCoreApplication::applicationDirPath());
    if (parser.isSet(check)) {
        if (parser.isSet(port) || parser.isSet(logFile) || parser.isSet(stall) || parser.isSet(quiet)
            || parser.isSet(label) || parser.isSet(json))
            return UsageError(QStringLiteral("--check takes only -s and the code file"));
        return Check(a);
    }

    a.ports = parser.values(port);
    if (a.ports.isEmpty())
        return UsageError(QStringLiteral("no port given (-p PORT)"));
    // One device, one board: two spellings of one device (a link, a name under /dev) are
    // the same port.
    QStringList seen;
    for (const QString &text : std::as_const(a.ports)) {
        const QString device = SerialLink::DeviceForPortText(text);
        if (device.isEmpty())
            return UsageError(QStringLiteral("-p \"%1\" names no port").arg(text));
        if (seen.contains(device))
            return UsageError(QStringLiteral("port %1 is given twice").arg(text));
        seen << device;
    }
    const QString labelProblem = LabelsOfPorts(parser.optionNames(), parser.values(label), a.ports, a.labels);
    if (!labelProblem.isEmpty())
        return UsageError(labelProblem);
    if (parser.isSet(stall)) {
        // The timer counts whole milliseconds: less than one would be 0, waiting for ever.
        bool ok = false;
        a.stallSeconds = parser.value(stall).toDouble(&ok);
        if (!ok || !(a.stallSeconds == 0 || a.stallSeconds >= 0.001) || a.stallSeconds > 86400)
            return UsageError(QStringLiteral("--stall-timeout: \"%1\" is not 0 or a number of seconds "
                                             "from 0.001 to 86400").arg(parser.value(stall)));
    }
    a.logFile = parser.value(logFile);
    if (parser.isSet(logFile) && a.logFile.isEmpty())
        return UsageError(QStringLiteral("--log: no file name given"));
    a.quiet = parser.isSet(quiet);
    a.json = parser.isSet(json);
    return Program(a);
}
