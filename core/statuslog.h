#pragma once

#include <QString>

// Shows the status log somewhere: a window's log box, a terminal, a file.
class LogSink
{
public:
    virtual ~LogSink() = default;
    // Text added at the end of the log; a CR LF pair inside it is a line break.
    virtual void LogAdded(const QString &text) = 0;
    // The log was emptied.
    virtual void LogCleared() = 0;
};

// The status log: the only reporting channel of the programs. It holds the log's text,
// lines separated by CR LF, and passes every change on to its sink, if any.
class StatusLog
{
public:
    // A line break, then the text.
    void LogLine(const QString &text);
    // The text at the end of the last line, no line break.
    void LogAppend(const QString &text);
    // Empties the log.
    void ClearLog();

    // The whole log, lines joined by CR LF.
    const QString &Text() const { return text; }

    // Where the log is shown; nullptr for nowhere. Not owned.
    void SetSink(LogSink *logSink) { sink = logSink; }

private:
    QString text;
    LogSink *sink = nullptr;
};
