// Download speed: a 32768-word code file (64 KiB, the largest LF240x flash) through the
// engine to the simulated target on a pseudo-terminal, with instant answers and with the
// wire time of 38400 baud, against the floor of a plain lock-step loop with no toolkit.
//
//   bench_download [words]      (default 32768)
#include "engine.h"
#include "plainloop.h"
#include "targetsimprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

struct Result
{
    long bytes = 0;     // image bytes
    double seconds = -1; // from the first image byte to the end of the closing exchange
};

Result EngineRun(const QString &dir, bool wireTime)
{
    Result result;
    TargetSimProcess target;
    QStringList options{"--timeout", "120", "--quiet-ms", "50"};
    if (wireTime)
        options << "--baud-time";
    if (!target.Start(options))
        return result;
    Engine engine;
    if (!engine.link.OpenPort(target.device))
        return result;
    engine.download.StartDownload(dir, dir + "/sample.hex");
    // StartDownload returns right after the first image byte has gone out.
    QElapsedTimer timer;
    timer.start();
    while (engine.download.Running())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    result.seconds = timer.nsecsElapsed() / 1e9;
    result.bytes = engine.image->ImageLength();
    const int status = target.WaitForExit(10000);
    if (!engine.log.Text().endsWith(" Seconds ------") || status != 0) {
        std::fprintf(stderr, "engine run failed (targetsim status %d):\n%s\n%s\n", status,
                     qPrintable(engine.log.Text().right(300)), qPrintable(target.Output()));
        result.seconds = -1;
    }
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString samples = StartBenchmark(argc, argv);

    // Each figure is the best of a few runs: on a small machine another process can steal
    // the core that the host or the target needs at any moment.
    int failures = 0;
    double engineTimes[2] = {0, 0};
    double loopTimes[2] = {0, 0};
    for (int wire = 0; wire < 2; ++wire) {
        const int runs = wire ? 2 : 5;
        const char *mode = wire ? "38400 baud wire time" : "instant answers";
        long bytes = 0;
        double engineBest = 1e9;
        double loopBest = 1e9;
        for (int run = 0; run < runs; ++run) {
            const Result engine = EngineRun(samples, wire == 1);
            const QStringList wireTime = wire ? QStringList{"--baud-time"} : QStringList{};
            const double loop = engine.seconds < 0 ? -1 : PlainLoopRun(engine.bytes, wireTime);
            if (engine.seconds < 0 || loop < 0) {
                std::fprintf(stderr, "%s run failed\n", engine.seconds < 0 ? "engine" : "plain loop");
                ++failures;
                break;
            }
            bytes = engine.bytes;
            engineBest = std::min(engineBest, engine.seconds);
            loopBest = std::min(loopBest, loop);
        }
        if (failures)
            break;
        std::printf("best of %d runs each:\n", runs);
        Report(QString("engine, %1").arg(mode), bytes, engineBest);
        Report(QString("plain lock-step loop, %1").arg(mode), bytes, loopBest);
        std::printf("  engine / plain loop per image byte: %.3f\n", engineBest / loopBest);
        engineTimes[wire] = engineBest;
        loopTimes[wire] = loopBest;
        if (wire == 1) {
            // Every image byte crosses the line twice (out and echoed back), 10 bits each.
            const double limit = 38400.0 / (2 * 10);
            std::printf("wire-time limit at 38400 baud: %.1f image bytes/s (%.2f s for %ld bytes)\n",
                        limit, bytes / limit, bytes);
        }
    }
    if (failures)
        return 1;
    std::printf("targets: instant %.3f (<= 1.5), 38400 baud %.3f (<= 1.03)\n",
                engineTimes[0] / loopTimes[0], engineTimes[1] / loopTimes[1]);
    return 0;
}
