// A long run of downloads through one engine against the simulated target: clean downloads
// of random images mixed with every failure the target can inject, each failure followed
// by a clean download on the same engine and port.
//
// ORVANT_SOAK_SEED and ORVANT_SOAK_DOWNLOADS change the random plan and its length.
#include "engine.h"
#include "files.h"
#include "targetsimprocess.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {


enum class Kind { Clean, NoLock, WrongEcho, BadAck, BadHandshake, BadClose, SilentAfter, HangupAfter };

const char *KindName(Kind kind)
{
    switch (kind) {
    case Kind::Clean: return "clean";
    case Kind::NoLock: return "no lock";
    case Kind::WrongEcho: return "wrong echo";
    case Kind::BadAck: return "bad acknowledgement";
    case Kind::BadHandshake: return "bad handshake";
    case Kind::BadClose: return "bad closing reply";
    case Kind::SilentAfter: return "silent target";
    case Kind::HangupAfter: return "line hung up";
    }
    return "?";
}

// One download of the plan: the five files, the failure to inject and where.
struct Planned
{
    Kind kind = Kind::Clean;
    QByteArray files[5];
    int blocks = 0;     // blocks of the whole image
    int bytes = 0;      // bytes of the whole image
    long where = -1;    // image byte, block or closing zero the failure concerns
    int lockAfter = 2;
    QString options;    // the session-file line
};

class Planner
{
public:
    explicit Planner(quint32 seed) : rng(seed) {}

    int Between(int low, int high) { return low + int(rng.bounded(high - low + 1)); }

    // A segment of the given length at a random address where its blocks stay within the
    // 16-bit address range the loader accepts.
    Segment RandomSegment(int words)
    {
        Segment s;
        const bool upper = rng.bounded(2) == 1;
        const int room = (upper ? 0xFFFF - 0x8000 : 0x7FFF) - words;
        s.address = quint16((upper ? 0x8000 : 0) + int(rng.bounded(room + 1)));
        for (int i = 0; i < words; ++i)
            s.words << quint16(rng.bounded(0x10000));
        return s;
    }

    // Mostly short segments, now and then one of several blocks.
    int SegmentWords()
    {
        const int pick = Between(1, 20);
        if (pick <= 16)
            return Between(1, 16);
        if (pick <= 19)
            return Between(17, 192);
        return Between(193, 600);
    }

    // Four one-segment support files and a code file, blocks in all within [5, 40] and
    // at least minBlocks.
    Planned RandomImage(int minBlocks)
    {
        Planned p;
        int bytes = 0;
        for (int i = 0; i < 4; ++i) {
            const Segment s = RandomSegment(Between(1, 30));
            bytes += 4 + 2 * int(s.words.size());
            p.files[i] = BootTable({s}, "support " + QByteArray::number(i));
        }
        const int target = Between(std::max(5, minBlocks), rng.bounded(8) == 0 ? 40 : 10);
        int blocks = 4;
        QList<Segment> code;
        while (blocks < target) {
            const int room = target - blocks;
            const int words = std::min(SegmentWords(), room * DownloadImage::WordsPerBlock);
            const int cut = (words + DownloadImage::WordsPerBlock - 1) / DownloadImage::WordsPerBlock;
            code << RandomSegment(words);
            blocks += cut;
            bytes += 4 * cut + 2 * words;
        }
        p.files[4] = BootTable(code, "end");
        p.blocks = blocks;
        p.bytes = bytes;
        return p;
    }

    Planned Plan(Kind kind)
    {
        Planned p = RandomImage(kind == Kind::BadHandshake ? 6 : 5);
        p.kind = kind;
        // The first or the second carriage return is answered, now and then a later one.
        const int lockPick = Between(1, 10);
        p.lockAfter = lockPick <= 5 ? 1 : lockPick <= 9 ? 2 : Between(3, 8);
        QStringList options{"--lock-after", QString::number(p.lockAfter)};
        switch (kind) {
        case Kind::Clean:
            break;
        case Kind::NoLock:
            options = QStringList{"--no-lock"};
            break;
        case Kind::WrongEcho:
            p.where = Between(0, p.bytes - 1);
            options << "--wrong-echo" << QString::number(p.where);
            break;
        case Kind::BadAck:
            p.where = Between(0, p.blocks - 1);
            options << "--bad-ack" << QString::number(p.where);
            break;
        case Kind::BadHandshake:
            p.where = Between(5, p.blocks - 1);
            options << "--bad-handshake" << QString::number(p.where);
            break;
        case Kind::BadClose:
            p.where = Between(1, 2);
            options << "--bad-close" << QString::number(p.where);
            break;
        case Kind::SilentAfter:
            p.where = Between(0, p.bytes - 1);
            options << "--silent-after" << QString::number(p.where);
            break;
        case Kind::HangupAfter:
            p.where = Between(0, p.bytes - 1);
            options << "--hangup-after" << QString::number(p.where);
            break;
        }
        p.options = options.join(' ');
        return p;
    }

