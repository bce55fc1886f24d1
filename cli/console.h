#pragma once

#include "statuslog.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QString>
#include <QStringList>

// Text for a terminal or the log file: control characters other than tab (ESC, BEL,
// backspace, NUL, DEL and the C1 range) as \xNN, so that a path or a closing line read
// from a file cannot move the cursor, ring, or rewrite what is shown.
QString Escaped(const QString &text);

// Tells an error on standard error: "orvant-flash: " and the text, escaped.
void PrintError(const QString &text);

// A time as the record writes it: UTC, ISO 8601 with milliseconds.
QString Stamp(const QDateTime &time);

// Where every board's output goes: log lines and summary on standard output, errors on
// standard error, everything also into the log file when there is one (each line there
// stamped with its UTC time), and on a terminal a block of live progress lines (one per
// board) at the bottom of standard error. With JSON output, standard output carries the
// JSON lines alone; the log lines and the summary go to the log file only.
// Boards write from their own threads; each call is one whole line under one mutex, so
// lines of different boards never mix. Every line is written escaped (Escaped). Standard
// output that went away (a closed pipe) is no reason to stop: the boards and the log file
// go on.
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
    // Lines that could not be written whole to the log file (a full disk, a reader of a
    // pipe that went away). The first failure is told on standard error, once.
    int LogFileFailures();

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
    // Writes a text line, escaped, to the stream and the log file.
    void Write(FILE *stream, const QString &line);
    // Writes bytes as they are to the stream, around the progress lines.
    void WriteBytes(FILE *stream, const QByteArray &bytes);
    // The one place that writes the log file; stamps each line with its UTC time, counts
    // and tells its failures.
    void WriteLogFile(const QString &line);
    void EraseProgress();
    void DrawProgressLocked();

    QMutex mutex;
    QFile logFile;
    int logFileFailures = 0;
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
