#pragma once

#include "statuslog.h"

#include <QPointer>

class PaintThrottle;
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
    // Text that comes within a tenth of a second of the last paint is held back (the box
    // takes no updates) and painted at the end of that tenth. It lives with the box.
    QPointer<PaintThrottle> throttle;
};
