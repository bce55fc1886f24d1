#include "statuslog.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

StatusLog::StatusLog(QPlainTextEdit *txtInfo)
    : txtInfo(txtInfo)
{
}

void StatusLog::LogLine(const QString &text)
{
    AppendAtEnd(QStringLiteral("\r\n") + text);
}

void StatusLog::LogAppend(const QString &text)
{
    AppendAtEnd(text);
}

void StatusLog::ClearLog()
{
    txtInfo->clear();
}

QString StatusLog::Text() const
{
    QString text = txtInfo->toPlainText();
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return text;
}

void StatusLog::AppendAtEnd(const QString &text)
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
    end.insertText(plain);

    QScrollBar *bar = txtInfo->verticalScrollBar();
    bar->setValue(bar->maximum());
}
