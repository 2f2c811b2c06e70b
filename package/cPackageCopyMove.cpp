#include "cPackage.h"

#include "MetadataGenerator.h"
#include "package/PackageLock.h"
#include "platform/PlatformFiles.h"

#include <QFile>
#include <QLoggingCategory>

// Moving a package to a new identifier and copying it.

Q_LOGGING_CATEGORY(lcPackageCopyMove, "packagemanager.package.copymove", QtWarningMsg)

namespace {

// The folder "<identifier>.pkg" beside `packageFolder`; empty when the identifier cannot
// name a folder there (it would leave the packages root).
QString SiblingPackageFolder(const QString &packageFolder, const QString &newPackageUID)
{
    const QString folderName = newPackageUID + QLatin1String(".pkg");
    if (newPackageUID.trimmed().isEmpty() || !Platform::IsPlainFileName(folderName))
        return QString();
    return QFileInfo(packageFolder).absolutePath() + QLatin1Char('/') + folderName;
}

// Whether a folder of that name exists, whatever the case of its letters.
bool FolderNameTaken(const QString &folderPath)
{
    const QFileInfo info(folderPath);
    return info.exists() || info.isSymLink() ||
           !Platform::FindEntryNoCase(info.absolutePath(), info.fileName()).isEmpty();
}

// The new name of a fixed-name file when the package `oldName` becomes `newName`; empty
// when the file keeps its name. Names compare without regard to case; a suffix keeps its
// letters, so that the copy in the parts folder ("%1.CNV", "%1.NC") keeps matching.
QString RenamedFixedFile(const QString &fileName, const QString &oldName, const QString &newName)
{
    const qsizetype start = Platform::PrefixLengthNoCase(fileName, oldName);
    if (start < 0)
        return QString();
    if (start == fileName.size())
        return newName;
    const QString rest = fileName.mid(start);
    static const QLatin1String fixedSuffixes[] = {QLatin1String(".nc"),         QLatin1String(".cnv"),
                                                  QLatin1String(".gif"),        QLatin1String(".history.html"),
                                                  QLatin1String(".stats.html"), QLatin1String(".tools.html")};
    for (const QLatin1String &suffix : fixedSuffixes) {
        if (Platform::SameNameNoCase(rest, suffix))
            return newName + rest;
    }
    return QString();
}

// The name of a copied file: the package's name, alone or followed by ".", is replaced
// by the new name.
QString CopiedFileName(const QString &fileName, const QString &oldName, const QString &newName)
{
    if (oldName.isEmpty())
        return fileName;
    const qsizetype start = Platform::PrefixLengthNoCase(fileName, oldName);
    if (start == fileName.size())
        return newName;
    if (start > 0 && fileName.at(start) == QLatin1Char('.'))
        return newName + fileName.mid(start);
    return fileName;
}

// The folder at an absolute path decoded from an upper-case identifier: existing
// components are found whatever their case, missing ones are created as written. Empty
// when it cannot be made.
QString MakePathNoCase(const QString &absolutePath)
{
    const QString path = QDir::cleanPath(Platform::ToSlashes(absolutePath));
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return QString();
    const QString existing = Platform::ResolvePathNoCase(path);
    if (!existing.isEmpty())
        return QFileInfo(existing).isDir() ? existing : QString();

    QStringList missing;
    QString current = path;
    QString base;
    for (;;) {
        const int slash = current.lastIndexOf(QLatin1Char('/'));
        if (slash < 0)
            return QString();
        missing.prepend(current.mid(slash + 1));
        current.truncate(slash);
        const bool atRoot = current.isEmpty() || current.endsWith(QLatin1Char(':'));
        base = Platform::ResolvePathNoCase(atRoot ? current + QLatin1Char('/') : current);
        if (!base.isEmpty())
            break;
        if (atRoot)
            return QString();
    }
    if (!QFileInfo(base).isDir())
        return QString();
    const QString made = QDir(base).absoluteFilePath(missing.join(QLatin1Char('/')));
    return QDir().mkpath(made) ? made : QString();
}

} // namespace

