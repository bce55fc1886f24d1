#pragma once

#include <QObject>

class QWidget;

// Closes a window as its close button does when the process is asked to end: SIGTERM
// (kill, a desktop logout), SIGHUP (the terminal went away) and SIGINT (Ctrl-C in the
// terminal that started it), as the core's StopSignals hands them to the event loop. The
// window's close handling then stops a running download, saves the settings and closes
// the port, and the program ends with status 0. The handlers that were there before come
// back when this object goes. One at a time.
class CloseOnSignals : public QObject
{
public:
    explicit CloseOnSignals(QWidget *window);
};
