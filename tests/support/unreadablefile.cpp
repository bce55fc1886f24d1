#include "unreadablefile.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

namespace {

bool Capabilities(bool set, __user_cap_data_struct *data)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return ::syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

} // namespace

HeldToPermissions::HeldToPermissions()
{
    static_assert(sizeof(saved) == 2 * sizeof(__user_cap_data_struct), "two capability words");
    __user_cap_data_struct data[2] = {};
    if (!Capabilities(false, data))
        return;
    std::memcpy(saved, data, sizeof saved);
    data[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    Capabilities(true, data);
}

HeldToPermissions::~HeldToPermissions()
{
    __user_cap_data_struct data[2];
    std::memcpy(data, saved, sizeof data);
    if (data[0].permitted != 0)
        Capabilities(true, data);
}

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
    if (kind == QLatin1String("unpermitted") && file.open(QIODevice::WriteOnly)
        && file.write("\"/kept/code.hex\"\r\n\"3\"\r\n") > 0 && file.flush()
        && file.setPermissions(QFileDevice::Permissions()))
        return path;
    return QString();
}

void AddUnreadableFileRows(bool withPermission)
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("FIFO") << "fifo" << "not a regular file";
    QTest::newRow("device") << "device" << "not a regular file";
    QTest::newRow("folder") << "folder" << "not a regular file";
    QTest::newRow("17 MiB") << "oversized" << "larger than 16 MiB";
    if (withPermission)
        QTest::newRow("no read permission") << "unpermitted" << "Permission denied";
}

QString FileIdentity(const QString &path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return QStringLiteral("<missing>");
    return QStringLiteral("mode %1 inode %2 size %3 modified %4.%5")
        .arg(info.st_mode, 0, 8)
        .arg(info.st_ino)
        .arg(info.st_size)
        .arg(info.st_mtim.tv_sec)
        .arg(info.st_mtim.tv_nsec);
}
