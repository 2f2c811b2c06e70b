#include "cPackageManager.h"

#include "package/PackageLock.h"
#include "platform/PlatformFiles.h"
#include "platform/RegularFiles.h"
#include "registry/FolderRemoval.h"
#include "registry/PackageUID.h"
#include "registry/cSharedPackageMap.h"

#include <QDir>

#include <QFile>
#include <QLoggingCategory>
#include <QMutexLocker>

// Host operations: create, import, render, move, copy, remove.

Q_LOGGING_CATEGORY(lcOperations, "packagemanager.registry.operations", QtWarningMsg)

namespace {

// A program name must name a file, and "<identifier>.pkg" a folder directly in the root.
bool IsUsableName(const QString &name)
{
    return Platform::IsPlainFileName(name) && !name.trimmed().isEmpty();
}

// A program whose identifier would name another folder or program cannot have a package.
bool RoundTrips(const QFileInfo &programFile)
{
    return PackageUID::RoundTrips(programFile.absolutePath(), programFile.completeBaseName());
}

bool IsUsableIdentifier(const QString &packageUID)
{
    const int caret = packageUID.lastIndexOf(QLatin1Char('^'));
    return caret >= 0 && IsUsableName(packageUID.mid(caret + 1)) &&
           Platform::IsPlainFileName(packageUID + QLatin1String(".pkg"));
}

// Case twins ("Mill/" and "mill/") share one identifier: which one's program is meant
// cannot be told.
bool IsAmbiguousPartsFolder(const QString &packageUID)
{
    QString folder = PackageUID::PartsFolderKey(packageUID);
    if (folder.endsWith(QLatin1Char(':')))
        folder += QLatin1Char('/'); // a drive root
    return !folder.isEmpty() && Platform::IsAmbiguousNoCase(folder);
}

// Whether the folder of a new program holds its name, or its conversational companion's,
// in other letters: on the control's file system the two would be one file, and two
// programs here would share one identifier.
bool HasOtherSpelling(const QFileInfo &programFile)
{
    const QString name = programFile.completeBaseName();
    return Platform::HasOtherSpellingOf(programFile.absolutePath(),
                                        {programFile.fileName(), name, name + QLatin1String(".CNV")});
}

// Keeps a scan from deleting a package folder as unclaimed while it is being set up,
// until its package is filed.
class FolderClaim
{
public:
    FolderClaim(cSharedPackageMap *map, const QString &packageUID) : map(map), key(packageUID)
    {
        map->ClaimFolder(key);
    }
    ~FolderClaim() { map->ReleaseFolder(key); }
    FolderClaim(const FolderClaim &) = delete;
    FolderClaim &operator=(const FolderClaim &) = delete;

private:
    cSharedPackageMap *map;
    QString key;
};

} // namespace

QString cPackageManager::CreatePackage(const QFileInfo &programFile)
{
    const QString uid = CalculatePackageUID(programFile);
    if (!IsUsableIdentifier(uid) || !RoundTrips(programFile)) {
        qCWarning(lcOperations) << "refused to create a package for" << programFile.filePath();
        return QString();
    }
    if (sharedMap->Contains(uid))
        return QString();

    const FolderClaim claim(sharedMap, uid);
    const QString folderName = uid + QLatin1String(".pkg");
    if (packageRoot.exists())
        packageRoot.mkdir(folderName);
    const QString folder = packageRoot.absoluteFilePath(folderName);
    if (!Platform::IsRealFolder(folder))
        return QString(); // missing, or a link through which every write would leave the root

    auto *package = new cPackage(QFileInfo(folder), programFile);
    bool filed = false;
    {
        // Filed before its maintenance, under its lock: a scan that meets it waits for us.
        QMutexLocker locker(&package->Lock());
        filed = sharedMap->AdoptIfAbsent(uid, package);
        if (filed) {
            package->SynchronizePartFiles(cPackage::PartsFilePriority);
            package->UpdatePackageThumbs();
            package->GenerateEssentialMetadataFiles();
            package->GenerateFullModeManifestFile();
        }
    }
    if (!filed) {
        delete package; // a scan filed the identifier meanwhile; nobody has seen this object
        return QString();
    }
    AddPackageToMaps(uid);
    Q_EMIT PackageAdded(uid);
    return uid;
}

