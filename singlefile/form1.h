#pragma once

#include "download.h"

#include <QString>
#include <QWidget>

#include <memory>

class FileDialog;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QToolButton;
class SerialLink;
class StatusLog;
struct DownloadImage;

// The window of the single-file program: one remembered code file and the port, kept in a
// two-value settings file, and the download of that file.
class Form1 : public QWidget, public DownloadControls
{
    Q_OBJECT
public:
    // settingsPath: the settings file. dialog: the file-open dialog (a real one when
    // none is given; not owned). appPath: where the support files lie (the program's own
    // folder when empty).
    explicit Form1(const QString &settingsPath, FileDialog *dialog = nullptr,
                   const QString &appPath = {}, QWidget *parent = nullptr);
    ~Form1() override;

    // Program, LoadProgram and Combopuerto, in that order.
    void EnableDownloadControls(bool enabled) override;
    // Writes FileToProgram and the port box text, both quoted. A failure logs one line
    // with the path and the reason and returns false.
    bool SaveSettings();

    // Controls, named as in the window.
    QToolButton *Program = nullptr;
    QPlainTextEdit *txtInfo = nullptr;
    QToolButton *LoadProgram = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *fileText = nullptr;
    QLabel *Label2 = nullptr;
    QComboBox *Combopuerto = nullptr;
    QLabel *ComPort = nullptr;
    QProgressBar *DownloadProgress = nullptr;
    FileDialog *Dialog = nullptr;

    // Window state.
    QString FileToProgram;
    QString AppPath;

    // The engine the window owns.
    StatusLog &Log() { return *log; }
    SerialLink &MSComm1() { return *link; }
    Download &Downloader() { return *download; }
    DownloadImage &Image() { return *image; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void CreateControls();
    void FormLoad(const QString &appPath);
    void LoadSettings(const QString &appPath);
    // The file choice of LoadProgram.
    void ChooseFile();
    void StartProgramming();

    const QString settingsPath;
    std::unique_ptr<FileDialog> ownDialog;
    bool unloaded = false;

    std::unique_ptr<DownloadImage> image;
    std::unique_ptr<StatusLog> log;
    std::unique_ptr<SerialLink> link;
    std::unique_ptr<Download> download;
};
