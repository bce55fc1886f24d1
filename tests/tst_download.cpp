// Downloads end to end: the engine on a real pseudo-terminal against the simulated target,
// directly or through ser2net on the network.
#include "engine.h"
#include "files.h"
#include "ser2net.h"
#include "targetsimprocess.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestDownload : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString code;
    std::unique_ptr<Engine> engine;
    std::unique_ptr<TargetSimProcess> target;
    std::unique_ptr<Ser2Net> server;

    // How the engine reaches targetsim's pseudo-terminal.
    enum Line { Direct, RawTcp, Rfc2217 };

    // Four one-word support files (blocks 0 to 3 of 6 bytes each) and a code file of
    // codeBlocks one-word segments, so every block is 6 bytes long. The code words
    // FFFF, FFFE, ... hold 0xFF bytes, which a telnet line must double.
    void WriteSmallFiles(int codeBlocks)
    {
        for (int i = 0; i < 4; ++i)
            QVERIFY(WriteFile(dir.filePath(SupportFileNames[i]),
                              BootTable({{quint16(0x10 * i), {quint16(0xA0 + i)}}}, "support")));
        QList<Segment> segments;
        for (int k = 0; k < codeBlocks; ++k)
            segments.append(Segment{quint16(0x8000 + 0x100 * k), {quint16(0xFFFF - k)}});
        code = dir.filePath("code.hex");
        QVERIFY(WriteFile(code, BootTable(segments, "end")));
    }

    // Starts targetsim and opens its line, directly or through ser2net; the flash it
    // programs goes to flash.txt.
    void StartTarget(const QStringList &options = {}, Line line = Direct)
    {
        target = std::make_unique<TargetSimProcess>();
        QVERIFY(target->Start(QStringList{"--flash-out", dir.filePath("flash.txt"), "--timeout",
                                          "20", "--quiet-ms", "200"}
                              + options));
        if (line == Direct) {
            QVERIFY(engine->link.OpenPort(target->device));
            return;
        }
        server = std::make_unique<Ser2Net>();
        QVERIFY2(server->Start(target->device), qPrintable(server->process.readAll()));
        QVERIFY2(engine->link.OpenPort(server->Url(line == RawTcp ? Ser2Net::Raw : Ser2Net::Rfc2217)),
                 qPrintable(engine->log.Text()));
    }

    static void AddLineColumn()
    {
        QTest::addColumn<int>("line");
        QTest::newRow("pseudo-terminal") << int(Direct);
        QTest::newRow("raw TCP through ser2net") << int(RawTcp);
        QTest::newRow("RFC 2217 through ser2net") << int(Rfc2217);
    }

    // The download ran to completion: targetsim saw a correct exchange and programmed
    // exactly the code file's words.
    void VerifyComplete()
    {
        QVERIFY2(target->WaitFor("download 1: complete"), qPrintable(target->Output()));
        QTRY_VERIFY(engine->log.Text().endsWith(" Seconds ------"));
        QCOMPARE(target->WaitForExit(), 0);
        QVERIFY2(!target->Output().contains("violation"), qPrintable(target->Output()));
        QCOMPARE(TargetSimProcess::ReadFlash(dir.filePath("flash.txt")),
                 TargetSimProcess::CodeWords(code));
        QCOMPARE(engine->enabling, QList<bool>({false, true}));
        QCOMPARE(engine->download.DownloadState(), qint32(WAIT_FOR_LOCK));
        QVERIFY(!engine->download.Running());
    }

    // The download stopped on a failure that targetsim injected, and the host sent
    // nothing after it.
    void VerifyStoppedAfterInjectedFailure(const QString &lastLines)
    {
        QVERIFY2(target->WaitFor("nothing received after it"), qPrintable(target->Output()));
        QVERIFY2(engine->Text().endsWith(lastLines), qPrintable(engine->Text()));
        QCOMPARE(target->WaitForExit(), 0);
        QVERIFY2(!target->Output().contains("violation"), qPrintable(target->Output()));
    }

    static QString Named(const QString &name) { return CRLF + CRLF + "------ Downloading " + name + "Downloaded!"; }
    static QString Programing(int block) { return CRLF + CRLF + "Programing Block  " + QString::number(block) + " Downloaded!"; }
    static QString Locked(int attempts)
    {
        return CRLF + CRLF + "------ Programming ------" + CRLF + "Waiting reply from DSP" + CRLF
             + QString(attempts, '=') + CRLF + "--0xAA received" + CRLF + "---- Locked at  "
             + QString::number(attempts) + "th Char";
    }
    static QString Completed() { return CRLF + CRLF + CRLF + "------ DSP programmed in E Seconds ------"; }
    static QString FirstFive()
    {
        return Named("Kernel ") + Named("Clear ") + Named("Erase ") + Named("Prog ") + Named("My Code ");
    }

