#include "run.h"

#include "board.h"
#include "console.h"
#include "downloadimage.h"
#include "record.h"
#include "seriallink.h"
#include "statuslog.h"
#include "terminal.h"

#include <QDateTime>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr int NamedBlocks = Download::NamedBlocks;

std::atomic<bool> stopRequested{false};

extern "C" void OnStopSignal(int signal)
{
    stopRequested = true;
    // A second Ctrl-C (SIGTERM, SIGHUP) ends the program at once.
    std::signal(signal, SIG_DFL);
}

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
// runs in this thread for each board as soon as it is done.
void RunBoards(const Arguments &a, Console &console, const DownloadImage &image,
               const QString &loaderText, std::vector<BoardResult> &results,
               const std::function<void(const BoardResult &)> &ended)
{
    const int count = int(results.size());
    std::vector<Board *> boards;
    std::vector<std::unique_ptr<QThread>> threads;
    QEventLoop loop;
    int finished = 0;
    for (int i = 0; i < count; ++i) {
        const QString prefix = count > 1 ? QStringLiteral("[%1] ").arg(a.ports[i]) : QString();
        auto *board = new Board(i, prefix, a.stallSeconds, console, image, loaderText, results[i]);
        boards.push_back(board);
        threads.push_back(std::make_unique<QThread>());
        QThread *thread = threads.back().get();
        QObject::connect(board, &Board::Finished, &loop, [&, i] {
            ended(results[size_t(i)]);
            if (++finished == count)
                loop.quit();
        });
        board->moveToThread(thread);
        // A board's serial port and timers belong to its thread: the board is destroyed
        // there, as the thread ends, never from the main thread.
        QObject::connect(thread, &QThread::finished, board, &QObject::deleteLater);
        thread->start();
    }

    // Every port is opened before any download starts: a port that cannot be opened
    // stops the run before anything is sent to any board.
    bool allOpen = true;
    for (Board *board : boards) {
        bool open = false;
        QMetaObject::invokeMethod(board, [&] { open = board->Open(); }, Qt::BlockingQueuedConnection);
        allOpen = allOpen && open;
    }
    for (Board *board : boards) {
        if (allOpen && !stopRequested)
            QMetaObject::invokeMethod(board, [board] { board->Start(stopRequested); }, Qt::QueuedConnection);
        else
            QMetaObject::invokeMethod(board, [board] { board->Close(stopRequested); }, Qt::QueuedConnection);
    }

    // The stop signals only set a flag; this timer passes it on to every board's thread.
    // It also redraws the progress lines.
    QTimer poll;
    bool interrupted = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (stopRequested && !interrupted) {
            interrupted = true;
            for (Board *board : boards)
                QMetaObject::invokeMethod(board, [board] { board->Interrupt(); }, Qt::QueuedConnection);
        }
        console.DrawProgress();
    });
    poll.start(50);
    if (finished < count)
        loop.exec();
    poll.stop();
    // Each thread ends once its board has been destroyed in it.
    for (const auto &thread : threads) {
        thread->quit();
        thread->wait();
    }
    console.EndProgress();
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
    InstallStopSignals(OnStopSignal);

    if (built) {
        RunBoards(a, console, *image, loaderLog.Text(), results, ended);
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

    int status = ExitOk;
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
    // Programmed, but without the record a line relies on: that is no plain success.
    if (status == ExitOk && console.LogFileFailures() > 0)
        status = ExitLogFile;
    console.FileLine(QStringLiteral("==== exit status %1").arg(status));
    return status;
}

