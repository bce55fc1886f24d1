#pragma once

#include "statuslog.h"

#include <QPointer>
#include <QTimer>

class QPlainTextEdit;

// Shows the status log in the window's multi-line log box `txtInfo`. Text is always added
// at the very end of the box, whatever the operator's cursor or selection; the operator's
// selection is left alone and the newest text is kept in view. The box stays editable:
// what the operator types stays in it until the log is cleared. The box is repainted at
// most ten times a second: during a download every block adds to the log, and painting
// each addition at once would slow the lock-step exchange down.
class LogBox : public LogSink
{
public:
    explicit LogBox(QPlainTextEdit *txtInfo);
    ~LogBox() override;

    void LogAdded(const QString &text) override;
    void LogCleared() override;

    // What the box shows, typed text included, lines joined by CR LF.
    QString Shown() const;

private:
    QPlainTextEdit *txtInfo;
    // Runs for a tenth of a second after the box was painted; held: text came meanwhile,
    // and the box waits with its painting until the timer ends.
    QPointer<QTimer> paintTimer;
    bool held = false;
};