QString cPackageManager::ImportPackage(const QDir &sourcePackageFolder, const QDir &destinationPartsFolder,
                                       const QString &newName)
{
    const QString sourcePath = sourcePackageFolder.absolutePath();
    QString oldName = QFileInfo(sourcePath).fileName().split(QLatin1Char('^')).last();
    if (Platform::EndsWithNoCase(oldName, QLatin1String(".pkg")))
        oldName.chop(4);
    const QString name = newName.isEmpty() ? oldName : newName;
    if (!IsUsableName(name) || !PackageUID::RoundTrips(destinationPartsFolder.absolutePath(), name)) {
        qCWarning(lcOperations) << "refused to import under the name" << name;
        return QString();
    }

    const QString uid = PackageUID::ForProgramInFolder(destinationPartsFolder.absolutePath(), name);
    if (!IsUsableIdentifier(uid) || sharedMap->Contains(uid))
        return QString(); // an identifier already registered is never imported over

    const FolderClaim claim(sharedMap, uid);
    const QString folderName = uid + QLatin1String(".pkg");
    // Only into a folder of our own making, so that an import that fails can be undone whole.
    if (!packageRoot.mkdir(folderName))
        return QString();
    const QString folder = packageRoot.absoluteFilePath(folderName);
    if (!Platform::IsRealFolder(folder))
        return QString(); // missing, or a link through which every write would leave the root

    // Plain files only; the old name is replaced whatever its case, so that "plate_7.nc"
    // stays the package's program under the new name.
    const bool renamed = name != oldName;
    // A fresh QDir: the caller's may carry name filters.
    const QDir sourceDir(sourcePath);
    const QFileInfoList files =
        sourceDir.exists() ? sourceDir.entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::Unsorted) : QFileInfoList();
    for (const QFileInfo &file : files) {
        if (Platform::IsOwnBookkeepingName(file.fileName()))
            continue;
        QString target = file.fileName();
        if (renamed && !oldName.isEmpty()) {
            const qsizetype start = Platform::PrefixLengthNoCase(target, oldName);
            if (start > 0)
                target = name + target.mid(start);
        }
        if (!Platform::IsPlainFileName(target))
            continue;
        if (!Platform::CopyFileKeepTime(file.absoluteFilePath(), folder + QLatin1Char('/') + target)) {
            // A package missing a file (a full disk) is no import: nothing is filed.
            qCWarning(lcOperations) << "could not import" << file.fileName();
            if (!QDir(folder).removeRecursively())
                qCWarning(lcOperations) << "could not remove the unfinished import" << folder;
            return QString();
        }
    }

    auto *package = new cPackage(uid, QDir(folder), destinationPartsFolder);
    bool filed = false;
    {
        QMutexLocker locker(&package->Lock());
        filed = sharedMap->AdoptIfAbsent(uid, package);
        if (filed) {
            package->SynchronizePartFiles(cPackage::PackageFilePriority);
            package->UpdatePackageThumbs();
            package->GenerateEssentialMetadataFiles();
            package->ImportManifest();
            package->UpdateManifest();
            if (renamed) {
                package->RemoveFileFromPackage(QStringLiteral("%1.stats.html").arg(name));
                package->UpdateToolInfo();
                package->UpdateHistoryFile(
                    ProgramOrigin, QStringLiteral("Renamed During Import (old name = %1)").arg(oldName), QString());
            }
            package->OpenUpPackageToFullMode();
            package->ExportManifest();
        }
    }
    if (!filed) {
        delete package;
        return QString();
    }
    AddPackageToMaps(uid);
    Q_EMIT PackageAdded(uid);
    return uid;
}

bool cPackageManager::UpdateProgramRendering(const QString &packageUID, const QFileInfo &renderingFile)
{
    cPackage *package = GetPackage(packageUID);
    if (!package)
        return false;
    return package->AddFileToPackage(renderingFile, QStringLiteral("Auto-Generated"), QString(), QString());
}

