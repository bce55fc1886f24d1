// orvant-flash: programs the flash of DSP boards from the command line, with the same
// loader, image and download as the window programs, several boards at a time.
#include "check.h"
#include "console.h"
#include "options.h"
#include "run.h"
#include "seriallink.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

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

// What a mode that only prints (help, version, the port list, --check) ends with: the
// text that could not all be written (a full disk) is a failure, told on standard error.
// A reader that went away (| head) ends the program by SIGPIPE, as any filter's.
int Printed(int status)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    PrintError(QStringLiteral("cannot write the standard output: ") + QString::fromLocal8Bit(std::strerror(errno)));
    return status == ExitOk ? ExitLogFile : status;
}

// The toolkit's own warnings go where ours go, escaped as ours are: a file name in one of
// them must not reach the terminal as control characters.
void ToolkitMessage(QtMsgType, const QMessageLogContext &, const QString &text)
{
    PrintError(text);
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(ToolkitMessage);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvant-flash"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVANT_VERSION));

    Arguments a;
    const QString problem = ParseArguments(QCoreApplication::arguments(), a);
    if (!problem.isEmpty())
        return UsageError(problem);
    switch (a.mode) {
    case Arguments::Mode::Help:
        std::fputs(qPrintable(HelpText()), stdout);
        return Printed(ExitOk);
    case Arguments::Mode::Version:
        std::printf("orvant-flash %s\n", ORVANT_VERSION);
        return Printed(ExitOk);
    case Arguments::Mode::ListPorts:
        return Printed(ListPorts());
    case Arguments::Mode::Check:
        return Printed(Check(a));
    case Arguments::Mode::Program:
        break;
    }
    return Program(a);
}
