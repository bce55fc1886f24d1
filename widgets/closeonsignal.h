#pragma once

#include <QObject>

class QSocketNotifier;
class QWidget;

// Closes a window as its close button does when the process is asked to end: SIGTERM
// (kill, a desktop logout), SIGHUP (the terminal went away) and SIGINT (Ctrl-C in the
// terminal that started it). The window's close handling then stops a running download,
// saves the settings and closes the port, and the program ends with status 0. The signal
// handler only writes a byte to a socket pair; the window is closed from the event loop.
// The handlers that were there before come back when this object goes. One at a time.
// Where there are no such signals (Windows), it does nothing.
class CloseOnSignals : public QObject
{
public:
    explicit CloseOnSignals(QWidget *window);
    ~CloseOnSignals() override;

private:
    QSocketNotifier *notifier = nullptr;
};
