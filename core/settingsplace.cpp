#include "settingsplace.h"

#include "boundedfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace SettingsPlace {

namespace {

// The rule of Settle on its inputs alone; *copyFrom names the file to copy, if any.
QString Choose(const QString &fixedPath, bool fixedWritable, bool fixedExists,
               const QString &userPath, bool userExists, QString *copyFrom)
{
    copyFrom->clear();
    if (fixedWritable || userPath.isEmpty())
        return fixedPath;
    if (!userExists && fixedExists)
        *copyFrom = fixedPath;
    return userPath;
}

} // namespace

QString Settle(const QString &fixedPath, bool fixedWritable, const QString &userPath)
{
    QString copyFrom;
    const QString path = Choose(fixedPath, fixedWritable, QFileInfo::exists(fixedPath), userPath,
                                QFileInfo::exists(userPath), &copyFrom);
    QByteArray bytes;
    QString reason;
    if (!copyFrom.isEmpty() && ReadRegularFile(copyFrom, &bytes, &reason)) {
        // A failed copy leaves no file behind; the program then starts with first-start
        // values and saves them to path as usual.
        QDir().mkpath(QFileInfo(path).absolutePath());
        QSaveFile copy(path);
        if (copy.open(QIODevice::WriteOnly) && copy.write(bytes) == bytes.size())
            copy.commit();
    }
    return path;
}

bool CanWrite(const QString &path)
{
    const QFileInfo info(path);
    QTemporaryFile probe(info.absolutePath() + QStringLiteral("/settings-XXXXXX.tmp"));
    if (!probe.open())
        return false;
    if (!info.exists())
        return true;
    // The read-only attribute first: on Windows it bars writing even to an administrator.
    QFile file(path);
    return info.isFile() && info.isWritable() && file.open(QIODevice::ReadWrite);
}

QString ForProgram(const QString &fileName)
{
#ifdef Q_OS_WIN
    const QString fixedPath = QStringLiteral("C:\\") + fileName;
    const QString userFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QString userPath = userFolder.isEmpty()
        ? QString()
        : QDir::toNativeSeparators(userFolder + QLatin1Char('/') + fileName);
    return Settle(fixedPath, CanWrite(fixedPath), userPath);
#else
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QLatin1Char('/') + fileName;
#endif
}

} // namespace SettingsPlace
