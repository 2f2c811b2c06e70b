#pragma once

#include <QFileInfo>
#include <QString>

// Encoding of package identifiers: "<encoded parts folder>^<program name>", upper case.
namespace PackageUID {

// The identifier of a program file: its folder's absolute path with ":" -> "!" and
// "/" -> ",", then "^" and the complete base name, upper-cased.
QString ForProgramFile(const QFileInfo &programFile);

// The identifier of a program named `programName` (taken whole) in `folderAbsolutePath`.
QString ForProgramInFolder(const QString &folderAbsolutePath, const QString &programName);

// Whether the identifier of a program named `programName` in that folder decodes back to
// them: a "^" in the name, or a "^", "," or "!" in the folder, decodes to another place.
bool RoundTrips(const QString &folderAbsolutePath, const QString &programName);

// The parts-folder key: upper case, text before the first "^", "!" -> ":", "," -> "/".
QString PartsFolderKey(const QString &packageUID);

// The real folder the parts-folder key names, found whatever the case of its letters;
// empty when it does not exist (or cannot be reached).
QString ResolvedPartsFolder(const QString &packageUID);

// The program name: the text after the last "^".
QString ProgramName(const QString &packageUID);

} // namespace PackageUID
