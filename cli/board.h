#pragma once

#include "console.h"
#include "download.h"
#include "downloadimage.h"
#include "seriallink.h"
#include "statuslog.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonValue>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <memory>

// What a board's run came to: the summary line, the exit status and the record are made
// from it. The board's thread writes it when the board finishes (before Finished); the
// main thread reads it after that.
struct BoardResult
{
    QString portText;  // the port as given
    QString device;    // the device it names (links followed)
    // How its download went, as the engine tells it; NotStarted for a board never started
    // because another port could not be opened. total is the image's size in any case.
    DownloadAccount account;
    // Why it was never started when that was not another port (the system refused its
    // thread); empty otherwise.
    QString notStartedReason;
    QString label;       // its serial number or fixture slot; empty when none
    QJsonValue adapter;  // what the system reports of its adapter (AdapterOf), or null
    QDateTime started;   // UTC: when its download started (its port opened, if it never did)
    double seconds = 0;  // from started to its end, by the steady clock
    QDateTime ended;     // UTC: started and seconds later, whatever the wall clock did

    EndWords Ending() const { return WordsOf(account.kind); }
};

// One board: its status log, serial link and download, the same engine as a window's,
// and a stall timer. It downloads the image that main built once, before any port was
// opened. It is moved into a thread of its own, so that its lock wait (which sleeps and
// runs that thread's events) and its lock-step exchange never hold up another board.
// Open, Close, Start and Interrupt run in that thread (invoked from the main thread);
// Finished is emitted there once the board is done and its result written. The board is
// destroyed in that thread too, before the thread ends.
class Board : public QObject, private DownloadControls
{
    Q_OBJECT
public:
    // prefix goes before each of its log lines; stallSeconds 0 waits for ever. image and
    // loaderText (the log lines of its building) are read only, and must outlive the
    // board; result is written once the board is done.
    Board(int index, const QString &prefix, double stallSeconds, Console &console,
          const DownloadImage &image, const QString &loaderText, BoardResult &result);

    // Opens the port; a failure is logged and ends the board (NoPort).
    bool Open();
    // Closes the port without a download (another port could not be opened, or the
    // run was interrupted before it started).
    void Close(bool interrupted);
    // Runs the download: the lock wait, the first byte; the rest runs from the thread's
    // events. Starts nothing once stop is set.
    void Start(const std::atomic<bool> &stop);
    // Ends the download at once (Ctrl-C, SIGTERM, SIGHUP): nothing more is sent.
    void Interrupt();

signals:
    void Finished();

private:
    void EnableDownloadControls(bool) override {}
    void OnEnded();
    void OnStall();
    void Finish();
    void ShowProgress(int echoedNow, int totalNow);
    // Every second of a download with a progress line: tells of a silent board, and
    // goes back to the progress once it answers again.
    void CheckSilence();

    const int index;
    const QString prefix;
    const int stallMs;
    Console &console;
    const DownloadImage &built;
    const QString loaderText;
    BoardResult &result;
    LineSink sink;
    StatusLog log;
    std::unique_ptr<DownloadImage> image = std::make_unique<DownloadImage>();
    SerialLink link{log, this};
    Download download{*image, log, link, *this, this};
    // Fires stallMs after the last arrival during the transfer.
    QTimer stall{this};
    QTimer silence{this};
    bool showingSilence = false;

    DownloadAccount account;
    bool finished = false;
    QDateTime started;
    QElapsedTimer sinceStarted;
};
