#include "form1.h"

#include "downloadimage.h"
#include "filedialog.h"
#include "formparts.h"
#include "seriallink.h"
#include "settingsfile.h"
#include "statuslog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QToolButton>

using FormParts::TwipsRect;

namespace {
constexpr int SettingsCount = 2;
} // namespace

Form1::Form1(const QString &settingsPath, FileDialog *dialog, const QString &appPath,
             QWidget *parent)
    : QWidget(parent), Dialog(dialog), settingsPath(settingsPath),
      image(std::make_unique<DownloadImage>())
{
    if (!Dialog) {
        ownDialog = std::make_unique<QtFileDialog>(this);
        Dialog = ownDialog.get();
    }
    CreateControls();

    log = std::make_unique<StatusLog>(txtInfo);
    link = std::make_unique<SerialLink>(*log);
    download = std::make_unique<Download>(*image, *log, *link, *this);

    connect(download.get(), &Download::Progress, this, [this](int echoed, int total) {
        if (total <= 0)
            return;
        if (DownloadProgress->maximum() != total)
            DownloadProgress->setRange(0, total);
        DownloadProgress->setValue(qBound(0, echoed, total));
    });
    connect(Program, &QToolButton::clicked, this, &Form1::StartProgramming);
    connect(LoadProgram, &QToolButton::clicked, this, &Form1::ChooseFile);
    // Picking a port from the list switches to it at once; typed text is only kept for
    // the next start.
    connect(Combopuerto, &QComboBox::activated, this,
            [this] { link->ChangePort(Combopuerto->currentText()); });

    FormLoad(appPath.isEmpty() ? QCoreApplication::applicationDirPath() : appPath);
}

Form1::~Form1() = default;

void Form1::CreateControls()
{
    FormParts::SetUpWindow(this, 8985, 5700);

    Program = FormParts::MakePictureButton(this, QStringLiteral("Program"),
                                           QStringLiteral("Program"),
                                           FormParts::ProgramPicture(),
                                           TwipsRect(2520, 4560, 2055, 975));
    Program->setEnabled(false);
    txtInfo = FormParts::MakeTxtInfo(this);
    LoadProgram = FormParts::MakePictureButton(this, QStringLiteral("LoadProgram"),
                                               QStringLiteral("Select   .HEX  File"),
                                               FormParts::FloppyPicture(),
                                               TwipsRect(120, 4560, 1815, 975));
    Label1 = FormParts::MakeLabel1(this);
    fileText = FormParts::MakeFileText(this);
    Label2 = FormParts::MakeLabel2(this);
    Combopuerto = FormParts::MakeCombopuerto(
        this, {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"),
               QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"),
               QStringLiteral("8")});
    ComPort = FormParts::MakeComPort(this);
    DownloadProgress = FormParts::MakeProgressBar(this, QStringLiteral("DownloadProgress"),
                                                  TwipsRect(1800, 1560, 7095, 315));

    // Keyboard focus order; the labels and the progress bar take no focus.
    setTabOrder(Program, txtInfo);
    setTabOrder(txtInfo, LoadProgram);
    setTabOrder(LoadProgram, fileText);
    setTabOrder(fileText, Combopuerto);
}

void Form1::FormLoad(const QString &appPath)
{
    link->ConfigurePort();
    download->DownloadState = WAIT_FOR_LOCK;
    image->BlockNum = 0;
    download->ReplyCount = 0;
    download->AlgoNames = QStringList{QStringLiteral("Kernel "), QStringLiteral("Clear "),
                                      QStringLiteral("Erase "), QStringLiteral("Prog "),
                                      QStringLiteral("My Code ")};
    LoadSettings(appPath);
    link->OpenPort(Combopuerto->currentText());
    AppPath = appPath;
}

void Form1::LoadSettings(const QString &appPath)
{
    const SettingsFile::ReadResult read = SettingsFile::Read(settingsPath, SettingsCount);
    switch (read.status) {
    case SettingsFile::ReadStatus::Missing: {
        // A first start: the program's folder and the first port, the port bare.
        FormParts::SaveSettingsFile(settingsPath, {appPath, QStringLiteral("1")}, *log,
                                    {false, true});
        Combopuerto->setEditText(QStringLiteral("1"));
        return;
    }
    case SettingsFile::ReadStatus::TooFew:
    case SettingsFile::ReadStatus::Unreadable:
        // Whatever was read of the code file is kept; nothing else changes.
        if (!read.values.isEmpty())
            FileToProgram = read.values.constFirst();
        return;
    case SettingsFile::ReadStatus::Ok:
        break;
    }

    FileToProgram = read.values[0];
    Combopuerto->setEditText(read.values[1]);
    Program->setEnabled(true);
    fileText->setText(FileToProgram);
    if (!FileToProgram.isEmpty())
        log->LogLine(FileToProgram + QLatin1String(FormParts::ReadyToProgram));
}

void Form1::ChooseFile()
{
    QString chosen;
    if (!FormParts::ChooseCodeFile(*Dialog, FileToProgram, *log, chosen))
        return;

    log->ClearLog();
    FileToProgram = chosen;
    Program->setEnabled(true);
    log->LogLine(FileToProgram + QLatin1String(FormParts::Loaded));
    fileText->setText(FileToProgram);
    download->AlgoNames[4] = chosen;
    SaveSettings();
}

bool Form1::SaveSettings()
{
    return FormParts::SaveSettingsFile(settingsPath, {FileToProgram, Combopuerto->currentText()},
                                       *log);
}

void Form1::StartProgramming()
{
    DownloadProgress->setRange(0, 1);
    DownloadProgress->setValue(0);
    download->StartDownload(AppPath, FileToProgram);
}

void Form1::EnableDownloadControls(bool enabled)
{
    Program->setEnabled(enabled);
    LoadProgram->setEnabled(enabled);
    Combopuerto->setEnabled(enabled);
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (!unloaded) {
        unloaded = true;
        if (download->Running())
            download->Abort(QStringLiteral("window closed"));
        SaveSettings();
        link->ClosePort();
    }
    QWidget::closeEvent(event);
}