    // total downloads (at least 20): every failure kind several times, each failure
    // followed by a clean download, the first download clean, clean ones in between.
    QList<Planned> Schedule(int total)
    {
        QList<Kind> failures{Kind::NoLock,      Kind::NoLock,   Kind::WrongEcho,   Kind::BadAck,
                             Kind::BadHandshake, Kind::BadClose, Kind::SilentAfter, Kind::HangupAfter};
        const QList<QPair<Kind, int>> shares{{Kind::WrongEcho, 8}, {Kind::BadAck, 8},
                                             {Kind::BadHandshake, 6}, {Kind::BadClose, 6},
                                             {Kind::SilentAfter, 6}, {Kind::HangupAfter, 5}};
        const int failureCount = std::max(int(failures.size()), total * 2 / 5);
        while (failures.size() < failureCount) {
            for (const auto &share : shares) {
                for (int i = 0; i < share.second && failures.size() < failureCount; ++i)
                    failures << share.first;
            }
        }
        std::shuffle(failures.begin(), failures.end(), rng);
        QList<Kind> kinds{Kind::Clean};
        for (Kind kind : failures)
            kinds << kind << Kind::Clean;
        while (kinds.size() < total)
            kinds.insert(1 + int(rng.bounded(int(kinds.size()))), Kind::Clean);
        QList<Planned> plan;
        for (Kind kind : kinds)
            plan << Plan(kind);
        return plan;
    }

private:
    QRandomGenerator rng;
};

