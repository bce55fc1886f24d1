#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The most the programs read of one of their files (a boot-table file, a settings file):
// far more than any valid one holds (an image holds at most 131073 bytes), little enough
// that a wrong file cannot eat the memory.
constexpr qint64 MaxFileBytes = 16 * 1024 * 1024;

// Reads the regular file at path whole into *bytes. Anything that is not a regular file is
// refused before it is opened, with the reason "not a regular file": a FIFO's opening
// would block, a device may never end, a folder holds no bytes. A file of more than
// MaxFileBytes is refused with "larger than 16 MiB"; any other failure gives the system's
// reason. Returns false, with *bytes empty and the reason in *reason, on failure.
bool ReadRegularFile(const QString &path, QByteArray *bytes, QString *reason);
