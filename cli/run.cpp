#include "run.h"

#include "board.h"
#include "console.h"
#include "downloadimage.h"
#include "record.h"
#include "seriallink.h"
#include "statuslog.h"
#include "stopsignal.h"
#include "terminal.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int NamedBlocks = Download::NamedBlocks;

// Set once a stop signal has come; boards not yet started read it in their threads.
std::atomic<bool> stopRequested{false};

// Why the boards of a run that never began were not started.
const char *const NoThreadReason = "the system refuses another thread (a limit on processes or threads)";

// The files of the record: the SHA-256 of the very bytes the image was built from.
// Files are read in download order and the reading stops at the first that fails.
RunFiles FilesOf(const Arguments &a, const QList<FileRead> &reads)
{
    const auto digest = [&reads](int file) {
        return file < reads.size() ? QString::fromLatin1(reads[file].sha256.toHex()) : QString();
    };
    RunFiles files;
    files.codeFile = a.codeFile;
    files.codeSha256 = digest(4);
    for (int i = 0; i < 4; ++i)
        files.supportSha256.append({QLatin1String(SupportFileNames[i]), digest(i)});
    return files;
}

// The head of a run in the log file: what was sent, where to, through which adapter.
void WriteLogHead(Console &console, const Arguments &a, const QList<FileRead> &reads,
                  const std::vector<BoardResult> &results)
{
    console.FileLine(QStringLiteral("==== orvant-flash %1").arg(QStringLiteral(ORVANT_VERSION)));
    const auto digest = [&reads](int file) {
        if (file >= reads.size())
            return QStringLiteral("not read (an earlier file cannot be loaded)");
        const FileRead &read = reads[file];
        return read.sha256.isEmpty() ? QStringLiteral("cannot be read: ") + read.reason
                                     : QString::fromLatin1(read.sha256.toHex());
    };
    console.FileLine(QStringLiteral("code file: ") + a.codeFile);
    console.FileLine(QStringLiteral("code file SHA-256: ") + digest(4));
    console.FileLine(QStringLiteral("support files: ") + a.supportDir);
    for (int i = 0; i < 4; ++i)
        console.FileLine(QStringLiteral("%1 SHA-256: %2").arg(QLatin1String(SupportFileNames[i]), digest(i)));
    for (const BoardResult &result : results)
        console.FileLine(PortHeadLine(result));
}

// Runs every board at once, each in a thread of its own, until all have finished. The
// boards are made, run and destroyed within this function; their results stay. ended
// runs in this thread for each board as soon as it is done. Returns false when the
// system refused a thread: then no board was started.
bool RunBoards(const Arguments &a, Console &console, StopSignals &stops, const DownloadImage &image,
               const QString &loaderText, std::vector<BoardResult> &results,
               const std::function<void(const BoardResult &)> &ended)
{
    const int count = int(results.size());
    std::vector<Board *> boards;
    std::vector<std::unique_ptr<QThread>> threads;
    QEventLoop loop;
    int finished = 0;
    // The reason of a board that is never started, told in its summary and its JSON.
    QString notStarted = QStringLiteral("another port cannot be opened");
    const auto finish = [&](int i) {
        BoardResult &result = results[size_t(i)];
        if (result.Ending().status < 0)
            result.notStartedReason = notStarted;
        ended(result);
        if (++finished == count)
            loop.quit();
    };
    for (int i = 0; i < count; ++i) {
        // A board's thread is started before the board is given to it: a thread the
        // system refuses (a limit on processes) would never run the board's calls.
        threads.push_back(std::make_unique<QThread>());
        QThread *thread = threads.back().get();
        thread->start();
        if (!thread->isRunning()) {
            threads.pop_back();
            break;
        }
        const QString prefix = count > 1 ? QStringLiteral("[%1] ").arg(a.ports[i]) : QString();
        auto *board = new Board(i, prefix, a.stallSeconds, console, image, loaderText, results[size_t(i)]);
        boards.push_back(board);
        QObject::connect(board, &Board::Finished, &loop, [&finish, i] { finish(i); });
        board->moveToThread(thread);
        // A board's serial port and timers belong to its thread: the board is destroyed
        // there, as the thread ends, never from the main thread.
        QObject::connect(thread, &QThread::finished, board, &QObject::deleteLater);
    }
    const bool allThreads = int(boards.size()) == count;
    if (!allThreads) {
        notStarted = QLatin1String(NoThreadReason);
        console.Error(QStringLiteral("orvant-flash: cannot start the board of %1: %2; nothing was sent")
                          .arg(a.ports[int(boards.size())], notStarted));
    }

    // Every port is opened before any download starts: a port that cannot be opened
    // stops the run before anything is sent to any board.
    bool allOpen = allThreads;
    for (Board *board : boards) {
        if (!allThreads)
            break;
        bool open = false;
        QMetaObject::invokeMethod(board, [&] { open = board->Open(); }, Qt::BlockingQueuedConnection);
        allOpen = allOpen && open;
    }
    // A stop signal that came while the ports were opened is taken in now.
    QObject::connect(&stops, &StopSignals::Stopped, &loop, [&] {
        if (stopRequested.exchange(true))
            return;
        for (Board *board : boards)
            QMetaObject::invokeMethod(board, [board] { board->Interrupt(); }, Qt::QueuedConnection);
    });
    QCoreApplication::processEvents();
    for (Board *board : boards) {
        if (allOpen && !stopRequested)
            QMetaObject::invokeMethod(board, [board] { board->Start(stopRequested); }, Qt::QueuedConnection);
        else
            QMetaObject::invokeMethod(board, [board] { board->Close(stopRequested); }, Qt::QueuedConnection);
    }
    // The boards that never had a thread end here, not started.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = int(boards.size()); i < count; ++i) {
        results[size_t(i)].started = results[size_t(i)].ended = now;
        results[size_t(i)].account.total = image.ImageLength();
        finish(i);
    }

    // The progress lines are redrawn as the boards go.
    QTimer redraw;
    QObject::connect(&redraw, &QTimer::timeout, [&console] { console.DrawProgress(); });
    if (console.ShowsProgress())
        redraw.start(50);
    if (finished < count)
        loop.exec();
    redraw.stop();
    // Each thread ends once its board has been destroyed in it.
    for (const auto &thread : threads) {
        thread->quit();
        thread->wait();
    }
    console.EndProgress();
    return allThreads;
}

} // namespace

