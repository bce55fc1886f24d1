#include "plainloop.h"

#include "pty.h"
#include "targetsimprocess.h"

#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>

double PlainLockStepLoop(const std::string &device, long count)
{
    HostLine line;
    if (!line.Open(QString::fromStdString(device)))
        return -1;
    const auto start = std::chrono::steady_clock::now();
    bool ok = true;
    for (long i = 0; i < count && ok; ++i) {
        const quint8 out = quint8(i * 7 + 3);
        ok = line.Send(out) && line.Receive(5000) == out;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return ok ? seconds : -1;
}

double PlainLoopRun(long bytes, const QStringList &targetOptions)
{
    TargetSimProcess target;
    if (!target.Start(QStringList{"--echo-only", "--timeout", "120"} + targetOptions))
        return -1;
    return PlainLockStepLoop(target.device.toStdString(), bytes);
}

QString StartBenchmark(int argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    static QTemporaryDir dir;
    const int words = argc > 1 ? std::atoi(argv[1]) : 32768;
    if (dir.isValid() && TargetSimProcess::WriteSamples(dir.path(), words))
        return dir.path();
    std::fprintf(stderr, "cannot write the sample files\n");
    std::exit(1);
}

void Report(const QString &what, long bytes, double seconds)
{
    std::printf("%-52s %8ld bytes %9.3f s %10.1f bytes/s %8.2f us/byte\n", qPrintable(what), bytes,
                seconds, bytes / seconds, 1e6 * seconds / bytes);
}
