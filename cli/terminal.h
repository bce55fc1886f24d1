#pragma once

// Platform file: the only place of orvant-flash with operating-system calls (the
// terminal, the signals that writes raise, and the writing of the record).

#include <QByteArray>
#include <QString>

// Whether standard error goes to a terminal (then it shows the live progress lines).
bool StandardErrorIsTerminal();

// Lets the terminal behind standard error take the cursor movements that redraw the
// progress lines. Returns false where it cannot; the caller shows no progress then.
bool PrepareTerminal();

// Columns and rows of the terminal behind standard error; 80 and 24 when they cannot be
// told.
int TerminalColumns();
int TerminalRows();

// Keeps a closed pipe on standard output or the log file, and a file grown to the size
// limit of the process, from ending the program: the write fails instead.
void IgnoreWriteSignals();

// The descriptor of standard output.
int StandardOutput();

// Opens the log file for appending, creating it when missing, without ever waiting (a
// FIFO without a reader, a modem line). Only a file or a character device (/dev/null)
// can take a record: anything else is refused. Returns the descriptor, or -1 with the
// reason. endsOpen tells that the file's last byte is not a line break.
int OpenRecordFile(const QString &path, bool *endsOpen, QString *reason);
void CloseRecordFile(int fd);

// Writes bytes whole to fd, in one write when the system takes them so. On failure a
// file is given back the bytes of them that did get in, so that it never ends in part of
// a line; returns the system's reason, and tells whether the reader of a pipe went away.
// An empty text when all were written.
QString WriteWhole(int fd, const QByteArray &bytes, bool *readerGone = nullptr);
