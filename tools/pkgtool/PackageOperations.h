#pragma once

#include <cPackageManager.h>

#include <QString>

// The host's side of the registry operations, shared by the commands and the demo: checks
// that give people a clear message, the call itself, and the part-program renames that a
// move leaves to the host. Each prints its own failure line and returns false.
namespace PackageOperations {

[[nodiscard]] bool Create(cPackageManager &registry, const QString &programPath, QString &uid);
[[nodiscard]] bool Import(cPackageManager &registry, const QString &sourceFolder, const QString &partsFolder,
                          const QString &newName, QString &uid);
[[nodiscard]] bool Move(cPackageManager &registry, const QString &uid, const QString &newProgramPath, QString &newUid);
[[nodiscard]] bool Copy(cPackageManager &registry, const QString &uid, const QString &newProgramPath, QString &newUid);

} // namespace PackageOperations
