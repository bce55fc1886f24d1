#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

// Paints a control that changes faster than it is worth painting: at most once an
// interval, and never less. A change after a quiet interval is painted at once; changes
// within the interval wait for its end, where the latest state is painted and a new
// interval begins. However often the changes come, one paint ends every interval in
// which something changed, so a steady stream of changes delays a paint but never
// starves it.
class PaintThrottle : public QObject
{
public:
    // paint shows the control's latest state; hold, when given, is called when a change
    // is kept back for the end of the interval.
    PaintThrottle(QObject *parent, int intervalMs, std::function<void()> paint,
                  std::function<void()> hold = {});

    // Something changed: paints now, or at the end of the running interval.
    void Changed();
    // Forgets a change kept back, and the running interval: the next change is painted
    // at once.
    void Cancel();
    // A change is kept back for the end of the interval.
    bool Pending() const { return pending; }

private:
    void IntervalEnded();

    QTimer timer;
    std::function<void()> paint;
    std::function<void()> hold;
    bool pending = false;
};
