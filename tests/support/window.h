#pragma once
// What the window tests of both programs share: the file status texts, settings files
// written as the programs write them, and the log and list as the tests read them.

#include "files.h"
#include "formbase.h"

#include <QAccessible>
#include <QColor>
#include <QEvent>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRect>
#include <QStringList>
#include <QTest>
#include <QToolButton>
#include <QWidget>

#include <initializer_list>

inline const QString Loaded = QStringLiteral("    ======> Loaded!!! ");
inline const QString Ready = QStringLiteral("    ======> Ready to Program!!! ");

// A settings file of these values, each quoted on a line of its own.
inline QByteArray Settings(const QStringList &values)
{
    QByteArray bytes;
    for (const QString &value : values)
        bytes += '"' + value.toLocal8Bit() + "\"\r\n";
    return bytes;
}

// The log's lines, without empty ones and without those about a port that cannot be
// opened (the ports the tests start with may or may not exist on the machine).
inline QStringList LogLines(const QString &log)
{
    QStringList lines = log.split(CRLF);
    lines.removeIf([](const QString &line) {
        return line.isEmpty() || line.startsWith(QStringLiteral("---- Cannot open port"));
    });
    return lines;
}

// The entries of a drop-down list.
inline QStringList ListEntries(const QComboBox *box)
{
    QStringList entries;
    for (int i = 0; i < box->count(); ++i)
        entries << box->itemText(i);
    return entries;
}

// A control where the window's design puts it, in twips (15 to a pixel).
struct Placed
{
    QWidget *widget;
    const char *name;
    QRect twips;
};

// Each control has its name as object name, is found under it, and lies at its place in
// pixels, rounded.
inline void CheckPlaces(QWidget *form, std::initializer_list<Placed> controls)
{
    for (const Placed &c : controls) {
        QCOMPARE(c.widget->objectName(), QString::fromLatin1(c.name));
        QCOMPARE(form->findChild<QWidget *>(QString::fromLatin1(c.name)), c.widget);
        const QRect t = c.twips;
        QCOMPARE(c.widget->geometry(), QRect(qRound(t.x() / 15.0), qRound(t.y() / 15.0),
                                             qRound(t.width() / 15.0), qRound(t.height() / 15.0)));
    }
}

// The controls both windows have at the same places.
inline void CheckSharedPlaces(FormBase *form)
{
    QWidget *const members[] = {form->Label2,           form->fileText, form->ComPort,
                                form->Combopuerto,      form->Label1,   form->txtInfo,
                                form->DownloadProgress};
    const QList<std::pair<const char *, QRect>> places = {
        {"Label2", {120, 360, 2895, 255}},      {"fileText", {120, 720, 8775, 285}},
        {"ComPort", {120, 1200, 1455, 255}},    {"Combopuerto", {120, 1560, 1575, 315}},
        {"Label1", {120, 2040, 2535, 495}},     {"txtInfo", {120, 2400, 8775, 1935}},
        {"DownloadProgress", {1800, 1560, 7095, 315}},
    };
    for (int i = 0; i < places.size(); ++i)
        CheckPlaces(form, {{members[i], places[i].first, places[i].second}});
}

// A screen reader hears each control by its name: the shared ones and these. The bar's
// accessible name carries the bar's words.
inline void CheckAccessibleNames(FormBase *form,
                                 std::initializer_list<std::pair<QWidget *, const char *>> own)
{
    QList<std::pair<QWidget *, QString>> names;
    names << std::pair<QWidget *, QString>(form->fileText, "File To be Programmed")
          << std::pair<QWidget *, QString>(form->Combopuerto, "CommPort")
          << std::pair<QWidget *, QString>(form->txtInfo, "Program Status")
          << std::pair<QWidget *, QString>(form->Program, "Program")
          << std::pair<QWidget *, QString>(form->DownloadProgress,
                                           form->DownloadProgress->toolTip());
    for (const auto &[widget, name] : own)
        names.append({widget, QString::fromLatin1(name)});
    for (const auto &[widget, name] : names) {
        QAccessibleInterface *control = QAccessible::queryAccessibleInterface(widget);
        QVERIFY(control);
        // An editable box's name is its text on some systems; its label names it there.
        QString heard = control->text(QAccessible::Name);
        const auto labels = control->relations(QAccessible::Label);
        if (heard != name && !labels.isEmpty())
            heard = labels.first().first->text(QAccessible::Name);
        QCOMPARE(heard, name);
    }
    QVERIFY(!form->DownloadProgress->toolTip().isEmpty());
    // The log box is read-only text to a screen reader, its text and selection readable.
    QAccessibleInterface *log = QAccessible::queryAccessibleInterface(form->txtInfo);
    QVERIFY(log->state().readOnly);
    QVERIFY(log->textInterface());
    QCOMPARE(log->textInterface()->text(0, log->textInterface()->characterCount()),
             form->txtInfo->toPlainText());
}

// Picks a device from the port box's list, as the operator does with the mouse.
inline void PickPort(FormBase *form, const QString &device)
{
    form->Combopuerto->addItem(device);
    const int entry = form->Combopuerto->count() - 1;
    form->Combopuerto->setCurrentIndex(entry);
    emit form->Combopuerto->activated(entry);
}

// The colour the operator sees at the left end of a progress bar, where the share of a
// download begins: "green", "red", or "plain" for the style's own look.
inline QString BarHue(QProgressBar *bar)
{
    const QImage image = bar->grab().toImage();
    const QColor c = image.pixelColor(4, image.height() / 2);
    if (c.green() - c.red() > 40)
        return QStringLiteral("green");
    if (c.red() - c.green() > 40 && qAbs(c.green() - c.blue()) < 20)
        return QStringLiteral("red");
    return QStringLiteral("plain");
}

// Counts the paints a widget receives, as they reach the screen.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};
