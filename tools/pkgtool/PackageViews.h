#pragma once

#include <cPackageManager.h>

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

struct Invocation;

struct ProgramFacts;

namespace PackageViews {

// The name of a kind of package content, as pkgtool prints it.
QString KindName(eMetadataType kind);
// All kinds in value order, for reverse lookups.
QList<eMetadataType> AllKinds();

// The package folder: the folder of its "manifest.xml".
QString PackageFolder(const cPackage &package);

QJsonObject PackageSummaryJson(const cPackage &package);
QJsonObject EntryJson(const cManifestItem &entry, eMetadataType kind);

struct KindedEntry
{
    eMetadataType kind;
    const cManifestItem *entry;
};
// Every entry of the package in manifest order with its kind, which the public interface
// only tells through the per-kind lists.
QList<KindedEntry> EntriesWithKinds(const cPackage &package);

// Prints rows as columns separated by two blanks; the last column is not padded.
void PrintTable(const QList<QStringList> &rows);
QString JsonText(const QJsonObject &object, bool compact = false);

// The facts of a program for `show --json` and `preview --json`.
QJsonObject ProgramFactsJson(const ProgramFacts &facts);

// Opens the registry of the invocation's --root. Null, with the message printed, when the
// root does not exist.
std::unique_ptr<cPackageManager> OpenRegistry(const Invocation &invocation);
// The package named by an identifier argument (case does not matter: identifiers are upper
// case). Null, with the message printed, when there is none.
cPackage *FindPackage(const cPackageManager &registry, const Invocation &invocation, const QString &uid);
// The absolute path of an existing folder; empty, with the message printed, otherwise.
QString ExistingFolder(const QString &path, const QString &what);
// The absolute path of a readable file; empty, with the message printed, otherwise.
QString ReadableFile(const QString &path, const QString &what);

} // namespace PackageViews