cPackage *cPackage::MovePackage(const QString &newPackageUID)
{
    const QString oldFolder = QDir(packageDirPath).absolutePath();
    const QString newFolder = SiblingPackageFolder(oldFolder, newPackageUID);
    const QString newName = GetNameFromUID(newPackageUID);
    if (newFolder.isEmpty() || !Platform::IsPlainFileName(newName) || newName.trimmed().isEmpty()) {
        qCWarning(lcPackageCopyMove) << "refused move to" << newPackageUID;
        return this;
    }
    // What another process wrote goes with the package.
    if (manifest)
        (void)manifest->ReloadIfChangedOnDisk();
    // A rename never replaces a folder (on every system, and whatever the case of its name).
    if (FolderNameTaken(newFolder) || !QDir().rename(oldFolder, newFolder))
        return this;
    // The lock file, held, moved with the folder.
    lock->SetFolder(newFolder);

    const QString oldUID = packageUID;
    const QString oldName = packageName;
    const QString oldNCProgramPath = partNCProgramPath;
    const QString oldCONVProgramPath = partCONVProgramPath;
    QList<QPair<QString, QString>> renamedFiles;
    // Versions of the pages the move rewrites, kept aside until the move is whole.
    QList<QPair<QString, QString>> keptVersions;
    const auto undo = [&]() {
        for (const auto &kept : std::as_const(keptVersions))
            (void)Platform::PutVersionBack(kept.second, kept.first);
        for (auto it = renamedFiles.crbegin(); it != renamedFiles.crend(); ++it)
            QFile::rename(newFolder + QLatin1Char('/') + it->second, newFolder + QLatin1Char('/') + it->first);
        QDir().rename(newFolder, oldFolder);
        lock->SetFolder(oldFolder);
        packageUID = oldUID;
        packageDirPath = oldFolder;
        packageName = oldName;
        partNCProgramPath = oldNCProgramPath;
        partCONVProgramPath = oldCONVProgramPath;
        if (manifest) {
            // The old "manifest.xml" is whole on the disk: it is the state to go back to.
            manifest->RelabelManifest(oldName, GetManifestFile());
            (void)manifest->ImportFromManifestFile(oldName);
        }
        return this;
    };

    const QStringList files = QDir(newFolder).entryList(QDir::Files, QDir::Unsorted);
    for (const QString &file : files) {
        const QString renamed = RenamedFixedFile(file, oldName, newName);
        if (renamed.isEmpty() || Platform::SameNameNoCase(renamed, file))
            continue;
        if (!QFile::rename(newFolder + QLatin1Char('/') + file, newFolder + QLatin1Char('/') + renamed)) {
            // Half a move would leave the program under its old name, which the next scan
            // takes for no program at all: everything goes back where it was.
            qCWarning(lcPackageCopyMove) << "could not rename" << file << "to" << renamed;
            return undo();
        }
        renamedFiles.append({file, renamed});
    }

    packageUID = newPackageUID;
    packageDirPath = newFolder;
    packageName = newName;
    // The part programs of the new name in the new identifier's parts folder, as a package
    // built from the identifier would have them.
    partNCProgramPath.clear();
    partCONVProgramPath.clear();
    const QDir partsFolder = GetPartDirFromPackageUID(newPackageUID);
    if (partsFolder != QDir(QString()))
        FindPartProgramsIn(partsFolder);
    if (!manifest)
        return this;
    manifest->RelabelManifest(newName, GetManifestFile());
    // The entries take the renamed files' names.
    manifest->MatchManifestToFiles(QDir(newFolder));
    manifest->VerifyMinimalManifestExists();

    // The move is whole once its history row and its manifest are written. A full disk may
    // refuse either: then the package goes back, pages and all, and the caller learns it.
    const cManifestItem *history = manifest->GetManifestItem(History);
    const cManifestItem *stats = manifest->GetManifestItem(Stats);
    for (const cManifestItem *page : {history, stats}) {
        const QString path = page ? page->GetFileInfo().absoluteFilePath() : QString();
        const QString aside = path.isEmpty() ? QString() : Platform::KeepVersionAside(path);
        if (!aside.isEmpty())
            keptVersions.append({path, aside});
    }
    bool recorded = true;
    if (metadataGenerator && history) {
        const bool mayRecord = metadataGenerator->CanRecordHistory(history->GetFileInfo());
        recorded = UpdateHistoryFile(ProgramOrigin, QStringLiteral("Previous Program Name = ") + oldName, QString()) ||
                   !mayRecord;
    }
    // The statistics start afresh; a page that cannot be written keeps its old counts.
    if (recorded && metadataGenerator && stats)
        (void)metadataGenerator->UpdateStatsFile(stats->GetFileInfo(), 0);
    if (recorded)
        manifest->MatchManifestToFiles(QDir(newFolder)); // the pages' new times
    if (!recorded || !manifest->ExportToManifestFile()) {
        qCWarning(lcPackageCopyMove) << "could not write the moved package" << newPackageUID << "; it stays at"
                                     << oldUID;
        return undo();
    }
    for (const auto &kept : std::as_const(keptVersions))
        (void)QFile::remove(kept.second);
    UpdateToolInfo();
    return this;
}

