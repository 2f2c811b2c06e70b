#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <vector>

struct Invocation;

// One option of a command: a flag when valueName is empty.
struct OptionSpec
{
    QString name; // without the leading "--"
    QString valueName;
    QString help;
};

struct CommandSpec
{
    QString name;
    QString arguments; // the positional part of the usage line, e.g. "UID TEXT"
    QString summary;
    std::vector<OptionSpec> options;
    int minArgs = 0;
    int maxArgs = 0; // -1: no upper bound
    bool needsRoot = true;
    int (*run)(const Invocation &) = nullptr;

    QString UsageLine() const;
    QString HelpText() const;
};

// A parsed command line of one command.
struct Invocation
{
    const CommandSpec *command = nullptr;
    QMap<QString, QString> values; // options with a value; flags map to an empty text
    QStringList args;              // positional arguments
    QString root;                  // absolute path of --root, when the command takes one

    bool Has(const QString &option) const { return values.contains(option); }
    QString Value(const QString &option) const { return values.value(option); }
    // Prints the reason and the usage line; returns the bad-usage exit code.
    int UsageError(const QString &reason) const;
};

// The table of all commands (defined with the commands in Commands.cpp).
const std::vector<CommandSpec> &AllCommands();
const CommandSpec *FindCommand(const QString &name);

// Parses the arguments that follow the command name. Returns -1 when the command is to run;
// otherwise the exit code (help printed: 0, bad usage: 2).
int ParseInvocation(const CommandSpec &command, const QStringList &arguments, Invocation &invocation);

QString ToolUsage();
