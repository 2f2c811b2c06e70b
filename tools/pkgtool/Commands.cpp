#include "Commands.h"

#include "CommandLine.h"

namespace {
OptionSpec Flag(const char *name, const char *help)
{
    return OptionSpec{QString::fromLatin1(name), QString(), QString::fromLatin1(help)};
}

OptionSpec Valued(const char *name, const char *valueName, const char *help)
{
    return OptionSpec{QString::fromLatin1(name), QString::fromLatin1(valueName), QString::fromLatin1(help)};
}

CommandSpec Command(const char *name, const char *arguments, const char *summary, std::vector<OptionSpec> options,
                    int minArgs, int maxArgs, int (*run)(const Invocation &), bool needsRoot = true)
{
    CommandSpec command;
    command.name = QString::fromLatin1(name);
    command.arguments = QString::fromLatin1(arguments);
    command.summary = QString::fromLatin1(summary);
    command.options = std::move(options);
    command.minArgs = minArgs;
    command.maxArgs = maxArgs;
    command.run = run;
    command.needsRoot = needsRoot;
    return command;
}

std::vector<CommandSpec> MakeCommands()
{
    const OptionSpec json = Flag("json", "print JSON for scripts");
    return {
        Command("list", "", "list the packages: identifier, name, package folder",
                {Valued("parts", "DIR", "only packages of this parts folder"),
                 Valued("kind", "nc|conv|any", "only packages with such a program"), json},
                0, 0, Commands::List),
        Command("scan", "PARTS_DIR...", "scan parts folders: make packages for new programs, drop stale ones",
                {Flag("watch", "keep running and rescan when a parts folder changes"),
                 Valued("interval", "S", "with --watch, also rescan every S seconds (default 60)"), json},
                1, -1, Commands::Scan),
        Command("show", "UID", "show a package's files with their attributes", {json}, 1, 1, Commands::Show),
        Command("history", "UID TEXT", "record an event in a package's run history",
                {Valued("event", "N",
                        "0 created, 1 run, 2 edited, 3 statistics reset, 4 origin, 5 operator note (default)")},
                2, 2, Commands::History),
        Command("stats", "UID COUNT", "update a package's run statistics with a count", {}, 2, 2, Commands::Stats),
        Command("tools", "UID", "refresh a package's tool list from its NC program", {}, 1, 1, Commands::Tools),
        Command("create", "PROGRAM", "make a package for a part program", {}, 1, 1, Commands::Create),
        Command("import", "SOURCE_PKG DEST_PARTS [NEW_NAME]",
                "import a package folder for a parts folder, optionally under a new program name", {}, 2, 3,
                Commands::Import),
        Command("add-file", "UID FILE", "copy a file into a package and list it in its manifest",
                {Valued("author", "A", "author to record (default: by kind)"),
                 Valued("comment", "C", "comment to record (default: by kind)"),
                 Valued("as", "NAME", "file name in the package (default: the file's own)")},
                2, 2, Commands::AddFile),
        Command("remove-file", "UID NAME", "delete a package file and its thumbnail", {}, 2, 2, Commands::RemoveFile),
        Command("render", "UID FILE", "add a rendering of the program to its package", {}, 2, 2, Commands::Render),
        Command("move", "UID NEW_PROGRAM", "rename or move a part program together with its package", {}, 2, 2,
                Commands::Move),
        Command("copy", "UID NEW_PROGRAM", "copy a package and its part program under a new name", {}, 2, 2,
                Commands::Copy),
        Command("remove", "UID", "delete a part program and its package",
                {Flag("keep-folder", "leave the package folder on disk (the next start of a registry finds it again)")},
                1, 1, Commands::Remove),
        Command("demo", "[DIR]", "build a workspace with sample programs and media and run every operation", {}, 0, 1,
                Commands::Demo, false),
        Command("preview", "FILE", "print a program's extents and estimated cycle time and draw its toolpath",
                {Valued("out", "PICTURE", "write the toolpath picture (GIF or PNG by the name)"), json,
                 Valued("rapid-rate", "MM_PER_MIN", "rapid rate for the estimate (default 10000)"),
                 Valued("tool-change", "S", "seconds per tool change for the estimate (default 5)")},
                1, 1, Commands::Preview, false),
    };
}
} // namespace

const std::vector<CommandSpec> &AllCommands()
{
    static const std::vector<CommandSpec> commands = MakeCommands();
    return commands;
}
