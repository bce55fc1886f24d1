#pragma once

#include "formbase.h"

#include <array>

class QGroupBox;
class QRadioButton;

// The window of the multi-drive program: one code file for each of the drive types TROX,
// ZLA and ZLB, the chosen drive type and the port kept in a five-value settings file,
// and the download of the chosen type's file.
class Form1 : public FormBase
{
    Q_OBJECT
public:
    explicit Form1(const QString &settings, FileDialog *dialog = nullptr, const QString &appPath = {});

    // Controls of this program, named as in the window.
    QToolButton *SelectTROX = nullptr;
    QToolButton *SelectZLA = nullptr;
    QToolButton *SelectZLB = nullptr;
    QGroupBox *SelectEquipo = nullptr;
    QRadioButton *SelTROX = nullptr;
    QRadioButton *SelZLA = nullptr;
    QRadioButton *SelZLB = nullptr;

    // Window state.
    QString TROXFile;
    QString ZLAFile;
    QString ZLBFile;
    QString DriveType;

protected:
    void LoadSettings() override;
    // TROXFile, ZLAFile, ZLBFile, DriveType and the port box text.
    QStringList SettingsValues() const override;
    // SelectTROX, SelectZLA, SelectZLB, and the drive-type options with them.
    void EnableOwnControls(bool enabled) override;

private:
    // What belongs to one drive type.
    struct DriveEntry {
        QString word;
        QRadioButton *option;
        QToolButton *select;
        QString *file;
    };

    void CreateControls();
    // The drive-type choice: the type's file becomes FileToProgram, two log lines, the
    // file box, the settings.
    void ChooseDriveType(int type);
    // Selects the type's option as the program, running the drive-type choice in full
    // even when the option was selected already.
    void SelectOption(int type);
    // The file choice of the type's Select button.
    void ChooseFile(int type);

    std::array<DriveEntry, 3> drives;
    bool selecting = false;
    // A file was chosen in this run: the code block is then named after FileToProgram.
    bool fileChosen = false;
    // The options' enabled states, kept while a download has them disabled.
    std::array<bool, 3> optionsEnabled{};
    bool controlsDisabled = false;
};
