// The multi-drive window: layout, settings file, drive-type and file choices, and the
// download controls around real downloads against the simulated target.
#include "../multidrive/form1.h"

#include "downloadimage.h"
#include "fakedialog.h"
#include "window.h"
#include "seriallink.h"
#include "statuslog.h"
#include "targetsimprocess.h"
#include "unreadablefile.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <memory>
#include <optional>

class TestMultiDrive : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString settings;
    QString samples;
    FakeDialog dialog;
    std::unique_ptr<Form1> form;

    void WriteSettings(const QByteArray &bytes) { QVERIFY(WriteFile(settings, bytes)); }
    QByteArray SettingsBytes() const { return ReadFile(settings); }

    void Start(const QString &settingsPath = {}, const QString &app = {})
    {
        form = std::make_unique<Form1>(settingsPath.isEmpty() ? settings : settingsPath, &dialog,
                                       app.isEmpty() ? samples : app);
    }

    // The log without the lines about a port that could not be opened (the test ports
    // mostly name no device).
    QString Log() const
    {
        QString text = form->Log().Text();
        text.remove(QRegularExpression("\r\n---- Cannot open port[^\r\n]*"));
        return text;
    }

    static QString TwoLines(const QString &loaded, const QString &ready)
    {
        return CRLF + loaded + Loaded + CRLF + ready + Ready;
    }

    // Enabled state of Program, SelectTROX, SelectZLA, SelectZLB, Combopuerto.
    QList<bool> DownloadControls() const
    {
        return {form->Program->isEnabled(), form->SelectTROX->isEnabled(),
                form->SelectZLA->isEnabled(), form->SelectZLB->isEnabled(),
                form->Combopuerto->isEnabled()};
    }

    QList<bool> Options(bool checked) const
    {
        if (checked)
            return {form->SelTROX->isChecked(), form->SelZLA->isChecked(),
                    form->SelZLB->isChecked()};
        return {form->SelTROX->isEnabled(), form->SelZLA->isEnabled(), form->SelZLB->isEnabled()};
    }

