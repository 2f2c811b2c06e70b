#include "CommandLine.h"
#include "Console.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <memory>

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    if (arguments.isEmpty()) {
        Console::ErrLines(ToolUsage());
        return Console::BadUsage;
    }
    const QString first = arguments.takeFirst();
    if (first == QLatin1String("--version")) {
        Console::Out(QStringLiteral("pkgtool " PKGTOOL_VERSION));
        return Console::Success;
    }
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help")) {
        const CommandSpec *command = arguments.isEmpty() ? nullptr : FindCommand(arguments.first());
        Console::OutLines(command ? command->HelpText() : ToolUsage());
        return Console::Success;
    }
    const CommandSpec *command = FindCommand(first);
    if (!command) {
        Console::Err(QStringLiteral("pkgtool: unknown command ") + first);
        Console::Err(ToolUsage().section(QLatin1Char('\n'), 0, 0));
        return Console::BadUsage;
    }

    // Only the demo draws (its PDF); it needs a GUI application, never a display.
    std::unique_ptr<QCoreApplication> app;
    if (command->name == QLatin1String("demo")) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("pkgtool"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PKGTOOL_VERSION));

    Invocation invocation;
    const int parsed = ParseInvocation(*command, arguments, invocation);
    if (parsed >= 0)
        return parsed;
    return command->run(invocation);
}
