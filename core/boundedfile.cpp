#include "boundedfile.h"

#include <QFile>
#include <QFileInfo>

bool ReadRegularFile(const QString &path, QByteArray *bytes, QString *reason)
{
    bytes->clear();
    const auto fail = [bytes, reason](const QString &why) {
        bytes->clear();
        *reason = why;
        return false;
    };
    const QString tooLarge = QStringLiteral("larger than 16 MiB");
    static_assert(MaxFileBytes == 16 * 1024 * 1024, "the reason names the limit");

    // A missing file is left to open(), whose reason says so.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return fail(QStringLiteral("not a regular file"));
    if (info.size() > MaxFileBytes)
        return fail(tooLarge);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    // Read in pieces up to one byte past the limit, so that a file which grew since it
    // was looked at is still bounded and still told apart from one that fits.
    while (bytes->size() <= MaxFileBytes) {
        const QByteArray piece = file.read(qMin<qint64>(1 << 16, MaxFileBytes + 1 - bytes->size()));
        if (piece.isEmpty())
            break;
        bytes->append(piece);
    }
    if (file.error() != QFileDevice::NoError)
        return fail(file.errorString());
    if (bytes->size() > MaxFileBytes)
        return fail(tooLarge);
    return true;
}
