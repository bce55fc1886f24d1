#include "form1.h"

#include "formparts.h"
#include "statuslog.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QToolButton>

using FormParts::TwipsRect;

namespace {
const QLatin1String Loaded(FormParts::Loaded);
const QLatin1String Ready(FormParts::ReadyToProgram);
constexpr int SettingsCount = 5;
} // namespace

Form1::Form1(const QString &settings, FileDialog *dialog, const QString &appPath)
    : FormBase(settings, dialog, appPath,
               {9240, 6735, TwipsRect(7320, 4920, 1455, 1335), {"1", "2"}})
{
    CreateControls();
    drives = {{{QStringLiteral("TROX"), SelTROX, SelectTROX, &TROXFile},
               {QStringLiteral("ZLA"), SelZLA, SelectZLA, &ZLAFile},
               {QStringLiteral("ZLB"), SelZLB, SelectZLB, &ZLBFile}}};
    for (int type = 0; type < int(drives.size()); ++type) {
        connect(drives[type].option, &QRadioButton::toggled, this, [this, type](bool on) {
            if (on && !selecting)
                ChooseDriveType(type);
        });
        connect(drives[type].select, &QToolButton::clicked, this,
                [this, type] { ChooseFile(type); });
    }
    FormLoad();
}

void Form1::CreateControls()
{
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

    // Keyboard focus order, as the window reads: top to bottom, left to right. The labels
    // and the frame take no focus.
    QWidget *order[] = {fileText,  Combopuerto, txtInfo, SelectTROX, SelectZLA,
                        SelectZLB, Program,     SelTROX, SelZLA,     SelZLB};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void Form1::LoadSettings()
{
    const SettingsFile::ReadResult read = ReadSettings(SettingsCount);
    if (read.status == SettingsFile::ReadStatus::Missing) {
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

    SetPortText(read.values[4]);
    for (const DriveEntry &drive : drives) {
        const bool hasFile = !drive.file->isEmpty();
        drive.option->setEnabled(hasFile);
        if (hasFile)
            Program->setEnabled(true);
    }
    for (int type = 0; type < int(drives.size()); ++type) {
        // A stored type without a file has nothing to announce or to program.
        if (DriveType == drives[type].word && !drives[type].file->isEmpty()) {
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
    // Once a file has been chosen, the code block is named after the file it sends.
    if (fileChosen)
        Downloader().SetCodeName(FileToProgram);
    Log().ClearLog();
    Log().LogLine(*drive.file + Loaded);
    Log().LogLine(FileToProgram + Ready);
    fileText->setText(*drive.file);
    SaveSettings();
    ShowReadiness();
}

void Form1::ChooseFile(int type)
{
    const DriveEntry &drive = drives[type];
    QString chosen;
    if (!ChooseCodeFile(*drive.file, chosen))
        return;

    Log().ClearLog();
    DriveType = drive.word;
    *drive.file = chosen;
    Program->setEnabled(true);
    fileChosen = true;
    Downloader().SetCodeName(chosen);
    drive.option->setEnabled(true);
    SelectOption(type);
    SaveSettings();
}

QStringList Form1::SettingsValues() const
{
    return {TROXFile, ZLAFile, ZLBFile, DriveType, Combopuerto->currentText()};
}

void Form1::EnableOwnControls(bool enabled)
{
    SelectTROX->setEnabled(enabled);
    SelectZLA->setEnabled(enabled);
    SelectZLB->setEnabled(enabled);
    // The options switch the file and the stored type: not while a download runs. They
    // come back as they were, so a type without a file stays disabled.
    if (enabled != controlsDisabled)
        return;
    controlsDisabled = !enabled;
    for (size_t i = 0; i < drives.size(); ++i) {
        if (!enabled)
            optionsEnabled[i] = drives[i].option->isEnabled();
        drives[i].option->setEnabled(enabled && optionsEnabled[i]);
    }
}
