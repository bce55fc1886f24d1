#include "console.h"

#include "terminal.h"

#include <QDateTime>
#include <QMutexLocker>

#include <cstdio>

QString Escaped(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\t') || (u >= 0x7F && u <= 0x9F))
            shown += QStringLiteral("\\x") + QString::number(u, 16).rightJustified(2, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

void PrintError(const QString &text)
{
    std::fprintf(stderr, "orvant-flash: %s\n", qPrintable(Escaped(text)));
}

QString Stamp(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

Console::Console(bool quiet, bool json, bool progress, int boards)
    : quiet(quiet || json), json(json), progress(progress && PrepareTerminal())
{
    for (int i = 0; i < boards; ++i)
        progressLines << QString();
    if (this->progress)
        columns = TerminalColumns();
}

bool Console::OpenLogFile(const QString &path, QString *reason)
{
    logFile.setFileName(path);
    // Unbuffered: each line reaches the file (or fails) when it is written, not later.
    if (logFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text | QIODevice::Unbuffered))
        return true;
    *reason = logFile.errorString();
    return false;
}

void Console::FileLine(const QString &line)
{
    QMutexLocker lock(&mutex);
    WriteLogFile(line);
}

int Console::LogFileFailures()
{
    QMutexLocker lock(&mutex);
    return logFileFailures;
}

void Console::WriteLogFile(const QString &line)
{
    // Called with the mutex held, so the stamps follow each other in the file.
    if (!logFile.isOpen())
        return;
    const QByteArray bytes = (Stamp(QDateTime::currentDateTimeUtc()) + QLatin1Char(' ') + Escaped(line)).toUtf8()
                             + '\n';
    if (logFile.write(bytes) == bytes.size() && logFile.flush())
        return;
    if (logFileFailures++ == 0) {
        const QByteArray error = Escaped(QStringLiteral("orvant-flash: cannot write the log file %1: %2")
                                             .arg(logFile.fileName(), logFile.errorString()))
                                     .toLocal8Bit() + '\n';
        std::fwrite(error.constData(), 1, size_t(error.size()), stderr);
        std::fflush(stderr);
    }
    logFile.unsetError();
}

void Console::Write(FILE *stream, const QString &line)
{
    // Called with the mutex held.
    WriteBytes(stream, Escaped(line).toLocal8Bit() + '\n');
    WriteLogFile(line);
}

void Console::WriteBytes(FILE *stream, const QByteArray &bytes)
{
    // Called with the mutex held. The progress lines share the terminal with the log:
    // they go away for the line and come back under it.
    const bool redraw = progress && shownLines > 0;
    if (redraw)
        EraseProgress();
    // A stream that went away fails here (its signal is ignored); the run goes on.
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
    if (redraw)
        DrawProgressLocked();
}

void Console::LogLine(const QString &prefix, const QString &line)
{
    // An empty log line keeps no blank after its prefix.
    const QString text = line.isEmpty() ? prefix.trimmed() : prefix + line;
    QMutexLocker lock(&mutex);
    if (quiet) {
        WriteLogFile(text);
        return;
    }
    Write(stdout, text);
}

void Console::Out(const QString &line)
{
    QMutexLocker lock(&mutex);
    if (json)
        WriteLogFile(line);
    else
        Write(stdout, line);
}

void Console::Json(const QByteArray &line)
{
    QMutexLocker lock(&mutex);
    WriteBytes(stdout, line + '\n');
}

void Console::Error(const QString &line)
{
    QMutexLocker lock(&mutex);
    Write(stderr, line);
}

void Console::SetProgress(int board, const QString &text)
{
    if (!progress)
        return;
    QMutexLocker lock(&mutex);
    progressLines[board] = text;
}

void Console::DrawProgress()
{
    if (!progress)
        return;
    QMutexLocker lock(&mutex);
    EraseProgress();
    DrawProgressLocked();
}

void Console::EndProgress()
{
    if (!progress)
        return;
    QMutexLocker lock(&mutex);
    EraseProgress();
    progress = false;
}

void Console::EraseProgress()
{
    // Back up over the lines drawn last and clear to the end of the screen.
    if (shownLines > 0)
        std::fprintf(stderr, "\033[%dA\033[J", shownLines);
    shownLines = 0;
    std::fflush(stderr);
}

void Console::DrawProgressLocked()
{
    // A line wider than the terminal would wrap and spoil the count of lines to erase.
    for (const QString &line : std::as_const(progressLines)) {
        const QByteArray bytes = Escaped(line).left(columns - 1).toLocal8Bit() + '\n';
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    }
    shownLines = int(progressLines.size());
    std::fflush(stderr);
}

void LineSink::LogAdded(const QString &text)
{
    static const QString crlf = QStringLiteral("\r\n");
    partial += text;
    qsizetype end;
    while ((end = partial.indexOf(crlf)) >= 0) {
        console.LogLine(prefix, partial.left(end));
        partial.remove(0, end + crlf.size());
    }
}

void LineSink::Flush()
{
    if (partial.isEmpty())
        return;
    console.LogLine(prefix, partial);
    partial.clear();
}
