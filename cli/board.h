#pragma once

#include "console.h"
#include "download.h"
#include "downloadimage.h"
#include "record.h"
#include "seriallink.h"
#include "statuslog.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <memory>

// How a board's run ended, as the summary and the exit status tell it.
struct BoardEnding
{
    int status;        // exit status; 0 programmed, -1 not started through no fault of its own
    const char *what;  // the words of the summary line
};

// The exit status and summary words of every way a board can end. Stopped is a stall
// when the stall timer stopped it, an interruption otherwise; None is a board that was
// never started because another port could not be opened.
BoardEnding EndingOf(Download::Outcome outcome, bool stalled);

// A log line without the dashes and blanks in front, for an error message.
QString WithoutDashes(const QString &line);

// One board: its status log, image, serial link and download, the same engine as a
// window's, and a stall timer. It is moved into a thread of its own, so that its lock
// wait (which sleeps and runs that thread's events) and its lock-step exchange never
// hold up another board. Open, Close, Start and Interrupt run in that thread (invoked
// from the main thread); Finished is emitted there once the board is done, after which
// the main thread reads the results.
class Board : public QObject, private DownloadControls
{
    Q_OBJECT
public:
    // prefix goes before each of its log lines; stallSeconds 0 waits for ever.
    Board(int index, const QString &portText, const QString &prefix, double stallSeconds,
          Console &console);

    // Opens the port; a failure is logged and ends the board (NoPort).
    bool Open();
    // Closes the port without a download (another port could not be opened, or the
    // run was interrupted before it started).
    void Close(bool interrupted);
    // Runs the download: the image from the support folder and the code file, the lock
    // wait, the first byte; the rest runs from the thread's events. Starts nothing once
    // stop is set.
    void Start(const QString &supportDir, const QString &codeFile, const std::atomic<bool> &stop);
    // Ends the download at once (Ctrl-C, SIGTERM): nothing more is sent.
    void Interrupt();

    // Results, for the main thread once Finished has come.
    const QString &PortText() const { return portText; }
    BoardEnding Ending() const { return EndingOf(outcome, stalled); }
    qint64 Echoed() const { return echoed; }
    qint64 Total() const { return total; }
    double Seconds() const { return seconds; }
    // The log line that tells why the board failed.
    const QString &Reason() const { return reason; }
    // Its ending, counts and times, into its record.
    void FillRecord(BoardRecord &record) const;

signals:
    void Finished();

private:
    void EnableDownloadControls(bool) override {}
    void OnEnded();
    void OnStall();
    void Finish();
    void ShowProgress(int echoedNow, int totalNow);

    const int index;
    const QString portText;
    const QString prefix;
    const int stallMs;
    Console &console;
    LineSink sink;
    StatusLog log;
    std::unique_ptr<DownloadImage> image = std::make_unique<DownloadImage>();
    SerialLink link{log, this};
    Download download{*image, log, link, *this, this};
    // Fires stallMs after the last arrival during the transfer.
    QTimer stall{this};
    QElapsedTimer lastArrival;

    Download::Outcome outcome = Download::Outcome::None;
    bool stalled = false;
    bool finished = false;
    qint64 echoed = 0;
    qint64 total = 0;
    double seconds = 0;
    QString reason;
    QDateTime started;
    QDateTime ended;
};
