#pragma once

// The record of a run for a test station: a board's label, its adapter, its summary line,
// the verdict over all boards, its JSON object, and the time stamps of the log file.

#include "board.h"
#include "seriallink.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <vector>

// The files a run sends: the code file and the four support files, with the SHA-256 of
// the bytes read from them (empty for a file that could not be read).
struct RunFiles
{
    QString codeFile;
    QString codeSha256;
    QList<QPair<QString, QString>> supportSha256;  // file name, hash
};

// Pairs each -l/--label with the -p before it. optionNames are the option names in
// command-line order, labelValues the labels in order. Fills labels (one per port, empty
// where none) and returns an empty text, or returns what is wrong.
QString LabelsOfPorts(const QStringList &optionNames, const QStringList &labelValues,
                      const QStringList &ports, QStringList &labels);

// What the system reports of the adapter behind device (a device path with links
// followed): an object with those of description, manufacturer, serial_number and by_id
// that are known; null when the system lists no such port or knows nothing of it.
QJsonValue AdapterOf(const QString &device, const QList<SerialLink::PortInfo> &system);

// "PORT" or "PORT [LABEL]".
QString BoardName(const BoardResult &board);
// The summary line of a board that has ended.
QString SummaryLine(const BoardResult &board);
// With two or more boards: "2 of 4 programmed; failed: PORT (5, transfer failed), ...".
QString Verdict(const std::vector<BoardResult> &boards);
// The header line of a port in the log file: its device and adapter.
QString PortHeadLine(const BoardResult &board);
// A board's JSON object on one line, without the line break.
QByteArray JsonLine(const BoardResult &board, const RunFiles &files);
