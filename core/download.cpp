#include "download.h"

#include "downloadimage.h"
#include "downloadport.h"
#include "statuslog.h"

#include <QCoreApplication>
#include <QLocale>
#include <QThread>

#include <cmath>

namespace {
const QString CRLF = QStringLiteral("\r\n");
constexpr int LockAttempts = 31;
constexpr int LockPauseMs = 100;
constexpr quint8 LockByte = 0xAA;
constexpr quint8 EndMark = 0xEE;
constexpr quint8 CarriageReturn = 0x0D;
} // namespace

Download::Download(DownloadImage &image, StatusLog &log, DownloadPort &port,
                   DownloadControls &controls, QObject *parent)
    : QObject(parent), image(image), log(log), port(port), controls(controls)
{
    clock.start();
    connect(&port, &DownloadPort::Received, this, &Download::HandleInput);
    connect(&port, &DownloadPort::PortLost, this, [this](const QString &reason) {
        Abort(QStringLiteral("the port was lost (%1)").arg(reason), EndKind::PortLost);
    });
}

double Download::Clock() const
{
    return double(clock.nsecsElapsed()) / 1e9;
}

double Download::TransferSeconds() const
{
    if (transferStart < 0)
        return 0;
    return (endedAt >= 0 ? double(endedAt) / 1e9 : Clock()) - transferStart;
}

DownloadAccount::Phase Download::LivePhase() const
{
    if (outcome == Outcome::None)
        return DownloadAccount::Phase::Idle;
    if (outcome != Outcome::Running)
        return DownloadAccount::Phase::Ended;
    if (state == WAIT_FOR_LOCK || state == LOCKED)
        return DownloadAccount::Phase::LockWait;
    if (state == WAIT_FOR_ACK && image.BlockNum > image.LastBlock)
        return DownloadAccount::Phase::Closing;
    return DownloadAccount::Phase::Transfer;
}

DownloadAccount Download::Account() const
{
    if (endedAt >= 0)
        return ending;
    DownloadAccount a;
    a.phase = LivePhase();
    a.attempt = lockAttempt;
    a.byte = image.ImagePos;
    a.echoed = echoed;
    a.total = image.ImageLength();
    a.block = image.BlockNum;
    const qint64 now = clock.nsecsElapsed();
    if (a.phase == DownloadAccount::Phase::Transfer || a.phase == DownloadAccount::Phase::Closing)
        a.quietSeconds = double(now - lastArrival) / 1e9;
    a.transferSeconds = TransferSeconds();
    if (a.phase != DownloadAccount::Phase::Idle)
        a.totalSeconds = double(now) / 1e9 - StartTime;
    return a;
}

QString Download::NotBuiltLine(const DownloadImage &image)
{
    if (image.BlockTotal() <= 0)
        return QStringLiteral("------ Download cancelled: the image could not be built. "
                              "Nothing was sent.");
    return QStringLiteral("------ Download cancelled: the image holds %1 blocks, "
                          "at least %2 are needed. Nothing was sent.")
        .arg(image.BlockTotal())
        .arg(NamedBlocks);
}

DownloadAccount Download::NotBuilt(const DownloadImage &image)
{
    DownloadAccount a;
    a.phase = DownloadAccount::Phase::Ended;
    a.kind = EndKind::Load;
    a.file = image.Failure.path;
    a.line = image.Failure.line;
    a.logLine = image.Failure.path.isEmpty() ? NotBuiltLine(image) : image.Failure.logLine;
    return a;
}

QString Download::N(qint64 x)
{
    return x < 0 ? QString::number(x) : QLatin1Char(' ') + QString::number(x);
}

QString Download::N(double x)
{
    // Whole digits, then a period and the fractional digits only when there are any.
    QString digits = QString::number(x < 0 ? -x : x, 'f', 9);
    while (digits.endsWith(QLatin1Char('0')))
        digits.chop(1);
    if (digits.endsWith(QLatin1Char('.')))
        digits.chop(1);
    return (x < 0 ? QLatin1Char('-') : QLatin1Char(' ')) + digits;
}

QString Download::H(int x)
{
    return QString::number(x, 16).toUpper();
}

QString Download::ElapsedText(double seconds)
{
    return N(seconds).left(6);
}

QString Download::ProgressText(qint64 echoed, qint64 total, double seconds, bool withRate)
{
    const QLocale numbers(QLocale::English);
    const QString dot = QStringLiteral(" \u00B7 ");
    echoed = qBound<qint64>(0, echoed, total);
    const qint64 percent = total > 0 ? echoed * 100 / total : 0;
    QString text = QStringLiteral("%1 %").arg(percent) + dot
            + QStringLiteral("%1 of %2 bytes").arg(numbers.toString(echoed), numbers.toString(total));
    // No estimate before the rate can be known, nor once everything is through.
    if (echoed <= 0 || seconds <= 0)
        return text;
    const double rate = echoed / seconds;
    if (withRate)
        text += dot + numbers.toString(qint64(rate)) + QStringLiteral(" B/s");
    if (echoed < total)
        text += dot + QStringLiteral("%1 s left").arg(qint64(std::ceil((total - echoed) / rate)));
    return text;
}

