#pragma once

// The command line of orvant-flash: its options, each with its own description, the
// text of --help made from them, and the reading of the arguments.

#include <QString>
#include <QStringList>

constexpr int ExitOk = 0;
constexpr int ExitUsage = 1;
constexpr int ExitNotBuilt = 2;
constexpr int ExitLogFile = 8;

// What the command line asks for, read and checked.
struct Arguments
{
    enum class Mode { Help, Version, ListPorts, Check, Program };
    Mode mode = Mode::Program;
    QStringList ports;
    QStringList labels;  // each port's label; empty where none
    QString supportDir;
    QString codeFile;
    QString logFile;
    double stallSeconds = 60;
    bool quiet = false;
    bool json = false;
};

// Reads the command line (the program's name first). Returns an empty text and fills a,
// or returns what is wrong with it.
QString ParseArguments(const QStringList &commandLine, Arguments &a);

// The text of --help: the usage, the options as they describe themselves, and the
// sections on output, exit statuses and examples.
QString HelpText();

// Tells a usage error on standard error, with a pointer to --help; returns ExitUsage.
int UsageError(const QString &text);
