// Download speed: a 32768-word code file (64 KiB, the largest LF240x flash) through the
// engine to the simulated target on a pseudo-terminal, with instant answers and with the
// wire time of 38400 baud, against the floor of a plain lock-step loop with no toolkit;
// and through the single-file program's window, shown on the offscreen platform, with
// instant answers, where everything the window does per byte (the progress bar) shows.
//
//   bench_download [words] [--window-only]      (default 32768 words)
#include "../singlefile/form1.h"
#include "engine.h"
#include "files.h"
#include "plainloop.h"
#include "targetsimprocess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>

namespace {

struct Result
{
    long bytes = 0;     // image bytes
    double seconds = -1; // from the first image byte to the end of the closing exchange
    double cpu = 0;      // of those, the seconds this process ran (window runs)
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

// The same download through the window: Program pressed, the bar and the log shown.
Result WindowRun(const QString &dir)
{
    Result result;
    TargetSimProcess target;
    if (!target.Start({"--timeout", "120", "--quiet-ms", "50"}))
        return result;
    QTemporaryDir config;
    const QString settings = config.filePath("ZizUdederAdev.cfg");
    const QByteArray values = "\"" + QFile::encodeName(dir + "/sample.hex") + "\"\r\n\""
                              + QFile::encodeName(target.device) + "\"\r\n";
    if (!WriteFile(settings, values))
        return result;
    Form1 form(settings, nullptr, dir);
    form.show();
    QCoreApplication::processEvents();
    form.Program->click();
    QElapsedTimer timer;
    timer.start();
    const std::clock_t cpuStart = std::clock();
    while (form.Downloader().Running())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    result.seconds = timer.nsecsElapsed() / 1e9;
    result.cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    result.bytes = form.Image().ImageLength();
    const QString log = form.Log().Text();
    form.close();
    const int status = target.WaitForExit(10000);
    if (!log.endsWith(" Seconds ------") || status != 0) {
        std::fprintf(stderr, "window run failed (targetsim status %d):\n%s\n%s\n", status,
                     qPrintable(log.right(300)), qPrintable(target.Output()));
        result.seconds = -1;
    }
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString samples = StartBenchmark(argc, argv);
    const bool windowOnly = argc > 2 && qstrcmp(argv[2], "--window-only") == 0;

    // Each figure is the best of a few runs: on a small machine another process can steal
    // the core that the host or the target needs at any moment.
    int failures = 0;
    double engineTimes[2] = {0, 0};
    double loopTimes[2] = {0, 0};
    for (int wire = 0; wire < 2 && !windowOnly; ++wire) {
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
    // The window's own time per byte, less bent by other processes than the wall clock on
    // a busy machine: what the window adds shows as the rise over the engine's.
    double windowBest = 1e9;
    double windowCpuBest = 1e9;
    double windowLoopBest = 1e9;
    double loopCpuBest = 1e9;
    long windowBytes = 0;
    for (int run = 0; run < 5 && !failures; ++run) {
        const Result window = WindowRun(samples);
        // The plain loop runs in this process too: its processor time is the floor of the
        // window's, steadier than the wall clock on a shared machine.
        const std::clock_t loopCpuStart = std::clock();
        const double loop = window.seconds < 0 ? -1 : PlainLoopRun(window.bytes, {});
        loopCpuBest = std::min(loopCpuBest, double(std::clock() - loopCpuStart) / CLOCKS_PER_SEC);
        if (window.seconds < 0 || loop < 0) {
            std::fprintf(stderr, "%s run failed\n", window.seconds < 0 ? "window" : "plain loop");
            ++failures;
            break;
        }
        windowBytes = window.bytes;
        windowBest = std::min(windowBest, window.seconds);
        windowCpuBest = std::min(windowCpuBest, window.cpu);
        windowLoopBest = std::min(windowLoopBest, loop);
    }
    if (failures)
        return 1;
    std::printf("best of 5 runs each:\n");
    Report(QString("window (%1), instant answers").arg(QGuiApplication::platformName()),
           windowBytes, windowBest);
    Report("plain lock-step loop, instant answers", windowBytes, windowLoopBest);
    std::printf("  window / plain loop per image byte: %.3f\n", windowBest / windowLoopBest);
    std::printf("  window process CPU per image byte: %.2f us, plain loop %.2f us: %.3f\n",
                1e6 * windowCpuBest / windowBytes, 1e6 * loopCpuBest / windowBytes, windowCpuBest / loopCpuBest);
    if (windowOnly)
        std::printf("target: window %.3f (<= 1.05)\n", windowBest / windowLoopBest);
    else
        std::printf("targets: instant %.3f (<= 1.5), 38400 baud %.3f (<= 1.03), window %.3f "
                    "(<= 1.05)\n",
                    engineTimes[0] / loopTimes[0], engineTimes[1] / loopTimes[1],
                    windowBest / windowLoopBest);
    return 0;
}
