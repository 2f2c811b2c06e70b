#include "registry/PartsFolderIndex.h"

#include "registry/PackageUID.h"

#include <QStringList>

QString PartsFolderIndex::FolderOf(const QString &packageUID)
{
    const QString key = PackageUID::PartsFolderKey(packageUID);
    const auto it = folderByKey.constFind(key);
    if (it != folderByKey.cend())
        return *it;
    const QString folder = PackageUID::ResolvedPartsFolder(packageUID);
    folderByKey.insert(key, folder);
    return folder;
}

const Platform::FolderListing &PartsFolderIndex::ListingOf(const QString &folder)
{
    auto it = listings.find(folder);
    if (it == listings.end())
        it = listings.insert(folder, Platform::ListingInScope(folder));
    return *it;
}

bool HoldsProgramNamed(const Platform::FolderListing &listing, const QString &programName)
{
    const QStringList names{programName, programName + QLatin1String(".NC"), programName + QLatin1String(".CNV")};
    for (const QString &name : names) {
        for (const Platform::FolderListing::Entry &entry : listing.Matching(name)) {
            if (entry.kind != Platform::FolderListing::Folder)
                return true;
        }
    }
    return false;
}
