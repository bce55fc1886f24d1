#include "statuslog.h"

void StatusLog::LogLine(const QString &line)
{
    LogAppend(QStringLiteral("\r\n") + line);
}

void StatusLog::LogAppend(const QString &added)
{
    text += added;
    if (sink)
        sink->LogAdded(added);
}

void StatusLog::ClearLog()
{
    text.clear();
    if (sink)
        sink->LogCleared();
}
