#include "downloadaccount.h"

#include <QLocale>

namespace {

const QString Dot = QStringLiteral(" \u00B7 ");
const QString Reset = QStringLiteral("reset the board, start the program again");

// Where in the download it ended or stands, as the bar says it.
QString Position(const DownloadAccount &a, DownloadAccount::Phase phase)
{
    if (phase == DownloadAccount::Phase::LockWait)
        return QStringLiteral("during the lock wait");
    if (phase == DownloadAccount::Phase::Closing)
        return QStringLiteral("in the closing exchange, after all %1 bytes").arg(ByteCount(a.total));
    if (a.byte <= 0)
        return QStringLiteral("at the first byte of ") + ByteCount(a.total);
    return QStringLiteral("at byte %1 of %2").arg(ByteCount(a.byte), ByteCount(a.total));
}

} // namespace

EndWords WordsOf(EndKind kind)
{
    switch (kind) {
    case EndKind::Programmed:  return {0, "programmed", "programmed", BarColour::Done};
    case EndKind::Load:        return {2, "the image cannot be built", "image", BarColour::Failed};
    case EndKind::Port:        return {3, "the port cannot be opened", "port", BarColour::Failed};
    case EndKind::NoLock:      return {4, "no lock", "no-lock", BarColour::Failed};
    case EndKind::WrongEcho:
    case EndKind::RefusedAck:
    case EndKind::Handshake:
    case EndKind::Closing:     return {5, "transfer failed", "transfer", BarColour::Failed};
    case EndKind::PortLost:    return {6, "port lost", "port-lost", BarColour::Failed};
    case EndKind::Stall:       return {7, "stall timeout", "stall", BarColour::Failed};
    case EndKind::Interrupted: return {130, "interrupted", "interrupted", BarColour::Failed};
    case EndKind::NotStarted:  break;
    }
    return {-1, "not started", "not-started", BarColour::Plain};
}

QString EndBarText(const DownloadAccount &a)
{
    // The phase the download was in when it ended.
    const DownloadAccount::Phase in = a.kind == EndKind::Closing ? DownloadAccount::Phase::Closing
                                                                 : a.endedIn;
    switch (a.kind) {
    case EndKind::Programmed:
        return QStringLiteral("Programmed") + Dot + ByteCount(a.total) + QStringLiteral(" bytes in ")
            + QString::number(a.totalSeconds, 'f', 1) + QStringLiteral(" s");
    case EndKind::Load:
        return QStringLiteral("Nothing sent") + Dot
            + QStringLiteral("a file could not be loaded: see the log");
    case EndKind::Port:
        return QStringLiteral("Nothing sent") + Dot
            + QStringLiteral("the port could not be opened: see the log");
    case EndKind::NoLock:
        return QStringLiteral("No answer from the board") + Dot
            + QStringLiteral("check the cable, reset the board, press Program");
    case EndKind::WrongEcho:
    case EndKind::Closing:
        return QStringLiteral("Failed ") + Position(a, in) + Dot + Reset;
    case EndKind::RefusedAck:
        return QStringLiteral("Block %1 not acknowledged").arg(a.block) + Dot + Reset;
    case EndKind::Handshake:
        return QStringLiteral("No handshake before block %1").arg(a.block) + Dot + Reset;
    case EndKind::PortLost:
        return QStringLiteral("Port lost ") + Position(a, in) + Dot
            + QStringLiteral("reconnect, pick the port, press Program");
    case EndKind::Stall:
        return QStringLiteral("Given up ") + Position(a, in) + QStringLiteral(": no answer");
    case EndKind::Interrupted:
        return QStringLiteral("Stopped ") + Position(a, in);
    case EndKind::NotStarted:
        break;
    }
    return QStringLiteral("Not started");
}

QString SilentBarText(const DownloadAccount &a)
{
    return QStringLiteral("No answer for %1 s ").arg(qint64(a.quietSeconds)) + Position(a, a.phase)
        + Dot + QStringLiteral("check the cable and the board");
}

QString EndReason(const DownloadAccount &a)
{
    switch (a.kind) {
    case EndKind::Programmed:
        return QString();
    case EndKind::NotStarted:
        return QStringLiteral("another port cannot be opened");
    case EndKind::WrongEcho:
        return QStringLiteral("Serial Communications Error at %1: received %2 instead of %3")
            .arg(a.byte)
            .arg(QString::number(a.received, 16).toUpper(), QString::number(a.expected, 16).toUpper());
    default:
        return WithoutDashes(a.logLine.trimmed());
    }
}

QString WithoutDashes(const QString &line)
{
    qsizetype start = 0;
    while (start < line.size() && (line[start] == QLatin1Char('-') || line[start] == QLatin1Char(' ')))
        ++start;
    return line.mid(start);
}

QString ByteCount(qint64 count)
{
    return QLocale(QLocale::English).toString(count);
}
