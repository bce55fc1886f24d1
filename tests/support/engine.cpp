#include "engine.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRegularExpression>

QString Engine::Text() const
{
    QString text = log.Text();
    text.replace(QRegularExpression("DSP programmed in ( [0-9.]{1,5}) Seconds"),
                 "DSP programmed in E Seconds");
    return text;
}

QString Engine::Protocol() const
{
    const QString text = Text();
    return text.mid(text.indexOf("\r\n\r\n------ Programming ------"));
}

bool Engine::WaitUntilEnded(int ms)
{
    QDeadlineTimer deadline(ms);
    while (download.Running() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return !download.Running();
}
