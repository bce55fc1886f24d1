#pragma once

#include "statuslog.h"

#include <QFile>
#include <QMutex>
#include <QString>
#include <QStringList>

// Where every board's output goes: log lines and summary on standard output, errors on
// standard error, everything also into the log file when there is one (each line there
// stamped with its UTC time), and on a terminal a block of live progress lines (one per
// board) at the bottom of standard error. With JSON output, standard output carries the
// JSON lines alone; the log lines and the summary go to the log file only.
// Boards write from their own threads; each call is one whole line under one mutex, so
// lines of different boards never mix.
class Console
{
public:
    // quiet: no log lines on standard output. json: standard output carries only the
    // JSON lines. progress: draw the progress lines.
    Console(bool quiet, bool json, bool progress, int boards);

    // Opens the log file for appending; false with the system's reason on failure.
    bool OpenLogFile(const QString &path, QString *reason);
    // A line for the log file only (its head and its end).
    void FileLine(const QString &line);

    // A line of a board's status log; prefix is "[PORT] " or empty.
    void LogLine(const QString &prefix, const QString &line);
    // A summary line: standard output even when quiet (the log file only with JSON).
    void Out(const QString &line);
    // A JSON line: standard output only.
    void Json(const QByteArray &line);
    // An error: standard error.
    void Error(const QString &line);

    bool ShowsProgress() const { return progress; }
    // The progress line of board number board.
    void SetProgress(int board, const QString &text);
    // Draws the progress lines anew (from the main thread's timer).
    void DrawProgress();
    // Takes the progress lines off the terminal for good.
    void EndProgress();

private:
    void Write(FILE *stream, const QByteArray &bytes);
    void WriteFile(const QString &line);
    void EraseProgress();
    void DrawProgressLocked();

    QMutex mutex;
    QFile logFile;
    const bool quiet;
    const bool json;
    bool progress;
    QStringList progressLines;
    int shownLines = 0;
    int columns = 80;
};

// A board's status log as whole lines: keeps the unfinished last line until its line
// break comes (or Flush), and passes each finished line to the console with the board's
// prefix. The "=" marks of the lock wait therefore appear as one line once the lock wait
// is over.
class LineSink : public LogSink
{
public:
    LineSink(Console &console, const QString &prefix) : console(console), prefix(prefix) {}

    void LogAdded(const QString &text) override;
    // A new download starts with an empty log; whatever was pending is printed first.
    void LogCleared() override { Flush(); }
    // Prints the unfinished last line, if any.
    void Flush();

private:
    Console &console;
    const QString prefix;
    QString partial;
};
