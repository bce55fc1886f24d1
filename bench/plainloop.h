#pragma once
// What both benchmarks measure against, and how they set up and report.

#include <QString>
#include <QStringList>

#include <string>

// The floor of a lock-step exchange: write one byte, wait for its echo, read it, with
// nothing else in between (no event loop, no toolkit). Returns the seconds that count
// bytes took, or a negative value when the line failed or an echo differed.
double PlainLockStepLoop(const std::string &device, long count);

// The plain loop for bytes against targetsim echoing every byte, with more targetsim
// options (such as --baud-time); negative when it failed.
double PlainLoopRun(long bytes, const QStringList &targetOptions);

// Line-buffered output, and the sample files of a run: the four support files and
// sample.hex of the words the command line gives (default 32768, the largest LF240x
// flash), in a temporary folder that lasts as long as the program. Returns that folder;
// ends the program with status 1 and a message when the files cannot be written.
QString StartBenchmark(int argc, char **argv);

// One figure: bytes, seconds, bytes per second and microseconds per byte.
void Report(const QString &what, long bytes, double seconds);
