#include "download.h"

#include "downloadimage.h"
#include "seriallink.h"
#include "statuslog.h"

#include <QCoreApplication>
#include <QThread>

namespace {
const QString CRLF = QStringLiteral("\r\n");
constexpr int LockAttempts = 31;
constexpr int LockPauseMs = 100;
constexpr quint8 LockByte = 0xAA;
constexpr quint8 EndMark = 0xEE;
constexpr quint8 CarriageReturn = 0x0D;
constexpr int NamedBlocks = 5;
} // namespace

Download::Download(DownloadImage &image, StatusLog &log, SerialLink &link,
                   DownloadControls &controls, QObject *parent)
    : QObject(parent), image(image), log(log), link(link), controls(controls)
{
    clock.start();
    connect(&link, &SerialLink::Received, this, &Download::HandleInput);
    connect(&link, &SerialLink::PortLost, this, [this](const QString &reason) {
        if (Running())
            Abort(QStringLiteral("the port was lost (%1)").arg(reason));
    });
}

double Download::Clock() const
{
    return double(clock.nsecsElapsed()) / 1e9;
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

void Download::StartDownload(const QString &AppPath, const QString &FileToProgram)
{
    log.ClearLog();
    controls.EnableDownloadControls(false);
    running = true;
    stopped = false;
    aborted = false;
    lastProgress = -1;
    DownloadState = WAIT_FOR_LOCK;
    image.BlockNum = 0;
    ReplyCount = 0;
    StartTime = Clock();
    image.ImageEnd = 0;
    image.ImagePos = 0;
    emit Progress(0, 1);

    if (!image.AssembleImage(AppPath, FileToProgram, log)) {
        End(CRLF + QStringLiteral("------ Download cancelled: the image could not be built. "
                                  "Nothing was sent."));
        return;
    }
    if (image.BlockTotal() < NamedBlocks) {
        End(CRLF + QStringLiteral("------ Download cancelled: the image holds %1 blocks, "
                                  "at least 5 are needed. Nothing was sent.")
                       .arg(image.BlockTotal()));
        return;
    }
    if (!link.IsOpen()) {
        End(CRLF + QStringLiteral("------ Download cancelled: no port is open. "
                                  "Choose a port. Nothing was sent."));
        return;
    }
    ReportProgress();

    log.LogLine(CRLF + QStringLiteral("------ Programming ------"));
    log.LogLine(QStringLiteral("Waiting reply from DSP") + CRLF);

    // The lock wait: the target's boot loader matches the baud rate on the carriage
    // returns and answers 0xAA, which arrives while the waiting events are processed.
    inLockWait = true;
    qint16 n = 0;
    while (n <= LockAttempts - 1) {
        if (DownloadState == LOCKED)
            break;
        link.SendByte(CarriageReturn);
        log.LogAppend(QStringLiteral("="));
        QThread::msleep(LockPauseMs);
        QCoreApplication::processEvents();
        if (aborted)
            break;
        n += 1;
    }
    inLockWait = false;
    if (aborted)
        return;

    if (DownloadState != LOCKED) {
        End(CRLF + CRLF + QStringLiteral("Baud Did not Match. Exiting..."));
        return;
    }
    log.LogLine(QStringLiteral("---- Locked at ") + N(qint64(n)) + QStringLiteral("th Char"));
    log.LogLine(CRLF + QStringLiteral("------ Downloading ") + AlgoNames.value(0));
    DownloadState = DOWNLOADING;
    link.SendByte(image.ImageBytes[image.ImagePos]);
}

void Download::HandleInput(const QByteArray &InBuff)
{
    if (InBuff.isEmpty())
        return;
    const quint8 c = quint8(InBuff[0]);

    switch (DownloadState) {
    case WAIT_FOR_LOCK:
        if (c == LockByte) {
            log.LogLine(QStringLiteral("--0xAA received"));
            DownloadState = LOCKED;
        }
        break;

    case DOWNLOADING: {
        const quint8 expected = image.ImageBytes[image.ImagePos];
        if (c != expected) {
            log.LogLine(CRLF + CRLF + QStringLiteral("------ Serial Communications Error at ")
                        + N(qint64(image.ImagePos)) + CRLF + QStringLiteral("Received ") + H(c)
                        + QStringLiteral(" instead of ") + H(expected)
                        + QStringLiteral(" EXITING"));
            stopped = true;
        } else if (image.ImagePos < image.BlockEnds[image.BlockNum] - 1) {
            image.ImagePos += 1;
            ReportProgress();
            Send(image.ImageBytes[image.ImagePos]);
        } else {
            log.LogAppend(QStringLiteral("Downloaded!"));
            DownloadState = WAIT_FOR_ACK;
            ReportProgress();
            Send(EndMark);
        }
        break;
    }

    case WAIT_FOR_ACK:
        if (c != 0) {
            log.LogLine(CRLF + QStringLiteral("------ Did Not receive Acknowledge for Algo/Block")
                        + N(qint64(image.BlockNum)) + QStringLiteral(" Exiting"));
            stopped = true;
            break;
        }
        image.BlockNum += 1;
        image.ImagePos += 1;
        if (image.BlockNum < NamedBlocks) {
            log.LogLine(CRLF + QStringLiteral("------ Downloading ")
                        + AlgoNames.value(image.BlockNum));
            DownloadState = DOWNLOADING;
            Send(image.ImageBytes[image.ImagePos]);
        } else if (image.BlockNum > image.LastBlock) {
            ReplyCount += 1;
            if (ReplyCount >= 3) {
                log.LogLine(CRLF + CRLF + QStringLiteral("------ DSP programmed in ")
                            + ElapsedText(Clock() - StartTime)
                            + QStringLiteral(" Seconds ------"));
                DownloadState = WAIT_FOR_LOCK;
                running = false;
                ReportProgress();
                controls.EnableDownloadControls(true);
            }
            Send(0x00);
        } else {
            log.LogLine(CRLF + QStringLiteral("Programing Block ") + N(qint64(image.BlockNum))
                        + QStringLiteral(" "));
            Send(CarriageReturn);
            DownloadState = WAIT_FOR_MORE_BLOCKS;
        }
        break;

    case WAIT_FOR_MORE_BLOCKS:
        if (c != CarriageReturn) {
            log.LogLine(CRLF + QStringLiteral("------ Failed at WAIT_FOR_MORE_BLOCKS. Ending"));
            stopped = true;
            break;
        }
        ReplyCount += 1;
        if (ReplyCount == 2) {
            ReplyCount = 0;
            DownloadState = DOWNLOADING;
            Send(image.ImageBytes[image.ImagePos]);
        } else {
            Send(CarriageReturn);
        }
        break;

    default: // LOCKED, or no state at all: nothing
        break;
    }
}

void Download::Send(quint8 value)
{
    // A byte that moves the exchange on (a late reply after a failure) resumes it.
    stopped = false;
    link.SendByte(value);
}

void Download::Abort(const QString &reason)
{
    if (!Running())
        return;
    aborted = inLockWait;
    running = false;
    DownloadState = WAIT_FOR_LOCK;
    log.LogLine(CRLF + QStringLiteral("------ Download stopped: ") + reason
                + QStringLiteral(". Nothing more is sent."));
    controls.EnableDownloadControls(true);
}

void Download::End(const QString &message)
{
    log.LogLine(message);
    DownloadState = WAIT_FOR_LOCK;
    running = false;
    controls.EnableDownloadControls(true);
}

void Download::ReportProgress()
{
    const int total = image.ImageLength();
    if (total <= 0)
        return;
    int echoed = image.ImagePos;
    if (DownloadState == WAIT_FOR_ACK || DownloadState == WAIT_FOR_MORE_BLOCKS)
        echoed = image.ImagePos + 1;
    if (!running && DownloadState == WAIT_FOR_LOCK && ReplyCount >= 3)
        echoed = total;
    // Tell the window only when the shown share changes, not for every byte.
    const int permille = int(qint64(echoed) * 1000 / total);
    if (permille == lastProgress)
        return;
    lastProgress = permille;
    emit Progress(echoed, total);
}
