#include "CommandLine.h"

#include "Console.h"

#include <QDir>
#include <QFileInfo>

namespace {
const OptionSpec rootOption{QStringLiteral("root"), QStringLiteral("DIR"),
                            QStringLiteral("the packages root (the folder of the *.pkg folders)")};
const OptionSpec helpOption{QStringLiteral("help"), QString(), QStringLiteral("show this help")};

const OptionSpec *FindOption(const CommandSpec &command, const QString &name)
{
    if (command.needsRoot && name == rootOption.name)
        return &rootOption;
    for (const OptionSpec &option : command.options) {
        if (option.name == name)
            return &option;
    }
    return nullptr;
}
} // namespace

QString CommandSpec::UsageLine() const
{
    QString line = QStringLiteral("usage: pkgtool ") + name;
    if (needsRoot)
        line += QStringLiteral(" --root DIR");
    if (!arguments.isEmpty())
        line += QLatin1Char(' ') + arguments;
    for (const OptionSpec &option : options) {
        if (option.valueName.isEmpty())
            line += QStringLiteral(" [--") + option.name + QLatin1Char(']');
        else
            line += QStringLiteral(" [--") + option.name + QLatin1Char(' ') + option.valueName + QLatin1Char(']');
    }
    return line;
}

QString CommandSpec::HelpText() const
{
    QStringList lines{UsageLine(), QString(), summary, QString(), QStringLiteral("options:")};
    std::vector<const OptionSpec *> all;
    if (needsRoot)
        all.push_back(&rootOption);
    for (const OptionSpec &option : options)
        all.push_back(&option);
    all.push_back(&helpOption);
    for (const OptionSpec *option : all) {
        QString left = QStringLiteral("  --") + option->name;
        if (!option->valueName.isEmpty())
            left += QLatin1Char(' ') + option->valueName;
        lines << left.leftJustified(24) + QLatin1Char(' ') + option->help;
    }
    return lines.join(QLatin1Char('\n'));
}

int Invocation::UsageError(const QString &reason) const
{
    Console::Err(QStringLiteral("pkgtool ") + command->name + QStringLiteral(": ") + reason);
    Console::Err(command->UsageLine());
    return Console::BadUsage;
}

const CommandSpec *FindCommand(const QString &name)
{
    for (const CommandSpec &command : AllCommands()) {
        if (command.name == name)
            return &command;
    }
    return nullptr;
}

int ParseInvocation(const CommandSpec &command, const QStringList &arguments, Invocation &invocation)
{
    invocation.command = &command;
    bool optionsEnded = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            invocation.args << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            Console::OutLines(command.HelpText());
            return Console::Success;
        }
        if (!argument.startsWith(QLatin1String("--")))
            return invocation.UsageError(QStringLiteral("unknown option ") + argument);
        QString name = argument.mid(2);
        QString value;
        bool valueGiven = false;
        const int equals = name.indexOf(QLatin1Char('='));
        if (equals >= 0) {
            value = name.mid(equals + 1);
            name.truncate(equals);
            valueGiven = true;
        }
        const OptionSpec *option = FindOption(command, name);
        if (!option)
            return invocation.UsageError(QStringLiteral("unknown option --") + name);
        if (option->valueName.isEmpty()) {
            if (valueGiven)
                return invocation.UsageError(QStringLiteral("option --") + name + QStringLiteral(" takes no value"));
        } else if (!valueGiven) {
            if (i + 1 >= arguments.size())
                return invocation.UsageError(QStringLiteral("option --") + name + QStringLiteral(" needs a value"));
            value = arguments.at(++i);
        }
        invocation.values.insert(name, value);
    }

    const int count = int(invocation.args.size());
    if (count < command.minArgs)
        return invocation.UsageError(QStringLiteral("missing argument"));
    if (command.maxArgs >= 0 && count > command.maxArgs)
        return invocation.UsageError(QStringLiteral("too many arguments"));

    if (command.needsRoot) {
        if (!invocation.Has(rootOption.name) || invocation.Value(rootOption.name).isEmpty())
            return invocation.UsageError(QStringLiteral("--root is required"));
        invocation.root = QFileInfo(invocation.Value(rootOption.name)).absoluteFilePath();
    }
    return -1;
}

QString ToolUsage()
{
    QStringList lines{
        QStringLiteral("usage: pkgtool COMMAND [options] [arguments]   (pkgtool COMMAND --help for more)"), QString(),
        QStringLiteral("commands:")};
    for (const CommandSpec &command : AllCommands())
        lines << QStringLiteral("  ") + command.name.leftJustified(12) + QLatin1Char(' ') + command.summary;
    lines << QString() << QStringLiteral("  --version    print the version") << QString()
          << QStringLiteral("Control characters in names are printed as \\xHH (\\u00HH in JSON), never raw.");
    return lines.join(QLatin1Char('\n'));
}
