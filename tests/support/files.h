#pragma once
// Files the tests write and read back, and boot-table files made to measure.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// The line break of the log and of the files the programs write.
inline const QString CRLF = QStringLiteral("\r\n");

// Runs the event loop until done() holds or ms have passed; returns done().
bool WaitUntil(const std::function<bool()> &done, int ms = 20000);

// A segment of a boot-table file: its destination and its data words.
struct Segment
{
    quint16 address;
    QList<quint16> words;
};

// A boot-table file of these segments: the first line, then each segment's length,
// destination, skipped line and words, then the 0 and the closing line. CR LF line ends.
QByteArray BootTable(const QList<Segment> &segments, const QByteArray &closing = "0000");

// count words, each 0x0101 more than the one before, from first on.
QList<quint16> Words(int count, quint16 first = 0);
// Words as the lines of a file: four upper-case hex digits each.
QStringList WordLines(const QList<quint16> &words);
// Words as the image holds them: low byte, then high byte.
QByteArray WordBytes(const QList<quint16> &words);

// Writes a file whole, creating its folder; false when it cannot be written.
bool WriteFile(const QString &path, const QByteArray &bytes);
// A file's bytes, or "<missing>" when it cannot be read.
QByteArray ReadFile(const QString &path);
