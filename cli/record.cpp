#include "record.h"

#include "console.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

// The result word of an exit status, for a program that reads the record.
QString ResultWord(int status)
{
    switch (status) {
    case 0:   return QStringLiteral("programmed");
    case 2:   return QStringLiteral("image");
    case 3:   return QStringLiteral("port");
    case 4:   return QStringLiteral("no-lock");
    case 5:   return QStringLiteral("transfer");
    case 6:   return QStringLiteral("port-lost");
    case 7:   return QStringLiteral("stall");
    case 130: return QStringLiteral("interrupted");
    default:  return QStringLiteral("not-started");
    }
}

// Seconds to the millisecond: the record claims no more than the clocks give.
double Milliseconds(double seconds)
{
    return std::round(seconds * 1000) / 1000;
}

double TotalSeconds(const BoardResult &board)
{
    return board.started.isValid() && board.ended.isValid()
            ? board.started.msecsTo(board.ended) / 1000.0 : 0;
}

QJsonValue TextOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonValue StampOrNull(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(Stamp(time)) : QJsonValue();
}

} // namespace

QString LabelsOfPorts(const QStringList &optionNames, const QStringList &labelValues,
                      const QStringList &ports, QStringList &labels)
{
    labels = QStringList(ports.size(), QString());
    qsizetype port = -1;
    qsizetype next = 0;
    for (const QString &name : optionNames) {
        if (name == QLatin1String("p") || name == QLatin1String("port")) {
            ++port;
            continue;
        }
        if (name != QLatin1String("l") && name != QLatin1String("label"))
            continue;
        const QString label = labelValues.value(next++);
        if (port < 0 || port >= ports.size())
            return QStringLiteral("--label \"%1\" comes before any -p").arg(label);
        if (!labels[port].isEmpty())
            return QStringLiteral("port %1 has two labels").arg(ports[port]);
        // A label stands in one line of the summary and the log file.
        bool printable = !label.trimmed().isEmpty();
        for (const QChar c : label)
            printable = printable && c.category() != QChar::Other_Control;
        if (!printable)
            return QStringLiteral("--label of port %1: a label is one line of printable text")
                .arg(ports[port]);
        labels[port] = label;
    }
    return QString();
}

QJsonValue AdapterOf(const QString &device, const QList<SerialLink::PortInfo> &system)
{
    for (const SerialLink::PortInfo &info : system) {
        const QString canonical = QFileInfo(info.device).canonicalFilePath();
        if (info.device != device && canonical != device)
            continue;
        QJsonObject adapter;
        const QPair<const char *, QString> fields[] = {{"description", info.description},
                                                       {"manufacturer", info.manufacturer},
                                                       {"serial_number", info.serialNumber},
                                                       {"by_id", info.byId}};
        for (const auto &field : fields) {
            if (!field.second.isEmpty())
                adapter.insert(QLatin1String(field.first), field.second);
        }
        return adapter.isEmpty() ? QJsonValue() : QJsonValue(adapter);
    }
    return QJsonValue();
}

QString BoardName(const BoardResult &board)
{
    return board.label.isEmpty() ? board.portText : QStringLiteral("%1 [%2]").arg(board.portText, board.label);
}

QString SummaryLine(const BoardResult &board)
{
    const BoardEnding ending = board.Ending();
    if (ending.status < 0)
        return QStringLiteral("%1: not started (another port cannot be opened)").arg(BoardName(board));
    const QString what = ending.status == 0
            ? QString::fromLatin1(ending.what)
            : QStringLiteral("failed (%1, %2)").arg(ending.status).arg(QLatin1String(ending.what));
    const double rate = board.seconds > 0 ? board.echoed / board.seconds : 0;
    return QStringLiteral("%1: %2, %3 of %4 bytes, transfer %5 s, total %6 s, %7 bytes/s")
        .arg(BoardName(board), what)
        .arg(board.echoed)
        .arg(board.total)
        .arg(board.seconds, 0, 'f', 2)
        .arg(TotalSeconds(board), 0, 'f', 2)
        .arg(qint64(rate));
}

QString Verdict(const std::vector<BoardResult> &boards)
{
    qsizetype programmed = 0;
    QStringList failed;
    QStringList notStarted;
    for (const BoardResult &board : boards) {
        const BoardEnding ending = board.Ending();
        if (ending.status == 0)
            ++programmed;
        else if (ending.status < 0)
            notStarted << BoardName(board);
        else
            failed << QStringLiteral("%1 (%2, %3)").arg(BoardName(board)).arg(ending.status).arg(QLatin1String(ending.what));
    }
    QString verdict = QStringLiteral("%1 of %2 programmed").arg(programmed).arg(boards.size());
    if (!failed.isEmpty())
        verdict += QStringLiteral("; failed: ") + failed.join(QStringLiteral(", "));
    if (!notStarted.isEmpty())
        verdict += QStringLiteral("; not started: ") + notStarted.join(QStringLiteral(", "));
    return verdict;
}

QString PortHeadLine(const BoardResult &board)
{
    const QByteArray adapter = board.adapter.isObject()
            ? QJsonDocument(board.adapter.toObject()).toJson(QJsonDocument::Compact)
            : QByteArray("null");
    return QStringLiteral("port %1: device %2, adapter %3")
        .arg(BoardName(board), board.device, QString::fromUtf8(adapter));
}

QByteArray JsonLine(const BoardResult &board, const RunFiles &files)
{
    const int status = board.Ending().status;
    QString reason;
    if (status < 0)
        reason = QStringLiteral("another port cannot be opened");
    else if (status > 0)
        reason = board.reason;
    QJsonObject support;
    for (const auto &file : files.supportSha256)
        support.insert(file.first, TextOrNull(file.second));
    const QJsonObject object{
        {QStringLiteral("port"), board.portText},
        {QStringLiteral("device"), board.device},
        {QStringLiteral("label"), TextOrNull(board.label)},
        {QStringLiteral("adapter"), board.adapter},
        {QStringLiteral("result"), ResultWord(status)},
        {QStringLiteral("status"), status < 0 ? QJsonValue() : QJsonValue(status)},
        {QStringLiteral("reason"), TextOrNull(reason)},
        {QStringLiteral("bytes"), board.echoed},
        {QStringLiteral("total_bytes"), board.total},
        {QStringLiteral("transfer_seconds"), Milliseconds(board.seconds)},
        {QStringLiteral("seconds"), Milliseconds(TotalSeconds(board))},
        {QStringLiteral("started"), StampOrNull(board.started)},
        {QStringLiteral("ended"), StampOrNull(board.ended)},
        {QStringLiteral("code_file"), files.codeFile},
        {QStringLiteral("code_sha256"), TextOrNull(files.codeSha256)},
        {QStringLiteral("support_sha256"), support},
        {QStringLiteral("version"), QStringLiteral(ORVANT_VERSION)},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