int Program(const Arguments &a)
{
    const int count = int(a.ports.size());
    std::vector<BoardResult> results(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        results[size_t(i)].portText = a.ports[i];
        results[size_t(i)].device = SerialLink::DeviceForPortText(a.ports[i]);
        results[size_t(i)].label = a.labels[i];
    }
    const QList<SerialLink::PortInfo> system = SerialLink::SystemPorts();
    for (BoardResult &result : results)
        result.adapter = AdapterOf(result.device, system);

    // The image first, once, before any port is opened: a file that cannot be loaded
    // stops the run with nothing opened, and the record names the bytes that were sent.
    StatusLog loaderLog;
    auto image = std::make_unique<DownloadImage>();
    QList<FileRead> reads;
    const bool loaded = image->AssembleImage(a.supportDir, a.codeFile, loaderLog, &reads);
    const bool built = loaded && image->BlockTotal() >= NamedBlocks;
    const QString cancelled = Download::NotBuiltLine(*image);

    // The stop signals are taken from here on, before anything (the log file) is opened.
    StopSignals stops(StopSignals::Second::Ends);
    IgnoreWriteSignals();
    Console console(a.quiet, a.json, built && StandardErrorIsTerminal(), count);
    // With --json, each board's line as soon as it ends.
    const RunFiles files = FilesOf(a, reads);
    const auto ended = [&](const BoardResult &result) {
        if (a.json)
            console.Json(JsonLine(result, files));
    };
    if (!a.logFile.isEmpty()) {
        QString reason;
        if (!console.OpenLogFile(a.logFile, &reason))
            return UsageError(QStringLiteral("cannot open the log file %1: %2").arg(a.logFile, reason));
        WriteLogHead(console, a, reads, results);
    }

    bool allThreads = true;
    if (built) {
        allThreads = RunBoards(a, console, stops, *image, loaderLog.Text(), results, ended);
    } else {
        // The loader's lines once, for every board, then why nothing was sent.
        {
            LineSink sink(console, QString());
            sink.LogAdded(loaderLog.Text() + QStringLiteral("\r\n\r\n") + cancelled);
            sink.Flush();
        }
        // The loader's failure says which file and why.
        const DownloadAccount notBuilt = Download::NotBuilt(*image);
        console.Error(QStringLiteral("orvant-flash: ") + EndReason(notBuilt));
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (BoardResult &result : results) {
            result.account = notBuilt;
            result.started = result.ended = now;
            ended(result);
        }
    }

    int status = allThreads ? ExitOk : ExitNoThread;
    for (const BoardResult &result : results) {
        console.Out(SummaryLine(result));
        const EndWords ending = result.Ending();
        if (ending.status > 0 && status == ExitOk)
            status = ending.status;
    }
    if (count > 1)
        console.Out(Verdict(results));
    for (const BoardResult &result : results) {
        if (result.Ending().status > 0 && result.account.kind != EndKind::Load)
            console.Error(QStringLiteral("orvant-flash: %1: %2: %3")
                              .arg(BoardName(result), QLatin1String(result.Ending().summary),
                                   EndReason(result.account)));
    }
    // Programmed, but without the record a line relies on: that is no plain success. The
    // closing line is a part of the record too: the status is decided again once it is
    // written (or not).
    const auto withRecord = [&console](int status) {
        return status == ExitOk && console.RecordFailures() > 0 ? ExitLogFile : status;
    };
    status = withRecord(status);
    console.FileLine(QStringLiteral("==== exit status %1").arg(status));
    return withRecord(status);
}

