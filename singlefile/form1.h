#pragma once

#include "formbase.h"

// The window of the single-file program: one remembered code file and the port, kept in a
// two-value settings file, and the download of that file.
class Form1 : public FormBase
{
    Q_OBJECT
public:
    explicit Form1(const QString &settings, FileDialog *dialog = nullptr, const QString &appPath = {});

    // Controls of this program, named as in the window.
    QToolButton *LoadProgram = nullptr;

protected:
    void LoadSettings() override;
    // FileToProgram and the port box text.
    QStringList SettingsValues() const override;
    // LoadProgram.
    void EnableOwnControls(bool enabled) override;

private:
    // The file choice of LoadProgram.
    void ChooseFile();
};
