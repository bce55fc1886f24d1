#pragma once

// The record of a run for a test station: a board's label, its adapter, its summary line,
// the verdict over all boards, its JSON object, and the time stamps of the log file.

#include "seriallink.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <vector>

// The files a run sends: the code file and the four support files, with their SHA-256.
struct RunFiles
{
    QString codeFile;
    QString codeSha256;
    QList<QPair<QString, QString>> supportSha256;  // file name, hash
};

// One board of a run: who it is, and how it ended once it has.
struct BoardRecord
{
    QString port;        // as given to -p
    QString device;      // the device it resolved to
    QString label;       // serial number or fixture slot; empty when none
    QJsonValue adapter;  // what the system reports of its adapter (AdapterOf), or null

    int status = -1;      // exit status of its ending; -1 not started
    QString what;         // the summary's words for it: "programmed", "transfer failed", ...
    QString reason;       // the log line that tells why it failed, without its dashes
    qint64 bytes = 0;     // image bytes the board echoed
    qint64 totalBytes = 0;
    double transferSeconds = 0;  // from the first image byte on
    QDateTime started;    // when its download started (its port opened, if it never did)
    QDateTime ended;
};

// A time as the record writes it: UTC, ISO 8601 with milliseconds.
QString Stamp(const QDateTime &time);

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
QString BoardName(const BoardRecord &board);
// The summary line of a board that has ended.
QString SummaryLine(const BoardRecord &board);
// With two or more boards: "2 of 4 programmed; failed: PORT (5, transfer failed), ...".
QString Verdict(const std::vector<BoardRecord> &boards);
// The header line of a port in the log file: its device and adapter.
QString PortHeadLine(const BoardRecord &board);
// A board's JSON object on one line, without the line break.
QByteArray JsonLine(const BoardRecord &board, const RunFiles &files);
