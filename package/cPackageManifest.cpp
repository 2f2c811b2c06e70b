#include "cPackage.h"

// Binding of a package to its manifest.

bool cPackage::ImportManifest() { return false; }
bool cPackage::UpdateManifest() { return false; }
bool cPackage::ExportManifest() { return false; }
bool cPackage::GenerateManifestFile() { return false; }
bool cPackage::OpenUpPackageToFullMode() { return false; }
cManifestItem *cPackage::GetManifestItem(eMetadataType) const { return nullptr; }
QList<cManifestItem *> cPackage::GetManifestItems(eMetadataType) const { return {}; }
