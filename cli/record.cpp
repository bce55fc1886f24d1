#include "record.h"

#include "console.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

// Seconds to the millisecond: the record claims no more than the clocks give.
double Milliseconds(double seconds)
{
    return std::round(seconds * 1000) / 1000;
}

QJsonValue TextOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonValue StampOrNull(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(Stamp(time)) : QJsonValue();
}

// Why a board was never started: its reason, which the run sets for such a board.
QString NotStartedReason(const BoardResult &board)
{
    return board.notStartedReason.isEmpty() ? EndReason(board.account) : board.notStartedReason;
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
        // A label stands in one line of the summary and the log file, and names a board:
        // it must show what it is. No controls, line or paragraph separators, marks that
        // reorder or hide text (a right-to-left override), unassigned or private code
        // points, and no U+FFFD, which stands for bytes that were not UTF-8.
        bool printable = !label.trimmed().isEmpty();
        for (const char32_t c : label.toUcs4()) {
            switch (QChar::category(c)) {
            case QChar::Other_Control:
            case QChar::Other_Format:
            case QChar::Other_Surrogate:
            case QChar::Other_PrivateUse:
            case QChar::Other_NotAssigned:
            case QChar::Separator_Line:
            case QChar::Separator_Paragraph:
                printable = false;
                break;
            default:
                printable = printable && c != QChar::ReplacementCharacter;
            }
        }
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
    const EndWords ending = board.Ending();
    if (ending.status < 0)
        return QStringLiteral("%1: not started (%2)").arg(BoardName(board), NotStartedReason(board));
    const QString what = ending.status == 0
            ? QString::fromLatin1(ending.summary)
            : QStringLiteral("failed (%1, %2)").arg(ending.status).arg(QLatin1String(ending.summary));
    const DownloadAccount &a = board.account;
    const double rate = a.transferSeconds > 0 ? a.echoed / a.transferSeconds : 0;
    return QStringLiteral("%1: %2, %3 of %4 bytes, transfer %5 s, total %6 s, %7 bytes/s")
        .arg(BoardName(board), what)
        .arg(a.echoed)
        .arg(a.total)
        .arg(a.transferSeconds, 0, 'f', 2)
        .arg(board.seconds, 0, 'f', 2)
        .arg(qint64(rate));
}

QString Verdict(const std::vector<BoardResult> &boards)
{
    qsizetype programmed = 0;
    QStringList failed;
    QStringList notStarted;
    for (const BoardResult &board : boards) {
        const EndWords ending = board.Ending();
        if (ending.status == 0)
            ++programmed;
        else if (ending.status < 0)
            notStarted << BoardName(board);
        else
            failed << QStringLiteral("%1 (%2, %3)").arg(BoardName(board)).arg(ending.status).arg(QLatin1String(ending.summary));
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
    const EndWords ending = board.Ending();
    const int status = ending.status;
    const QString reason = status < 0 ? NotStartedReason(board) : EndReason(board.account);
    QJsonObject support;
    for (const auto &file : files.supportSha256)
        support.insert(file.first, TextOrNull(file.second));
    const QJsonObject object{
        {QStringLiteral("port"), board.portText},
        {QStringLiteral("device"), board.device},
        {QStringLiteral("label"), TextOrNull(board.label)},
        {QStringLiteral("adapter"), board.adapter},
        {QStringLiteral("result"), QLatin1String(ending.result)},
        {QStringLiteral("status"), status < 0 ? QJsonValue() : QJsonValue(status)},
        {QStringLiteral("reason"), TextOrNull(reason)},
        {QStringLiteral("bytes"), board.account.echoed},
        {QStringLiteral("total_bytes"), board.account.total},
        {QStringLiteral("transfer_seconds"), Milliseconds(board.account.transferSeconds)},
        {QStringLiteral("seconds"), Milliseconds(board.seconds)},
        {QStringLiteral("started"), StampOrNull(board.started)},
        {QStringLiteral("ended"), StampOrNull(board.ended)},
        {QStringLiteral("code_file"), files.codeFile},
        {QStringLiteral("code_sha256"), TextOrNull(files.codeSha256)},
        {QStringLiteral("support_sha256"), support},
        {QStringLiteral("version"), QStringLiteral(ORVANT_VERSION)},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
