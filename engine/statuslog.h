#pragma once

#include <QString>

class QPlainTextEdit;

// The status log: the only reporting channel of both programs. It writes into the
// window's multi-line log box `txtInfo`. Text is always added at the very end of the
// log, whatever the operator's cursor or selection; the operator's selection is left
// alone and the newest text is kept in view. CR LF inside a message gives a line break.
class StatusLog
{
public:
    explicit StatusLog(QPlainTextEdit *txtInfo);

    // A line break, then the text.
    void LogLine(const QString &text);
    // The text at the end of the last line, no line break.
    void LogAppend(const QString &text);
    // Empties the log.
    void ClearLog();

    // The whole log, lines joined by CR LF.
    QString Text() const;

    QPlainTextEdit *Box() const { return txtInfo; }

private:
    void AppendAtEnd(const QString &text);

    QPlainTextEdit *txtInfo;
};