// The common start of a download: the log cleared, the controls disabled, the variables
// reset. False when a lock wait is under way, which no click may restart.
bool Download::Begin()
{
    // A click that reaches Program while the lock wait lets events run starts nothing.
    if (inLockWait)
        return false;
    log.ClearLog();
    controls.EnableDownloadControls(false);
    outcome = Outcome::Running;
    lastProgress = -1;
    echoed = 0;
    lockAttempt = 0;
    endedAt = -1;
    ending = DownloadAccount();
    state = WAIT_FOR_LOCK;
    image.BlockNum = 0;
    replies = 0;
    StartTime = Clock();
    transferStart = -1;
    image.ImageEnd = 0;
    image.ImagePos = 0;
    return true;
}

void Download::StartDownload(const QString &AppPath, const QString &FileToProgram,
                             const QString &portText)
{
    if (!Begin())
        return;
    if (!image.AssembleImage(AppPath, FileToProgram, log)) {
        End(CRLF + NotBuiltLine(image), EndKind::Load);
        return;
    }
    LockAndSend(portText);
}

void Download::StartDownload(const DownloadImage &built, const QString &loaderText,
                             const QString &portText)
{
    if (!Begin())
        return;
    image.CopyFrom(built);
    // The loader's lines, as a download that built the image itself shows them.
    log.LogAppend(loaderText);
    if (image.BlockTotal() <= 0) {
        End(CRLF + NotBuiltLine(image), EndKind::Load);
        return;
    }
    LockAndSend(portText);
}

// The rest of a start, once the image is there: its size checked, the port, the lock
// wait and the first byte.
void Download::LockAndSend(const QString &portText)
{
    if (image.BlockTotal() < NamedBlocks) {
        End(CRLF + NotBuiltLine(image), EndKind::Load);
        return;
    }
    // The port the front end shows is the one programmed; its failure line says why.
    if (!portText.isNull() && !OpenPort(portText))
        return;
    if (!port.IsOpen()) {
        End(CRLF + QStringLiteral("------ Download cancelled: no port is open. "
                                  "Choose a port. Nothing was sent."),
            EndKind::Port);
        return;
    }
    ReportProgress();

    log.LogLine(CRLF + QStringLiteral("------ Programming ------"));
    log.LogLine(QStringLiteral("Waiting reply from DSP") + CRLF);

    // The lock wait: the target's boot loader matches the baud rate on the carriage
    // returns and answers 0xAA, which arrives while the waiting events are processed.
    // An abort from there (window closed, port lost) ends the wait at once.
    inLockWait = true;
    qint16 n = 0;
    while (n <= LockAttempts - 1) {
        if (state == LOCKED)
            break;
        port.SendByte(CarriageReturn);
        lockAttempt = n + 1;
        log.LogAppend(QStringLiteral("="));
        QThread::msleep(LockPauseMs);
        QCoreApplication::processEvents();
        if (!Running())
            break;
        n += 1;
    }
    inLockWait = false;
    if (!Running())
        return;

    if (state != LOCKED) {
        End(CRLF + CRLF + QStringLiteral("Baud Did not Match. Exiting..."), EndKind::NoLock);
        return;
    }
    log.LogLine(QStringLiteral("---- Locked at ") + N(qint64(n)) + QStringLiteral("th Char"));
    log.LogLine(CRLF + QStringLiteral("------ Downloading ") + algoNames.value(0));
    state = DOWNLOADING;
    lastArrival = clock.nsecsElapsed();
    transferStart = double(lastArrival) / 1e9;
    port.SendByte(image.ImageBytes[image.ImagePos]);
}

