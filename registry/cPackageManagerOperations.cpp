#include "cPackageManager.h"

// Host operations: create, import, render, move, copy, remove.

QString cPackageManager::CreatePackage(const QFileInfo &) { return QString(); }
QString cPackageManager::ImportPackage(const QDir &, const QDir &, const QString &) { return QString(); }
bool cPackageManager::UpdateProgramRendering(const QString &, const QFileInfo &) { return false; }
cPackage *cPackageManager::MovePackage(const QString &, const QFileInfo &) { return nullptr; }
cPackage *cPackageManager::CopyPackage(const QString &, const QFileInfo &) { return nullptr; }
bool cPackageManager::RemovePackage(const QString &, bool) { return false; }
