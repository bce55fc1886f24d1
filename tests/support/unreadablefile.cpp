#include "unreadablefile.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sys/stat.h>

QString UnreadableFile(const QString &folder, const QString &kind)
{
    const QString path = QDir(folder).filePath(kind);
    if (kind == QLatin1String("fifo"))
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 ? path : QString();
    if (kind == QLatin1String("folder"))
        return QDir().mkpath(path) ? path : QString();
    if (kind == QLatin1String("device"))
        return QStringLiteral("/dev/zero");
    QFile file(path);
    if (kind == QLatin1String("oversized") && file.open(QIODevice::WriteOnly)
        && file.resize(17 * 1024 * 1024))
        return path;
    return QString();
}

void AddUnreadableFileRows()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("FIFO") << "fifo" << "not a regular file";
    QTest::newRow("device") << "device" << "not a regular file";
    QTest::newRow("folder") << "folder" << "not a regular file";
    QTest::newRow("17 MiB") << "oversized" << "larger than 16 MiB";
}
