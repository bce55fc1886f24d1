#include "console.h"

#include "terminal.h"

#include <QDateTime>
#include <QMutexLocker>

#include <algorithm>

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

namespace {

// Code points that take two cells: the East Asian wide and fullwidth ranges.
bool IsWide(char32_t c)
{
    static const char32_t wide[][2] = {
        {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
        {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
        {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
        {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
        {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
        {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
        {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
        {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
        {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
        {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
        {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
        {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4},
        {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF},
        {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F251}, {0x1F300, 0x1F320},
        {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C}, {0x1F37E, 0x1F393}, {0x1F3A0, 0x1F3CA},
        {0x1F3CF, 0x1F3D3}, {0x1F3E0, 0x1F3F0}, {0x1F3F4, 0x1F3F4}, {0x1F3F8, 0x1F43E},
        {0x1F440, 0x1F440}, {0x1F442, 0x1F4FC}, {0x1F4FF, 0x1F53D}, {0x1F54B, 0x1F54E},
        {0x1F550, 0x1F567}, {0x1F57A, 0x1F57A}, {0x1F595, 0x1F596}, {0x1F5A4, 0x1F5A4},
        {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5}, {0x1F6CC, 0x1F6CC}, {0x1F6D0, 0x1F6D2},
        {0x1F6D5, 0x1F6D7}, {0x1F6EB, 0x1F6EC}, {0x1F6F4, 0x1F6FC}, {0x1F7E0, 0x1F7EB},
        {0x1F90C, 0x1F93A}, {0x1F93C, 0x1F945}, {0x1F947, 0x1F9FF}, {0x1FA70, 0x1FAFF},
        {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
    };
    for (const auto &range : wide) {
        if (c < range[0])
            return false;
        if (c <= range[1])
            return true;
    }
    return false;
}

int CellsOf(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_Enclosing:
    case QChar::Other_Format:
        return 0;
    default:
        return IsWide(c) ? 2 : 1;
    }
}

// The longest start of text that fits in cells.
QString FitCells(const QString &text, int cells)
{
    int used = 0;
    qsizetype end = 0;
    while (end < text.size()) {
        const bool pair = text[end].isHighSurrogate() && end + 1 < text.size() && text[end + 1].isLowSurrogate();
        const char32_t c = pair ? QChar::surrogateToUcs4(text[end], text[end + 1]) : text[end].unicode();
        used += CellsOf(c);
        if (used > cells)
            break;
        end += pair ? 2 : 1;
    }
    return text.left(end);
}

} // namespace

int DisplayCells(const QString &text)
{
    int cells = 0;
    for (const char32_t c : text.toUcs4())
        cells += CellsOf(c);
    return cells;
}

Console::Console(bool quiet, bool json, bool progress, int boards)
    : quiet(quiet || json), json(json), progress(progress && PrepareTerminal())
{
    for (int i = 0; i < boards; ++i) {
        progressLines << QString();
        progressEnded << false;
    }
}

Console::~Console()
{
    if (logFile >= 0)
        CloseRecordFile(logFile);
}

bool Console::OpenLogFile(const QString &path, QString *reason)
{
    logFileName = path;
    logFile = OpenRecordFile(path, &logFileEndsOpen, reason);
    return logFile >= 0;
}

void Console::FileLine(const QString &line)
{
    QMutexLocker lock(&mutex);
    WriteLogFile(line);
}

int Console::RecordFailures()
{
    QMutexLocker lock(&mutex);
    return logFileFailures + outFailures;
}

void Console::WriteLogFile(const QString &line)
{
    // Called with the mutex held, so the stamps follow each other in the file.
    if (logFile < 0)
        return;
    // A line that an earlier run left without its end (a full disk, a kill) is ended
    // first, so that this one begins on a line of its own.
    const QByteArray bytes = (logFileEndsOpen ? QByteArray("\n") : QByteArray())
                             + (Stamp(QDateTime::currentDateTimeUtc()) + QLatin1Char(' ') + Escaped(line)).toUtf8()
                             + '\n';
    const QString reason = WriteWhole(logFile, bytes);
    if (reason.isEmpty()) {
        logFileEndsOpen = false;
        return;
    }
    if (logFileFailures++ == 0) {
        const QByteArray error = Escaped(QStringLiteral("orvant-flash: cannot write the log file %1: %2")
                                             .arg(logFileName, reason))
                                     .toLocal8Bit() + '\n';
        std::fwrite(error.constData(), 1, size_t(error.size()), stderr);
        std::fflush(stderr);
    }
}

void Console::WriteOut(const QByteArray &bytes)
{
    // Called with the mutex held.
    bool readerGone = false;
    const QString reason = WriteWhole(StandardOutput(), bytes, &readerGone);
    // A reader that went away (| head) took what it wanted; only the JSON is a record.
    if (reason.isEmpty() || (readerGone && !json))
        return;
    if (outFailures++ == 0)
        Write(stderr, QStringLiteral("orvant-flash: cannot write the standard output: ") + reason);
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
    if (stream == stdout) {
        WriteOut(bytes);
    } else {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
        std::fflush(stream);
    }
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

void Console::SetProgress(int board, const QString &text, bool ended)
{
    if (!progress)
        return;
    QMutexLocker lock(&mutex);
    progressLines[board] = text;
    progressEnded[board] = ended;
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
    // Lines that scroll off the top, or wrap, can no longer be erased: at most one line
    // less than the terminal has rows, each narrower than it. Boards beyond that are
    // told on one line, those still running shown before those that ended.
    const int columns = TerminalColumns();
    const int room = std::max(1, TerminalRows() - 1);
    const qsizetype count = progressLines.size();
    QList<bool> shown(count, count <= room);
    if (count > room) {
        int left = room - 1;
        for (int pass = 0; pass < 2; ++pass) {
            for (qsizetype i = 0; i < count && left > 0; ++i) {
                if (progressEnded[i] == (pass == 1)) {
                    shown[i] = true;
                    --left;
                }
            }
        }
    }
    QStringList lines;
    int running = 0;
    int ended = 0;
    for (qsizetype i = 0; i < count; ++i) {
        if (shown[i])
            lines << progressLines[i];
        else
            ++(progressEnded[i] ? ended : running);
    }
    if (running + ended > 0)
        lines << QStringLiteral("and %1 more boards: %2 running, %3 ended").arg(running + ended).arg(running).arg(ended);
    QByteArray bytes;
    for (const QString &line : std::as_const(lines))
        bytes += FitCells(Escaped(line), columns - 1).toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    shownLines = int(lines.size());
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
