#pragma once

// Platform file: the only place of orvant-flash with operating-system calls (the
// terminal and the signals).

// Whether standard error goes to a terminal (then it shows the live progress lines).
bool StandardErrorIsTerminal();

// Lets the terminal behind standard error take the cursor movements that redraw the
// progress lines. Returns false where it cannot; the caller shows no progress then.
bool PrepareTerminal();

// Columns of the terminal behind standard error; 80 when it cannot be told.
int TerminalColumns();

// Makes Ctrl-C, SIGTERM and, where there is one, SIGHUP (the controlling terminal or
// session went away) call handler, and keeps a closed pipe on standard output or the log
// file from ending the program (its write fails instead).
void InstallStopSignals(void (*handler)(int));
