#include "engine.h"

#include "files.h"

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
    return WaitUntil([this] { return !download.Running(); }, ms);
}
