#include "CommandLine.h"
#include "Commands.h"
#include "Console.h"
#include "PackageViews.h"
#include "ProgramFacts.h"

#include <QJsonArray>

using namespace PackageViews;

namespace Commands {

int List(const Invocation &invocation)
{
    cPackageManager::eProgramType kind = cPackageManager::eAnyProgram;
    const bool byKind = invocation.Has(QStringLiteral("kind"));
    if (byKind) {
        const QString name = invocation.Value(QStringLiteral("kind"));
        if (name == QLatin1String("nc"))
            kind = cPackageManager::eNCProgramOnly;
        else if (name == QLatin1String("conv"))
            kind = cPackageManager::eConvProgram;
        else if (name != QLatin1String("any"))
            return invocation.UsageError(QStringLiteral("--kind must be nc, conv or any"));
    }
    QString partsFolder;
    if (invocation.Has(QStringLiteral("parts"))) {
        partsFolder = ExistingFolder(invocation.Value(QStringLiteral("parts")), QStringLiteral("parts folder"));
        if (partsFolder.isEmpty())
            return Console::Failure;
    }
    const auto registry = OpenRegistry(invocation);
    if (!registry)
        return Console::Failure;

    QList<cPackage *> packages;
    if (byKind)
        packages = registry->GetListOfPackages(partsFolder, kind);
    else
        packages = registry->GetPackageMap(partsFolder, partsFolder.isEmpty()).values();

    if (invocation.Has(QStringLiteral("json"))) {
        QJsonArray array;
        for (const cPackage *package : packages)
            array.append(PackageSummaryJson(*package));
        QJsonObject object{{QStringLiteral("root"), invocation.root}, {QStringLiteral("packages"), array}};
        if (!partsFolder.isEmpty())
            object.insert(QStringLiteral("parts"), partsFolder);
        Console::OutLines(JsonText(object));
        return Console::Success;
    }
    QList<QStringList> rows;
    for (const cPackage *package : packages)
        rows << QStringList{package->GetPackageUID(), package->GetPackageName(), PackageFolder(*package)};
    PrintTable(rows);
    return Console::Success;
}

int Show(const Invocation &invocation)
{
    const auto registry = OpenRegistry(invocation);
    if (!registry)
        return Console::Failure;
    const cPackage *package = FindPackage(*registry, invocation, invocation.args.at(0));
    if (!package)
        return Console::Failure;

    const QList<KindedEntry> entries = EntriesWithKinds(*package);
    if (invocation.Has(QStringLiteral("json"))) {
        QJsonArray array;
        for (const KindedEntry &item : entries)
            array.append(EntryJson(*item.entry, item.kind));
        QJsonObject object = PackageSummaryJson(*package);
        object.insert(QStringLiteral("manifest"), package->GetManifestFile().absoluteFilePath());
        object.insert(QStringLiteral("entries"), array);
        if (package->HasNCProgram())
            object.insert(QStringLiteral("program"),
                          ProgramFactsJson(ReadProgramFacts(package->GetPgmFileInfo(NCProgram).absoluteFilePath())));
        Console::OutLines(JsonText(object));
        return Console::Success;
    }

    Console::Out(package->GetPackageUID() + QStringLiteral("  (") + PackageFolder(*package) + QLatin1Char(')'));
    Console::Out(QStringLiteral("size ") + QString::number(package->GetPackageSize()) + QStringLiteral(" of ") +
                 QString::number(package->GetPackageSizeLimit()) + QStringLiteral(" bytes, ") +
                 QString::number(entries.size()) + QStringLiteral(" entries"));
    QList<QStringList> rows{{QStringLiteral("KIND"), QStringLiteral("FILE"), QStringLiteral("SIZE"),
                             QStringLiteral("MODIFIED"), QStringLiteral("THUMBNAIL"), QStringLiteral("AUTHOR"),
                             QStringLiteral("FLAGS"), QStringLiteral("COMMENT")}};
    for (const KindedEntry &item : entries) {
        const QJsonObject entry = EntryJson(*item.entry, item.kind);
        const qint64 size = qint64(entry.value(QStringLiteral("size")).toDouble());
        QString flags = item.entry->IsHidden() ? QStringLiteral("hidden") : QStringLiteral("shown");
        if (item.entry->IsReadOnly())
            flags += QStringLiteral(",read-only");
        const QString dash = QStringLiteral("-");
        auto orDash = [&dash](const QString &text) { return text.isEmpty() ? dash : text; };
        rows << QStringList{entry.value(QStringLiteral("kind")).toString(),
                            orDash(item.entry->GetFileNameString()),
                            size < 0 ? dash : QString::number(size),
                            orDash(item.entry->GetModTimeString()),
                            orDash(item.entry->GetPreviewString()),
                            orDash(item.entry->GetAuthorString()),
                            flags,
                            item.entry->GetCommentString()};
    }
    PrintTable(rows);
    return Console::Success;
}

} // namespace Commands
