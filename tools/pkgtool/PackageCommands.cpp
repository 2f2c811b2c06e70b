#include "CommandLine.h"
#include "Commands.h"
#include "Console.h"
#include "PackageOperations.h"
#include "PackageViews.h"

using namespace PackageViews;

namespace {

// A name given for a file or program must stay a plain name inside its folder.
bool IsPlainName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) && !name.contains(QLatin1Char('^'));
}

// Opens the registry and finds the package of the first argument; both null on failure.
struct Target
{
    std::unique_ptr<cPackageManager> registry;
    cPackage *package = nullptr;
    QString uid;
};

Target OpenTarget(const Invocation &invocation)
{
    Target target;
    target.registry = PackageViews::OpenRegistry(invocation);
    if (!target.registry)
        return target;
    target.package = FindPackage(*target.registry, invocation, invocation.args.at(0));
    if (target.package)
        target.uid = target.package->GetPackageUID();
    return target;
}

QString PagePath(const cPackage &package, eMetadataType kind)
{
    const cManifestItem *entry = package.GetManifestItem(kind);
    return entry ? QFileInfo(entry->GetFileInfo()).absoluteFilePath() : QString();
}

} // namespace

namespace Commands {

int History(const Invocation &invocation)
{
    int event = OperatorNote;
    if (invocation.Has(QStringLiteral("event"))) {
        bool ok = false;
        event = invocation.Value(QStringLiteral("event")).toInt(&ok);
        if (!ok || event < ProgramCreated || event > OperatorNote)
            return invocation.UsageError(QStringLiteral("--event must be a number from 0 to 5"));
    }
    const Target target = OpenTarget(invocation);
    if (!target.package)
        return Console::Failure;
    if (!target.package->UpdateHistoryFile(eHistoricalEvent(event), invocation.args.at(1), QString()))
        return Console::Fail(QStringLiteral("could not update the history page of ") + target.uid,
                             PagePath(*target.package, ::History));
    Console::Out(QStringLiteral("history recorded: ") + PagePath(*target.package, ::History));
    return Console::Success;
}

int Stats(const Invocation &invocation)
{
    bool ok = false;
    const uint count = invocation.args.at(1).toUInt(&ok);
    if (!ok)
        return invocation.UsageError(QStringLiteral("COUNT must be a whole number from 0"));
    const Target target = OpenTarget(invocation);
    if (!target.package)
        return Console::Failure;
    if (!target.package->UpdateStatsFile(count))
        return Console::Fail(QStringLiteral("could not update the statistics page of ") + target.uid,
                             PagePath(*target.package, ::Stats));
    Console::Out(QStringLiteral("statistics updated: ") + PagePath(*target.package, ::Stats));
    return Console::Success;
}

int Tools(const Invocation &invocation)
{
    const Target target = OpenTarget(invocation);
    if (!target.package)
        return Console::Failure;
    if (!target.package->UpdateToolInfo())
        return Console::Fail(QStringLiteral("could not update the tool list of ") + target.uid,
                             PagePath(*target.package, ::Tools));
    Console::Out(QStringLiteral("tool list updated: ") + PagePath(*target.package, ::Tools));
    return Console::Success;
}

int Create(const Invocation &invocation)
{
    const QString program = ReadableFile(invocation.args.at(0), QStringLiteral("program"));
    if (program.isEmpty())
        return Console::Failure;
    const auto registry = OpenRegistry(invocation);
    if (!registry)
        return Console::Failure;
    QString uid;
    if (!PackageOperations::Create(*registry, program, uid))
        return Console::Failure;
    Console::Out(uid);
    return Console::Success;
}

int Import(const Invocation &invocation)
{
    const QString source = ExistingFolder(invocation.args.at(0), QStringLiteral("source package folder"));
    if (source.isEmpty())
        return Console::Failure;
    const QString parts = ExistingFolder(invocation.args.at(1), QStringLiteral("parts folder"));
    if (parts.isEmpty())
        return Console::Failure;
    const QString newName = invocation.args.value(2);
    if (invocation.args.size() > 2 && !IsPlainName(newName))
        return invocation.UsageError(QStringLiteral("NEW_NAME must be a plain program name"));
    const auto registry = OpenRegistry(invocation);
    if (!registry)
        return Console::Failure;
    QString uid;
    if (!PackageOperations::Import(*registry, source, parts, newName, uid))
        return Console::Failure;
    Console::Out(uid);
    return Console::Success;
}

int AddFile(const Invocation &invocation)
{
    const QString targetName = invocation.Value(QStringLiteral("as"));
    if (invocation.Has(QStringLiteral("as")) && !IsPlainName(targetName))
        return invocation.UsageError(QStringLiteral("--as must be a plain file name"));
    const QString file = ReadableFile(invocation.args.at(1), QStringLiteral("file"));
    if (file.isEmpty())
        return Console::Failure;
    const Target target = OpenTarget(invocation);
    if (!target.package)
        return Console::Failure;
    if (!target.package->AddFileToPackage(QFileInfo(file), invocation.Value(QStringLiteral("author")),
                                          invocation.Value(QStringLiteral("comment")), targetName))
        return Console::Fail(QStringLiteral("could not add the file to package ") + target.uid, file);
    const QString name = targetName.isEmpty() ? QFileInfo(file).fileName() : targetName;
    Console::Out(QStringLiteral("added ") + PackageFolder(*target.package) + QLatin1Char('/') + name);
    return Console::Success;
}

int RemoveFile(const Invocation &invocation)
{
    const Target target = OpenTarget(invocation);
    if (!target.package)
        return Console::Failure;
    const QString name = invocation.args.at(1);
    bool listed = false;
    const QList<cManifestItem *> entries = target.package->GetManifestItems(Unknown);
    for (const cManifestItem *entry : entries)
        listed = listed || entry->GetFileNameString() == name;
    if (!listed)
        return Console::Fail(QStringLiteral("package ") + target.uid + QStringLiteral(" lists no file ") + name,
                             PackageFolder(*target.package));
    if (!target.package->RemoveFileFromPackage(name))
        return Console::Fail(QStringLiteral("could not delete"),
                             PackageFolder(*target.package) + QLatin1Char('/') + name);
    Console::Out(QStringLiteral("removed ") + PackageFolder(*target.package) + QLatin1Char('/') + name);
    return Console::Success;
}

int Render(const Invocation &invocation)
{
    const QString file = ReadableFile(invocation.args.at(1), QStringLiteral("rendering"));
    if (file.isEmpty())
        return Console::Failure;
    const Target target = OpenTarget(invocation);
    if (!target.package)
        return Console::Failure;
    if (!target.registry->UpdateProgramRendering(target.uid, QFileInfo(file)))
        return Console::Fail(QStringLiteral("could not add the rendering to package ") + target.uid, file);
    Console::Out(QStringLiteral("added ") + PackageFolder(*target.package) + QLatin1Char('/') +
                 QFileInfo(file).fileName());
    return Console::Success;
}

int Move(const Invocation &invocation)
{
    const Target target = OpenTarget(invocation);
    if (!target.package)
        return Console::Failure;
    QString newUid;
    if (!PackageOperations::Move(*target.registry, target.uid, QFileInfo(invocation.args.at(1)).absoluteFilePath(),
                                 newUid))
        return Console::Failure;
    Console::Out(newUid);
    return Console::Success;
}

int Copy(const Invocation &invocation)
{
    const Target target = OpenTarget(invocation);
    if (!target.package)
        return Console::Failure;
    QString newUid;
    if (!PackageOperations::Copy(*target.registry, target.uid, QFileInfo(invocation.args.at(1)).absoluteFilePath(),
                                 newUid))
        return Console::Failure;
    Console::Out(newUid);
    return Console::Success;
}

int Remove(const Invocation &invocation)
{
    const Target target = OpenTarget(invocation);
    if (!target.package)
        return Console::Failure;
    const bool keepFolder = invocation.Has(QStringLiteral("keep-folder"));
    const QString folder = PackageFolder(*target.package);
    if (!target.registry->RemovePackage(target.uid, !keepFolder))
        return Console::Fail(QStringLiteral("could not remove package ") + target.uid +
                                 QStringLiteral(" (a program or the package folder could not be deleted)"),
                             folder);
    Console::Out(QStringLiteral("removed ") + target.uid);
    return Console::Success;
}

} // namespace Commands
