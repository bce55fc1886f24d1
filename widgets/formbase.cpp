#include "formbase.h"

#include "downloadimage.h"
#include "filedialog.h"
#include "formparts.h"
#include "logbox.h"
#include "seriallink.h"
#include "statuslog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QToolButton>

using FormParts::TwipsRect;

namespace {

// A text on one line of the log: line breaks shown escaped.
QString OneLine(QString text)
{
    text.replace(QLatin1Char('\r'), QStringLiteral("\\r"));
    text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return text;
}

bool CanHoldPort(const QString &port)
{
    return SettingsFile::CanStore(port) || SettingsFile::CanStoreBare(port);
}

} // namespace

FormBase::FormBase(const QString &settingsPath, FileDialog *dialog, const QString &appPath,
                   const Layout &layout)
    : QWidget(nullptr)
    , Dialog(dialog)
    , settingsPath(settingsPath)
    , programFolder(appPath.isEmpty() ? QCoreApplication::applicationDirPath() : appPath)
    , image(std::make_unique<DownloadImage>())
    , log(std::make_unique<StatusLog>())
{
    if (!Dialog) {
        ownDialog = std::make_unique<QtFileDialog>(this);
        Dialog = ownDialog.get();
    }

    FormParts::SetUpWindow(this, layout.width, layout.height);
    Program = FormParts::MakePictureButton(this, QStringLiteral("Program"),
                                           QStringLiteral("Program"),
                                           FormParts::ProgramPicture(), layout.program);
    Program->setEnabled(false);
    txtInfo = FormParts::MakeTxtInfo(this);
    Label1 = FormParts::MakeLabel1(this);
    fileText = FormParts::MakeFileText(this);
    Label2 = FormParts::MakeLabel2(this);
    Combopuerto = FormParts::MakeCombopuerto(this, layout.ports);
    ComPort = FormParts::MakeComPort(this);
    // Shows how much of the image the target has echoed, and the time left.
    DownloadProgress = FormParts::MakeProgressBar(this, QStringLiteral("DownloadProgress"),
                                                  TwipsRect(1800, 1560, 7095, 315));

    box = std::make_unique<LogBox>(txtInfo);
    log->SetSink(box.get());
    link = std::make_unique<SerialLink>(*log);
    download = std::make_unique<Download>(*image, *log, *link, *this);

    connect(download.get(), &Download::Progress, this, &FormBase::ShowProgress);
    connect(Program, &QToolButton::clicked, this, &FormBase::StartProgramming);
    // Picking an entry from the list moves to that port at once; typed text is opened by
    // Enter, or by Program before it sends.
    const auto changePort = [this] { link->ChangePort(Combopuerto->currentText()); };
    connect(Combopuerto, qOverload<int>(&QComboBox::activated), this, changePort);
    connect(Combopuerto->lineEdit(), &QLineEdit::returnPressed, this, changePort);
}

FormBase::~FormBase()
{
    // The log box goes with the window's children; nothing may be shown after this.
    log->SetSink(nullptr);
}

void FormBase::FormLoad()
{
    link->ConfigurePort();
    LoadSettings();
    link->OpenPort(Combopuerto->currentText());
    AppPath = programFolder;
}

SettingsFile::ReadResult FormBase::ReadSettings(int count)
{
    const SettingsFile::ReadResult read = SettingsFile::Read(settingsPath, count);
    settingsBytes = read.bytes;
    // The window starts with its first-start controls; the operator learns why.
    if (read.status == SettingsFile::ReadStatus::Unreadable)
        log->LogLine(QStringLiteral("---- Cannot read the settings file ")
                     + QDir::toNativeSeparators(settingsPath) + QStringLiteral(": ")
                     + read.reason);
    return read;
}

void FormBase::SetPortText(const QString &text)
{
    Combopuerto->setEditText(text);
    if (CanHoldPort(text))
        storedPort = text;
}

bool FormBase::SaveSettings()
{
    QStringList values = SettingsValues();
    QString &port = values.last();
    if (CanHoldPort(port)) {
        storedPort = port;
    } else {
        log->LogLine(QStringLiteral("---- Cannot keep the port \"%1\" in the settings file: "
                                    "it keeps \"%2\"")
                         .arg(OneLine(port), storedPort));
        port = storedPort;
    }
    return WriteSettings(values);
}

bool FormBase::WriteSettings(const QStringList &values, const QVector<bool> &raw)
{
    // Only a change is written: a second window that changed nothing leaves the first
    // one's choices alone, and an unchanged file keeps its date.
    const QByteArray bytes = SettingsFile::Format(values, raw);
    if (bytes == settingsBytes)
        return true;
    QString reason;
    if (!SettingsFile::Write(settingsPath, values, &reason, raw)) {
        log->LogLine(QStringLiteral("---- Cannot write the settings file ")
                     + QDir::toNativeSeparators(settingsPath) + QStringLiteral(": ") + reason);
        return false;
    }
    settingsBytes = bytes;
    return true;
}

bool FormBase::ChooseCodeFile(const QString &initDir, QString &chosen)
{
    Dialog->InitDir = initDir;
    Dialog->Filter = QStringLiteral("*.hex|*.hex");
    // A cancelled dialog changes nothing, the log included.
    if (!Dialog->ShowOpen())
        return false;
    if (!SettingsFile::CanStore(Dialog->FileName)) {
        // The name could not be written to the settings file and read back: it is not
        // taken.
        log->LogLine(QStringLiteral("---- Cannot use ") + OneLine(Dialog->FileName)
                     + QStringLiteral(": the settings file cannot hold this file name"));
        return false;
    }
    chosen = Dialog->FileName;
    return true;
}

void FormBase::EnableDownloadControls(bool enabled)
{
    Program->setEnabled(enabled);
    EnableOwnControls(enabled);
    Combopuerto->setEnabled(enabled);
}

void FormBase::StartProgramming()
{
    // A click let through while the lock wait runs events starts nothing.
    if (download->InLockWait())
        return;
    download->StartDownload(AppPath, FileToProgram, Combopuerto->currentText());
}

void FormBase::ShowProgress(int echoed, int total)
{
    if (total <= 0) {
        // A new download: nothing echoed yet.
        DownloadProgress->setRange(0, 1);
        DownloadProgress->setValue(0);
        DownloadProgress->resetFormat();
        return;
    }
    if (DownloadProgress->maximum() != total)
        DownloadProgress->setRange(0, total);
    DownloadProgress->setValue(qBound(0, echoed, total));
    DownloadProgress->setFormat(
        Download::ProgressText(echoed, total, download->TransferSeconds()));
}

void FormBase::closeEvent(QCloseEvent *event)
{
    if (!unloaded) {
        unloaded = true;
        download->Abort(QStringLiteral("window closed"));
        SaveSettings();
        link->ClosePort();
    }
    QWidget::closeEvent(event);
}
