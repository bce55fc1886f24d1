// orvant-flash: programs the flash of DSP boards from the command line, with the same
// loader, image and download as the window programs, several boards at a time.
#include "board.h"
#include "console.h"
#include "downloadimage.h"
#include "seriallink.h"
#include "statuslog.h"
#include "terminal.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
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
    "                         (COMn on Windows), other text a device name such as\n"
    "                         /dev/ttyUSB0. Once per board; the same port twice is\n"
    "                         refused.\n"
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
    "                         SHA-256, the SHA-256 of the four support files and\n"
    "                         each port's device and adapter, closed by the exit\n"
    "                         status\n"
    "      --json             standard output carries one JSON object per board, on\n"
    "                         one line, written when that board ends, and nothing\n"
    "                         else (the log lines, the summary and the verdict go\n"
    "                         to --log only)\n"
    "      --stall-timeout SECONDS\n"
    "                         give a board up when it sends nothing for SECONDS\n"
    "                         during the transfer (default 60; 0 waits for ever,\n"
    "                         as the windows do)\n"
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
    "  image, the lock wait) to its end; RATE is BYTES / T. With two or more boards\n"
    "  a verdict follows:\n"
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
    "  board.\n"
    "  Ctrl-C or SIGTERM stops every board at once: nothing more is sent, the ports\n"
    "  are closed, the summary is printed (exit status 130). A second one ends the\n"
    "  program at once, without a summary.\n"
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
    "  130  interrupted by Ctrl-C or SIGTERM\n"
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
    // A second Ctrl-C ends the program at once.
    std::signal(signal, SIG_DFL);
}