cPackage *cPackage::CopyPackage(const QString &newPackageUID)
{
    const QString sourceFolder = QDir(packageDirPath).absolutePath();
    const QString newFolder = SiblingPackageFolder(sourceFolder, newPackageUID);
    const QString newName = GetNameFromUID(newPackageUID);
    if (newFolder.isEmpty() || !Platform::IsPlainFileName(newName) || newName.trimmed().isEmpty()) {
        qCWarning(lcPackageCopyMove) << "refused copy to" << newPackageUID;
        return nullptr;
    }
    // Only into a folder of our own making: what a failed copy wrote goes again, folder and all.
    if (FolderNameTaken(newFolder) || !QDir().mkdir(newFolder))
        return nullptr;
    const auto undo = [&newFolder](cPackage *made) {
        delete made;
        if (!QDir(newFolder).removeRecursively())
            qCWarning(lcPackageCopyMove) << "could not remove the unfinished copy" << newFolder;
        return nullptr;
    };

    // Plain files only: no subfolders, and no links that might lead out of the package. A
    // copy that misses a file (a full disk) is no copy: the operator would lose it unawares.
    const QFileInfoList files = QDir(sourceFolder).entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::Unsorted);
    for (const QFileInfo &file : files) {
        const QString fileName = file.fileName();
        if (Platform::SameNameNoCase(fileName, QStringLiteral("manifest.xml")) ||
            Platform::IsOwnBookkeepingName(fileName))
            continue;
        const QString target = CopiedFileName(fileName, packageName, newName);
        if (!Platform::CopyFileKeepTime(file.absoluteFilePath(), newFolder + QLatin1Char('/') + target)) {
            qCWarning(lcPackageCopyMove) << "could not copy" << fileName << "to" << newFolder;
            return undo(nullptr);
        }
    }

    auto *copy = new cPackage(newPackageUID, QDir(newFolder), GetPartDirFromPackageUID(newPackageUID));
    if (copy->manifest) {
        copy->manifest->MatchManifestToFiles(QDir(newFolder));
        copy->manifest->VerifyMinimalManifestExists();
        if (!copy->manifest->ExportToManifestFile())
            return undo(copy);
        const cManifestItem *stats = copy->manifest->GetManifestItem(Stats);
        if (copy->metadataGenerator && stats && !copy->metadataGenerator->UpdateStatsFile(stats->GetFileInfo(), 0))
            return undo(copy);
    }
    copy->UpdateToolInfo();
    if (!copy->UpdateHistoryFile(ProgramOrigin,
                                 QStringLiteral("Copied From Program Name = ") + GetNameFromUID(packageUID), QString()))
        return undo(copy);

    // The part programs go into the new parts folder, never over a program there.
    QString partsPath = QFileInfo(newFolder).fileName();
    const int caret = partsPath.indexOf(QLatin1Char('^'));
    if (caret >= 0)
        partsPath.truncate(caret);
    partsPath.replace(QLatin1Char('!'), QLatin1Char(':'));
    partsPath.replace(QLatin1Char(','), QLatin1Char('/'));
    const QString partsFolder = MakePathNoCase(partsPath);
    if (!partsFolder.isEmpty() && copy->manifest) {
        // A program already in the parts folder is never replaced and stays the package's,
        // without a companion from the copy; one that cannot be written there (a full disk)
        // undoes the copy.
        QStringList madePrograms;
        for (const eMetadataType kind : {NCProgram, ConvProgram}) {
            const cManifestItem *program = copy->manifest->GetManifestItem(kind);
            if (!program)
                continue;
            const QString target = partsFolder + QLatin1Char('/') + program->GetFileNameString();
            if (!Platform::FindEntryNoCase(partsFolder, program->GetFileNameString()).isEmpty())
                break;
            if (!Platform::CopyFileKeepTime(program->GetFileInfo().absoluteFilePath(), target)) {
                qCWarning(lcPackageCopyMove) << "could not copy the program to" << target;
                for (const QString &made : std::as_const(madePrograms))
                    QFile::remove(made);
                return undo(copy);
            }
            madePrograms << target;
        }
        // The parts folder may have been made just now.
        copy->FindPartProgramsIn(QDir(partsFolder));
    }
    return copy;
}
