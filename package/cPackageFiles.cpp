#include "cPackage.h"

// Adding files to and removing files from a package.

bool cPackage::AddFileToPackage(const QFileInfo &, const QString &, const QString &, const QString &) { return false; }
bool cPackage::RemoveFileFromPackage(const QString &) { return false; }