int EnvNumber(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    std::unique_ptr<Engine> engine;
    std::unique_ptr<TargetSimProcess> target;
    QString link;
    QString code;
    int reopened = 0;

    void WriteFiles(const Planned &p)
    {
        for (int i = 0; i < 5; ++i) {
            QFile file(i < 4 ? dir.filePath(SupportFileNames[i]) : code);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(file.write(p.files[i]), qint64(p.files[i].size()));
        }
    }

    // The last lines of the log, for messages.
    QString Tail() const { return engine->log.Text().right(600); }

    void CheckClean(int n)
    {
        const QString line = QStringLiteral("download %1: complete").arg(n);
        QVERIFY2(target->WaitFor(line), qPrintable(target->Output().right(800)));
        QTRY_VERIFY2(engine->log.Text().endsWith(" Seconds ------"), qPrintable(Tail()));
        QVERIFY2(!engine->log.Text().contains("Cannot load") && !engine->log.Text().contains("------ Download "),
                 qPrintable(Tail()));
        QCOMPARE(engine->enabling, QList<bool>({false, true}));
        QCOMPARE(engine->download.DownloadState(), qint32(WAIT_FOR_LOCK));
        QVERIFY(!engine->download.Running());
        // Exactly the code file's words, nothing else.
        QCOMPARE(TargetSimProcess::ReadFlash(dir.filePath("flash.txt")), TargetSimProcess::CodeWords(code));
    }

    void CheckFailure(int n, const Planned &p)
    {
        const QString ended = QStringLiteral("download %1: failure injected").arg(n);
        QVERIFY2(target->WaitFor(ended), qPrintable(target->Output().right(800)));
        const QString text = engine->log.Text();
        const DownloadImage &image = *engine->image;
        switch (p.kind) {
        case Kind::NoLock:
            QVERIFY2(text.endsWith(CRLF + CRLF + CRLF + "Baud Did not Match. Exiting..."), qPrintable(Tail()));
            QCOMPARE(engine->enabling, QList<bool>({false, true}));
            break;
        case Kind::WrongEcho: {
            const quint8 sent = image.ImageBytes[p.where];
            QVERIFY2(text.endsWith(CRLF + CRLF + CRLF + "------ Serial Communications Error at "
                                   + Download::N(qint64(p.where)) + CRLF + "Received "
                                   + Download::H(sent ^ 1) + " instead of " + Download::H(sent)
                                   + " EXITING"),
                     qPrintable(Tail()));
            break;
        }
        case Kind::BadAck:
            QVERIFY2(text.endsWith(CRLF + CRLF + "------ Did Not receive Acknowledge for Algo/Block"
                                   + Download::N(qint64(p.where)) + " Exiting"),
                     qPrintable(Tail()));
            break;
        case Kind::BadHandshake:
            QVERIFY2(text.endsWith(CRLF + CRLF + "Programing Block " + Download::N(qint64(p.where)) + " "
                                   + CRLF + CRLF + "------ Failed at WAIT_FOR_MORE_BLOCKS. Ending"),
                     qPrintable(Tail()));
            break;
        case Kind::BadClose:
            QVERIFY2(text.endsWith(CRLF + CRLF + "------ Did Not receive Acknowledge for Algo/Block"
                                   + Download::N(qint64(p.blocks - 1 + p.where)) + " Exiting"),
                     qPrintable(Tail()));
            break;
        case Kind::SilentAfter:
            // No time-out: the download waits, with no message and the controls disabled.
            QVERIFY(engine->download.Running());
            QVERIFY2(!text.contains(" EXITING") && !text.contains(" Exiting") && !text.contains("Ending")
                         && !text.endsWith(" Seconds ------"),
                     qPrintable(Tail()));
            break;
        case Kind::HangupAfter:
            QTRY_VERIFY(!engine->download.Running());
            QVERIFY2(engine->log.Text().contains(CRLF + CRLF + "------ Download stopped: the port was lost"), qPrintable(Tail()));
            QVERIFY(!engine->link.IsOpen());
            QCOMPARE(engine->enabling, QList<bool>({false, true}));
            break;
        case Kind::Clean:
            break;
        }
        if (p.kind == Kind::HangupAfter) {
            // The line comes back under the same name: open it again on the same engine.
            reopened += 1;
            QDeadlineTimer deadline(5000);
            while (target->Output().count("line reopened at") < reopened && !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QVERIFY2(target->Output().count("line reopened at") == reopened, qPrintable(target->Output().right(800)));
            QVERIFY(engine->link.OpenPort(link));
            return;
        }
        // The target heard nothing after the failure: it checks that itself.
        const QString output = target->Output();
        const qsizetype at = output.indexOf(ended + " (");
        const QString line = output.mid(at, output.indexOf('\n', at) - at);
        QVERIFY2(at >= 0 && line.endsWith("; nothing received after it"), qPrintable(output.right(800)));
        // A transfer failure leaves the download controls disabled.
        if (p.kind != Kind::NoLock)
            QCOMPARE(engine->enabling, QList<bool>({false}));
    }

private slots:
    void manyDownloadsOnOnePort()
    {
        QVERIFY(dir.isValid());
        const quint32 seed = quint32(EnvNumber("ORVANT_SOAK_SEED", 20240607));
        const int total = std::max(20, EnvNumber("ORVANT_SOAK_DOWNLOADS", 200));
        qInfo("soak: %d downloads, seed %u", total, seed);

        const QList<Planned> plan = Planner(seed).Schedule(total);
        QByteArray session;
        for (const Planned &p : plan)
            session += p.options.toLatin1() + "\n";
        QFile sessionFile(dir.filePath("session.txt"));
        QVERIFY(sessionFile.open(QIODevice::WriteOnly));
        sessionFile.write(session);
        sessionFile.close();

        code = dir.filePath("code.hex");
        link = dir.filePath("ttyTarget");
        engine = std::make_unique<Engine>();
        engine->link.ConfigurePort();
        target = std::make_unique<TargetSimProcess>();
        QVERIFY(target->Start({"--session-file", dir.filePath("session.txt"), "--downloads",
                               QString::number(total), "--link", link, "--flash-out",
                               dir.filePath("flash.txt"), "--quiet-ms", "100", "--timeout", "30"}));
        QVERIFY(engine->link.OpenPort(link));

        QMap<Kind, int> counts;
        for (int i = 0; i < plan.size(); ++i) {
            const Planned &p = plan[i];
            const int n = i + 1;
            WriteFiles(p);
            QFile::remove(dir.filePath("flash.txt"));
            engine->enabling.clear();
            engine->download.StartDownload(dir.path(), code);
            const QString what = QStringLiteral("download %1 (%2, %3 blocks, %4 bytes, %5)")
                                     .arg(n).arg(KindName(p.kind)).arg(p.blocks).arg(p.bytes).arg(p.options);
            if (p.kind == Kind::Clean)
                CheckClean(n);
            else
                CheckFailure(n, p);
            if (QTest::currentTestFailed())
                qWarning("soak: failed at %s; the log ends:\n%s", qPrintable(what),
                         qPrintable(engine->log.Text().right(400).replace(CRLF, "\n")));
            QVERIFY(!QTest::currentTestFailed());
            QCOMPARE(engine->image->BlockTotal(), p.blocks);
            QCOMPARE(engine->image->ImageLength(), p.bytes);
            counts[p.kind] += 1;
        }

        QCOMPARE(target->WaitForExit(), 0);
        QVERIFY2(!target->Output().contains("violation"), qPrintable(target->Output().right(800)));
        QString summary;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            summary += QStringLiteral(" %1 %2;").arg(it.value()).arg(KindName(it.key()));
        qInfo("soak:%s", qPrintable(summary));
        QCOMPARE(counts.size(), 8);

        engine->link.ClosePort();
        target.reset();
        engine.reset();
    }
};

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
