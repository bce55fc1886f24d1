#include "board.h"

#include <QMetaObject>

QString WithoutDashes(const QString &line)
{
    qsizetype start = 0;
    while (start < line.size() && (line[start] == QLatin1Char('-') || line[start] == QLatin1Char(' ')))
        ++start;
    return line.mid(start);
}

BoardEnding EndingOf(Download::Outcome outcome, bool stalled)
{
    using O = Download::Outcome;
    switch (outcome) {
    case O::Programmed:     return {0, "programmed"};
    case O::NotBuilt:       return {2, "the image cannot be built"};
    case O::NoPort:         return {3, "the port cannot be opened"};
    case O::NoLock:         return {4, "no lock"};
    case O::TransferFailed: return {5, "transfer failed"};
    case O::PortLost:       return {6, "port lost"};
    case O::Stopped:        return stalled ? BoardEnding{7, "stall timeout"}
                                           : BoardEnding{130, "interrupted"};
    case O::None:           return {-1, "not started"};
    case O::Running:        break;
    }
    // A board is read only after it has finished; a running one would be a fault here.
    return {1, "still running"};
}

Board::Board(int index, const QString &prefix, double stallSeconds, Console &console,
             const DownloadImage &image, const QString &loaderText, BoardResult &result)
    : index(index)
    , prefix(prefix)
    , stallMs(int(stallSeconds * 1000 + 0.5))
    , console(console)
    , built(image)
    , loaderText(loaderText)
    , result(result)
    , sink(console, prefix)
{
    log.SetSink(&sink);
    stall.setSingleShot(true);
    // A coarse timer may fire up to 5 % early; a stall is given up no sooner than asked.
    stall.setTimerType(Qt::PreciseTimer);
    connect(&stall, &QTimer::timeout, this, &Board::OnStall);
    // Every arrival shows the board is alive. Restarting the timer at every byte would
    // cost a timer registration per byte on the lock-step path; the arrival time is noted
    // instead, and the timer, when it fires, waits again for what is left.
    connect(&link, &DownloadPort::Received, this, [this] { lastArrival.start(); });
    connect(&download, &Download::Ended, this, &Board::OnEnded);
    if (console.ShowsProgress()) {
        connect(&download, &Download::Progress, this, &Board::ShowProgress);
        console.SetProgress(index, prefix + QStringLiteral("waiting"));
    }
}

bool Board::Open()
{
    started = QDateTime::currentDateTimeUtc();
    if (link.OpenPort(result.portText))
        return true;
    outcome = Download::Outcome::NoPort;
    Finish();
    return false;
}

void Board::Close(bool interrupted)
{
    if (outcome == Download::Outcome::None && interrupted) {
        outcome = Download::Outcome::Stopped;
        log.LogLine(QStringLiteral("\r\n------ Download stopped: interrupted. Nothing was sent."));
    }
    Finish();
}

void Board::Start(const std::atomic<bool> &stop)
{
    if (stop) {
        Close(true);
        return;
    }
    started = QDateTime::currentDateTimeUtc();
    download.StartDownload(built, loaderText, result.portText);
    // StartDownload returns once the first image byte is out, or the download is over.
    if (download.Running() && stallMs > 0) {
        lastArrival.start();
        stall.start(stallMs);
    }
}

void Board::Interrupt()
{
    download.Abort(QStringLiteral("interrupted"), EndKind::Interrupted);
}

void Board::OnStall()
{
    if (!download.Running())
        return;
    const qint64 quiet = lastArrival.elapsed();
    if (quiet < stallMs) {
        stall.start(int(stallMs - quiet));
        return;
    }
    stalled = true;
    download.Abort(QStringLiteral("no reply for %1 s").arg(stallMs / 1000.0),
                   EndKind::Stall);
}

void Board::OnEnded()
{
    stall.stop();
    outcome = download.Result();
    // Ended can come from inside StartDownload or from the serial port's own
    // notification: the port is closed from the event loop, after they have returned.
    QMetaObject::invokeMethod(this, &Board::Finish, Qt::QueuedConnection);
}

void Board::Finish()
{
    if (finished)
        return;
    finished = true;
    stall.stop();
    link.ClosePort();
    sink.Flush();

    // The line that says why: the log's last line (the loader's, should the image have
    // failed here after all).
    QString reason;
    const QStringList lines = log.Text().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (qsizetype i = lines.size() - 1; i >= 0 && reason.isEmpty(); --i) {
        if (outcome != Download::Outcome::NotBuilt || lines[i].startsWith(QStringLiteral("---- Cannot load ")))
            reason = lines[i].trimmed();
    }
    if (reason.isEmpty() && !lines.isEmpty())
        reason = lines.last().trimmed();

    result.device = link.DeviceName().isEmpty() ? SerialLink::DeviceForPortText(result.portText)
                                                : link.DeviceName();
    result.outcome = outcome;
    result.stalled = stalled;
    result.total = built.ImageLength();
    result.echoed = download.EchoedBytes();
    result.seconds = download.TransferSeconds();
    result.reason = WithoutDashes(reason);
    result.started = started;
    result.ended = QDateTime::currentDateTimeUtc();

    console.SetProgress(index, prefix + QString::fromLatin1(result.Ending().what));
    emit Finished();
}

void Board::ShowProgress(int echoedNow, int totalNow)
{
    // The first report of a download comes before its image is in place.
    if (totalNow <= 1)
        return;
    console.SetProgress(index, prefix + Download::ProgressText(echoedNow, totalNow,
                                                               download.TransferSeconds(), true));
}
