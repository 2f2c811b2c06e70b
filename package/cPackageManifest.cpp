#include "cPackage.h"

#include "package/PackageLock.h"

#include <QMutexLocker>

// Binding of a package to its manifest. The protected operations run under the lock their
// caller (registry, scan) already holds.

bool cPackage::ImportManifest()
{
    return manifest && manifest->ImportFromManifestFile(packageName);
}

bool cPackage::UpdateManifest()
{
    if (!manifest)
        return false;
    const bool changed = manifest->MatchManifestToFiles(GetPackageDir());
    manifest->VerifyMinimalManifestExists();
    return changed;
}

bool cPackage::ExportManifest()
{
    return manifest && manifest->ExportToManifestFile();
}

bool cPackage::GenerateManifestFile()
{
    return RefreshManifest() && manifest->ExportToManifestFile();
}

bool cPackage::GenerateFullModeManifestFile()
{
    if (!RefreshManifest())
        return false;
    manifest->ApplyRegularMode(true);
    return manifest->ExportToManifestFile();
}

bool cPackage::RefreshManifest()
{
    if (!manifest)
        return false;
    (void)manifest->RefreshFromManifestFile();
    // The package's own name, not one recorded in the file: a move interrupted before it
    // saved the manifest leaves the old name there, against which the renamed program would
    // not count as the package's, and the package would be deleted as an orphan.
    if (manifest->GetName() != packageName)
        manifest->RelabelManifest(packageName, GetManifestFile());
    (void)manifest->MatchManifestToFiles(GetPackageDir());
    manifest->VerifyMinimalManifestExists();
    return true;
}

bool cPackage::OpenUpPackageToFullMode()
{
    return manifest && manifest->SetManifestPropertiesToRegularMode();
}

cManifestItem *cPackage::GetManifestItem(eMetadataType type) const
{
    QMutexLocker locker(&lock->InProcess());
    return manifest ? manifest->GetManifestItem(type) : nullptr;
}

QList<cManifestItem *> cPackage::GetManifestItems(eMetadataType type) const
{
    QMutexLocker locker(&lock->InProcess());
    return manifest ? manifest->GetManifestItems(type) : QList<cManifestItem *>();
}
