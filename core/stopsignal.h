#pragma once

#include <QObject>

// Platform file's interface: the process's stop signals, SIGTERM (kill, a logout, a
// station's controller), SIGHUP (the terminal or session went away) and SIGINT (Ctrl-C),
// handed to the event loop of the thread that made this object: Stopped is emitted there
// for each signal. The signal handler itself only writes a byte to a socket pair, so
// nothing unsafe runs inside it. With SecondEnds the first signal of a kind is handed
// on and a second one ends the process at once, as if it were not handled. The handlers
// that were there before come back when the object goes. One at a time.
// On Windows Ctrl-C and SIGTERM of the C runtime are handed on the same way, through a
// flag the event loop looks at.
class StopSignals : public QObject
{
    Q_OBJECT
public:
    enum class Second { Handled, Ends };
    explicit StopSignals(Second second, QObject *parent = nullptr);
    ~StopSignals() override;

signals:
    void Stopped();

private:
    // What watches for the signals: the socket pair's notifier, or the flag's timer; none
    // when another StopSignals is in place.
    QObject *watcher = nullptr;
};
