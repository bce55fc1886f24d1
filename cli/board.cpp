#include "board.h"

#include <QMetaObject>

namespace {

// How often a progress line checks for a silent board, and how long the board may be
// silent before the line says so instead of a time left.
constexpr int SilenceCheckMs = 1000;
constexpr double SilentSeconds = 3;

} // namespace

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
    // Restarting the timer at every byte would cost a timer registration per byte on the
    // lock-step path; the engine notes the time of every arrival instead, and the timer,
    // when it fires, waits again for what is left.
    connect(&stall, &QTimer::timeout, this, &Board::OnStall);
    connect(&download, &Download::Ended, this, &Board::OnEnded);
    if (console.ShowsProgress()) {
        connect(&download, &Download::Progress, this, &Board::ShowProgress);
        silence.setInterval(SilenceCheckMs);
        connect(&silence, &QTimer::timeout, this, &Board::CheckSilence);
        console.SetProgress(index, prefix + QStringLiteral("waiting"));
    }
}

bool Board::Open()
{
    started = QDateTime::currentDateTimeUtc();
    sinceStarted.start();
    if (download.OpenPort(result.portText))
        return true;
    Finish();
    return false;
}

void Board::Close(bool interrupted)
{
    if (account.kind == EndKind::NotStarted && interrupted) {
        const QString line = QStringLiteral("------ Download stopped: interrupted. Nothing was sent.");
        log.LogLine(QStringLiteral("\r\n") + line);
        account.phase = DownloadAccount::Phase::Ended;
        account.kind = EndKind::Interrupted;
        account.logLine = line;
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
    sinceStarted.start();
    download.StartDownload(built, loaderText, result.portText);
    // StartDownload returns once the first image byte is out, or the download is over.
    if (download.Running() && stallMs > 0)
        stall.start(stallMs);
    if (download.Running() && console.ShowsProgress())
        silence.start();
}

void Board::Interrupt()
{
    download.Abort(QStringLiteral("interrupted"), EndKind::Interrupted);
}

void Board::OnStall()
{
    if (!download.Running())
        return;
    const qint64 quiet = qint64(download.Account().quietSeconds * 1000);
    if (quiet < stallMs) {
        stall.start(int(stallMs - quiet));
        return;
    }
    download.Abort(QStringLiteral("no reply for %1 s").arg(stallMs / 1000.0),
                   EndKind::Stall);
}

void Board::OnEnded()
{
    stall.stop();
    silence.stop();
    account = download.Account();
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
    silence.stop();
    link.ClosePort();
    sink.Flush();

    result.device = link.DeviceName().isEmpty() ? SerialLink::DeviceForPortText(result.portText)
                                                : link.DeviceName();
    result.account = account;
    result.account.total = built.ImageLength();
    result.started = started;
    // The end is stamped from the start and the steady clock: a wall clock stepped back
    // during the run (a time server) cannot put it before the start.
    result.seconds = sinceStarted.isValid() ? double(sinceStarted.nsecsElapsed()) / 1e9 : 0;
    result.ended = started.isValid() ? started.addMSecs(qint64(result.seconds * 1000)) : QDateTime();

    console.SetProgress(index, prefix + QLatin1String(result.Ending().summary), true);
    emit Finished();
}

void Board::ShowProgress(int echoedNow, int totalNow)
{
    if (totalNow <= 0)
        return;
    showingSilence = false;
    console.SetProgress(index, prefix + Download::ProgressText(echoedNow, totalNow,
                                                               download.TransferSeconds(), true));
}

void Board::CheckSilence()
{
    const DownloadAccount now = download.Account();
    if (now.quietSeconds >= SilentSeconds) {
        showingSilence = true;
        console.SetProgress(index, prefix + SilentBarText(now));
    } else if (showingSilence) {
        showingSilence = false;
        ShowProgress(int(now.echoed), int(now.total));
    }
}
