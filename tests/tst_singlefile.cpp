// The single-file program's window: layout, settings file, file choice, unload, and a
// download against the simulated target.
#include "../singlefile/form1.h"
#include "closeonsignal.h"
#include "downloadimage.h"
#include "fakedialog.h"
#include "unreadablefile.h"
#include "watchdog.h"
#include "window.h"
#include "seriallink.h"
#include "statuslog.h"
#include "targetsimprocess.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <csignal>
#include <memory>
#include <optional>

class TestSingleFile : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString settings;
    QString app;
    std::unique_ptr<FakeDialog> dialog;

    std::unique_ptr<Form1> Start() { return std::make_unique<Form1>(settings, dialog.get(), app); }

    // Settings that name the sample code file and the simulated target's line.
    void WriteSettings(const QString &code, const QString &port)
    {
        QVERIFY(WriteFile(settings, Settings({code, port})));
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        settings = dir->filePath(QStringLiteral("config/ZizUdederAdev.cfg"));
        app = dir->filePath(QStringLiteral("app"));
        QVERIFY(QDir().mkpath(app));
        QVERIFY(TargetSimProcess::WriteSamples(app, 300));
        dialog = std::make_unique<FakeDialog>();
    }

    void windowLayout()
    {
        auto form = Start();
        QCOMPARE(form->windowTitle(),
                 QStringLiteral("Orvant Automation Serial Flash Download Utility for LF240X"));
        QVERIFY(!form->windowIcon().isNull());
        QCOMPARE(form->size(), QSize(599, 380));
        QCOMPARE(form->minimumSize(), form->maximumSize());

        CheckSharedPlaces(form.get());
        CheckPlaces(form.get(), {{form->Program, "Program", {2520, 4560, 2055, 975}},
                                 {form->LoadProgram, "LoadProgram", {120, 4560, 1815, 975}}});
        if (QTest::currentTestFailed())
            return;

        QCOMPARE(form->LoadProgram->text(), QStringLiteral("Select   .HEX  File"));
        QCOMPARE(form->Program->text(), QStringLiteral("Program"));
        QVERIFY(!form->Program->icon().isNull());
        QVERIFY(!form->LoadProgram->icon().isNull());
        QCOMPARE(form->Label1->text(), QStringLiteral("Program Status"));
        QCOMPARE(form->Label2->text(), QStringLiteral("File To be Programmed"));
        QCOMPARE(form->ComPort->text(), QStringLiteral("CommPort"));
        QCOMPARE(form->Label1->font().pointSizeF(), 13.5);
        QVERIFY(form->Label1->font().bold());
        QCOMPARE(form->Label2->font().pointSizeF(), 9.75);
        QCOMPARE(form->txtInfo->font().pointSizeF(), 9.75);
        QVERIFY(!form->txtInfo->isReadOnly());
        // The file box shows what Program sends; it takes no edits.
        QVERIFY(form->fileText->isReadOnly());

        // The list holds the eight port numbers first, then whatever the system reports.
        QVERIFY(form->Combopuerto->isEditable());
        QCOMPARE(ListEntries(form->Combopuerto).mid(0, 8),
                 QStringList({"1", "2", "3", "4", "5", "6", "7", "8"}));

        // Tab order as the window reads: fileText, Combopuerto, txtInfo, LoadProgram,
        // Program.
        const QList<QWidget *> wanted{form->fileText, form->Combopuerto, form->txtInfo,
                                      form->LoadProgram, form->Program};
        QList<QWidget *> chain;
        QWidget *w = form->fileText;
        do {
            if (wanted.contains(w) && !chain.contains(w))
                chain << w;
            w = w->nextInFocusChain();
        } while (w != form->fileText && chain.size() < wanted.size());
        QCOMPARE(chain, wanted);
        QCOMPARE(form->DownloadProgress->focusPolicy(), Qt::NoFocus);

        CheckAccessibleNames(form.get(), {{form->LoadProgram, "Select   .HEX  File"}});
    }

    // A first start creates the settings file (folder quoted, port bare) and shows
    // nothing. Closed as a technician closes it, the window then stores its empty code
    // file, which the next start takes: Program enabled, nothing shown or logged. A first
    // run that ended without its close (killed) leaves the folder as the code file, which
    // the next start shows as ready. Either way Program is refused without a byte on the
    // line, and the first dialog starts from the remembered entry.
    void firstStartThenSecondStart_data()
    {
        QTest::addColumn<bool>("closed");
        QTest::newRow("first window closed") << true;
        QTest::newRow("first run ended without its close") << false;
    }

    void firstStartThenSecondStart()
    {
        QFETCH(bool, closed);
        {
            auto form = Start();
            QCOMPARE(ReadFile(settings), ("\"" + app + "\"\r\n1\r\n").toLocal8Bit());
            QVERIFY(!form->Program->isEnabled());
            QVERIFY(form->LoadProgram->isEnabled());
            QVERIFY(form->fileText->text().isEmpty());
            QCOMPARE(LogLines(form->Log().Text()), QStringList());
            QCOMPARE(form->Combopuerto->currentText(), QStringLiteral("1"));
            QVERIFY(form->FileToProgram.isEmpty());
            QCOMPARE(form->AppPath, app);
            QCOMPARE(form->Downloader().AlgoNames(),
                     QStringList({"Kernel ", "Clear ", "Erase ", "Prog ", "My Code "}));
            QCOMPARE(form->Downloader().DownloadState(), qint32(WAIT_FOR_LOCK));
            QCOMPARE(form->Image().BlockNum, 0);
            QCOMPARE(form->DownloadProgress->text(), QStringLiteral("Choose a code file"));
            if (closed) {
                form->close();
                QCOMPARE(ReadFile(settings), QByteArray("\"\"\r\n\"1\"\r\n"));
            }
        }
        const QString code = closed ? QString() : app;

        TargetSimProcess target;
        QVERIFY(target.Start({"--timeout", "3"}));

        auto form = Start();
        QCOMPARE(form->FileToProgram, code);
        QVERIFY(form->Program->isEnabled());
        QCOMPARE(form->fileText->text(), code);
        QCOMPARE(LogLines(form->Log().Text()),
                 code.isEmpty() ? QStringList() : QStringList({code + Ready}));
        QCOMPARE(form->Combopuerto->currentText(), QStringLiteral("1"));
        QCOMPARE(form->DownloadProgress->text(),
                 closed ? QStringLiteral("Choose a code file") : "Not a code file: " + app);

        // Picking an entry of the list moves to that port at once.
        PickPort(form.get(), target.device);
        QVERIFY(form->MSComm1().IsOpen());
        QCOMPARE(form->MSComm1().DeviceName(), target.device);

        form->Program->click();
        const QString log = form->Log().Text();
        QVERIFY2(log.contains(QStringLiteral("---- Cannot load ") + code), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("Download cancelled")), qPrintable(log));
        QVERIFY(!log.contains(QStringLiteral("Waiting reply from DSP")));
        QVERIFY(form->Program->isEnabled());
        QVERIFY(form->LoadProgram->isEnabled());
        QVERIFY(form->Combopuerto->isEnabled());
        QVERIFY(!form->Downloader().Running());

        // The first dialog starts from the remembered entry.
        form->LoadProgram->click();
        QCOMPARE(dialog->initDirs, QStringList{code});
        QCOMPARE(dialog->filters, QStringList{"*.hex|*.hex"});

        form->MSComm1().ClosePort();
        QCOMPARE(target.WaitForExit(), 3);
        QVERIFY2(target.Output().contains(QStringLiteral("0 bytes received")),
                 qPrintable(target.Output()));
    }

    // Settings files as another program or an older run may have left them.
    void settingsFileVariants()
    {
        // An empty code file entry still enables Program; a quoted port is taken as is.
        QVERIFY(WriteFile(settings, "\"\"\r\n\"3\"\r\n"));
        {
            auto form = Start();
            QVERIFY(form->Program->isEnabled());
            QVERIFY(form->fileText->text().isEmpty());
            QCOMPARE(LogLines(form->Log().Text()), QStringList());
            QCOMPARE(form->Combopuerto->currentText(), QStringLiteral("3"));
        }

        // A single line is a failed read: the path is kept, nothing else changes, and the
        // unload writes a complete file.
        const QString code = app + "/sample.hex";
        QVERIFY(WriteFile(settings, ("\"" + code + "\"\r\n").toLocal8Bit()));
        {
            auto form = Start();
            QCOMPARE(form->FileToProgram, code);
            QVERIFY(!form->Program->isEnabled());
            QVERIFY(form->fileText->text().isEmpty());
            QCOMPARE(LogLines(form->Log().Text()), QStringList());
            QCOMPARE(form->Combopuerto->currentText(), QStringLiteral("1"));
            form->close();
            QCOMPARE(ReadFile(settings), ("\"" + code + "\"\r\n\"1\"\r\n").toLocal8Bit());
        }

        // A bare port, a value after the second and LF-only line ends are all read.
        QVERIFY(WriteFile(settings, ("\"" + code + "\"\n7\nextra\n").toLocal8Bit()));
        {
            auto form = Start();
            QCOMPARE(form->FileToProgram, code);
            QCOMPARE(form->Combopuerto->currentText(), QStringLiteral("7"));
            QCOMPARE(LogLines(form->Log().Text()), QStringList({code + Ready}));
        }
    }

    // A file choice clears the log, logs one line, and stores the path; a path with a
    // comma comes back unchanged at the next start.
    void fileChoiceWithComma()
    {
        QVERIFY(WriteFile(settings, "\"\"\r\n\"2\"\r\n"));
        const QString code = dir->filePath(QStringLiteral("a,b/code 1.hex"));
        dialog->answers << code;
        {
            auto form = Start();
            form->Log().LogLine(QStringLiteral("old text"));
            form->LoadProgram->click();
            QCOMPARE(dialog->initDirs, QStringList{QString()});
            QCOMPARE(form->Log().Text(), CRLF + code + Loaded);
            QCOMPARE(form->FileToProgram, code);
            QCOMPARE(form->fileText->text(), code);
            QVERIFY(form->Program->isEnabled());
            QCOMPARE(form->Downloader().AlgoNames().value(4), code);
            QCOMPARE(ReadFile(settings), ("\"" + code + "\"\r\n\"2\"\r\n").toLocal8Bit());
        }
        auto form = Start();
        QCOMPARE(form->FileToProgram, code);
        QCOMPARE(form->fileText->text(), code);
        QCOMPARE(form->Combopuerto->currentText(), QStringLiteral("2"));
        // A new start names the code block "My Code " again.
        QCOMPARE(form->Downloader().AlgoNames().value(4), QStringLiteral("My Code "));
    }

    // A cancelled dialog and a name the settings file cannot hold change nothing stored.
    void choicesThatChangeNothing()
    {
        // First use of the dialog in a run, cancelled: Program stays disabled.
        {
            auto form = Start();
            const QByteArray before = ReadFile(settings);
            form->Log().LogLine(QStringLiteral("kept"));
            const QString log = form->Log().Text();
            dialog->answers << std::nullopt;
            form->LoadProgram->click();
            QCOMPARE(form->Log().Text(), log);
            QVERIFY(!form->Program->isEnabled());
            QVERIFY(form->FileToProgram.isEmpty());
            QCOMPARE(ReadFile(settings), before);
        }

        WriteSettings(app + "/sample.hex", "4");
        auto form = Start();

        // A cancel after an earlier choice keeps the remembered file, not the last choice.
        dialog->answers << dir->filePath("other.hex") << std::nullopt;
        form->LoadProgram->click();
        QCOMPARE(form->FileToProgram, dir->filePath("other.hex"));
        form->LoadProgram->click();
        QCOMPARE(form->FileToProgram, dir->filePath("other.hex"));
        QCOMPARE(form->Log().Text(), CRLF + dir->filePath("other.hex") + Loaded);

        // Names with a double quote or a line break are refused with one line.
        const QString afterChoice = form->Log().Text();
        const QByteArray storedChoice = ReadFile(settings);
        dialog->answers << dir->filePath("say \"hi\".hex") << dir->filePath("two\nlines.hex");
        form->LoadProgram->click();
        form->LoadProgram->click();
        const QStringList added = form->Log().Text().mid(afterChoice.size()).split(CRLF);
        QCOMPARE(added.size(), 3);
        QVERIFY(added[1].startsWith("---- Cannot use " + dir->filePath("say \"hi\".hex")));
        QVERIFY(added[2].startsWith("---- Cannot use " + dir->filePath("two\\nlines.hex")));
        QCOMPARE(form->FileToProgram, dir->filePath("other.hex"));
        QCOMPARE(form->Downloader().AlgoNames().value(4), dir->filePath("other.hex"));
        QCOMPARE(ReadFile(settings), storedChoice);
    }

    // A settings file that cannot be written gives one line with its path and reason
    // each time, and the window goes on.
    void settingsWriteFailure()
    {
        QVERIFY(WriteFile(dir->filePath("blocker"), "a file, not a folder"));
        settings = dir->filePath("blocker/ZizUdederAdev.cfg");
        auto form = Start();
        const QString prefix = "---- Cannot write the settings file "
                               + QDir::toNativeSeparators(settings) + ": ";
        QStringList lines = LogLines(form->Log().Text());
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].startsWith(prefix) && lines[0].size() > prefix.size(),
                 qPrintable(lines[0]));
        QCOMPARE(form->Combopuerto->currentText(), QStringLiteral("1"));
        QVERIFY(!form->Program->isEnabled());

        dialog->answers << app + "/sample.hex";
        form->LoadProgram->click();
        lines = LogLines(form->Log().Text());
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], app + "/sample.hex" + Loaded);
        QVERIFY(lines[1].startsWith(prefix));
        QCOMPARE(form->FileToProgram, app + "/sample.hex");
        QVERIFY(form->Program->isEnabled());
    }

    // Typed port text is not opened, but is what the next start uses.
    void typedPortTextKeptForNextStart()
    {
        WriteSettings(app + "/sample.hex", "2");
        {
            auto form = Start();
            const QString device = form->MSComm1().DeviceName();
            form->Combopuerto->setEditText(QStringLiteral("/dev/ttyUSB7"));
            QCOMPARE(form->MSComm1().DeviceName(), device);
            // The bar names the port the box shows, and how to open it.
            QCOMPARE(form->DownloadProgress->toolTip(),
                     QString("Port not open: /dev/ttyUSB7 · press Enter to open it"));
            form->close();
        }
        QCOMPARE(ReadFile(settings),
                 ("\"" + app + "/sample.hex\"\r\n\"/dev/ttyUSB7\"\r\n").toLocal8Bit());
        auto form = Start();
        QCOMPARE(form->Combopuerto->currentText(), QStringLiteral("/dev/ttyUSB7"));
        QCOMPARE(form->MSComm1().DeviceName(), QStringLiteral("/dev/ttyUSB7"));
    }

    // SIGTERM, SIGHUP and SIGINT close the window as its close button does: the typed
    // port is saved.
    void closingSignals_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    void closingSignals()
    {
        QFETCH(int, signal);
        WriteSettings(app + "/sample.hex", "2");
        auto form = Start();
        form->show();
        CloseOnSignals closer(form.get());
        form->Combopuerto->setEditText(QStringLiteral("/dev/ttyUSB7"));
        QCOMPARE(::raise(signal), 0);
        QTRY_VERIFY(!form->isVisible());
        QVERIFY(!form->MSComm1().IsOpen());
        QCOMPARE(ReadFile(settings),
                 ("\"" + app + "/sample.hex\"\r\n\"/dev/ttyUSB7\"\r\n").toLocal8Bit());
    }

    // The program itself, asked to end by SIGTERM: its close runs (the settings file,
    // created at the first start with the program's folder, is written at the close with
    // the empty code file) and it ends with status 0.
    void programEndsCleanlyOnSigterm()
    {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", dir->filePath("xdg"));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(environment);
        program.start(ORVANT_BOOTLOADER_PATH, {});
        QVERIFY(program.waitForStarted(5000));
        const QString stored = dir->filePath("xdg/ZizUdederAdev.cfg");
        QVERIFY(WaitUntil([&] { return QFileInfo::exists(stored); }, 10000));
        QTest::qWait(1000); // the window is up and listening
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(ReadFile(stored), QByteArray("\"\"\r\n\"1\"\r\n"));
    }

    // The three download controls, in the order a download needs, and what stays usable.
    void controlsAroundDownloads()
    {
        const QString code = app + "/sample.hex";

        // A target that never answers: the lock wait gives up and the controls come back.
        // A second press waits again, and the log box shows that wait as it grows: the
        // box is painted several times a second, not left with the first wait's end.
        {
            TargetSimProcess target;
            QVERIFY(target.Start({"--no-lock", "--timeout", "20"}));
            WriteSettings(code, target.device);
            auto form = Start();
            form->show();
            QVERIFY(QTest::qWaitForWindowExposed(form.get()));
            form->Program->click();
            QVERIFY(form->Log().Text().endsWith(CRLF + CRLF + CRLF
                                                + "Baud Did not Match. Exiting..."));
            QVERIFY(form->Program->isEnabled());
            QVERIFY(form->LoadProgram->isEnabled());
            QVERIFY(form->Combopuerto->isEnabled());

            PaintCounter box(form->txtInfo->viewport());
            QElapsedTimer wait;
            wait.start();
            form->Program->click();
            QVERIFY(form->Log().Text().endsWith("Baud Did not Match. Exiting..."));
            const int least = int(wait.elapsed() / 250);
            QVERIFY2(box.paints >= least, qPrintable(QString("%1 paints in %2 ms")
                                                         .arg(box.paints).arg(wait.elapsed())));
        }

        // A wrong echo stops the download; the controls stay disabled, the file box and
        // the log remain usable, the progress bar stays where it stopped.
        {
            TargetSimProcess target;
            QVERIFY(target.Start({"--wrong-echo", "40", "--downloads", "0", "--timeout", "10"}));
            WriteSettings(code, target.device);
            auto form = Start();
            form->Program->click();
            QVERIFY(!form->Program->isEnabled());
            QVERIFY(!form->LoadProgram->isEnabled());
            QVERIFY(!form->Combopuerto->isEnabled());
            QVERIFY(form->fileText->isEnabled());
            QVERIFY(form->txtInfo->isEnabled());
            QVERIFY(target.WaitFor("nothing received after it"));
            QTRY_VERIFY(form->Log().Text().contains("------ Serial Communications Error at  40"));
            QVERIFY(!form->Program->isEnabled());
            QVERIFY(!form->LoadProgram->isEnabled());
            QVERIFY(!form->Combopuerto->isEnabled());
            QVERIFY(form->DownloadProgress->value() > 0);
            QVERIFY(form->DownloadProgress->value() < form->DownloadProgress->maximum());
        }

        // Closing the window during a transfer: the download is stopped first, then the
        // settings are written and the port closed.
        {
            TargetSimProcess target;
            QVERIFY(target.Start({"--silent-after", "100", "--downloads", "0", "--timeout", "10"}));
            WriteSettings(code, target.device);
            auto form = Start();
            dialog->answers << code;
            form->LoadProgram->click();
            form->Program->click();
            QVERIFY(form->Downloader().Running());
            QVERIFY(target.WaitFor("nothing received after it"));
            form->close();
            QVERIFY(!form->Downloader().Running());
            QVERIFY(!form->MSComm1().IsOpen());
            QVERIFY2(form->Log().Text().endsWith(
                         "------ Download stopped: window closed. Nothing more is sent."),
                     qPrintable(form->Log().Text()));
            QVERIFY(form->Program->isEnabled());
            QCOMPARE(ReadFile(settings),
                     ("\"" + code + "\"\r\n\"" + target.device + "\"\r\n").toLocal8Bit());
        }
    }

    // Program sends to the port the box shows: a typed device is opened first, and one
    // that cannot be opened stops the download before anything is sent.
    void programUsesThePortTheBoxShows()
    {
        TargetSimProcess shown, other;
        const QString flash = dir->filePath("flash.txt");
        QVERIFY(shown.Start({"--flash-out", flash, "--timeout", "20", "--quiet-ms", "200"}));
        QVERIFY(other.Start({"--timeout", "3"}));
        const QString code = app + "/sample.hex";
        WriteSettings(code, other.device);
        auto form = Start();
        QCOMPARE(form->MSComm1().DeviceName(), other.device);

        // Typing and leaving the box opens nothing.
        form->show();
        form->Combopuerto->lineEdit()->setFocus();
        form->Combopuerto->setEditText(shown.device);
        form->txtInfo->setFocus();
        QCOMPARE(form->MSComm1().DeviceName(), other.device);

        form->Program->click();
        QVERIFY2(shown.WaitFor("download 1: complete"), qPrintable(shown.Output()));
        QCOMPARE(shown.WaitForExit(), 0);
        QCOMPARE(TargetSimProcess::ReadFlash(flash), TargetSimProcess::CodeWords(code));
        QCOMPARE(other.WaitForExit(), 3);
        QVERIFY2(other.Output().contains("no download received"), qPrintable(other.Output()));
        QCOMPARE(form->MSComm1().DeviceName(), shown.device);

        // Enter on typed text opens it at once.
        TargetSimProcess third;
        QVERIFY(third.Start({"--timeout", "3"}));
        form->Combopuerto->lineEdit()->setFocus();
        form->Combopuerto->setEditText(third.device);
        QTest::keyClick(form->Combopuerto->lineEdit(), Qt::Key_Return);
        QCOMPARE(form->MSComm1().DeviceName(), third.device);
        QVERIFY(form->MSComm1().IsOpen());

        // A port that cannot be opened: one line with its name and reason, nothing sent,
        // the controls back.
        const QString missing = dir->filePath("no-such-port");
        form->Combopuerto->setEditText(missing);
        form->Program->click();
        const QStringList lines = form->Log().Text().split(CRLF);
        QVERIFY2(lines.last().startsWith("---- Cannot open port " + missing + ": "),
                 qPrintable(lines.last()));
        QVERIFY(!form->Log().Text().contains("Waiting reply"));
        QCOMPARE(third.WaitForExit(), 3);
        QVERIFY(form->Program->isEnabled());
        QVERIFY(form->Combopuerto->isEnabled());
    }

    // A click on Program that comes while the lock wait runs events, after the port was
    // lost, starts nothing: the wait ends at once and nothing more is logged or sent.
    void lockWaitIsNeverEnteredTwice()
    {
        TargetSimProcess target;
        QVERIFY(target.Start({"--no-lock", "--timeout", "20"}));
        WriteSettings(app + "/sample.hex", target.device);
        auto form = Start();
        int clicks = 0;
        connect(form->Program, &QToolButton::clicked, form.get(), [&] { ++clicks; });
        // The loss enables the controls; the click lands right after it, inside the wait.
        connect(&form->MSComm1(), &SerialLink::PortLost, form->Program, &QToolButton::click);
        QTimer::singleShot(300, form.get(), [&] { target.process.kill(); });
        form->Program->click();

        QCOMPARE(clicks, 2);
        const QString log = form->Log().Text();
        const QString last = log.section(CRLF, -1);
        QVERIFY2(last.startsWith("------ Download stopped: the port was lost (")
                     && last.endsWith("). Nothing more is sent."),
                 qPrintable(log));
        QCOMPARE(log.count("------ Programming ------"), 1);
        QVERIFY(!log.contains("Baud Did not Match"));
        QVERIFY(log.count('=') < 31);
        QVERIFY(form->Program->isEnabled());
        QVERIFY(!form->Downloader().Running());
    }

    // An open port whose device goes away while no download runs is shown as lost, and
    // opened again when its name leads to a device again; the log says nothing of it.
    void portWatchedWhileIdle()
    {
        TargetSimProcess target;
        QVERIFY(target.Start({"--timeout", "30"}));
        const QString link = dir->filePath("adapter");
        QVERIFY(QFile::link(target.device, link));
        WriteSettings(app + "/sample.hex", link);
        auto form = Start();
        QCOMPARE(form->DownloadProgress->toolTip(), QString("Ready"));
        const QString log = form->Log().Text();

        QVERIFY(QFile::remove(link));
        QTRY_COMPARE_WITH_TIMEOUT(form->DownloadProgress->toolTip(),
                                  "Port lost: " + link + " · plug the adapter in again", 3000);
        QVERIFY(!form->MSComm1().IsOpen());
        QVERIFY(QFile::link(target.device, link));
        QTRY_COMPARE_WITH_TIMEOUT(form->DownloadProgress->toolTip(), QString("Ready"), 3000);
        QVERIFY(form->MSComm1().IsOpen());
        QCOMPARE(form->MSComm1().DeviceName(), target.device);

        // The other end hangs up: the line is closed at once, and shown as lost.
        target.process.kill();
        QTRY_COMPARE_WITH_TIMEOUT(form->DownloadProgress->toolTip(),
                                  "Port lost: " + link + " · plug the adapter in again", 3000);
        QVERIFY(!form->MSComm1().IsOpen());
        QCOMPARE(form->Log().Text(), log);
    }

    // The settings file is written only when its bytes change: a second window that
    // changed nothing leaves the first one's choice, an unchanged file keeps its inode.
    void settingsWrittenOnlyWhenChanged()
    {
        const QString code = app + "/sample.hex";
        WriteSettings(code, "2");
        const QString before = FileIdentity(settings);
        auto first = Start();
        auto second = Start();
        second->close();
        QCOMPARE(FileIdentity(settings), before);

        dialog->answers << dir->filePath("chosen.hex");
        first->LoadProgram->click();
        const QByteArray chosen = ReadFile(settings);
        QVERIFY(chosen.startsWith("\"" + QFile::encodeName(dir->filePath("chosen.hex"))));
        auto third = Start();
        third->close();
        QCOMPARE(ReadFile(settings), chosen);
    }

    // A port text the file cannot hold keeps the last one it could; the rest is saved.
    void unstorablePortTextDoesNotBlockSaves()
    {
        WriteSettings(app + "/sample.hex", "2");
        auto form = Start();
        form->Combopuerto->setEditText("\"odd\"port");
        dialog->answers << dir->filePath("chosen.hex");
        form->LoadProgram->click();
        QCOMPARE(ReadFile(settings),
                 ("\"" + dir->filePath("chosen.hex") + "\"\r\n\"2\"\r\n").toLocal8Bit());
        const QStringList lines = LogLines(form->Log().Text());
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[1], QString("---- Cannot keep the port \"\"odd\"port\" in the settings file: "
                                   "it keeps \"2\""));
    }

    // The list offers the ports the system reports when it opens, with their details.
    void portListRefreshedWhenOpened()
    {
        auto form = Start();
        QList<SerialLink::PortInfo> ports;
        form->Combopuerto->ListPorts = [&] { return ports; };
        form->Combopuerto->setEditText("typed");
        const QString longName = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345-if00-port0";
        ports = {{"/dev/ttyUSB9", "FT232R USB UART", "FTDI", "A12345", ""},
                 {longName, "", "", "", ""}};
        form->show();
        form->Combopuerto->showPopup();
        // The list is as wide as its longest entry; the box keeps its size.
        QWidget *list = form->Combopuerto->view()->window();
        QVERIFY(list->isVisible());
        QVERIFY2(list->width() > QFontMetrics(form->Combopuerto->view()->font())
                                     .horizontalAdvance(longName),
                 qPrintable(QString::number(list->width())));
        form->Combopuerto->hidePopup();
        CheckSharedPlaces(form.get());
        QCOMPARE(ListEntries(form->Combopuerto),
                 QStringList({"1", "2", "3", "4", "5", "6", "7", "8", "/dev/ttyUSB9", longName}));
        QCOMPARE(form->Combopuerto->itemData(8, Qt::ToolTipRole).toString(),
                 QString("FT232R USB UART, FTDI, serial number A12345"));
        QCOMPARE(form->Combopuerto->currentText(), QString("typed"));
        // The box's tooltip shows its whole text, typed or picked.
        QCOMPARE(form->Combopuerto->toolTip(), QString("typed"));
        form->Combopuerto->setCurrentIndex(9);
        QCOMPARE(form->Combopuerto->toolTip(), longName);
        form->Combopuerto->setEditText("typed");

        ports.clear();
        form->Combopuerto->showPopup();
        form->Combopuerto->hidePopup();
        QCOMPARE(form->Combopuerto->count(), 8);
        QCOMPARE(form->Combopuerto->currentText(), QString("typed"));
    }

    // A FIFO, a device, a folder, an oversized file or one without read permission as
    // settings file or code file never blocks the window: it says so in one line. The
    // settings file is left as it is for the whole run, its first save that would replace
    // it says once why not, and the run's choice is used.
    void unreadableFilesNeverBlockTheWindow_data() { AddUnreadableFileRows(true); }

    void unreadableFilesNeverBlockTheWindow()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        HeldToPermissions held;
        const QString odd = UnreadableFile(dir->path(), kind);
        QVERIFY(!odd.isEmpty());
        const QString before = FileIdentity(odd);
        Watchdog watchdog;
        QString path = settings;
        settings = odd;
        auto form = Start();
        QCOMPARE(LogLines(form->Log().Text()),
                 QStringList{"---- Cannot read the settings file " + odd + ": " + reason});
        settings = path;

        // As the code file: Program refuses it before anything is sent.
        QVERIFY(QDir().mkpath(dir->filePath("code")));
        const QString code = UnreadableFile(dir->filePath("code"), kind);
        dialog->answers << code;
        form->LoadProgram->click();
        QCOMPARE(form->FileToProgram, code);
        QCOMPARE(LogLines(form->Log().Text()),
                 QStringList({code + Loaded, "---- Settings not saved: the settings file " + odd
                                                 + " could not be read at start (" + reason
                                                 + "), so it is left as it is"}));
        form->Program->click();
        QVERIFY2(form->Log().Text().contains(CRLF + "---- Cannot load " + code + ": " + reason),
                 qPrintable(form->Log().Text()));
        QVERIFY(form->Program->isEnabled());
        form->close();
        QCOMPARE(FileIdentity(odd), before);
        QVERIFY(!form->Log().Text().contains("---- Settings not saved"));
    }

    // The whole program against the simulated target: the remembered code file ends up
    // in the target's flash, word for word.
    void endToEnd()
    {
        TargetSimProcess target;
        const QString flash = dir->filePath("flash.txt");
        QVERIFY(target.Start({"--flash-out", flash, "--timeout", "20", "--quiet-ms", "200"}));
        QVERIFY(TargetSimProcess::WriteSamples(app, 1000));
        const QString code = app + "/sample.hex";
        WriteSettings(code, target.device);

        auto form = Start();
        form->show();
        QVERIFY(form->MSComm1().IsOpen());
        QVERIFY(form->Program->isEnabled());
        // The keypad's Enter on the focused Program button starts the download.
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        form->Program->setFocus();
        QTest::keyClick(form->Program, Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(!form->Program->isEnabled());
        QVERIFY(!form->LoadProgram->isEnabled());
        QVERIFY(!form->Combopuerto->isEnabled());

        QVERIFY2(target.WaitFor("download 1: complete"), qPrintable(target.Output()));
        QTRY_VERIFY_WITH_TIMEOUT(form->Log().Text().endsWith(" Seconds ------"), 10000);
        QCOMPARE(target.WaitForExit(), 0);
        QVERIFY2(!target.Output().contains("violation"), qPrintable(target.Output()));
        const QMap<quint16, quint16> words = TargetSimProcess::CodeWords(code);
        QCOMPARE(words.size(), 1000);
        QCOMPARE(TargetSimProcess::ReadFlash(flash), words);

        const QString log = form->Log().Text();
        QVERIFY(log.contains("------ Downloading My Code Downloaded!"));
        QVERIFY(form->Program->isEnabled());
        QVERIFY(form->LoadProgram->isEnabled());
        QVERIFY(form->Combopuerto->isEnabled());
        QCOMPARE(form->DownloadProgress->value(), form->DownloadProgress->maximum());
        QCOMPARE(form->DownloadProgress->maximum(), form->Image().ImageLength());
        const QString bytes = QLocale(QLocale::English).toString(form->Image().ImageLength());
        QVERIFY2(form->DownloadProgress->text().startsWith(
                     QString("Programmed \u00B7 %1 bytes in ").arg(bytes)),
                 qPrintable(form->DownloadProgress->text()));
        QCOMPARE(form->Downloader().DownloadState(), qint32(WAIT_FOR_LOCK));

        form->close();
        QCOMPARE(ReadFile(settings),
                 ("\"" + code + "\"\r\n\"" + target.device + "\"\r\n").toLocal8Bit());
    }
};

QTEST_MAIN(TestSingleFile)
#include "tst_singlefile.moc"