void PrintError(const QString &text)
{
    std::fprintf(stderr, "orvant-flash: %s\n", qPrintable(text));
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
    QStringList devices;  // the device each port names, links followed
    QStringList labels;   // each port's label; empty where none
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

// The device a port text names, with links followed, to tell two names of one port.
QString PortIdentity(const QString &device)
{
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return canonical.isEmpty() ? device : canonical;
}

QString HashOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot be read: ") + file.errorString();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return QStringLiteral("cannot be read: ") + file.errorString();
    return QString::fromLatin1(hash.result().toHex());
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
        std::printf("%s\n", qPrintable(line));
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

    std::printf("Image of %s\nwith the support files of %s\n\n", qPrintable(a.codeFile),
                qPrintable(a.supportDir));
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

// The code file and the support files with their SHA-256, as the record names them.
RunFiles FilesOf(const Arguments &a)
{
    RunFiles files;
    files.codeFile = a.codeFile;
    files.codeSha256 = HashOf(a.codeFile);
    for (const char *name : SupportFileNames)
        files.supportSha256.append({QLatin1String(name),
                                    HashOf(a.supportDir + QLatin1Char('/') + QLatin1String(name))});
    return files;
}

void WriteLogHead(Console &console, const Arguments &a, const RunFiles &files,
                  const std::vector<BoardRecord> &records)
{
    console.FileLine(QStringLiteral("==== orvant-flash %1").arg(QStringLiteral(ORVANT_VERSION)));
    console.FileLine(QStringLiteral("code file: ") + files.codeFile);
    console.FileLine(QStringLiteral("code file SHA-256: ") + files.codeSha256);
    console.FileLine(QStringLiteral("support files: ") + a.supportDir);
    for (const auto &file : files.supportSha256)
        console.FileLine(QStringLiteral("%1 SHA-256: %2").arg(file.first, file.second));
    for (const BoardRecord &record : records)
        console.FileLine(PortHeadLine(record));
}

// Programs every board at once; returns the exit status.
int Program(const Arguments &a)
{
    const int count = int(a.ports.size());
    Console console(a.quiet, a.json, StandardErrorIsTerminal(), count);
    // Who each board is, for the summary, the log file and the JSON.
    std::vector<BoardRecord> records(static_cast<size_t>(count));
    const QList<SerialLink::PortInfo> system = SerialLink::SystemPorts();
    for (int i = 0; i < count; ++i) {
        records[i].port = a.ports[i];
        records[i].device = a.devices[i];
        records[i].label = a.labels[i];
        records[i].adapter = AdapterOf(a.devices[i], system);
    }
    RunFiles files;
    if (!a.logFile.isEmpty() || a.json)
        files = FilesOf(a);
    if (!a.logFile.isEmpty()) {
        QString reason;
        if (!console.OpenLogFile(a.logFile, &reason))
            return UsageError(QStringLiteral("cannot open the log file %1: %2").arg(a.logFile, reason));
        WriteLogHead(console, a, files, records);
    }

    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);

    std::vector<std::unique_ptr<Board>> boards;
    std::vector<std::unique_ptr<QThread>> threads;
    QEventLoop loop;
    int finished = 0;
    for (int i = 0; i < count; ++i) {
        const QString prefix = count > 1 ? QStringLiteral("[%1] ").arg(a.ports[i]) : QString();
        boards.push_back(std::make_unique<Board>(i, a.ports[i], prefix, a.stallSeconds, console));
        threads.push_back(std::make_unique<QThread>());
        Board *board = boards.back().get();
        // Runs in this thread once the board is done: its record is complete then.
        QObject::connect(board, &Board::Finished, &loop, [&, i] {
            boards[i]->FillRecord(records[i]);
            if (a.json)
                console.Json(JsonLine(records[i], files));
            if (++finished == count)
                loop.quit();
        });
        board->moveToThread(threads.back().get());
        threads.back()->start();
    }

    // Every port is opened before any download starts: a port that cannot be opened
    // stops the run before anything is sent to any board.
    bool allOpen = true;
    for (const auto &board : boards) {
        bool open = false;
        QMetaObject::invokeMethod(board.get(), [&] { open = board->Open(); },
                                  Qt::BlockingQueuedConnection);
        allOpen = allOpen && open;
    }
    for (const auto &board : boards) {
        Board *b = board.get();
        if (allOpen && !stopRequested)
            QMetaObject::invokeMethod(b, [b, &a] { b->Start(a.supportDir, a.codeFile, stopRequested); },
                                      Qt::QueuedConnection);
        else
            QMetaObject::invokeMethod(b, [b] { b->Close(stopRequested); }, Qt::QueuedConnection);
    }

    // Ctrl-C and SIGTERM only set a flag; this timer passes it on to every board's thread.
    // It also redraws the progress lines.
    QTimer poll;
    bool interrupted = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (stopRequested && !interrupted) {
            interrupted = true;
            for (const auto &board : boards) {
                Board *b = board.get();
                QMetaObject::invokeMethod(b, [b] { b->Interrupt(); }, Qt::QueuedConnection);
            }
        }
        console.DrawProgress();
    });
    poll.start(50);
    if (finished < count)
        loop.exec();
    poll.stop();
    for (const auto &thread : threads) {
        thread->quit();
        thread->wait();
    }
    console.EndProgress();

    int status = ExitOk;
    for (const BoardRecord &record : records) {
        console.Out(SummaryLine(record));
        if (record.status > 0 && status == ExitOk)
            status = record.status;
    }
    if (count > 1)
        console.Out(Verdict(records));
    for (const BoardRecord &record : records) {
        if (record.status > 0)
            console.Error(QStringLiteral("orvant-flash: %1: %2: %3")
                              .arg(BoardName(record), record.what, record.reason));
    }
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
    QStringList seen;
    for (const QString &text : std::as_const(a.ports)) {
        const QString device = SerialLink::DeviceForPortText(text);
        if (device.isEmpty())
            return UsageError(QStringLiteral("-p \"%1\" names no port").arg(text));
        const QString identity = PortIdentity(device);
        if (seen.contains(identity))
            return UsageError(QStringLiteral("port %1 is given twice").arg(text));
        seen << identity;
        a.devices << identity;
    }
    const QString labelProblem = LabelsOfPorts(parser.optionNames(), parser.values(label), a.ports, a.labels);
    if (!labelProblem.isEmpty())
        return UsageError(labelProblem);
    if (parser.isSet(stall)) {
        bool ok = false;
        a.stallSeconds = parser.value(stall).toDouble(&ok);
        if (!ok || !(a.stallSeconds >= 0) || a.stallSeconds > 86400)
            return UsageError(QStringLiteral("--stall-timeout: \"%1\" is not a number of seconds "
                                             "from 0 to 86400").arg(parser.value(stall)));
    }
    a.logFile = parser.value(logFile);
    a.quiet = parser.isSet(quiet);
    a.json = parser.isSet(json);
    return Program(a);
}
