// orvant-flash speed, the built program run as a process against the simulated target:
//
//  (a) one board through orvant-flash against the plain lock-step loop (plainloop.h), with
//      instant answers and with the wire time of 38400 baud;
//  (b) several boards at once (four unless given) against one board, each on a target that
//      sleeps out the wire time of 38400 baud (--baud-time=sleep), so that the targets fit
//      on two cores;
//  (c) one board over RFC 2217 through ser2net on this machine against the same board on
//      its pseudo-terminal, on a sleeping target.
//
// The code file is 32768 words (64 KiB, the largest LF240x flash) unless given. With
// --boards-only, (a) and (c) are left out.
//
//   bench_flash [words [boards [--boards-only]]]
#include "plainloop.h"
#include "ser2net.h"
#include "targetsimprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct FlashResult
{
    long bytes = 0;          // image bytes of one board
    double wall = -1;        // the whole process: start-up, ports, image, lock wait, transfer
    double transfer = -1;    // the slowest board, from its first image byte to its end
    double cpu = 0;          // seconds orvant-flash itself ran, on all its threads
};

// The processor time of the children waited for so far.
double ChildrenCpu()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs orvant-flash on `boards` simulated targets started with targetOptions, on their
// pseudo-terminals or over RFC 2217 through a ser2net each.
FlashResult FlashRun(const QString &dir, int boards, const QStringList &targetOptions, bool rfc2217 = false)
{
    FlashResult result;
    std::vector<std::unique_ptr<TargetSimProcess>> targets;
    std::vector<std::unique_ptr<Ser2Net>> servers;
    QStringList arguments{"-q", "-s", dir};
    for (int i = 0; i < boards; ++i) {
        targets.push_back(std::make_unique<TargetSimProcess>());
        if (!targets.back()->Start(QStringList{"--timeout", "120", "--quiet-ms", "50"} + targetOptions))
            return result;
        if (!rfc2217) {
            arguments << "-p" << targets.back()->device;
            continue;
        }
        servers.push_back(std::make_unique<Ser2Net>());
        if (!servers.back()->Start(targets.back()->device)) {
            std::fprintf(stderr, "ser2net did not start\n");
            return result;
        }
        arguments << "-p" << servers.back()->Url(Ser2Net::Rfc2217);
    }
    arguments << dir + "/sample.hex";

    QProcess flash;
    QElapsedTimer timer;
    // The targets are still running here and are waited for only afterwards: what the
    // children used meanwhile is orvant-flash's alone.
    const double cpuBefore = ChildrenCpu();
    timer.start();
    flash.start(QStringLiteral(ORVANT_FLASH_PATH), arguments);
    const bool finished = flash.waitForFinished(600000);
    const double wall = timer.nsecsElapsed() / 1e9;
    result.cpu = ChildrenCpu() - cpuBefore;
    const QString out = QString::fromLocal8Bit(flash.readAllStandardOutput());
    bool ok = finished && flash.exitStatus() == QProcess::NormalExit && flash.exitCode() == 0;

    // "PORT: programmed, BYTES of TOTAL bytes, transfer SECONDS s, ...", one per board.
    static const QRegularExpression summary(R"(: programmed, (\d+) of \d+ bytes, transfer ([0-9.]+) s,)");
    int programmed = 0;
    double slowest = 0;
    for (auto match = summary.globalMatch(out); match.hasNext();) {
        const QRegularExpressionMatch m = match.next();
        result.bytes = m.captured(1).toLong();
        slowest = std::max(slowest, m.captured(2).toDouble());
        ++programmed;
    }
    ok = ok && programmed == boards;
    for (const auto &target : targets) {
        const int status = target->WaitForExit(10000);
        if (status != 0) {
            std::fprintf(stderr, "targetsim status %d:\n%s\n", status, qPrintable(target->Output()));
            ok = false;
        }
    }
    if (!ok) {
        std::fprintf(stderr, "orvant-flash run failed (status %d):\n%s\n%s\n", flash.exitCode(),
                     qPrintable(out.right(600)), qPrintable(QString::fromLocal8Bit(flash.readAllStandardError())));
        return result;
    }
    result.wall = wall;
    result.transfer = slowest;
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString samples = StartBenchmark(argc, argv);
    const int boards = argc > 2 ? std::max(2, std::atoi(argv[2])) : 4;
    const bool boardsOnly = argc > 3 && QByteArray(argv[3]) == "--boards-only";
    // A station of many boards shares the cores with more targets: a little more room.
    const double boardsTarget = boards <= 4 ? 1.10 : 1.15;

    // (a) Each figure is the best of a few runs: on a small machine another process can
    // steal the core that the host or the target needs at any moment.
    double ratios[2][2] = {{0, 0}, {0, 0}};  // [instant, wire][whole run, transfer]
    for (int wire = 0; wire < (boardsOnly ? 0 : 2); ++wire) {
        const int runs = wire ? 2 : 3;
        const QStringList options = wire ? QStringList{"--baud-time"} : QStringList{};
        const char *mode = wire ? "38400 baud wire time" : "instant answers";
        FlashResult best;
        double loopBest = 1e9;
        for (int run = 0; run < runs; ++run) {
            const FlashResult flash = FlashRun(samples, 1, options);
            const double loop = flash.wall < 0 ? -1 : PlainLoopRun(flash.bytes, options);
            if (flash.wall < 0 || loop < 0) {
                std::fprintf(stderr, "%s run failed\n", flash.wall < 0 ? "orvant-flash" : "plain loop");
                return 1;
            }
            if (best.wall < 0 || flash.wall < best.wall)
                best.wall = flash.wall;
            if (best.transfer < 0 || flash.transfer < best.transfer)
                best.transfer = flash.transfer;
            best.bytes = flash.bytes;
            loopBest = std::min(loopBest, loop);
        }
        std::printf("(a) one board, %s, best of %d runs each:\n", mode, runs);
        Report("orvant-flash, whole run (lock wait included)", best.bytes, best.wall);
        Report("orvant-flash, transfer (its summary line)", best.bytes, best.transfer);
        Report("plain lock-step loop", best.bytes, loopBest);
        ratios[wire][0] = best.wall / loopBest;
        ratios[wire][1] = best.transfer / loopBest;
        std::printf("  orvant-flash / plain loop: whole run %.3f, transfer %.3f\n", ratios[wire][0],
                    ratios[wire][1]);
    }

    // (b) The slowest of several boards against one board, on sleeping targets.
    const QStringList sleeping{"--baud-time=sleep"};
    FlashResult one, many;
    for (int run = 0; run < 2; ++run) {
        const FlashResult a = FlashRun(samples, 1, sleeping);
        const FlashResult b = FlashRun(samples, boards, sleeping);
        if (a.wall < 0 || b.wall < 0) {
            std::fprintf(stderr, "%s run failed\n", a.wall < 0 ? "one-board" : "several-board");
            return 1;
        }
        if (one.wall < 0 || a.wall < one.wall)
            one = a;
        if (many.wall < 0 || b.wall < many.wall)
            many = b;
    }
    std::printf("(b) boards at once, 38400 baud wire time slept by each target, best of 2 runs each:\n");
    Report("one board, whole run", one.bytes, one.wall);
    Report(QStringLiteral("%1 boards, whole run").arg(boards), many.bytes, many.wall);
    std::printf("  slowest board's transfer: one board %.2f s, %d boards %.2f s\n", one.transfer, boards,
                many.transfer);
    // What orvant-flash itself spends per byte of each board: the share of the cores that
    // it takes from the targets, and whether it grows with the boards.
    std::printf("  orvant-flash CPU per image byte of a board: one board %.2f us, %d boards %.2f us\n",
                1e6 * one.cpu / one.bytes, boards, 1e6 * many.cpu / (double(boards) * many.bytes));
    const double together = many.wall / one.wall;
    std::printf("  %d boards / one board, whole run: %.3f\n", boards, together);

    if (!boardsOnly) {
        // (c) The same sleeping board over RFC 2217 through ser2net, against its pseudo-terminal.
        FlashResult direct, network;
        for (int run = 0; run < 2; ++run) {
            const FlashResult a = FlashRun(samples, 1, sleeping);
            const FlashResult b = FlashRun(samples, 1, sleeping, true);
            if (a.wall < 0 || b.wall < 0) {
                std::fprintf(stderr, "%s run failed\n", a.wall < 0 ? "pseudo-terminal" : "RFC 2217");
                return 1;
            }
            if (direct.wall < 0 || a.wall < direct.wall)
                direct = a;
            if (network.wall < 0 || b.wall < network.wall)
                network = b;
        }
        std::printf("(c) one board, 38400 baud wire time slept by the target, best of 2 runs each:\n");
        Report("pseudo-terminal, whole run", direct.bytes, direct.wall);
        Report("RFC 2217 through ser2net, whole run", network.bytes, network.wall);
        std::printf("  RFC 2217 / pseudo-terminal, whole run: %.3f\n", network.wall / direct.wall);
    }

    if (!boardsOnly)
        std::printf("targets: (a) 38400 baud whole run %.3f (<= 1.05), instant answers transfer %.3f (<= 1.5); ",
                    ratios[1][0], ratios[0][1]);
    std::printf("(b) %d / one %.3f (<= %.2f)\n", boards, together, boardsTarget);
    return 0;
}