cPackage *cPackageManager::MovePackage(const QString &packageUID, const QFileInfo &newProgramFile)
{
    cPackage *package = GetPackage(packageUID);
    const QString newUID = CalculatePackageUID(newProgramFile);
    if (!package || !IsUsableIdentifier(newUID) || !RoundTrips(newProgramFile))
        return nullptr;
    if (HasOtherSpelling(newProgramFile)) {
        qCWarning(lcOperations) << "refused to move" << packageUID << "onto" << newProgramFile.filePath()
                                << "(its name is there in other letters)";
        return nullptr;
    }
    {
        QMutexLocker locker(&package->Lock());
        if (sharedMap->GetPackage(packageUID) != package)
            return nullptr; // a scan dropped it meanwhile
        // Reserve the new identifier first, so that a scan cannot file it meanwhile.
        if (!sharedMap->InsertIfAbsent(newUID, package))
            return nullptr;
        package->MovePackage(newUID);
        if (package->packageUID != newUID) {
            // The folder could not be renamed: the package stays where it was.
            sharedMap->RemoveIfFiled(newUID, package);
            qCWarning(lcOperations) << "could not move" << packageUID << "to" << newUID;
            return nullptr;
        }
    }
    sharedMap->NoteGoneByHost(packageUID);
    if (sharedMap->RemoveIfFiled(packageUID, package)) {
        RemovePackageFromMaps(packageUID);
        Q_EMIT PackageDeleted(packageUID);
    }
    AddPackageToMaps(newUID);
    Q_EMIT PackageAdded(newUID);
    return package;
}

cPackage *cPackageManager::CopyPackage(const QString &packageUID, const QFileInfo &newProgramFile)
{
    cPackage *source = GetPackage(packageUID);
    const QString newUID = CalculatePackageUID(newProgramFile);
    if (!source || !IsUsableIdentifier(newUID) || !RoundTrips(newProgramFile) || sharedMap->Contains(newUID))
        return nullptr;
    if (HasOtherSpelling(newProgramFile)) {
        qCWarning(lcOperations) << "refused to copy" << packageUID << "onto" << newProgramFile.filePath()
                                << "(its name is there in other letters)";
        return nullptr;
    }

    const FolderClaim claim(sharedMap, newUID);
    cPackage *copy = nullptr;
    {
        QMutexLocker locker(&source->Lock());
        copy = source->CopyPackage(newUID);
    }
    if (!copy)
        return nullptr;
    if (!sharedMap->AdoptIfAbsent(newUID, copy)) {
        delete copy; // a scan filed the identifier meanwhile and owns the folder now
        return nullptr;
    }
    AddPackageToMaps(newUID);
    Q_EMIT PackageAdded(newUID);
    return copy;
}

bool cPackageManager::RemovePackage(const QString &packageUID, bool removePackageFolder)
{
    cPackage *package = GetPackage(packageUID);
    if (!package)
        return false;

    QString uid;
    {
        QMutexLocker locker(&package->Lock());
        if (sharedMap->GetPackage(packageUID) != package)
            return false; // a scan dropped it meanwhile
        // The programs in the parts folder go, not the package's own copies: exactly the
        // files named as the package's copies, never a note or backup of the same name.
        QStringList programs;
        const QString partsFolder = PackageUID::ResolvedPartsFolder(packageUID);
        if (partsFolder.isEmpty() && IsAmbiguousPartsFolder(packageUID)) {
            qCWarning(lcOperations) << "not removing" << packageUID
                                    << ": its parts folder matches several folders that differ only in case";
            return false;
        }
        if (!partsFolder.isEmpty() && !package->FindPartProgramsToRemove(partsFolder, &programs))
            return false;

        // The folder leaves its place first, so that a folder that cannot be removed leaves
        // the programs where they are.
        const QString folder = package->GetPackageDir().absolutePath();
        QString aside;
        if (removePackageFolder && QFileInfo::exists(folder)) {
            aside = MoveFolderAside(folder);
            if (aside.isEmpty()) {
                qCWarning(lcOperations) << "could not remove the folder of" << packageUID;
                return false;
            }
        }
        for (const QString &program : std::as_const(programs)) {
            if (!QFile::remove(program)) {
                qCWarning(lcOperations) << "could not delete the program" << program;
                if (!aside.isEmpty() && !QDir().rename(aside, folder))
                    qCWarning(lcOperations) << "could not put back" << folder << "from" << aside;
                return false; // still registered, in every map
            }
        }
        // A share cannot remove a folder that holds an open file: let go of the lock file.
        if (!aside.isEmpty())
            package->Lock().ReleaseAcrossProcesses();
        if (!aside.isEmpty() && !RemoveFolder(QFileInfo(aside)))
            qCWarning(lcOperations) << "left part of" << aside << "for a later pass to remove";
        uid = package->packageUID;
    }
    if (!sharedMap->RemoveIfFiled(uid, package))
        return false;
    sharedMap->NoteGoneByHost(uid);
    RemovePackageFromMaps(uid);
    Q_EMIT PackageDeleted(uid);
    return true;
}