private slots:
    void init()
    {
        engine = std::make_unique<Engine>();
        engine->link.ConfigurePort();
    }

    void cleanup()
    {
        engine->link.ClosePort();
        server.reset();
        target.reset();
        engine.reset();
    }

    void numberFormats()
    {
        QCOMPARE(Download::N(qint64(5)), " 5");
        QCOMPARE(Download::N(qint64(0)), " 0");
        QCOMPARE(Download::N(12.34375), " 12.34375");
        QCOMPARE(Download::H(170), "AA");
        QCOMPARE(Download::H(13), "D");
        QCOMPARE(Download::H(0), "0");
        // The elapsed time is cut to six characters, never rounded.
        QCOMPARE(Download::ElapsedText(12.34375), " 12.34");
        QCOMPARE(Download::ElapsedText(7.25), " 7.25");
        QCOMPARE(Download::ElapsedText(100.5), " 100.5");
        QCOMPARE(Download::ElapsedText(123.456), " 123.4");
        QCOMPARE(Download::ElapsedText(60), " 60");
        QCOMPARE(Download::ElapsedText(9.99999), " 9.999");
    }

    void progressText()
    {
        const QString dot = QStringLiteral(" \u00B7 ");
        const struct {
            int echoed;
            double seconds;
            bool withRate;
            QString text;
        } rows[] = {
            {0, 0.0, false, "0 %" + dot + "0 of 66,508 bytes"},
            // The time left is rounded up.
            {28611, 17.4, false, "43 %" + dot + "28,611 of 66,508 bytes" + dot + "24 s left"},
            {28611, 17.4, true, "43 %" + dot + "28,611 of 66,508 bytes" + dot + "1,644 B/s" + dot + "24 s left"},
            {66508, 40.4, false, "100 %" + dot + "66,508 of 66,508 bytes"},
        };
        for (const auto &row : rows)
            QCOMPARE(Download::ProgressText(row.echoed, 66508, row.seconds, row.withRate), row.text);
    }

    void workedDownloadOfSixBlocks()
    {
        WriteSmallFiles(2);
        StartTarget();
        engine->download.StartDownload(dir.path(), code);
        VerifyComplete();

        QString loader;
        for (int i = 0; i < 4; ++i) {
            const QString path = dir.path() + "/" + SupportFileNames[i];
            loader += CRLF + "------ Opened " + path + CRLF + "Len = 1" + CRLF + "Dest Addr = "
                    + QString::number(0x10 * i, 16).toUpper() + CRLF + "Done with " + path
                    + ". Read 'support' from file ";
        }
        loader += CRLF + "------ Opened " + code + CRLF + "Len = 1" + CRLF + "Dest Addr = 8000" + CRLF
                + "---- Next Seg." + CRLF + "Len = 1" + CRLF + "Dest Addr = 8100" + CRLF + "Done with "
                + code + ". Read 'end' from file ";
        QCOMPARE(engine->Text(), loader + Locked(2) + FirstFive() + Programing(5) + Completed());
        QCOMPARE(engine->image->LastBlock, 5);
        QCOMPARE(engine->image->BlockEnds[5], 36);
    }

    void fiveBlocksHaveNoHandshake()
    {
        WriteSmallFiles(1);
        StartTarget();
        engine->download.StartDownload(dir.path(), code);
        VerifyComplete();
        QCOMPARE(engine->Protocol(), Locked(2) + FirstFive() + Completed());
    }

    void sevenBlocksHaveTwoHandshakes_data() { AddLineColumn(); }

    void sevenBlocksHaveTwoHandshakes()
    {
        QFETCH(int, line);
        WriteSmallFiles(3);
        StartTarget({}, Line(line));
        engine->download.StartDownload(dir.path(), code);
        VerifyComplete();
        QCOMPARE(engine->Protocol(), Locked(2) + FirstFive() + Programing(5) + Programing(6) + Completed());
    }

    void codeFileCutIntoBlocksOf192Words()
    {
        QVERIFY(TargetSimProcess::WriteSamples(dir.path(), 500, "big.hex"));
        code = dir.filePath("big.hex");
        StartTarget();
        engine->download.SetCodeName(code);
        engine->download.StartDownload(dir.path(), code);
        VerifyComplete();
        // 500 words: blocks of 192, 192 and 116 words; the block name after the path has
        // no blank of its own.
        QCOMPARE(engine->image->LastBlock, 6);
        QVERIFY(engine->Protocol().endsWith(Named("Prog ") + Named(code) + Programing(5) + Programing(6)
                                            + Completed()));
    }

    void lockOnTheFirstAndOnTheLastAttempt()
    {
        WriteSmallFiles(1);
        for (const int attempt : {1, 31}) {
            StartTarget({"--lock-after", QString::number(attempt)});
            engine->enabling.clear();
            engine->download.StartDownload(dir.path(), code);
            VerifyComplete();
            QCOMPARE(engine->Protocol(), Locked(attempt) + FirstFive() + Completed());
        }
    }

    void noLockAfter31Attempts()
    {
        WriteSmallFiles(1);
        StartTarget({"--no-lock", "--timeout", "1"});
        engine->download.StartDownload(dir.path(), code);
        QCOMPARE(engine->Protocol(), CRLF + CRLF + "------ Programming ------" + CRLF
                                         + "Waiting reply from DSP" + CRLF + QString(31, '=') + CRLF
                                         + CRLF + CRLF + "Baud Did not Match. Exiting...");
        QCOMPARE(engine->enabling, QList<bool>({false, true}));
        QCOMPARE(engine->download.DownloadState(), qint32(WAIT_FOR_LOCK));
        target->WaitForExit();
        QVERIFY2(!target->Output().contains("violation"), qPrintable(target->Output()));
        QVERIFY2(target->Output().contains("31 carriage returns"), qPrintable(target->Output()));
    }

    void wrongEchoStopsTheDownload()
    {
        WriteSmallFiles(2);
        StartTarget({"--wrong-echo", "7"});
        engine->download.StartDownload(dir.path(), code);
        // Byte 7 is the second byte of block 1: the high byte of its address 10, which
        // comes back as 01.
        VerifyStoppedAfterInjectedFailure(Named("Kernel ") + CRLF + CRLF + "------ Downloading Clear "
                                          + CRLF + CRLF + CRLF
                                          + "------ Serial Communications Error at  7" + CRLF
                                          + "Received 1 instead of 0 EXITING");
        // A transfer failure leaves the controls disabled and the state as it was.
        QCOMPARE(engine->enabling, QList<bool>({false}));
        QCOMPARE(engine->download.DownloadState(), qint32(DOWNLOADING));
        QCOMPARE(engine->image->ImagePos, 7);
    }

    // Only 0x00 acknowledges a block: neither the other replies of the exchange (0x0D,
    // 0xAA), nor an echo of the end mark, nor any other byte.
    void nonZeroAcknowledgement_data()
    {
        QTest::addColumn<QString>("reply");
        for (const char *reply : {"05", "0D", "AA", "EE"})
            QTest::newRow(reply) << QString(reply);
    }

    void nonZeroAcknowledgement()
    {
        QFETCH(QString, reply);
        WriteSmallFiles(2);
        StartTarget({"--bad-ack", "2", "--bad-ack-byte", reply});
        engine->download.StartDownload(dir.path(), code);
        VerifyStoppedAfterInjectedFailure(Named("Erase ") + CRLF + CRLF
                                          + "------ Did Not receive Acknowledge for Algo/Block 2 Exiting");
        QCOMPARE(engine->enabling, QList<bool>({false}));
    }

    void wrongHandshakeReply()
    {
        WriteSmallFiles(3);
        StartTarget({"--bad-handshake", "6"});
        engine->download.StartDownload(dir.path(), code);
        VerifyStoppedAfterInjectedFailure(Programing(5) + CRLF + CRLF + "Programing Block  6 " + CRLF
                                          + CRLF + "------ Failed at WAIT_FOR_MORE_BLOCKS. Ending");
        QCOMPARE(engine->enabling, QList<bool>({false}));
    }

    void nonZeroReplyInTheClosingExchange()
    {
        WriteSmallFiles(2);
        for (const int zero : {1, 2}) {
            StartTarget({"--bad-close", QString::number(zero)});
            engine->enabling.clear();
            engine->download.StartDownload(dir.path(), code);
            // The block number shown lies past the last block.
            VerifyStoppedAfterInjectedFailure(Programing(5) + CRLF + CRLF
                                              + "------ Did Not receive Acknowledge for Algo/Block "
                                              + QString::number(5 + zero) + " Exiting");
            QCOMPARE(engine->enabling, QList<bool>({false}));
        }
    }

    // A right answer that comes late after a failure resumes nothing: the failure is
    // final, nothing more is sent and the success line never comes.
    void lateRightReplyAfterAFailure_data()
    {
        QTest::addColumn<QStringList>("failure");
        QTest::addColumn<QString>("last");
        QTest::newRow("late right echo after a wrong one")
            << QStringList{"--wrong-echo", "7"} << "Received 1 instead of 0 EXITING";
        QTest::newRow("late 0x00 after a refused acknowledgement")
            << QStringList{"--bad-ack", "2"} << "Did Not receive Acknowledge for Algo/Block 2 Exiting";
        QTest::newRow("late 0x0D after a failed handshake")
            << QStringList{"--bad-handshake", "6"} << "Failed at WAIT_FOR_MORE_BLOCKS. Ending";
        QTest::newRow("late 0x00 in the closing exchange")
            << QStringList{"--bad-close", "1"} << "Did Not receive Acknowledge for Algo/Block 7 Exiting";
    }

    void lateRightReplyAfterAFailure()
    {
        QFETCH(QStringList, failure);
        QFETCH(QString, last);
        WriteSmallFiles(3);
        StartTarget(failure + QStringList{"--late-reply", "100"});
        engine->download.StartDownload(dir.path(), code);
        QVERIFY2(target->WaitFor("late reply"), qPrintable(target->Output()));
        QCOMPARE(target->WaitForExit(), 0);
        QVERIFY2(!target->Output().contains("violation"), qPrintable(target->Output()));
        QVERIFY2(engine->log.Text().endsWith(last), qPrintable(engine->log.Text()));
        QCOMPARE(engine->download.Result(), Download::Outcome::TransferFailed);
        QCOMPARE(engine->enabling, QList<bool>({false}));
    }

    // The target's line hangs up; through a device server the connection drops.
    void lineClosedMidTransfer_data() { AddLineColumn(); }

    void lineClosedMidTransfer()
    {
        QFETCH(int, line);
        WriteSmallFiles(2);
        StartTarget({"--hangup-after", "20"}, Line(line));
        engine->download.StartDownload(dir.path(), code);
        QTRY_VERIFY_WITH_TIMEOUT(!engine->download.Running(), 10000);
        QVERIFY2(engine->Text().contains(CRLF + CRLF + "------ Download stopped: the port was lost"),
                 qPrintable(engine->Text()));
        QVERIFY(!engine->link.IsOpen());
        // The controls come back so that another port can be chosen.
        QCOMPARE(engine->enabling, QList<bool>({false, true}));
        QCOMPARE(target->WaitForExit(), 0);
        QVERIFY2(!target->Output().contains("violation"), qPrintable(target->Output()));
    }

    void missingSupportFileSendsNothing()
    {
        WriteSmallFiles(2);
        QFile::remove(dir.filePath("era24_x1.hex"));
        StartTarget({"--timeout", "1"});
        engine->download.StartDownload(dir.path(), code);
        const QString era = dir.path() + "/era24_x1.hex";
        QVERIFY2(engine->log.Text().endsWith(CRLF + "---- Cannot load " + era + ": No such file or directory"
                                             + CRLF + CRLF
                                             + "------ Download cancelled: the image could not be built. "
                                               "Nothing was sent."),
                 qPrintable(engine->log.Text()));
        QVERIFY(!engine->log.Text().contains("Waiting reply"));
        QCOMPARE(engine->enabling, QList<bool>({false, true}));
        target->WaitForExit();
        QVERIFY2(target->Output().contains("0 bytes received"), qPrintable(target->Output()));
    }

    // A code file without a block is refused even where the support files alone make
    // five blocks: the download would end in "programmed" with none of the code sent.
    void codeFileWithoutBlockIsRefused_data()
    {
        QTest::addColumn<int>("kernelSegments");
        QTest::newRow("one-segment kernel") << 1;
        QTest::newRow("two-segment kernel") << 2;
    }

    void codeFileWithoutBlockIsRefused()
    {
        QFETCH(int, kernelSegments);
        WriteSmallFiles(1);
        QList<Segment> kernel;
        for (int k = 0; k < kernelSegments; ++k)
            kernel.append(Segment{quint16(0x10 * k), {0xA0}});
        QVERIFY(WriteFile(dir.filePath("krnl24xx.hex"), BootTable(kernel)));
        QVERIFY(WriteFile(code, BootTable({{0x100, {}}}, "no words")));
        StartTarget({"--timeout", "1"});
        engine->download.StartDownload(dir.path(), code);
        QVERIFY2(engine->log.Text().endsWith(CRLF + "---- Cannot load " + code + ": the file holds no block" + CRLF
                                             + CRLF + "------ Download cancelled: the image could not be built. "
                                                      "Nothing was sent."),
                 qPrintable(engine->log.Text()));
        QCOMPARE(engine->enabling, QList<bool>({false, true}));
        QCOMPARE(engine->download.Result(), Download::Outcome::NotBuilt);
        target->WaitForExit();
        QVERIFY2(target->Output().contains("0 bytes received"), qPrintable(target->Output()));
    }

    void noOpenPortSendsNothing()
    {
        WriteSmallFiles(1);
        engine->download.StartDownload(dir.path(), code);
        QVERIFY(engine->log.Text().endsWith("------ Download cancelled: no port is open. Choose a port. "
                                            "Nothing was sent."));
        QCOMPARE(engine->enabling, QList<bool>({false, true}));
        QVERIFY(!engine->download.Running());
    }

    void secondDownloadOnTheSamePort()
    {
        WriteSmallFiles(3);
        StartTarget({"--downloads", "2"});
        engine->download.StartDownload(dir.path(), code);
        QVERIFY2(target->WaitFor("download 1: complete"), qPrintable(target->Output()));
        // A changed code file takes effect at the next press.
        WriteSmallFiles(2);
        QTest::qWait(300);
        engine->download.StartDownload(dir.path(), code);
        QVERIFY2(target->WaitFor("download 2: complete"), qPrintable(target->Output()));
        QCOMPARE(target->WaitForExit(), 0);
        QCOMPARE(engine->Protocol(), Locked(2) + FirstFive() + Programing(5) + Completed());
        QCOMPARE(TargetSimProcess::ReadFlash(dir.filePath("flash.txt")), TargetSimProcess::CodeWords(code));
    }

    void onlyTheFirstReceivedByteCounts()
    {
        // A lock byte after another byte in one arrival is not seen; an empty arrival is
        // ignored.
        engine->download.HandleInput(QByteArray());
        engine->download.HandleInput(QByteArray("\x0D\xAA", 2));
        QCOMPARE(engine->download.DownloadState(), qint32(WAIT_FOR_LOCK));
        engine->download.HandleInput(QByteArray("\xAA\x0D", 2));
        QCOMPARE(engine->download.DownloadState(), qint32(LOCKED));
        QCOMPARE(engine->log.Text(), CRLF + "--0xAA received");
        engine->download.HandleInput(QByteArray("\xAA", 1));
        QCOMPARE(engine->log.Text(), CRLF + "--0xAA received");
    }
};

QTEST_GUILESS_MAIN(TestDownload)
#include "tst_download.moc"
