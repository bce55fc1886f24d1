// orvant-flash: programs the flash of DSP boards from the command line, with the same
// loader, image and download as the window programs, several boards at a time.
#include "check.h"
#include "console.h"
#include "options.h"
#include "run.h"
#include "seriallink.h"

#include <QCoreApplication>

#include <cstdio>

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

} // namespace

int main(int argc, char *argv[])
{
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
        return ExitOk;
    case Arguments::Mode::Version:
        std::printf("orvant-flash %s\n", ORVANT_VERSION);
        return ExitOk;
    case Arguments::Mode::ListPorts:
        return ListPorts();
    case Arguments::Mode::Check:
        return Check(a);
    case Arguments::Mode::Program:
        break;
    }
    return Program(a);
}
