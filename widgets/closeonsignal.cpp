#include "closeonsignal.h"

#include "stopsignal.h"

#include <QWidget>

CloseOnSignals::CloseOnSignals(QWidget *window) : QObject(window)
{
    auto *stops = new StopSignals(StopSignals::Second::Handled, this);
    connect(stops, &StopSignals::Stopped, window, &QWidget::close);
}
