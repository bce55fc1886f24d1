#include "paintthrottle.h"

PaintThrottle::PaintThrottle(QObject *parent, int intervalMs, std::function<void()> paint,
                             std::function<void()> hold)
    : QObject(parent), paint(std::move(paint)), hold(std::move(hold))
{
    timer.setSingleShot(true);
    timer.setInterval(intervalMs);
    // A coarse timer may fire a few milliseconds late and so miss the event pass that
    // follows a pause of exactly one interval (the lock wait's): the paint would slip a
    // whole interval more.
    timer.setTimerType(Qt::PreciseTimer);
    connect(&timer, &QTimer::timeout, this, &PaintThrottle::IntervalEnded);
}

void PaintThrottle::Changed()
{
    if (timer.isActive()) {
        if (!pending && hold)
            hold();
        pending = true;
        return;
    }
    paint();
    timer.start();
}

void PaintThrottle::Cancel()
{
    timer.stop();
    pending = false;
}

void PaintThrottle::IntervalEnded()
{
    if (!pending)
        return;
    pending = false;
    // The paint starts the next interval, so that changes arriving faster than the
    // interval still get one paint at the end of each.
    timer.start();
    paint();
}
