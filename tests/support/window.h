#pragma once
// What the window tests of both programs share: the file status texts, settings files
// written as the programs write them, and the log and list as the tests read them.

#include "files.h"

#include <QComboBox>
#include <QStringList>

inline const QString Loaded = QStringLiteral("    ======> Loaded!!! ");
inline const QString Ready = QStringLiteral("    ======> Ready to Program!!! ");

// A settings file of these values, each quoted on a line of its own.
inline QByteArray Settings(const QStringList &values)
{
    QByteArray bytes;
    for (const QString &value : values)
        bytes += '"' + value.toLocal8Bit() + "\"\r\n";
    return bytes;
}

// The log's lines, without empty ones and without those about a port that cannot be
// opened (the ports the tests start with may or may not exist on the machine).
inline QStringList LogLines(const QString &log)
{
    QStringList lines = log.split(CRLF);
    lines.removeIf([](const QString &line) {
        return line.isEmpty() || line.startsWith(QStringLiteral("---- Cannot open port"));
    });
    return lines;
}

// The entries of a drop-down list.
inline QStringList ListEntries(const QComboBox *box)
{
    QStringList entries;
    for (int i = 0; i < box->count(); ++i)
        entries << box->itemText(i);
    return entries;
}
