#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// The settings file of both programs: plain text in the local 8-bit encoding, one value
// per line, each line ended by CR LF, values in double quotes (a value may also be
// written bare, as the single-file program does with its first port number).
namespace SettingsFile {

enum class ReadStatus {
    Ok,          // all values asked for were read
    Missing,     // there is no such file
    TooFew,      // the file ended before the last value
    Unreadable,  // the path exists but cannot be read as a settings file
};

struct ReadResult {
    ReadStatus status = ReadStatus::Unreadable;
    // The values read, in order; on TooFew the ones read before the end of the file.
    QStringList values;
    // Why the file could not be read: "not a regular file" (a FIFO, device or folder,
    // refused without opening it), "larger than 16 MiB", or the system's reason.
    QString reason;
    // The file's bytes; none when it could not be read.
    QByteArray bytes;
};

// Reads count values one after another. Enclosing double quotes are removed; a comma
// inside quotes belongs to the value, outside quotes a comma ends a value as a line end
// does; a quote not closed on its line ends at the line end; a blank line is an empty
// value; a bare value is taken as it stands (blanks around it dropped). Anything after
// the last value asked for is ignored.
ReadResult Read(const QString &path, int count);

// The values parsed from the file's bytes, as Read takes them (for up to count values).
QStringList Parse(const QByteArray &bytes, int count);

// Writes the values, each quoted unless raw[i] is true, each line ended by CR LF. The
// file is replaced atomically (a temporary file renamed over the old one), so a failure
// leaves the old file as it was; the folder is created when missing. A value that cannot
// be quoted but reads back unchanged bare (CanStoreBare) is written bare; any other value
// the file cannot hold is refused before anything is written. A file that holds these
// bytes already is left alone, and a path that exists but is not a regular file is refused
// ("not a regular file"). On failure returns false and puts the reason into *reason.
bool Write(const QString &path, const QStringList &values, QString *reason = nullptr,
           const QVector<bool> &raw = {});

// The bytes Write puts into the file.
QByteArray Format(const QStringList &values, const QVector<bool> &raw = {});

// Whether a value can be stored quoted and read back unchanged: no double quote, carriage
// return or line feed, and representable in the local 8-bit encoding.
bool CanStore(const QString &value);

// Whether a value can be stored without quotes and read back unchanged: not empty, no
// leading quote, comma, line break or surrounding blanks, representable in the local
// 8-bit encoding.
bool CanStoreBare(const QString &value);

} // namespace SettingsFile
