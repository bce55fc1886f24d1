#pragma once

#include <QString>

// Where a program keeps its settings file. On Windows the file's own place is the root of
// drive C: (C:\ZizUdederAdev11.cfg), which a standard user on current Windows cannot write;
// there the file moves to the user's application-data folder, taking along the choices of a
// file already at C:\. Elsewhere the file lives in the user's configuration folder.
namespace SettingsPlace {

// The path to read and write. fixedPath is the file's own place and fixedWritable says
// whether a file can be written there (CanWrite); userPath is the place in the user's folder.
// fixedPath is used where it can be written (or where no user folder is known), otherwise
// userPath. When userPath is used, holds no file yet, and fixedPath holds one, that file is
// first copied to userPath byte for byte, so an earlier installation's choices carry over
// (the user's folder is created when missing; a file at fixedPath that cannot be read as a
// settings file is not copied). A file already at userPath is the user's own later choices
// and is kept.
QString Settle(const QString &fixedPath, bool fixedWritable, const QString &userPath);

// Whether the settings file at path can be written: a new file can be made in its folder
// (a save writes a temporary file there and renames it over the old one) and a file already
// there is not read-only and can be opened for writing.
bool CanWrite(const QString &path);

// The settings file named fileName for this program on this system; call after the
// application object exists (the user's folder is named after the program).
QString ForProgram(const QString &fileName);

} // namespace SettingsPlace
