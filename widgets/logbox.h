#pragma once

#include "statuslog.h"

class QPlainTextEdit;

// Shows the status log in the window's multi-line log box `txtInfo`. Text is always added
// at the very end of the box, whatever the operator's cursor or selection; the operator's
// selection is left alone and the newest text is kept in view. The box stays editable:
// what the operator types stays in it until the log is cleared.
class LogBox : public LogSink
{
public:
    explicit LogBox(QPlainTextEdit *txtInfo) : txtInfo(txtInfo) {}

    void LogAdded(const QString &text) override;
    void LogCleared() override;

    // What the box shows, typed text included, lines joined by CR LF.
    QString Shown() const;

private:
    QPlainTextEdit *txtInfo;
};
