#include "files.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

QByteArray BootTable(const QList<Segment> &segments, const QByteArray &closing)
{
    QByteArray text = "10AA\r\n";
    for (const Segment &s : segments) {
        text += QByteArray::number(s.words.size(), 16).toUpper() + "\r\n"
              + QByteArray::number(s.address, 16).toUpper() + "\r\n0000\r\n";
        for (const QString &line : WordLines(s.words))
            text += line.toLatin1() + "\r\n";
    }
    return text + "0\r\n" + closing + "\r\n";
}

QList<quint16> Words(int count, quint16 first)
{
    QList<quint16> words;
    for (int i = 0; i < count; ++i)
        words << quint16(first + i * 0x0101);
    return words;
}

QStringList WordLines(const QList<quint16> &words)
{
    QStringList lines;
    for (quint16 w : words)
        lines << QString::number(w, 16).toUpper().rightJustified(4, QLatin1Char('0'));
    return lines;
}

QByteArray WordBytes(const QList<quint16> &words)
{
    QByteArray bytes;
    for (quint16 w : words)
        bytes.append(char(w & 0xFF)).append(char(w >> 8));
    return bytes;
}

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool WaitUntil(const std::function<bool()> &done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}
