#include "cPackage.h"

// Moving a package to a new identifier and copying it.

cPackage *cPackage::MovePackage(const QString &) { return this; }
cPackage *cPackage::CopyPackage(const QString &) { return nullptr; }
