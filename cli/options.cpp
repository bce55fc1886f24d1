#include "options.h"

#include "console.h"
#include "record.h"
#include "seriallink.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace {

const char *const Usage =
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
    "starts.\n";

// What follows the options in --help (and in the man page made from it).
const char *const Sections =
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

// Every option, described once: the parser reads them and --help shows them.
QList<QCommandLineOption> Options()
{
    return {
        {{"p", "port"},
         "the board's port: a whole number n is /dev/ttyS(n-1) (COMn on Windows); /PATH as it stands, "
         "./PATH and ../PATH from the current folder, any other name under /dev (ttyUSB0). Links lead "
         "to the device. Once per board; one device twice, by any names, is refused, and so is a "
         "device another program holds.",
         "PORT"},
        {{"l", "label"},
         "a label for the board of the -p just before it (its serial number or fixture slot), shown "
         "with its port in the summary, the verdict, the log file and the JSON; one line of printable "
         "text, at most one per port",
         "LABEL"},
        {{"s", "support-dir"},
         "the folder of krnl24xx.hex, clr24_x1.hex, era24_x1.hex and prg24_x1.hex (default: the "
         "folder of this program)",
         "DIR"},
        {"check",
         "build the image and print its block table, its size and the time it takes on the line; "
         "sends nothing, opens no port"},
        {"list-ports",
         "list the serial ports the system reports: device name, description, maker, serial number "
         "and the /dev/serial/by-id name"},
        {"log",
         "append the whole run to FILE, every line stamped with its UTC time, headed by the code "
         "file's path and SHA-256, the SHA-256 of the four support files (of the bytes sent) and each "
         "port's device and adapter, closed by the exit status",
         "FILE"},
        {"json",
         "standard output carries one JSON object per board, on one line, written when that board "
         "ends, and nothing else (the log lines, the summary and the verdict go to --log only)"},
        {"stall-timeout",
         "give a board up when it sends nothing for SECONDS during the transfer (default 60, at least "
         "0.001; 0 waits for ever, as the windows do)",
         "SECONDS"},
        {{"q", "quiet"}, "no log lines on standard output: only the summary and errors"},
        {{"h", "help"}, "show this text"},
        {"version", "show the version"},
    };
}

// One option of --help: its names and value on the left, its description wrapped beside
// them (under them when the names are too wide).
QString OptionHelp(const QCommandLineOption &option)
{
    constexpr int Indent = 25;
    constexpr int Width = 79;
    QString names;
    for (const QString &name : option.names())
        names += (names.isEmpty() ? QString() : QStringLiteral(", "))
                 + (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    if (option.names().first().size() > 1)
        names.prepend(QStringLiteral("    "));
    if (!option.valueName().isEmpty())
        names += QLatin1Char(' ') + option.valueName();
    QString text = QStringLiteral("  ") + names;
    QString line = text.size() + 2 > Indent ? QString() : text.leftJustified(Indent);
    if (line.isEmpty())
        text += QLatin1Char('\n');
    else
        text.clear();
    for (const QString &word : option.description().split(QLatin1Char(' '))) {
        if (line.size() > Indent && line.size() + 1 + word.size() > Width) {
            text += line + QLatin1Char('\n');
            line.clear();
        }
        if (line.isEmpty())
            line = QString(Indent, QLatin1Char(' ')) + word;
        else
            line += (line.size() > Indent ? QStringLiteral(" ") : QString()) + word;
    }
    return text + line + QLatin1Char('\n');
}

// The folder and code file as the log shows them: whole paths.
QString WholePath(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

QString HelpText()
{
    QString text = QString::fromLatin1(Usage) + QStringLiteral("\nOptions:\n");
    for (const QCommandLineOption &option : Options())
        text += OptionHelp(option);
    return text + QLatin1Char('\n') + QString::fromLatin1(Sections);
}

int UsageError(const QString &text)
{
    PrintError(text);
    std::fputs("Try 'orvant-flash --help'.\n", stderr);
    return ExitUsage;
}

QString ParseArguments(const QStringList &commandLine, Arguments &a)
{
    QCommandLineParser parser;
    parser.addOptions(Options());
    if (!parser.parse(commandLine))
        return parser.errorText();
    if (parser.isSet(QStringLiteral("help"))) {
        a.mode = Arguments::Mode::Help;
        return QString();
    }
    if (parser.isSet(QStringLiteral("version"))) {
        a.mode = Arguments::Mode::Version;
        return QString();
    }
    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(QStringLiteral("list-ports"))) {
        if (parser.optionNames().size() > 1 || !positional.isEmpty())
            return QStringLiteral("--list-ports takes nothing else");
        a.mode = Arguments::Mode::ListPorts;
        return QString();
    }
    if (positional.size() != 1)
        return positional.isEmpty() ? QStringLiteral("no code file given") : QStringLiteral("one code file only");

    a.codeFile = WholePath(positional.first());
    a.supportDir = WholePath(parser.isSet(QStringLiteral("support-dir"))
                                 ? parser.value(QStringLiteral("support-dir"))
                                 : QCoreApplication::applicationDirPath());
    if (parser.isSet(QStringLiteral("check"))) {
        for (const char *other : {"port", "log", "stall-timeout", "quiet", "label", "json"}) {
            if (parser.isSet(QLatin1String(other)))
                return QStringLiteral("--check takes only -s and the code file");
        }
        a.mode = Arguments::Mode::Check;
        return QString();
    }

    a.mode = Arguments::Mode::Program;
    a.ports = parser.values(QStringLiteral("port"));
    if (a.ports.isEmpty())
        return QStringLiteral("no port given (-p PORT)");
    // One device, one board: two spellings of one device (a link, a name under /dev) are
    // the same port.
    QStringList seen;
    for (const QString &text : std::as_const(a.ports)) {
        const QString device = SerialLink::DeviceForPortText(text);
        if (device.isEmpty())
            return QStringLiteral("-p \"%1\" names no port").arg(text);
        if (seen.contains(device))
            return QStringLiteral("port %1 is given twice").arg(text);
        seen << device;
    }
    const QString labelProblem = LabelsOfPorts(parser.optionNames(), parser.values(QStringLiteral("label")),
                                               a.ports, a.labels);
    if (!labelProblem.isEmpty())
        return labelProblem;
    if (parser.isSet(QStringLiteral("stall-timeout"))) {
        // The timer counts whole milliseconds: less than one would be 0, waiting for ever.
        const QString text = parser.value(QStringLiteral("stall-timeout"));
        bool ok = false;
        a.stallSeconds = text.toDouble(&ok);
        if (!ok || !(a.stallSeconds == 0 || a.stallSeconds >= 0.001) || a.stallSeconds > 86400)
            return QStringLiteral("--stall-timeout: \"%1\" is not 0 or a number of seconds from 0.001 to 86400")
                .arg(text);
    }
    a.logFile = parser.value(QStringLiteral("log"));
    if (parser.isSet(QStringLiteral("log")) && a.logFile.isEmpty())
        return QStringLiteral("--log: no file name given");
    a.quiet = parser.isSet(QStringLiteral("quiet"));
    a.json = parser.isSet(QStringLiteral("json"));
    return QString();
}
