#include "logbox.h"

#include "paintthrottle.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

LogBox::LogBox(QPlainTextEdit *txtInfo) : txtInfo(txtInfo)
{
    QPlainTextEdit *box = txtInfo;
    // The held text is painted at once, not by a posted update: during the lock wait the
    // next attempt's mark would hold the box again before the update came round.
    throttle = new PaintThrottle(
        txtInfo, 100,
        [box] {
            if (box->updatesEnabled())
                return;
            box->setUpdatesEnabled(true);
            box->viewport()->repaint();
        },
        [box] { box->setUpdatesEnabled(false); });
}

LogBox::~LogBox()
{
    // The throttle lives with the box; a box that outlives its sink paints again.
    if (!throttle)
        return;
    txtInfo->setUpdatesEnabled(true);
    delete throttle;
}

void LogBox::LogCleared()
{
    txtInfo->clear();
}

QString LogBox::Shown() const
{
    QString text = txtInfo->toPlainText();
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return text;
}

void LogBox::LogAdded(const QString &text)
{
    // The document takes '\n' (and a lone '\r') as a paragraph break; a CR LF pair
    // must give one break, not two.
    QString plain = text;
    plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    plain.replace(QLatin1Char('\r'), QLatin1Char('\n'));

    // A cursor of our own writes at the end, so the operator's cursor and selection
    // in the box stay where they are.
    QTextCursor end(txtInfo->document());
    end.movePosition(QTextCursor::End);

    // A selection that reaches the end would grow over the new text: put it back after.
    const QTextCursor mine = txtInfo->textCursor();
    const bool keepSelection = mine.hasSelection() && mine.selectionEnd() == end.position();
    const int anchor = mine.anchor();
    const int position = mine.position();

    end.insertText(plain);

    if (keepSelection) {
        QTextCursor restored(txtInfo->document());
        restored.setPosition(anchor);
        restored.setPosition(position, QTextCursor::KeepAnchor);
        txtInfo->setTextCursor(restored);
    }

    QScrollBar *bar = txtInfo->verticalScrollBar();
    bar->setValue(bar->maximum());

    throttle->Changed();
}
