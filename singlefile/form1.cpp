#include "form1.h"

#include "formparts.h"
#include "statuslog.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolButton>

using FormParts::TwipsRect;

namespace {
constexpr int SettingsCount = 2;
} // namespace

Form1::Form1(const QString &settings, FileDialog *dialog, const QString &appPath)
    : FormBase(settings, dialog, appPath,
               {8985, 5700, TwipsRect(2520, 4560, 2055, 975),
                {"1", "2", "3", "4", "5", "6", "7", "8"}})
{
    LoadProgram = FormParts::MakePictureButton(this, QStringLiteral("LoadProgram"),
                                               QStringLiteral("Select   .HEX  File"),
                                               FormParts::FloppyPicture(),
                                               TwipsRect(120, 4560, 1815, 975));
    // Keyboard focus order, as the window reads: top to bottom, left to right. The labels
    // and the progress bar take no focus.
    setTabOrder(fileText, Combopuerto);
    setTabOrder(Combopuerto, txtInfo);
    setTabOrder(txtInfo, LoadProgram);
    setTabOrder(LoadProgram, Program);

    connect(LoadProgram, &QToolButton::clicked, this, &Form1::ChooseFile);
    FormLoad();
}

void Form1::LoadSettings()
{
    const SettingsFile::ReadResult read = ReadSettings(SettingsCount);
    switch (read.status) {
    case SettingsFile::ReadStatus::Missing:
        // A first start: the program's folder and the first port, the port bare.
        WriteSettings({ProgramFolder(), QStringLiteral("1")}, {false, true});
        return;
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
    SetPortText(read.values[1]);
    Program->setEnabled(true);
    fileText->setText(FileToProgram);
    if (!FileToProgram.isEmpty())
        Log().LogLine(FileToProgram + QLatin1String(FormParts::ReadyToProgram));
}

void Form1::ChooseFile()
{
    QString chosen;
    if (!ChooseCodeFile(FileToProgram, chosen))
        return;

    Log().ClearLog();
    FileToProgram = chosen;
    Program->setEnabled(true);
    Log().LogLine(FileToProgram + QLatin1String(FormParts::Loaded));
    fileText->setText(FileToProgram);
    Downloader().SetCodeName(chosen);
    SaveSettings();
    ShowReadiness();
}

QStringList Form1::SettingsValues() const
{
    return {FileToProgram, Combopuerto->currentText()};
}

void Form1::EnableOwnControls(bool enabled)
{
    LoadProgram->setEnabled(enabled);
}
