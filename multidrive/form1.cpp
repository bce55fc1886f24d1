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
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QToolButton>

using FormParts::TwipsRect;

namespace {
const QLatin1String Loaded(FormParts::Loaded);
const QLatin1String Ready(FormParts::ReadyToProgram);
constexpr int SettingsValues = 5;
} // namespace

Form1::Form1(const QString &settingsPath, FileDialog *dialog, const QString &appPath,
             QWidget *parent)
    : QWidget(parent), settingsPath(settingsPath), image(std::make_unique<DownloadImage>())
{
    CreateControls();

    if (!dialog) {
        ownDialog = std::make_unique<QtFileDialog>(this);
        dialog = ownDialog.get();
    }
    Dialog = dialog;

    drives = {{{QStringLiteral("TROX"), SelTROX, SelectTROX, &TROXFile},
               {QStringLiteral("ZLA"), SelZLA, SelectZLA, &ZLAFile},
               {QStringLiteral("ZLB"), SelZLB, SelectZLB, &ZLBFile}}};

    log = std::make_unique<StatusLog>(txtInfo);
    link = std::make_unique<SerialLink>(*log);
    download = std::make_unique<Download>(*image, *log, *link, *this);

    for (int type = 0; type < int(drives.size()); ++type) {
        connect(drives[type].option, &QRadioButton::toggled, this, [this, type](bool on) {
            if (on && !selecting)
                ChooseDriveType(type);
        });
        connect(drives[type].select, &QToolButton::clicked, this,
                [this, type] { ChooseFile(type); });
    }
    connect(Program, &QToolButton::clicked, this, &Form1::StartProgramming);
    // Picking an entry from the list moves to that port; typed text waits for the next
    // start.
    connect(Combopuerto, qOverload<int>(&QComboBox::activated), this,
            [this] { link->ChangePort(Combopuerto->currentText()); });
    connect(download.get(), &Download::Progress, this, [this](int echoed, int total) {
        if (total <= 0)
            return;
        if (DownloadProgress->maximum() != total)
            DownloadProgress->setRange(0, total);
        DownloadProgress->setValue(qBound(0, echoed, total));
    });

    FormLoad(appPath);
}

Form1::~Form1() = default;

void Form1::CreateControls()
{
    FormParts::SetUpWindow(this, 9240, 6735);

    Label2 = FormParts::MakeLabel2(this);
    fileText = FormParts::MakeFileText(this);
    ComPort = FormParts::MakeComPort(this);
    Combopuerto = FormParts::MakeCombopuerto(this, {QStringLiteral("1"), QStringLiteral("2")});
    Label1 = FormParts::MakeLabel1(this);
    txtInfo = FormParts::MakeTxtInfo(this);

    const QIcon floppy = FormParts::FloppyPicture();
    SelectTROX = FormParts::MakePictureButton(this, QStringLiteral("SelectTROX"),
                                              QStringLiteral("Select TROX  .HEX  File"), floppy,
                                              TwipsRect(360, 4560, 2055, 735));
    SelectZLA = FormParts::MakePictureButton(this, QStringLiteral("SelectZLA"),
                                             QStringLiteral("Select ZLA  .HEX  File"), floppy,
                                             TwipsRect(2640, 4560, 2055, 735));
    SelectZLB = FormParts::MakePictureButton(this, QStringLiteral("SelectZLB"),
                                             QStringLiteral("Select ZLB  .HEX  File"), floppy,
                                             TwipsRect(4800, 4560, 2175, 735));
    Program = FormParts::MakePictureButton(this, QStringLiteral("Program"),
                                           QStringLiteral("Program"),
                                           FormParts::ProgramPicture(),
                                           TwipsRect(7320, 4920, 1455, 1335));
    Program->setEnabled(false);

    SelectEquipo = new QGroupBox(QStringLiteral("Drive Type"), this);
    SelectEquipo->setObjectName(QStringLiteral("SelectEquipo"));
    SelectEquipo->setGeometry(TwipsRect(240, 5640, 6735, 975));
    auto makeOption = [this](const QString &name, const QString &caption, const QRect &where) {
        auto *option = new QRadioButton(caption, SelectEquipo);
        option->setObjectName(name);
        option->setGeometry(where);
        return option;
    };
    SelTROX = makeOption(QStringLiteral("SelTROX"), QStringLiteral("TROX"),
                         TwipsRect(480, 360, 1695, 495));
    SelZLA = makeOption(QStringLiteral("SelZLA"), QStringLiteral("ZLA"),
                        TwipsRect(2760, 360, 1455, 495));
    SelZLB = makeOption(QStringLiteral("SelZLB"), QStringLiteral("ZLB"),
                        TwipsRect(4680, 360, 1455, 495));

    // Shows how much of the image the target has echoed.
    DownloadProgress = FormParts::MakeProgressBar(this, QStringLiteral("DownloadProgress"),
                                                  TwipsRect(1800, 1560, 7095, 315));

    // Keyboard focus order; the labels and the frame take no focus.
    QWidget *order[] = {Program,   txtInfo,   SelectTROX, fileText, Combopuerto,
                        SelectZLA, SelectZLB, SelTROX,    SelZLA,   SelZLB};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
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
    LoadSettings();
    link->OpenPort(Combopuerto->currentText());
    AppPath = appPath.isEmpty() ? QCoreApplication::applicationDirPath() : appPath;
}