private slots:
    void initTestCase()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        samples = dir->filePath("samples");
        QVERIFY(QDir().mkpath(samples));
        QVERIFY(TargetSimProcess::WriteSamples(samples, 600));
    }

    void init()
    {
        settings = dir->filePath(QStringLiteral("cfg/%1/ZizUdederAdev11.cfg")
                                     .arg(QTest::currentTestFunction()));
        QVERIFY(QDir().mkpath(QFileInfo(settings).absolutePath()));
        dialog = FakeDialog();
    }

    void cleanup()
    {
        if (form)
            form->close();
        form.reset();
    }

    void layout()
    {
        Start();
        QCOMPARE(form->size(), QSize(616, 449));
        QCOMPARE(form->windowTitle(),
                 QString("Orvant Automation Serial Flash Download Utility for LF240X"));
        QVERIFY(!form->windowIcon().isNull());

        CheckSharedPlaces(form.get());
        CheckPlaces(form.get(), {
            {form->SelectTROX, "SelectTROX", {360, 4560, 2055, 735}},
            {form->SelectZLA, "SelectZLA", {2640, 4560, 2055, 735}},
            {form->SelectZLB, "SelectZLB", {4800, 4560, 2175, 735}},
            {form->Program, "Program", {7320, 4920, 1455, 1335}},
            {form->SelectEquipo, "SelectEquipo", {240, 5640, 6735, 975}},
            {form->SelTROX, "SelTROX", {480, 360, 1695, 495}},
            {form->SelZLA, "SelZLA", {2760, 360, 1455, 495}},
            {form->SelZLB, "SelZLB", {4680, 360, 1455, 495}},
        });
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(form->SelTROX->parentWidget(), form->SelectEquipo);

        QCOMPARE(form->Label2->text(), QString("File To be Programmed"));
        QCOMPARE(form->ComPort->text(), QString("CommPort"));
        QCOMPARE(form->Label1->text(), QString("Program Status"));
        QCOMPARE(form->SelectTROX->text(), QString("Select TROX  .HEX  File"));
        QCOMPARE(form->SelectZLA->text(), QString("Select ZLA  .HEX  File"));
        QCOMPARE(form->SelectZLB->text(), QString("Select ZLB  .HEX  File"));
        QCOMPARE(form->Program->text(), QString("Program"));
        QCOMPARE(form->SelectEquipo->title(), QString("Drive Type"));
        QCOMPARE(form->SelTROX->text(), QString("TROX"));
        QCOMPARE(form->SelZLA->text(), QString("ZLA"));
        QCOMPARE(form->SelZLB->text(), QString("ZLB"));
        QVERIFY(!form->SelectTROX->icon().isNull());
        QVERIFY(!form->Program->icon().isNull());

        QVERIFY(form->Label1->font().bold());
        QCOMPARE(form->Label1->font().pointSizeF(), 13.5);
        QCOMPARE(form->Label2->font().pointSizeF(), 9.75);
        QCOMPARE(form->txtInfo->font().pointSizeF(), 9.75);
        QVERIFY(!form->txtInfo->isReadOnly());
        QVERIFY(form->fileText->isReadOnly());
        QCOMPARE(form->txtInfo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(form->Combopuerto->isEditable());
        QCOMPARE(form->Combopuerto->itemText(0), QString("1"));
        QCOMPARE(form->Combopuerto->itemText(1), QString("2"));
        for (const SerialLink::PortInfo &port : SerialLink::SystemPorts())
            QVERIFY(form->Combopuerto->findText(port.device) >= 0);

        // The progress bar lies right of the port box and takes no part in the focus.
        QCOMPARE(form->DownloadProgress->objectName(), QString("DownloadProgress"));
        QCOMPARE(form->DownloadProgress->geometry(), QRect(120, 104, 473, 21));
        QCOMPARE(form->DownloadProgress->value(), 0);

        // Focus order as the window reads.
        QWidget *order[] = {form->fileText,  form->Combopuerto, form->txtInfo,
                            form->SelectTROX, form->SelectZLA,  form->SelectZLB,
                            form->Program,   form->SelTROX,     form->SelZLA, form->SelZLB};
        for (size_t i = 1; i < std::size(order); ++i) {
            QWidget *next = order[i - 1]->nextInFocusChain();
            // Parts of composite controls (the port box's edit field) and widgets that take
            // no focus (the frame) sit in the chain as well.
            while (next && next != order[i]
                   && (next->parentWidget() == order[i - 1] || next->focusPolicy() == Qt::NoFocus))
                next = next->nextInFocusChain();
            QCOMPARE(next ? next->objectName() : QString(), order[i]->objectName());
        }

        CheckAccessibleNames(form.get(), {{form->SelectTROX, "Select TROX  .HEX  File"},
                                          {form->SelectZLA, "Select ZLA  .HEX  File"},
                                          {form->SelectZLB, "Select ZLB  .HEX  File"},
                                          {form->SelectEquipo, "Drive Type"},
                                          {form->SelTROX, "TROX"},
                                          {form->SelZLA, "ZLA"},
                                          {form->SelZLB, "ZLB"}});
    }

    void firstStartCreatesFile()
    {
        Start();
        QCOMPARE(SettingsBytes(), QByteArray("\"\"\r\n\"\"\r\n\"\"\r\n\"\"\r\n\"1\"\r\n"));
        QCOMPARE(Options(false), (QList<bool>{false, false, false}));
        QCOMPARE(Options(true), (QList<bool>{false, false, false}));
        QCOMPARE(DownloadControls(), (QList<bool>{false, true, true, true, true}));
        QCOMPARE(Log(), QString());
        QCOMPARE(form->Combopuerto->currentText(), QString("1"));
        QCOMPARE(form->fileText->text(), QString());
        QCOMPARE(form->Downloader().AlgoNames(),
                 (QStringList{"Kernel ", "Clear ", "Erase ", "Prog ", "My Code "}));
        QCOMPARE(form->AppPath, samples);
    }

    void storedTroxSelected()
    {
        const QByteArray stored = Settings({"C:\\Code\\Drive.hex", "", "", "TROX", "3"});
        WriteSettings(stored);
        Start();
        QCOMPARE(Options(false), (QList<bool>{true, false, false}));
        QCOMPARE(Options(true), (QList<bool>{true, false, false}));
        QVERIFY(form->Program->isEnabled());
        QCOMPARE(form->fileText->text(), QString("C:\\Code\\Drive.hex"));
        QCOMPARE(form->FileToProgram, QString("C:\\Code\\Drive.hex"));
        QCOMPARE(Log(), TwoLines("C:\\Code\\Drive.hex", "C:\\Code\\Drive.hex"));
        QCOMPARE(form->Combopuerto->currentText(), QString("3"));
        QCOMPARE(SettingsBytes(), stored);
        // The unload writes the same again.
        form->close();
        QCOMPARE(SettingsBytes(), stored);
    }

    void driveTypeMatchesExactly()
    {
        WriteSettings(Settings({"/code/trox.hex", "", "", "trox", "1"}));
        Start();
        QVERIFY(!form->Program->isEnabled());
        QCOMPARE(Options(false), (QList<bool>{true, false, false}));
        QCOMPARE(Options(true), (QList<bool>{false, false, false}));
        QCOMPARE(form->FileToProgram, QString());
        QCOMPARE(Log(), QString());
    }

    void storedTypeWithEmptyEntry()
    {
        // A stored type without a file is not announced as loaded, and there is nothing
        // for Program to send.
        WriteSettings(Settings({"/code/trox.hex", "", "", "ZLA", "1"}));
        Start();
        QCOMPARE(Options(false), (QList<bool>{true, false, false}));
        QCOMPARE(Options(true), (QList<bool>{false, false, false}));
        QVERIFY(!form->Program->isEnabled());
        QCOMPARE(form->FileToProgram, QString());
        QCOMPARE(Log(), QString());
        form->close();
        QCOMPARE(SettingsBytes(), Settings({"/code/trox.hex", "", "", "ZLA", "1"}));
    }

    void shortAndLongFiles()
    {
        // Three values: read failure; the paths stay, the controls keep their start state.
        WriteSettings("\"/a.hex\"\r\n\"/b.hex\"\r\n\"/c.hex\"\r\n");
        Start();
        QCOMPARE(form->TROXFile, QString("/a.hex"));
        QCOMPARE(form->ZLAFile, QString("/b.hex"));
        QCOMPARE(form->ZLBFile, QString("/c.hex"));
        QCOMPARE(Options(false), (QList<bool>{true, true, true}));
        QCOMPARE(Options(true), (QList<bool>{false, false, false}));
        QVERIFY(!form->Program->isEnabled());
        QCOMPARE(form->Combopuerto->currentText(), QString("1"));
        form->close();
        QCOMPARE(SettingsBytes(), Settings({"/a.hex", "/b.hex", "/c.hex", "", "1"}));

        // Lines after the fifth value are ignored and not written back.
        WriteSettings(Settings({"", "", "/z.hex", "ZLB", "2", "extra"}));
        Start();
        QCOMPARE(Options(true), (QList<bool>{false, false, true}));
        QCOMPARE(form->Combopuerto->currentText(), QString("2"));
        QCOMPARE(SettingsBytes(), Settings({"", "", "/z.hex", "ZLB", "2"}));
    }

    void fileChoiceThenDriveType()
    {
        WriteSettings(Settings({"", "/z/zla.hex", "", "ZLA", "1"}));
        Start();
        dialog.answers = {QString("/t/new,1.hex")};
        form->SelectTROX->click();

        QCOMPARE(dialog.initDirs, QStringList{""});
        QCOMPARE(dialog.filters, QStringList{"*.hex|*.hex"});
        QCOMPARE(form->TROXFile, QString("/t/new,1.hex"));
        QCOMPARE(form->FileToProgram, QString("/t/new,1.hex"));
        QCOMPARE(form->DriveType, QString("TROX"));
        QCOMPARE(form->Downloader().AlgoNames().at(4), QString("/t/new,1.hex"));
        QCOMPARE(Options(false), (QList<bool>{true, true, false}));
        QCOMPARE(Options(true), (QList<bool>{true, false, false}));
        QVERIFY(form->Program->isEnabled());
        QCOMPARE(form->fileText->text(), QString("/t/new,1.hex"));
        QCOMPARE(form->Log().Text(), TwoLines("/t/new,1.hex", "/t/new,1.hex"));
        QCOMPARE(SettingsBytes(), Settings({"/t/new,1.hex", "/z/zla.hex", "", "TROX", "1"}));

        // Switching drive type takes that type's file, and the code block is named after it.
        form->SelZLA->click();
        QCOMPARE(form->FileToProgram, QString("/z/zla.hex"));
        QCOMPARE(form->Downloader().AlgoNames().at(4), QString("/z/zla.hex"));
        QCOMPARE(form->Log().Text(), TwoLines("/z/zla.hex", "/z/zla.hex"));
        QCOMPARE(form->fileText->text(), QString("/z/zla.hex"));
        QCOMPARE(SettingsBytes(), Settings({"/t/new,1.hex", "/z/zla.hex", "", "ZLA", "1"}));

        // Choosing again for the selected type starts the dialog at its file, and reruns
        // the choice even though the option is selected already.
        dialog.answers = {QString("/z/other.hex")};
        form->SelectZLA->click();
        QCOMPARE(dialog.initDirs.last(), QString("/z/zla.hex"));
        QCOMPARE(form->FileToProgram, QString("/z/other.hex"));
        QCOMPARE(form->Log().Text(), TwoLines("/z/other.hex", "/z/other.hex"));

        // The path with a comma reads back unchanged at the next start.
        form->close();
        Start();
        QCOMPARE(form->TROXFile, QString("/t/new,1.hex"));
        QCOMPARE(form->ZLAFile, QString("/z/other.hex"));
        QCOMPARE(form->FileToProgram, QString("/z/other.hex"));
    }

    void cancelledDialogChangesNothing()
    {
        const QByteArray stored = Settings({"/t/trox.hex", "", "", "TROX", "1"});
        WriteSettings(stored);
        Start();
        form->txtInfo->appendPlainText("operator's note");
        const QString log = form->Log().Text();

        dialog.answers = {std::nullopt};
        form->SelectZLA->click();
        QCOMPARE(dialog.initDirs.size(), 1);
        QCOMPARE(form->ZLAFile, QString());
        QCOMPARE(form->TROXFile, QString("/t/trox.hex"));
        QCOMPARE(form->DriveType, QString("TROX"));
        QCOMPARE(form->FileToProgram, QString("/t/trox.hex"));
        QCOMPARE(form->Downloader().AlgoNames().at(4), QString("My Code "));
        QCOMPARE(Options(false), (QList<bool>{true, false, false}));
        QCOMPARE(Options(true), (QList<bool>{true, false, false}));
        QVERIFY(form->Program->isEnabled());
        QCOMPARE(form->fileText->text(), QString("/t/trox.hex"));
        QCOMPARE(form->Log().Text(), log);
        QCOMPARE(SettingsBytes(), stored);

        // A cancel after an earlier choice does not hand that choice to another type.
        dialog.answers = {QString("/t/second.hex"), std::nullopt};
        form->SelectTROX->click();
        form->SelectZLB->click();
        QCOMPARE(form->ZLBFile, QString());
        QVERIFY(!form->SelZLB->isEnabled());
        QCOMPARE(form->FileToProgram, QString("/t/second.hex"));
    }

    void unstorableNameRefused()
    {
        const QByteArray stored = Settings({"/t/trox.hex", "", "", "TROX", "1"});
        WriteSettings(stored);
        Start();
        const QString log = form->Log().Text();
        dialog.answers = {QString("/t/a\"b.hex"), QString("/t/line\nbreak.hex")};
        form->SelectZLB->click();
        form->SelectZLB->click();
        QCOMPARE(form->ZLBFile, QString());
        QCOMPARE(form->FileToProgram, QString("/t/trox.hex"));
        QCOMPARE(form->DriveType, QString("TROX"));
        QCOMPARE(form->Downloader().AlgoNames().at(4), QString("My Code "));
        QVERIFY(!form->SelZLB->isEnabled());
        QCOMPARE(SettingsBytes(), stored);
        const QStringList added = form->Log().Text().mid(log.size()).split(CRLF);
        QCOMPARE(added.size(), 3); // an empty piece before each of the two lines
        QVERIFY(added[1].startsWith("---- Cannot use /t/a\"b.hex"));
        QVERIFY(added[2].startsWith("---- Cannot use /t/line\\nbreak.hex"));
    }

    void handEditedValueDoesNotBlockSaves()
    {
        // A bare value with a quote inside, as a hand edit may leave it: the new choice and
        // the odd value are both kept.
        WriteSettings("\"/t/trox.hex\"\r\n/t/z\"a\".hex\r\n\"\"\r\n\"TROX\"\r\n\"1\"\r\n");
        Start();
        QCOMPARE(form->ZLAFile, QString("/t/z\"a\".hex"));
        dialog.answers = {QString("/t/zlb.hex")};
        form->SelectZLB->click();
        QVERIFY(!Log().contains("Cannot write"));
        QCOMPARE(SettingsBytes(), QByteArray("\"/t/trox.hex\"\r\n/t/z\"a\".hex\r\n\"/t/zlb.hex\"\r\n"
                                             "\"ZLB\"\r\n\"1\"\r\n"));
    }

    void unwritableSettingsFile()
    {
        // A plain file stands where the settings folder should be.
        QFile blocker(dir->filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString path = dir->filePath("blocker/ZizUdederAdev11.cfg");
        Start(path);
        const QStringList lines = Log().split(CRLF, Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines[0].startsWith("---- Cannot write the settings file " + path + ": "),
                 qPrintable(lines[0]));
        QVERIFY(lines[0].size() > QString("---- Cannot write the settings file " + path + ": ").size());

        // The window goes on: a choice works and reports the failed save once more.
        dialog.answers = {QString("/t/x.hex")};
        form->SelectTROX->click();
        QCOMPARE(form->FileToProgram, QString("/t/x.hex"));
        QVERIFY(form->Program->isEnabled());
        const QStringList after = Log().split(CRLF, Qt::SkipEmptyParts);
        QCOMPARE(after.size(), 4); // two lines, a failed save inside the choice, one after
        QCOMPARE(after[0], QString("/t/x.hex") + Loaded);
        QVERIFY(after[2].startsWith("---- Cannot write the settings file "));
    }

    void completedDownload()
    {
        const QString flash = dir->filePath("flash.txt");
        TargetSimProcess target;
        QVERIFY(target.Start({"--flash-out", flash, "--timeout", "30", "--quiet-ms", "200"}));
        const QString code = samples + "/sample.hex";
        WriteSettings(Settings({code, "", "", "TROX", "2"}));
        Start();

        // Picking the simulated target's device from the list moves the port there.
        PickPort(form.get(), target.device);
        QVERIFY(form->MSComm1().IsOpen());
        QCOMPARE(form->MSComm1().DeviceName(), target.device);

        // Every line the download writes finds the download controls disabled.
        QList<QList<bool>> seen;
        connect(form->txtInfo, &QPlainTextEdit::textChanged, form.get(), [&] {
            if (!form->txtInfo->toPlainText().isEmpty())
                seen << DownloadControls();
        });
        // The bar is painted by time, about ten times a second, not at every step of the
        // image: painting costs the lock-step exchange its speed.
        int barChanges = 0;
        connect(form->DownloadProgress, &QProgressBar::valueChanged, form.get(),
                [&] { ++barChanges; });
        // Enter on the focused Program button starts the download.
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        form->Program->setFocus();
        QElapsedTimer took;
        took.start();
        QTest::keyClick(form->Program, Qt::Key_Return);
        QVERIFY(!seen.isEmpty());
        QVERIFY(WaitUntil([&] { return !form->Downloader().Running(); }));
        const double seconds = took.elapsed() / 1000.0;
        QVERIFY2(barChanges <= 3 + int(seconds * 11),
                 qPrintable(QString("%1 bar changes in %2 s").arg(barChanges).arg(seconds)));
        QVERIFY2(target.WaitFor("targetsim: download 1: complete"), qPrintable(target.Output()));
        QCOMPARE(target.WaitForExit(), 0);
        disconnect(form->txtInfo, nullptr, form.get(), nullptr);
        disconnect(form->DownloadProgress, nullptr, form.get(), nullptr);

        const QList<bool> off{false, false, false, false, false};
        for (int i = 0; i + 1 < seen.size(); ++i)
            QCOMPARE(seen[i], off);
        QCOMPARE(DownloadControls(), (QList<bool>{true, true, true, true, true}));
        QCOMPARE(Options(false), (QList<bool>{true, false, false}));
        QVERIFY(form->Log().Text().contains("------ DSP programmed in "));
        QCOMPARE(form->DownloadProgress->maximum(), form->Image().ImageLength());
        QCOMPARE(form->DownloadProgress->value(), form->DownloadProgress->maximum());

        const auto written = TargetSimProcess::ReadFlash(flash);
        const auto wanted = TargetSimProcess::CodeWords(code);
        QVERIFY(!wanted.isEmpty());
        QCOMPARE(written, wanted);
    }

    void failedDownloadKeepsControlsDisabled()
    {
        TargetSimProcess target;
        QVERIFY(target.Start({"--wrong-echo", "700", "--timeout", "30", "--quiet-ms", "200"}));
        const QString code = samples + "/sample.hex";
        WriteSettings(Settings({code, "/z/zla.hex", "", "TROX", target.device}));
        Start();
        QVERIFY(form->MSComm1().IsOpen());

        form->Program->click();
        QCOMPARE(DownloadControls(), (QList<bool>{false, false, false, false, false}));
        QVERIFY(WaitUntil([&] { return form->Log().Text().contains("Serial Communications Error"); }));
        QTest::qWait(200);
        QCOMPARE(DownloadControls(), (QList<bool>{false, false, false, false, false}));
        // The bar stays where the download stopped.
        QVERIFY(form->DownloadProgress->value() > 0);
        QVERIFY(form->DownloadProgress->value() < form->DownloadProgress->maximum());

        // The options stay disabled with the other download controls: the log keeps the
        // failure and the file shown is the one that was sent.
        QCOMPARE(Options(false), (QList<bool>{false, false, false}));
        const QString log = form->Log().Text();
        form->SelZLA->click();
        QCOMPARE(form->FileToProgram, code);
        QCOMPARE(form->Log().Text(), log);
    }

    void optionsAndClosingDuringDownload()
    {
        TargetSimProcess target;
        QVERIFY(target.Start({"--silent-after", "300", "--timeout", "30", "--quiet-ms", "200"}));
        const QString code = samples + "/sample.hex";
        WriteSettings(Settings({code, "/z/zla.hex", "", "TROX", target.device}));
        Start();
        form->Program->click();
        QVERIFY(WaitUntil([&] { return form->DownloadProgress->value() >= 300; }));
        // The bar's words during the transfer reach a screen reader too.
        QVERIFY(form->DownloadProgress->text().contains(" of "));
        QCOMPARE(QAccessible::queryAccessibleInterface(form->DownloadProgress)
                     ->text(QAccessible::Name),
                 form->DownloadProgress->text());

        // A drive-type option cannot switch the file or the stored type mid-transfer.
        QCOMPARE(Options(false), (QList<bool>{false, false, false}));
        form->SelZLA->click();
        QCOMPARE(form->FileToProgram, code);
        QVERIFY(!form->Log().Text().contains("/z/zla.hex"));
        QCOMPARE(SettingsBytes(), Settings({code, "/z/zla.hex", "", "TROX", target.device}));

        // The port text typed meanwhile is what the unload stores.
        form->Combopuerto->setEditText("5");
        form->close();
        QVERIFY(!form->Downloader().Running());
        QVERIFY(form->Log().Text().contains("window closed"));
        QVERIFY(!form->MSComm1().IsOpen());
        QCOMPARE(Options(false), (QList<bool>{true, true, false}));
        QCOMPARE(SettingsBytes(), Settings({code, "/z/zla.hex", "", "TROX", "5"}));
    }

    // The bar says before a download whether one can go, and after it how it ended, in
    // words and colour; a board gone silent in the transfer is shown while the window
    // waits for it, with no time left. In the patterns %app, %code and %port stand for the row's support
    // folder, code file and port, %total for the image's size.
    void barVerdict_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("idle");
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("colour");
        const QString reset = " · reset the board, start the program again$";
        const QString failed = "^Failed at byte %1 of %total" + reset;
        const QString notBuilt = "^Nothing sent · a file could not be loaded: see the log$";
        QTest::newRow("programmed") << QStringList{} << "" << "^Ready$"
                                    << "^Programmed · %total bytes in \\d+\\.\\d s$" << "green";
        QTest::newRow("wrong echo") << QStringList{"--wrong-echo", "700"} << "" << "^Ready$"
                                    << failed.arg(700) << "red";
        QTest::newRow("wrong echo of the first byte")
            << QStringList{"--wrong-echo", "0"} << "" << "^Ready$" << "^Failed at the first byte of %total" + reset
            << "red";
        QTest::newRow("refused acknowledgement")
            << QStringList{"--bad-ack", "5"} << "" << "^Ready$" << "^Block 5 not acknowledged" + reset << "red";
        QTest::newRow("failed handshake")
            << QStringList{"--bad-handshake", "6"} << "" << "^Ready$" << "^No handshake before block 6" + reset
            << "red";
        QTest::newRow("closing exchange")
            << QStringList{"--bad-close", "2"} << "" << "^Ready$"
            << "^Failed in the closing exchange, after all %total bytes" + reset << "red";
        QTest::newRow("no lock") << QStringList{"--no-lock"} << "" << "^Ready$"
                                 << "^No answer from the board · check the cable, reset the "
                                    "board, press Program$"
                                 << "red";
        QTest::newRow("port lost") << QStringList{"--hangup-after", "300"} << "" << "^Ready$"
                                   << "^Port lost at byte 301 of %total · reconnect, pick the "
                                      "port, press Program$"
                                   << "red";
        QTest::newRow("board silent") << QStringList{"--silent-after", "300", "--downloads", "0"}
                                      << "silent" << "^Ready$"
                                      << "^No answer for \\d+ s at byte 301 of %total · check the cable "
                                         "and the board$"
                                      << "";
        QTest::newRow("support files missing")
            << QStringList{} << "no support file"
            << "^Support files missing: krnl24xx\\.hex, clr24_x1\\.hex, era24_x1\\.hex in %app$"
            << notBuilt << "red";
        QTest::newRow("all support files missing")
            << QStringList{} << "no support files"
            << "^Support files missing: krnl24xx\\.hex, clr24_x1\\.hex, era24_x1\\.hex, prg24_x1\\.hex in %app$"
            << notBuilt << "red";
        QTest::newRow("code file missing") << QStringList{} << "no code file"
                                           << "^Code file missing: %code$" << notBuilt << "red";
        QTest::newRow("port cannot be opened")
            << QStringList{} << "no port" << "^Port not open: %port$"
            << "^Nothing sent · the port could not be opened: see the log$" << "red";
    }

    void barVerdict()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, setup);
        QFETCH(QString, idle);
        QFETCH(QString, end);
        QFETCH(QString, colour);
        TargetSimProcess target;
        QVERIFY(target.Start(options + QStringList{"--timeout", "30", "--quiet-ms", "200"}));
        QString app = samples;
        QString code = samples + "/sample.hex";
        QString port = target.device;
        if (setup.startsWith("no support file")) {
            // Long enough that the bar cannot show it whole.
            app = dir->filePath((setup == "no support file" ? "without-era-" : "without-any-") + QString(60, 'x'));
            QVERIFY(QDir().mkpath(app));
            if (setup == "no support file")
                QVERIFY(QFile::copy(samples + "/prg24_x1.hex", app + "/prg24_x1.hex"));
        } else if (setup == "no code file") {
            code = dir->filePath("gone.hex");
        } else if (setup == "no port") {
            port = dir->filePath("no-such-port");
        }
        WriteSettings(Settings({code, "", "", "TROX", port}));
        Start({}, app);
        form->show();
        const auto matches = [&](QString pattern, const QString &text) {
            pattern.replace("%app", QRegularExpression::escape(app))
                .replace("%code", QRegularExpression::escape(code))
                .replace("%port", QRegularExpression::escape(port))
                .replace("%total", QLocale(QLocale::English).toString(form->Image().ImageLength()));
            return QRegularExpression(pattern).match(text).hasMatch();
        };
        // The whole text in the tooltip; on the bar, cut to fit.
        QVERIFY2(matches(idle, form->DownloadProgress->toolTip()),
                 qPrintable(form->DownloadProgress->toolTip()));
        QVERIFY2(form->DownloadProgress->fontMetrics().horizontalAdvance(form->DownloadProgress->text())
                     < form->DownloadProgress->width(),
                 qPrintable(form->DownloadProgress->text()));
        // Cut to fit, the bar keeps the file names whole and cuts the folder (or leaves it
        // out, where the names leave no room for it).
        if (setup == "no support file")
            QVERIFY2(form->DownloadProgress->text().startsWith(
                         "Support files missing: krnl24xx.hex, clr24_x1.hex, era24_x1.hex in "),
                     qPrintable(form->DownloadProgress->text()));
        if (setup == "no support files")
            QVERIFY2(form->DownloadProgress->text().contains(
                         "issing: krnl24xx.hex, clr24_x1.hex, era24_x1.hex, prg24_x1.hex"),
                     qPrintable(form->DownloadProgress->text()));
        QCOMPARE(BarHue(form->DownloadProgress), QString("plain"));
        // The log keeps its own lines only.
        QCOMPARE(Log(), TwoLines(code, code));

        form->Program->click();
        if (setup == "silent") {
            QVERIFY2(WaitUntil([&] { return matches(end, form->DownloadProgress->text()); }, 10000),
                     qPrintable(form->DownloadProgress->text()));
            QVERIFY(form->Downloader().Running());
        } else {
            QVERIFY(WaitUntil([&] { return !form->Downloader().Running(); }));
            QTest::qWait(150); // anything still due on the bar would show by now
            // The whole text in the tooltip; on the bar, cut to fit.
            QVERIFY2(matches(end, form->DownloadProgress->toolTip()),
                     qPrintable(form->DownloadProgress->toolTip()));
            QVERIFY2(form->DownloadProgress->fontMetrics().horizontalAdvance(form->DownloadProgress->text())
                         < form->DownloadProgress->width(),
                     qPrintable(form->DownloadProgress->text()));
        }
        QVERIFY(!form->DownloadProgress->text().contains(" left"));
        if (!colour.isEmpty())
            QCOMPARE(BarHue(form->DownloadProgress), colour);
        // A screen reader hears the bar's words, whole.
        QCOMPARE(QAccessible::queryAccessibleInterface(form->DownloadProgress)
                     ->text(QAccessible::Name),
                 setup == "silent" ? form->DownloadProgress->text() : form->DownloadProgress->toolTip());
    }

    // A settings file that could not be read at start may hold the technician's files and
    // port: it is left as it is for the whole run. The run's choices are used, and the first
    // save that would replace the file says once that nothing was saved, and why.
    void unreadableSettingsFileIsKept_data() { AddUnreadableFileRows(true); }

    void unreadableSettingsFileIsKept()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        HeldToPermissions held;
        const QString folder = dir->filePath("odd-" + kind);
        QVERIFY(QDir().mkpath(folder));
        const QString odd = UnreadableFile(folder, kind);
        QVERIFY(!odd.isEmpty());
        const QString before = FileIdentity(odd);
        Start(odd);
        QCOMPARE(Log(), CRLF + "---- Cannot read the settings file " + odd + ": " + reason);

        dialog.answers = {QString("/t/chosen.hex"), QString("/t/zla.hex")};
        form->SelectTROX->click();
        QCOMPARE(Log(), TwoLines("/t/chosen.hex", "/t/chosen.hex") + CRLF
                            + "---- Settings not saved: the settings file " + odd
                            + " could not be read at start (" + reason
                            + "), so it is left as it is");
        // The next choice clears that line; the bar keeps saying it for the whole run.
        form->SelectZLA->click();
        form->Combopuerto->setEditText("4");
        QCOMPARE(form->FileToProgram, QString("/t/zla.hex"));
        QVERIFY(form->Program->isEnabled());
        QVERIFY2(form->DownloadProgress->toolTip().endsWith(
                     " · settings will not be saved: the file could not be read"),
                 qPrintable(form->DownloadProgress->toolTip()));
        // On the bar too, in fewer words where need be, and never cut.
        QVERIFY2(form->DownloadProgress->text().contains(" · settings will not be saved"),
                 qPrintable(form->DownloadProgress->text()));
        form->close();
        QCOMPARE(FileIdentity(odd), before);
        QCOMPARE(Log(), TwoLines("/t/zla.hex", "/t/zla.hex"));
    }
};

QTEST_MAIN(TestMultiDrive)
#include "tst_multidrive.moc"
