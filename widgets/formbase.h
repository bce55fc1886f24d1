#pragma once

#include "download.h"
#include "formparts.h"
#include "settingsfile.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

#include <memory>

class FileDialog;
class LogBox;
class PaintThrottle;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QTimer;
class QToolButton;
class SerialLink;
class StatusLog;
struct DownloadImage;

// What the windows of both programs share: the controls they have alike, the engine they
// own, the load and unload order, the download controls around a download, the settings
// save with its failure line, and the close handling. A program adds its own controls,
// its settings format and its layout.
class FormBase : public QWidget, public DownloadControls
{
    Q_OBJECT
public:
    ~FormBase() override;

    // Program, the program's own download controls, Combopuerto, in that order.
    void EnableDownloadControls(bool enabled) final;
    // Writes the settings file from the window state when its bytes would change. A port
    // text the file cannot hold is replaced by the last one it could, with one log line;
    // a failure to write gives one log line with the path and the reason.
    bool SaveSettings();

    // Controls both windows have, named as in the window.
    QToolButton *Program = nullptr;
    QPlainTextEdit *txtInfo = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *fileText = nullptr;
    QLabel *Label2 = nullptr;
    PortBox *Combopuerto = nullptr;
    QLabel *ComPort = nullptr;
    QProgressBar *DownloadProgress = nullptr;
    FileDialog *Dialog = nullptr;

    // The code file the next download sends, and the folder of the support files.
    QString FileToProgram;
    QString AppPath;

    // The engine the window owns.
    StatusLog &Log() { return *log; }
    SerialLink &MSComm1() { return *link; }
    Download &Downloader() { return *download; }
    DownloadImage &Image() { return *image; }

protected:
    // The window's size and the places that differ between the programs, in twips.
    struct Layout {
        int width;
        int height;
        QRect program;
        QStringList ports;  // the port box's own list entries
    };

    // settingsPath: the settings file. dialog: the file-open dialog (a real one when none
    // is given; not owned). appPath: where the support files lie (the program's own folder
    // when empty).
    FormBase(const QString &settingsPath, FileDialog *dialog, const QString &appPath,
             const Layout &layout);

    // The window's load, called by the program's constructor once its controls exist:
    // the line parameters, the settings, the port, then AppPath.
    void FormLoad();
    // Reads the settings file and sets the controls from it.
    virtual void LoadSettings() = 0;
    // The values of the settings file in order, the port box's text last.
    virtual QStringList SettingsValues() const = 0;
    // The program's own download controls, between Program and Combopuerto.
    virtual void EnableOwnControls(bool enabled) = 0;

    // Reads count values of the settings file; what it read counts as saved.
    SettingsFile::ReadResult ReadSettings(int count);
    // Writes these values (raw: the ones written without quotes) when the bytes differ
    // from what was read or written last.
    bool WriteSettings(const QStringList &values, const QVector<bool> &raw = {});
    // Puts a port text from the settings file into the port box.
    void SetPortText(const QString &text);
    // Shows the file dialog for a code file starting from initDir. False when it was
    // cancelled or its path cannot be kept in the settings file (one log line).
    bool ChooseCodeFile(const QString &initDir, QString &chosen);
    // The program's own folder, known before AppPath is recorded.
    const QString &ProgramFolder() const { return programFolder; }
    // Shows on the idle bar whether a download can go (Readiness); called after the load
    // and after each choice of file, drive type or port.
    void ShowReadiness();

    void closeEvent(QCloseEvent *event) override;
    // Enter and the keypad's Enter press the focused button, as Space does.
    void keyPressEvent(QKeyEvent *event) override;

private:
    // A bar text in three pieces, of which only the middle one (a folder, a port name)
    // may be cut to fit: file names and the words around them stay whole.
    struct BarWords {
        QString before;
        QString cut;
        QString after;
    };

    void StartProgramming();
    // Opens the port the box shows (at load, on a pick from the list, on Enter).
    void OpenShownPort(bool change);
    // What the idle bar says: "Ready", or what a download would miss (a support file,
    // the code file, the port).
    // The idle text, then shorter forms of it for a bar too narrow for the first.
    QList<BarWords> Readiness() const;
    // While no download runs: a port whose device went away is closed and shown as lost;
    // when the port's name leads to a device again, it is opened again.
    void WatchPort();
    void PortGone();
    void ShowProgress(int echoed, int total);
    void PaintProgress();
    // Gives the bar's words to a screen reader, as the bar's accessible name.
    void AnnounceBar(const QString &words);
    // Every second of a transfer: repaints the bar when the board has gone silent, and
    // when it answers again.
    void CheckSilence();
    // Shows on the bar how the download ended, in words and colour.
    void ShowEnd(Download::Outcome how);
    // The bar in the style's own look (no colour), or in one of the end colours.
    enum class BarLook { Plain, Done, Failed };
    void SetBarLook(BarLook look);
    // Shows a text that may hold a path on the idle or ended bar: cut in the middle to fit,
    // whole in the bar's tooltip.
    void SetBarText(const QString &text);
    // Shows the first of the texts that fits, its middle piece cut where need be; where
    // none fits, the first cut as a whole. The tooltip and a screen reader get the first.
    void SetBarText(const QList<BarWords> &texts);

    const QString settingsPath;
    const QString programFolder;
    std::unique_ptr<FileDialog> ownDialog;
    // The settings file's bytes as read or written last.
    QByteArray settingsBytes;
    // The last port text the settings file could hold.
    QString storedPort = QStringLiteral("1");
    bool unloaded = false;
    // Why the settings file could not be read at start; while set, it is never replaced.
    QString unreadSettings;
    bool unsavedReported = false;
    // The port text last opened (or tried); a different text in the box has been typed
    // and not yet opened.
    QString openedPort;
    // The open port's device went away while no download ran: lostDevice is the device
    // it was, portAway says its name has since led to no device or to another one.
    bool portLost = false;
    bool portAway = false;
    QString lostDevice;
    // The bar shows a download (under way or how it ended), which the port watch leaves
    // in place until the technician's next choice.
    bool downloadShown = false;
    // The last progress the download reported, painted on the bar at most ten times a
    // second during the transfer.
    int barEchoed = 0;
    int barTotal = 0;
    PaintThrottle *barPaint = nullptr;
    // Runs during a transfer; showingSilence says the bar tells of a silent board.
    QTimer *silenceTimer = nullptr;
    bool showingSilence = false;

    std::unique_ptr<DownloadImage> image;
    std::unique_ptr<StatusLog> log;
    std::unique_ptr<LogBox> box;
    std::unique_ptr<SerialLink> link;
    std::unique_ptr<Download> download;
};
