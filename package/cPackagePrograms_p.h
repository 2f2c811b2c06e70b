#pragma once

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QString>

// Helpers shared by the program lookup and the synchronisation of a package.
namespace PackagePrograms {

// `folder` + "/" + `name`, without doubling the separator after a root folder.
QString JoinPath(const QString &folder, const QString &name);

// False for a symbolic link that leads out of `folderPath` (or nowhere); true otherwise.
bool StaysInsideFolder(const QFileInfo &entry, const QString &folderPath);

// What FindNCProgram and FindCONVProgram of a package named `programName` find in
// `folder`, from one listing of it.
void FindProgramCopies(const QDir &folder, const QString &programName, const QString &packageFolder, QFileInfo *nc,
                       QFileInfo *conv);

// The parts folder encoded in a package folder's name, resolved without regard to case;
// empty when it does not exist.
QString DecodePartsFolder(const QString &packageFolderName);

// Last-modified times compared at the precision the file systems keep: a copy on a file
// system with whole-second times gets its source's time cut down to the second. Null
// times are equal only to each other.
bool SameModTime(const QDateTime &a, const QDateTime &b);

} // namespace PackagePrograms
