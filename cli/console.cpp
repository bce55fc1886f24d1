#include "console.h"

#include "record.h"
#include "terminal.h"

#include <QDateTime>
#include <QMutexLocker>

#include <cstdio>

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
    if (logFile.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return true;
    *reason = logFile.errorString();
    return false;
}

void Console::FileLine(const QString &line)
{
    QMutexLocker lock(&mutex);
    WriteFile(line);
}

void Console::WriteFile(const QString &line)
{
    // Called with the mutex held, so the stamps follow each other in the file.
    if (logFile.isOpen()) {
        logFile.write((Stamp(QDateTime::currentDateTimeUtc()) + QLatin1Char(' ') + line).toUtf8() + '\n');
        logFile.flush();
    }
}

void Console::Write(FILE *stream, const QByteArray &bytes)
{
    // Called with the mutex held. The progress lines share the terminal with the log:
    // they go away for the line and come back under it.
    const bool redraw = progress && shownLines > 0;
    if (redraw)
        EraseProgress();
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
    if (!quiet)
        Write(stdout, text.toLocal8Bit() + '\n');
    WriteFile(text);
}

void Console::Out(const QString &line)
{
    QMutexLocker lock(&mutex);
    if (!json)
        Write(stdout, line.toLocal8Bit() + '\n');
    WriteFile(line);
}

void Console::Json(const QByteArray &line)
{
    QMutexLocker lock(&mutex);
    Write(stdout, line + '\n');
}

void Console::Error(const QString &line)
{
    QMutexLocker lock(&mutex);
    Write(stderr, line.toLocal8Bit() + '\n');
    WriteFile(line);
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
        const QByteArray bytes = line.left(columns - 1).toLocal8Bit() + '\n';
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
