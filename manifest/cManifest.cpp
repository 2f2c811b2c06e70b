#include "cManifest.h"

struct cManifest::EntryPool {};

cManifest::cManifest(const QString &packageName, const QFileInfo &manifestFile)
    : name(packageName), manifestFilePath(manifestFile.absoluteFilePath()), folderPath(manifestFile.absolutePath())
{
}
cManifest::cManifest(const cManifest &other) = default;
cManifest &cManifest::operator=(const cManifest &other) = default;
cManifest::~cManifest() = default;
bool cManifest::ImportFromManifestFile(const QString &) { return true; }
bool cManifest::ExportToManifestFile() { return true; }
void cManifest::RelabelManifest(const QString &newName, const QFileInfo &manifestFile)
{
    name = newName;
    manifestFilePath = manifestFile.absoluteFilePath();
    folderPath = manifestFile.absolutePath();
}
cManifestItem *cManifest::AddManifestItem(const QFileInfo &, const QString &, const QString &) { return nullptr; }
QList<cManifestItem *> cManifest::GetManifestItems(eMetadataType) const { return {}; }
cManifestItem *cManifest::GetManifestItem(eMetadataType) const { return nullptr; }
cManifestItem *cManifest::LookupManifestItemByFileName(const QString &) const { return nullptr; }
bool cManifest::MatchManifestToFiles(const QDir &) { return false; }
void cManifest::VerifyMinimalManifestExists() {}
bool cManifest::SetManifestPropertiesToRegularMode() { return true; }
bool cManifest::DeleteManifestItem(cManifestItem *) { return false; }
unsigned int cManifest::calculatePackageSize() { return 0; }
void cManifest::OrganizeManifestOrder() {}
void cManifest::ReclaimDropped(const QList<cManifestItem *> &) {}