void Form1::LoadSettings()
{
    const SettingsFile::ReadResult read = SettingsFile::Read(settingsPath, SettingsValues);
    if (read.status == SettingsFile::ReadStatus::Missing) {
        TROXFile.clear();
        ZLAFile.clear();
        ZLBFile.clear();
        DriveType.clear();
        Combopuerto->setEditText(QStringLiteral("1"));
        Program->setEnabled(false);
        for (const DriveEntry &drive : drives)
            drive.option->setEnabled(false);
        SaveSettings();
        return;
    }

    // Values read before a failure stay; the controls are left as they started.
    QString *targets[] = {&TROXFile, &ZLAFile, &ZLBFile, &DriveType};
    for (int i = 0; i < int(std::size(targets)) && i < read.values.size(); ++i)
        *targets[i] = read.values[i];
    if (read.status != SettingsFile::ReadStatus::Ok)
        return;

    Combopuerto->setEditText(read.values[4]);
    for (const DriveEntry &drive : drives) {
        const bool hasFile = !drive.file->isEmpty();
        drive.option->setEnabled(hasFile);
        if (hasFile)
            Program->setEnabled(true);
    }
    for (int type = 0; type < int(drives.size()); ++type) {
        if (DriveType == drives[type].word) {
            SelectOption(type);
            return;
        }
    }
    Program->setEnabled(false);
}

void Form1::SelectOption(int type)
{
    selecting = true;
    drives[type].option->setChecked(true);
    selecting = false;
    ChooseDriveType(type);
}

void Form1::ChooseDriveType(int type)
{
    const DriveEntry &drive = drives[type];
    FileToProgram = *drive.file;
    DriveType = drive.word;
    log->ClearLog();
    log->LogLine(*drive.file + Loaded);
    log->LogLine(FileToProgram + Ready);
    fileText->setText(*drive.file);
    SaveSettings();
}

void Form1::ChooseFile(int type)
{
    const DriveEntry &drive = drives[type];
    QString chosen;
    if (!FormParts::ChooseCodeFile(*Dialog, *drive.file, *log, chosen))
        return;

    log->ClearLog();
    DriveType = drive.word;
    *drive.file = chosen;
    Program->setEnabled(true);
    download->AlgoNames[4] = chosen;
    drive.option->setEnabled(true);
    SelectOption(type);
    SaveSettings();
}

void Form1::SaveSettings()
{
    FormParts::SaveSettingsFile(
        settingsPath, {TROXFile, ZLAFile, ZLBFile, DriveType, Combopuerto->currentText()}, *log);
}

void Form1::EnableDownloadControls(bool enabled)
{
    Program->setEnabled(enabled);
    SelectTROX->setEnabled(enabled);
    SelectZLA->setEnabled(enabled);
    SelectZLB->setEnabled(enabled);
    Combopuerto->setEnabled(enabled);
}

void Form1::StartProgramming()
{
    DownloadProgress->setRange(0, 1);
    DownloadProgress->setValue(0);
    download->StartDownload(AppPath, FileToProgram);
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (download->Running())
        download->Abort(QStringLiteral("window closed"));
    SaveSettings();
    link->ClosePort();
    QWidget::closeEvent(event);
}
