#pragma once

#include "seriallink.h"

#include <QComboBox>
#include <QIcon>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>

class QFont;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QToolButton;
class QWidget;

// The port box: an editable drop-down whose list holds the program's own entries and then
// the serial ports the system reports, by device name with their details as tooltip. The
// system's ports are looked up again each time the list opens, so an adapter plugged in
// after the start is offered; the edit text stays as it is. The box keeps its size; its
// list is as wide as its longest entry, and its tooltip shows its whole text, so that a
// long device name (/dev/serial/by-id/...) can be read.
class PortBox : public QComboBox
{
public:
    PortBox(QWidget *parent, const QStringList &entries);

    // Where the system's ports come from.
    std::function<QList<SerialLink::PortInfo>()> ListPorts = &SerialLink::SystemPorts;

    // Puts the system's ports, as they are now, after the program's own entries.
    void Refresh();
    void showPopup() override;

private:
    // Widens the list to its longest entry.
    void FitListWidth();

    int ownEntries;
};

// The parts that the windows of both programs have alike: geometry given in twips,
// the labels, the file box, the log box, the port box, the progress bar, the caption,
// the icon and the button pictures. Every control gets its member name as objectName.
namespace FormParts {

// Window caption of both programs.
extern const char *const WindowCaption;

// Twips (1/1440 inch) to pixels at 96 dots per inch: divided by 15, rounded.
int Px(int twips);
QRect TwipsRect(int left, int top, int width, int height);

// Caption, icon and a fixed client area, sizes given in twips.
void SetUpWindow(QWidget *form, int widthTwips, int heightTwips);

// "MS Sans Serif" bold at the given size; the system picks the nearest font when it is
// not installed.
QFont LabelFont(double pointSize);
// The log box font, "Arial" 9.75 pt.
QFont LogFont();

QLabel *MakeLabel(QWidget *parent, const QString &name, const QString &text, double pointSize,
                  const QRect &geometry);

// The controls both windows have at the same places.
// "File To be Programmed", MS Sans Serif 9.75 pt bold.
QLabel *MakeLabel2(QWidget *parent);
// "CommPort", MS Sans Serif 9.75 pt bold.
QLabel *MakeComPort(QWidget *parent);
// "Program Status", MS Sans Serif 13.5 pt bold.
QLabel *MakeLabel1(QWidget *parent);
// The one-line file box `fileText`, empty.
QLineEdit *MakeFileText(QWidget *parent);
// The log box `txtInfo`: multi-line, vertical scroll bar, Arial 9.75 pt, editable.
QPlainTextEdit *MakeTxtInfo(QWidget *parent);
// The port box `Combopuerto`, starting text "1".
PortBox *MakeCombopuerto(QWidget *parent, const QStringList &entries);
// A progress bar, empty, range 0 to 1 until a download reports its size.
QProgressBar *MakeProgressBar(QWidget *parent, const QString &name, const QRect &geometry);
// A command button with its picture above the caption; the picture is scaled to fit.
QToolButton *MakePictureButton(QWidget *parent, const QString &name, const QString &caption,
                               const QIcon &picture, const QRect &geometry);

// Pictures: a floppy disk (file buttons), a computer sending to a board (Program), and
// the window icon.
QIcon FloppyPicture();
QIcon ProgramPicture();
QIcon WindowIcon();

// The file status texts that follow a path in the log.
extern const char *const Loaded;          // "    ======> Loaded!!! "
extern const char *const ReadyToProgram;  // "    ======> Ready to Program!!! "

} // namespace FormParts
