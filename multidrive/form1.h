#pragma once

#include "download.h"

#include <QString>
#include <QWidget>

#include <array>
#include <memory>

class FileDialog;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QRadioButton;
class QToolButton;
class SerialLink;
class StatusLog;
struct DownloadImage;

// The window of the multi-drive program: one code file for each of the drive types TROX,
// ZLA and ZLB, the chosen drive type and the port kept in a five-value settings file,
// and the download of the chosen type's file.
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

    // Program, SelectTROX, SelectZLA, SelectZLB and Combopuerto, in that order.
    void EnableDownloadControls(bool enabled) override;
    // Writes TROXFile, ZLAFile, ZLBFile, DriveType and the port box text.
    void SaveSettings();

    // Controls, named as in the window.
    QLabel *Label2 = nullptr;
    QLineEdit *fileText = nullptr;
    QLabel *ComPort = nullptr;
    QComboBox *Combopuerto = nullptr;
    QLabel *Label1 = nullptr;
    QPlainTextEdit *txtInfo = nullptr;
    QToolButton *SelectTROX = nullptr;
    QToolButton *SelectZLA = nullptr;
    QToolButton *SelectZLB = nullptr;
    QToolButton *Program = nullptr;
    QGroupBox *SelectEquipo = nullptr;
    QRadioButton *SelTROX = nullptr;
    QRadioButton *SelZLA = nullptr;
    QRadioButton *SelZLB = nullptr;
    QProgressBar *DownloadProgress = nullptr;
    FileDialog *Dialog = nullptr;

    // Window state.
    QString TROXFile;
    QString ZLAFile;
    QString ZLBFile;
    QString DriveType;
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
    // What belongs to one drive type.
    struct DriveEntry {
        QString word;
        QRadioButton *option;
        QToolButton *select;
        QString *file;
    };

    void CreateControls();
    void FormLoad(const QString &appPath);
    void LoadSettings();
    // The drive-type choice: the type's file becomes FileToProgram, two log lines, the
    // file box, the settings.
    void ChooseDriveType(int type);
    // Selects the type's option as the program, running the drive-type choice in full
    // even when the option was selected already.
    void SelectOption(int type);
    // The file choice of the type's Select button.
    void ChooseFile(int type);
    void StartProgramming();

    const QString settingsPath;
    std::unique_ptr<FileDialog> ownDialog;
    std::array<DriveEntry, 3> drives;
    bool selecting = false;

    std::unique_ptr<DownloadImage> image;
    std::unique_ptr<StatusLog> log;
    std::unique_ptr<SerialLink> link;
    std::unique_ptr<Download> download;
};
