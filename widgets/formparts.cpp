#include "formparts.h"

#include "logaccessible.h"

#include <QAbstractItemView>
#include <QSignalBlocker>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStyle>
#include <QToolButton>
#include <QWidget>

#include <cmath>

// The pictures live in the engine's resource file; a static library has to register it
// explicitly, from the global namespace.
static void InitImages()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(images);
        return true;
    }();
    Q_UNUSED(done);
}

PortBox::PortBox(QWidget *parent, const QStringList &entries)
    : QComboBox(parent), ownEntries(int(entries.size()))
{
    setEditable(true);
    // Typed text stays in the edit field only; the list keeps its own entries.
    setInsertPolicy(QComboBox::NoInsert);
    // Leaving the box with typed text opens nothing; only a pick from the list (activated)
    // or Enter (the line edit's returnPressed) does.
    disconnect(lineEdit(), &QLineEdit::editingFinished, this, nullptr);
    addItems(entries);
    connect(this, &QComboBox::editTextChanged, this, &QWidget::setToolTip);
    Refresh();
}

void PortBox::Refresh()
{
    const QString text = currentText();
    const QSignalBlocker quiet(this);
    while (count() > ownEntries)
        removeItem(count() - 1);
    const QList<SerialLink::PortInfo> ports = ListPorts();
    for (const SerialLink::PortInfo &port : ports) {
        if (findText(port.device, Qt::MatchExactly) >= 0)
            continue;
        addItem(port.device);
        setItemData(count() - 1, port.Details(), Qt::ToolTipRole);
    }
    setEditText(text);
    FitListWidth();
}

void PortBox::FitListWidth()
{
    const QFontMetrics metrics(view()->font());
    int widest = 0;
    for (int i = 0; i < count(); ++i)
        widest = qMax(widest, metrics.horizontalAdvance(itemText(i)));
    // The entry's margins, the list's frame and a scroll bar, should the list need one.
    const int extra = 4 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view())
        + 2 * view()->frameWidth() + 12
        + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view());
    view()->setMinimumWidth(widest + extra);
}

void PortBox::showPopup()
{
    Refresh();
    QComboBox::showPopup();
}

namespace FormParts {

namespace {

// A sans-serif font by name. Where that font is missing, Windows offers the first font it
// has, which may be a mathematics font (as under wine with only the DejaVu fonts): its
// glyph boxes are several lines tall, and a line edit, which centres its text on that box,
// then draws the text above its frame. Windows gets common stand-ins to try first.
QFont SansFont(const QString &family)
{
    QFont font(family);
#ifdef Q_OS_WIN
    font.setFamilies({family, QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Tahoma"),
                      QStringLiteral("DejaVu Sans")});
#endif
    font.setStyleHint(QFont::SansSerif);
    return font;
}

} // namespace

const char *const WindowCaption = "Orvant Automation Serial Flash Download Utility for LF240X";

int Px(int twips)
{
    return int(std::lround(twips / 15.0));
}

QRect TwipsRect(int left, int top, int width, int height)
{
    return QRect(Px(left), Px(top), Px(width), Px(height));
}

void SetUpWindow(QWidget *form, int widthTwips, int heightTwips)
{
    form->setWindowTitle(QString::fromLatin1(WindowCaption));
    form->setWindowIcon(WindowIcon());
    // The controls without a font of their own: "MS Sans Serif" 8 pt (the nearest font
    // where it is missing), small enough for the button captions to fit.
    QFont font = SansFont(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(8);
    form->setFont(font);
    // The controls have fixed places; the window does nothing on resize, so it is not
    // offered.
    form->setFixedSize(Px(widthTwips), Px(heightTwips));
}

QFont LabelFont(double pointSize)
{
    QFont font = SansFont(QStringLiteral("MS Sans Serif"));
    font.setPointSizeF(pointSize);
    font.setBold(true);
    return font;
}

QFont LogFont()
{
    QFont font = SansFont(QStringLiteral("Arial"));
    font.setPointSizeF(9.75);
    return font;
}

QLabel *MakeLabel(QWidget *parent, const QString &name, const QString &text, double pointSize,
                  const QRect &geometry)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setFont(LabelFont(pointSize));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(geometry);
    return label;
}

QLabel *MakeLabel2(QWidget *parent)
{
    return MakeLabel(parent, QStringLiteral("Label2"), QStringLiteral("File To be Programmed"),
                     9.75, TwipsRect(120, 360, 2895, 255));
}

QLabel *MakeComPort(QWidget *parent)
{
    return MakeLabel(parent, QStringLiteral("ComPort"), QStringLiteral("CommPort"), 9.75,
                     TwipsRect(120, 1200, 1455, 255));
}

QLabel *MakeLabel1(QWidget *parent)
{
    return MakeLabel(parent, QStringLiteral("Label1"), QStringLiteral("Program Status"), 13.5,
                     TwipsRect(120, 2040, 2535, 495));
}

QLineEdit *MakeFileText(QWidget *parent)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(QStringLiteral("fileText"));
    // It shows the file that Program sends; an edit there would be shown but not sent.
    box->setReadOnly(true);
    box->setGeometry(TwipsRect(120, 720, 8775, 285));
    return box;
}

QPlainTextEdit *MakeTxtInfo(QWidget *parent)
{
    auto *box = new LogText(parent);
    box->setObjectName(QStringLiteral("txtInfo"));
    box->setFont(LogFont());
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box->setReadOnly(false);
    // Tab moves on to the next control, as in the other boxes.
    box->setTabChangesFocus(true);
    box->setGeometry(TwipsRect(120, 2400, 8775, 1935));
    return box;
}

PortBox *MakeCombopuerto(QWidget *parent, const QStringList &entries)
{
    auto *box = new PortBox(parent, entries);
    box->setObjectName(QStringLiteral("Combopuerto"));
    box->setEditText(QStringLiteral("1"));
    box->setGeometry(TwipsRect(120, 1560, 1575, 315));
    return box;
}

QProgressBar *MakeProgressBar(QWidget *parent, const QString &name, const QRect &geometry)
{
    auto *bar = new QProgressBar(parent);
    bar->setObjectName(name);
    bar->setRange(0, 1);
    bar->setValue(0);
    bar->setGeometry(geometry);
    return bar;
}

QToolButton *MakePictureButton(QWidget *parent, const QString &name, const QString &caption,
                               const QIcon &picture, const QRect &geometry)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(caption);
    button->setIcon(picture);
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    // A command button takes focus by Tab and by click alike.
    button->setFocusPolicy(Qt::StrongFocus);
    button->setGeometry(geometry);

    // The picture gets what the caption and the frame leave, keeping its proportions.
    const QSize natural = picture.actualSize(QSize(256, 256));
    const int textHeight = QFontMetrics(button->font()).height();
    const int room = qMax(8, geometry.height() - textHeight - 14);
    const int wide = qMax(8, geometry.width() - 12);
    QSize size = natural.isValid() && !natural.isEmpty() ? natural : QSize(room, room);
    size.scale(wide, room, Qt::KeepAspectRatio);
    button->setIconSize(size);
    return button;
}

QIcon FloppyPicture()
{
    InitImages();
    return QIcon(QStringLiteral(":/images/floppy.svg"));
}

QIcon ProgramPicture()
{
    InitImages();
    return QIcon(QStringLiteral(":/images/program.svg"));
}

QIcon WindowIcon()
{
    InitImages();
    return QIcon(QStringLiteral(":/images/window.svg"));
}

const char *const Loaded = "    ======> Loaded!!! ";
const char *const ReadyToProgram = "    ======> Ready to Program!!! ";

} // namespace FormParts
