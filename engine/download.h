#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

class SerialLink;
class StatusLog;
struct DownloadImage;

// States of a download.
enum : qint32 {
    WAIT_FOR_LOCK = 0,
    LOCKED = 1,
    DOWNLOADING = 2,
    WAIT_FOR_ACK = 3,
    WAIT_FOR_MORE_BLOCKS = 4,
};

// What a window provides to a download: enabling and disabling its download controls.
class DownloadControls
{
public:
    virtual ~DownloadControls() = default;
    virtual void EnableDownloadControls(bool enabled) = 0;
};

// One download at a time: builds the image, locks onto the target's boot loader and
// streams the image with echo checks, end marks, acknowledgements and handshakes,
// reporting every step in the status log.
class Download : public QObject
{
    Q_OBJECT
public:
    Download(DownloadImage &image, StatusLog &log, SerialLink &link, DownloadControls &controls,
             QObject *parent = nullptr);

    // The names of blocks 0 to 4 in the "------ Downloading " lines.
    QStringList AlgoNames{"Kernel ", "Clear ", "Erase ", "Prog ", "My Code "};

    qint32 DownloadState = WAIT_FOR_LOCK;
    qint32 ReplyCount = 0;
    double StartTime = 0;

    // The click action of Program. Returns once the first image byte has been sent or
    // the download has ended (lock failure, image not loadable, no port).
    void StartDownload(const QString &AppPath, const QString &FileToProgram);
    // Everything received at one arrival; only the first byte counts.
    void HandleInput(const QByteArray &InBuff);
    // Ends a running download at once (window closing, port lost): nothing more is
    // sent, the reason is logged and the download controls are enabled again.
    void Abort(const QString &reason);

    // True from the press of Program until completion, lock failure, abort or a
    // transfer failure (after which the controls stay disabled all the same).
    bool Running() const { return running && !stopped; }

    // Steady clock in seconds.
    double Clock() const;

    // Number formats of the log: N(x) decimal with a blank in the sign position,
    // H(x) upper-case hex without leading zeros, and the elapsed time cut to six chars.
    static QString N(qint64 x);
    static QString N(double x);
    static QString H(int x);
    static QString ElapsedText(double seconds);

signals:
    // Image bytes echoed so far, of the image's size.
    void Progress(int echoed, int total);

private:
    void End(const QString &message);
    void Send(quint8 value);
    void ReportProgress();

    DownloadImage &image;
    StatusLog &log;
    SerialLink &link;
    DownloadControls &controls;
    QElapsedTimer clock;
    bool running = false;
    bool stopped = false;
    bool inLockWait = false;
    bool aborted = false;
    int lastProgress = -1;
};
