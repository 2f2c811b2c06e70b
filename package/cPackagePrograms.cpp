#include "cPackage.h"

// Finding and reading the package's part programs.

QFileInfo cPackage::FindNCProgram(const QDir &) const { return QFileInfo(); }
QFileInfo cPackage::FindCONVProgram(const QDir &) const { return QFileInfo(); }
bool cPackage::HasNCProgram() const { return false; }
bool cPackage::HasCONVProgram() const { return false; }
QFileInfo cPackage::GetPgmFileInfo(eMetadataType) const { return QFileInfo(); }
QStringList cPackage::GetPgmLines(int, eMetadataType) const { return {}; }