void Download::HandleInput(const QByteArray &InBuff)
{
    // Every arrival shows the board alive: one reading of the steady clock.
    lastArrival = clock.nsecsElapsed();
    // A transfer failure is final: a late reply must not resume the exchange.
    if (InBuff.isEmpty() || outcome == Outcome::TransferFailed)
        return;
    const quint8 c = quint8(InBuff[0]);

    switch (state) {
    case WAIT_FOR_LOCK:
        if (c == LockByte) {
            log.LogLine(QStringLiteral("--0xAA received"));
            state = LOCKED;
        }
        break;

    case DOWNLOADING: {
        const quint8 expected = image.ImageBytes[image.ImagePos];
        if (c != expected) {
            Fail(CRLF + CRLF + QStringLiteral("------ Serial Communications Error at ")
                 + N(qint64(image.ImagePos)) + CRLF + QStringLiteral("Received ") + H(c)
                 + QStringLiteral(" instead of ") + H(expected) + QStringLiteral(" EXITING"),
                 EndKind::WrongEcho, expected, c);
            break;
        }
        // What the target echoed: every byte up to the one at ImagePos.
        echoed = image.ImagePos + 1;
        if (image.ImagePos < image.BlockEnds[image.BlockNum] - 1) {
            image.ImagePos += 1;
            ReportProgress();
            port.SendByte(image.ImageBytes[image.ImagePos]);
        } else {
            log.LogAppend(QStringLiteral("Downloaded!"));
            state = WAIT_FOR_ACK;
            ReportProgress();
            port.SendByte(EndMark);
        }
        break;
    }

    case WAIT_FOR_ACK:
        if (c != 0) {
            Fail(CRLF + QStringLiteral("------ Did Not receive Acknowledge for Algo/Block")
                 + N(qint64(image.BlockNum)) + QStringLiteral(" Exiting"),
                 image.BlockNum > image.LastBlock ? EndKind::Closing : EndKind::RefusedAck, 0, c);
            break;
        }
        image.BlockNum += 1;
        image.ImagePos += 1;
        if (image.BlockNum < NamedBlocks) {
            log.LogLine(CRLF + QStringLiteral("------ Downloading ")
                        + algoNames.value(image.BlockNum));
            state = DOWNLOADING;
            port.SendByte(image.ImageBytes[image.ImagePos]);
        } else if (image.BlockNum > image.LastBlock) {
            replies += 1;
            const QString elapsed = ElapsedText(Clock() - StartTime);
            // The third zero goes out before the end is announced, so that a front end
            // may close the port on it.
            port.SendByte(0x00);
            if (replies >= 3)
                End(CRLF + CRLF + QStringLiteral("------ DSP programmed in ") + elapsed
                        + QStringLiteral(" Seconds ------"),
                    EndKind::Programmed);
        } else {
            log.LogLine(CRLF + QStringLiteral("Programing Block ") + N(qint64(image.BlockNum))
                        + QStringLiteral(" "));
            port.SendByte(CarriageReturn);
            state = WAIT_FOR_MORE_BLOCKS;
        }
        break;

    case WAIT_FOR_MORE_BLOCKS:
        if (c != CarriageReturn) {
            Fail(CRLF + QStringLiteral("------ Failed at WAIT_FOR_MORE_BLOCKS. Ending"),
                 EndKind::Handshake, CarriageReturn, c);
            break;
        }
        replies += 1;
        if (replies == 2) {
            replies = 0;
            state = DOWNLOADING;
            port.SendByte(image.ImageBytes[image.ImagePos]);
        } else {
            port.SendByte(CarriageReturn);
        }
        break;

    default: // LOCKED, or no state at all: nothing
        break;
    }
}

void Download::Fail(const QString &message, EndKind kind, int expected, int received)
{
    // Nothing more is sent, the variables keep their values and the download controls
    // stay disabled.
    log.LogLine(message);
    Close(message, kind);
    ending.expected = expected;
    ending.received = received;
    outcome = Outcome::TransferFailed;
    emit Ended(outcome);
}

void Download::Abort(const QString &reason, EndKind why)
{
    if (!Running())
        return;
    const QString line = QStringLiteral("------ Download stopped: ") + reason
        + QStringLiteral(". Nothing more is sent.");
    log.LogLine(CRLF + line);
    End(QString(), why, line);
}

bool Download::OpenPort(const QString &portText)
{
    // The port's own failure line is the account's: what it adds to the log.
    const qsizetype before = log.Text().size();
    if (port.UsePort(portText))
        return true;
    End(QString(), EndKind::Port, log.Text().mid(before));
    return false;
}

void Download::End(const QString &message, EndKind kind, const QString &logLine)
{
    if (!message.isNull())
        log.LogLine(message);
    Close(logLine.isNull() ? message : logLine, kind);
    state = WAIT_FOR_LOCK;
    switch (kind) {
    case EndKind::Programmed: outcome = Outcome::Programmed; break;
    case EndKind::Load:       outcome = Outcome::NotBuilt; break;
    case EndKind::Port:       outcome = Outcome::NoPort; break;
    case EndKind::NoLock:     outcome = Outcome::NoLock; break;
    case EndKind::PortLost:   outcome = Outcome::PortLost; break;
    default:                  outcome = Outcome::Stopped; break;
    }
    ReportProgress();
    controls.EnableDownloadControls(true);
    emit Ended(outcome);
}

void Download::Close(const QString &message, EndKind kind)
{
    ending = Account();
    endedAt = clock.nsecsElapsed();
    ending.transferSeconds = TransferSeconds();
    ending.totalSeconds = double(endedAt) / 1e9 - StartTime;
    ending.quietSeconds = 0;
    ending.endedIn = ending.phase;
    ending.phase = DownloadAccount::Phase::Ended;
    ending.kind = kind;
    QString line = message;
    while (line.startsWith(CRLF))
        line.remove(0, CRLF.size());
    ending.logLine = line;
    if (kind == EndKind::Load && !image.Failure.path.isEmpty()) {
        ending.file = image.Failure.path;
        ending.line = image.Failure.line;
        ending.logLine = image.Failure.logLine;
    }
}

void Download::ReportProgress()
{
    const int total = image.ImageLength();
    if (total <= 0)
        return;
    // Tell the front end only when the shown share changes, not for every byte.
    const int permille = int(qint64(echoed) * 1000 / total);
    if (permille == lastProgress)
        return;
    lastProgress = permille;
    emit Progress(echoed, total);
}
