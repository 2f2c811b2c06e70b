#include "package/PackageFolderListing_p.h"

#include "platform/PlatformFiles.h"

thread_local PackageFolderListing *PackageFolderListing::current = nullptr;

QString PackageFolderListing::OtherSpelling(const QString &folder, const QString &name)
{
    PackageFolderListing *scope = For(folder);
    if (!scope)
        return Platform::FindEntryNoCase(folder, name);
    const QList<Platform::FolderListing::Entry> matches = scope->Listing().Matching(name);
    return matches.isEmpty() ? QString() : matches.first().name;
}
