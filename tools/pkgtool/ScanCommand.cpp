#include "CommandLine.h"
#include "Commands.h"
#include "Console.h"
#include "PackageViews.h"
#include "ScanSession.h"

namespace Commands {

int Scan(const Invocation &invocation)
{
    ScanSession::Options options;
    options.watch = invocation.Has(QStringLiteral("watch"));
    options.json = invocation.Has(QStringLiteral("json"));
    if (invocation.Has(QStringLiteral("interval"))) {
        bool ok = false;
        options.intervalSeconds = invocation.Value(QStringLiteral("interval")).toInt(&ok);
        if (!ok || options.intervalSeconds < 1 || options.intervalSeconds > 24 * 3600)
            return invocation.UsageError(QStringLiteral("--interval must be a number of seconds from 1 to 86400"));
    }
    QStringList folders;
    for (const QString &path : invocation.args) {
        const QString folder = PackageViews::ExistingFolder(path, QStringLiteral("parts folder"));
        if (folder.isEmpty())
            return Console::Failure;
        folders << folder;
    }
    const auto registry = PackageViews::OpenRegistry(invocation);
    if (!registry)
        return Console::Failure;
    ScanSession session(*registry, folders, options);
    if (options.watch)
        return session.Watch();
    if (!session.RunOnce())
        return Console::Fail(QStringLiteral("could not start a scan"), folders.join(QStringLiteral(", ")));
    return Console::Success;
}

} // namespace Commands
