#pragma once

#include "downloadaccount.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

class DownloadPort;
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

// What a front end gives a download: its download controls, disabled while a download
// runs and enabled again when it ends.
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
    // How the last download ended.
    enum class Outcome {
        None,            // no download yet
        Running,         // under way
        Programmed,      // the closing exchange is done
        NotBuilt,        // the image could not be built; nothing was sent
        NoPort,          // the port could not be opened; nothing was sent
        NoLock,          // no lock byte within the lock attempts
        TransferFailed,  // wrong echo, refused acknowledgement or failed handshake
        PortLost,        // the line went away
        Stopped,         // ended from outside (window closed, stall, interruption)
    };

    // Blocks 0 to 4 (the kernel, the three algorithms and the first block of the code)
    // follow each other without a handshake, and an image needs at least that many.
    static constexpr int NamedBlocks = 5;

    Download(DownloadImage &image, StatusLog &log, DownloadPort &port, DownloadControls &controls,
             QObject *parent = nullptr);

    // The click action of Program. Returns once the first image byte has been sent or
    // the download has ended (lock failure, image not loadable, no port). When portText
    // is given, its port is opened first unless it is the open one. Does nothing while
    // a lock wait is under way.
    void StartDownload(const QString &AppPath, const QString &FileToProgram,
                       const QString &portText = QString());
    // The same with an image built before by AssembleImage, whose log lines were
    // loaderText: a front end that programs several boards with one image reads and
    // checks its files once, before any port is opened. The image is copied.
    void StartDownload(const DownloadImage &built, const QString &loaderText,
                       const QString &portText = QString());
    // Everything received at one arrival; only the first byte counts.
    void HandleInput(const QByteArray &InBuff);
    // Ends a running download at once: nothing more is sent, the reason is logged and
    // the download controls are enabled again. why is PortLost, Stall or Interrupted.
    void Abort(const QString &reason, EndKind why = EndKind::Interrupted);
    // Opens the port portText names, as a download would, before any download: a failure
    // ends this download's account (Port) with the port's log line.
    bool OpenPort(const QString &portText);

    // Where the download stands now and, once it has ended, how.
    DownloadAccount Account() const;
    // The account of a download whose image could not be built outside the engine (see
    // the StartDownload that takes a built image), and the log line that says so.
    static DownloadAccount NotBuilt(const DownloadImage &image);
    static QString NotBuiltLine(const DownloadImage &image);

    // True from the press of Program until the download ends in any way.
    bool Running() const { return outcome == Outcome::Running; }
    // True while StartDownload waits for the lock, when no new download can start.
    bool InLockWait() const { return inLockWait; }
    Outcome Result() const { return outcome; }

    // The names of blocks 0 to 4 in the "------ Downloading " lines.
    const QStringList &AlgoNames() const { return algoNames; }
    // The name of block 4, the first block of the code file.
    void SetCodeName(const QString &name) { algoNames[4] = name; }

    qint32 DownloadState() const { return state; }
    // Image bytes the target has echoed in this download: never more than the image
    // holds, and kept as it was when the download ended, however it ended.
    int EchoedBytes() const { return echoed; }
    qint32 ReplyCount() const { return replies; }

    // Steady clock in seconds.
    double Clock() const;
    // Seconds since the first image byte was sent (0 before), up to the end.
    double TransferSeconds() const;

    // Number formats of the log: N(x) decimal with a blank in the sign position,
    // H(x) upper-case hex without leading zeros, and the elapsed time cut to six chars.
    static QString N(qint64 x);
    static QString N(double x);
    static QString H(int x);
    static QString ElapsedText(double seconds);
    // "43 % · 28,611 of 66,508 bytes · 21 s left", the time left from the rate so far;
    // with withRate the rate too ("· 1,645 B/s ·").
    static QString ProgressText(qint64 echoed, qint64 total, double seconds,
                                bool withRate = false);

signals:
    // Image bytes echoed so far, of the image's size.
    void Progress(int echoed, int total);
    // The download ended; Result() says how.
    void Ended(Download::Outcome outcome);

private:
    bool Begin();
    void LockAndSend(const QString &portText);
    void Fail(const QString &message, EndKind kind, int expected = -1, int received = -1);
    void End(const QString &message, EndKind kind, const QString &logLine = QString());
    // Notes how the download ended in the account.
    void Close(const QString &message, EndKind kind);
    DownloadAccount::Phase LivePhase() const;
    void ReportProgress();

    DownloadImage &image;
    StatusLog &log;
    DownloadPort &port;
    DownloadControls &controls;
    QStringList algoNames{"Kernel ", "Clear ", "Erase ", "Prog ", "My Code "};
    qint32 state = WAIT_FOR_LOCK;
    qint32 replies = 0;
    double StartTime = 0;
    double transferStart = -1;
    QElapsedTimer clock;
    Outcome outcome = Outcome::None;
    bool inLockWait = false;
    int lastProgress = -1;
    int echoed = 0;
    int lockAttempt = 0;
    // Steady clock readings in nanoseconds: the last arrival, and the end of the download
    // (-1 while it runs).
    qint64 lastArrival = 0;
    qint64 endedAt = -1;
    DownloadAccount ending;
};
