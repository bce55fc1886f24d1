#include "settingsfile.h"

#include "boundedfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace SettingsFile {

namespace {

// The blanks trimmed around a bare value, so a value never starts with one.
bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

bool IsLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

// Steps over one line end (CR LF, CR or LF) at pos.
int SkipLineEnd(const QByteArray &bytes, int pos)
{
    if (pos < bytes.size() && bytes[pos] == '\r')
        ++pos;
    else if (pos < bytes.size() && bytes[pos] == '\n')
        return pos + 1;
    if (pos < bytes.size() && bytes[pos] == '\n')
        ++pos;
    return pos;
}

// Steps over the delimiter that ends a value: a comma or a line end.
int SkipDelimiter(const QByteArray &bytes, int pos)
{
    if (pos >= bytes.size())
        return pos;
    if (bytes[pos] == ',')
        return pos + 1;
    return SkipLineEnd(bytes, pos);
}

} // namespace

QStringList Parse(const QByteArray &bytes, int count)
{
    QStringList values;
    int pos = 0;
    const int size = int(bytes.size());
    while (values.size() < count) {
        while (pos < size && IsBlank(bytes[pos]))
            ++pos;
        if (pos >= size)
            break;
        QByteArray value;
        if (bytes[pos] == '"') {
            // The closing quote is looked for on this line only: a quote left open ends
            // with its line, so that the values after it stay in their slots.
            const int start = pos + 1;
            int close = start;
            while (close < size && bytes[close] != '"' && !IsLineEnd(bytes[close]))
                ++close;
            value = bytes.mid(start, close - start);
            pos = close;
            if (pos < size && bytes[pos] == '"')
                ++pos;
            // Whatever stands between the closing quote and the delimiter is dropped.
            while (pos < size && bytes[pos] != ',' && !IsLineEnd(bytes[pos]))
                ++pos;
        } else {
            const int start = pos;
            while (pos < size && bytes[pos] != ',' && !IsLineEnd(bytes[pos]))
                ++pos;
            value = bytes.mid(start, pos - start).trimmed();
        }
        pos = SkipDelimiter(bytes, pos);
        values.append(QString::fromLocal8Bit(value));
    }
    return values;
}

ReadResult Read(const QString &path, int count)
{
    ReadResult result;
    if (!QFileInfo::exists(path)) {
        result.status = ReadStatus::Missing;
        return result;
    }
    if (!ReadRegularFile(path, &result.bytes, &result.reason)) {
        result.status = ReadStatus::Unreadable;
        return result;
    }
    result.values = Parse(result.bytes, count);
    result.status = result.values.size() < count ? ReadStatus::TooFew : ReadStatus::Ok;
    return result;
}

QByteArray Format(const QStringList &values, const QVector<bool> &raw)
{
    QByteArray bytes;
    for (int i = 0; i < values.size(); ++i) {
        const bool bare = i < raw.size() && raw[i];
        if (!bare)
            bytes += '"';
        bytes += values[i].toLocal8Bit();
        if (!bare)
            bytes += '"';
        bytes += "\r\n";
    }
    return bytes;
}

namespace {

// A value that fits on one line and survives the local 8-bit encoding.
bool FitsOneLine(const QString &value)
{
    return !value.contains(QLatin1Char('\r')) && !value.contains(QLatin1Char('\n'))
        && QString::fromLocal8Bit(value.toLocal8Bit()) == value;
}

} // namespace

bool CanStore(const QString &value)
{
    return !value.contains(QLatin1Char('"')) && FitsOneLine(value);
}

bool CanStoreBare(const QString &value)
{
    return !value.isEmpty() && !value.startsWith(QLatin1Char('"'))
        && !value.contains(QLatin1Char(',')) && value.trimmed() == value && FitsOneLine(value);
}

bool Write(const QString &path, const QStringList &values, QString *reason,
           const QVector<bool> &raw)
{
    auto fail = [reason](const QString &why) {
        if (reason)
            *reason = why;
        return false;
    };

    // A value with a double quote inside (read bare from a hand-edited file, or a typed
    // port text) cannot go between quotes; it goes out bare when it reads back unchanged
    // that way, so one odd value neither blocks every later save nor gets lost.
    QVector<bool> bare(values.size());
    for (int i = 0; i < values.size(); ++i) {
        if (i < raw.size() && raw[i])
            bare[i] = true;
        else if (!CanStore(values[i])) {
            if (!CanStoreBare(values[i]))
                return fail(QStringLiteral("the value \"%1\" cannot be stored").arg(values[i]));
            bare[i] = true;
        }
    }

    // A FIFO would block the save, and a device or folder is nobody's settings file to
    // replace.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return fail(QStringLiteral("not a regular file"));

    const QByteArray bytes = Format(values, bare);
    QFile old(path);
    if (info.exists() && old.open(QIODevice::ReadOnly) && old.size() == bytes.size()
        && old.readAll() == bytes)
        return true;
    old.close();

    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("cannot create the folder %1").arg(folder));

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    // The explicit flush matters: a failure while the buffer is written out at commit()
    // goes unnoticed there and would leave a cut-off file in the old one's place.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return fail(why);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

} // namespace SettingsFile
