#include "registry/PackageScanThread.h"

#include "cPackage.h"
#include "package/PackageLock.h"
#include "programs/PartPrograms.h"
#include "registry/PackageUID.h"
#include "registry/cSharedPackageMap.h"

#include <QLoggingCategory>
#include <QMutexLocker>
#include <QSet>

Q_LOGGING_CATEGORY(lcScan, "packagemanager.registry.scan", QtWarningMsg)

namespace {

bool ProgramFileExists(const cManifestItem *item)
{
    return item && item->GetFileInfo().exists();
}

} // namespace

// A QDir of its own (built from the path, not copied): the worker must not share the
// registry's QDir private data, whose caches are filled lazily.
PackageScanThread::PackageScanThread(const QDir &root, QObject *parent)
    : QThread(parent), packageRoot(root.absolutePath())
{}

PackageScanThread::~PackageScanThread()
{
    requestInterruption();
    wait();
}

bool PackageScanThread::StartScan(const QStringList &partsFolders, cSharedPackageMap *map)
{
    QMutexLocker locker(&mutex);
    // A refused request changes nothing, so the pass under way keeps its own folders.
    if (isRunning() && !passFinished)
        return false;
    // The last pass has announced its end but may still be returning from run().
    wait();
    scanFolders = partsFolders;
    sharedMap = map;
    passFinished = false;
    start(QThread::InheritPriority);
    return true;
}

void PackageScanThread::run()
{
    QStringList folders;
    cSharedPackageMap *map = nullptr;
    {
        QMutexLocker locker(&mutex);
        folders = scanFolders;
        map = sharedMap;
    }

    uint numPackages = 0;
    if (map) {
        const QList<QFileInfo> programs = CollectProgramFiles(folders);
        for (const QFileInfo &program : programs) {
            if (isInterruptionRequested())
                break;
            const tPackageUID packageUID = PackageUID::ForProgramFile(program);
            cPackage *package = map->GetPackage(packageUID);
            if (!package)
                package = CreatePackage(packageUID, program, map);
            if (package)
                MaintainPackage(packageUID, package, map);
            numPackages = uint(map->Count());
        }
        if (!isInterruptionRequested())
            RemoveStalePackages(map);
        qCInfo(lcScan) << "pass over" << folders.size() << "folders:" << programs.size() << "programs," << numPackages
                       << "packages";
    }

    {
        QMutexLocker locker(&mutex);
        passFinished = true;
    }
    Q_EMIT PackageScanCompleted(numPackages);
}

QList<QFileInfo> PackageScanThread::CollectProgramFiles(const QStringList &folders) const
{
    QList<QFileInfo> programs;
    QSet<QString> listed;
    for (const QString &folder : folders) {
        // An empty text would name the working folder; a folder named twice is listed once.
        if (folder.isEmpty())
            continue;
        const QDir dir(folder);
        if (listed.contains(dir.absolutePath()))
            continue;
        listed.insert(dir.absolutePath());
        const QFileInfoList files = dir.entryInfoList(QDir::Files, QDir::Unsorted);
        for (const QFileInfo &file : files) {
            // A program whose identifier would decode to another place gets no package.
            if (PackageUID::RoundTrips(file.absolutePath(), file.completeBaseName()) && IsPartProgramFile(file))
                programs.append(file);
        }
    }
    return programs;
}

cPackage *PackageScanThread::CreatePackage(const tPackageUID &packageUID, const QFileInfo &program,
                                           cSharedPackageMap *map)
{
    const QString folderName = QStringLiteral("%1.pkg").arg(packageUID);
    if (packageRoot.exists())
        packageRoot.mkdir(folderName);
    auto *package = new cPackage(QFileInfo(packageRoot.absoluteFilePath(folderName)), program);
    if (map->AdoptIfAbsent(packageUID, package)) {
        Q_EMIT PackageAdded(packageUID);
        return package;
    }
    // The host filed this identifier meanwhile; nobody has seen our object.
    delete package;
    return map->GetPackage(packageUID);
}

void PackageScanThread::MaintainPackage(const tPackageUID &packageUID, cPackage *package, cSharedPackageMap *map)
{
    QMutexLocker locker(&package->Lock());
    // The host may have removed or re-filed the package since it was looked up.
    if (map->GetPackage(packageUID) != package)
        return;
    if (package->IsTutorialPackage())
        return;
    package->SynchronizePartFiles(cPackage::PartsFilePriority);
    package->UpdatePackageThumbs();
    package->GenerateEssentialMetadataFiles();
    package->GenerateManifestFile();
    package->OpenUpPackageToFullMode();
}

void PackageScanThread::RemoveStalePackages(cSharedPackageMap *map)
{
    // Pointers from the map stay valid for the whole pass: only this thread drops packages,
    // and a package removed by the host is still owned by the map.
    const QList<cPackage *> packages = map->GetPackages();
    bool anyDropped = false;
    for (cPackage *package : packages) {
        if (isInterruptionRequested())
            return;
        tPackageUID packageUID;
        {
            QMutexLocker locker(&package->Lock());
            if (ProgramFileExists(package->GetManifestItem(NCProgram)) ||
                ProgramFileExists(package->GetManifestItem(ConvProgram)))
                continue;
            packageUID = package->GetPackageUID();
        }
        if (!map->RemoveIfFiled(packageUID, package))
            continue;
        Q_EMIT PackageDeleted(packageUID);
        map->Drop(package);
        anyDropped = true;
    }
    // Queued behind the PackageDeleted events: the host's handlers and the lookup maps are
    // done with the dropped packages before they are destroyed.
    if (anyDropped)
        Q_EMIT PackagesDropped();

    if (!packageRoot.exists())
        return;
    const QFileInfoList folders =
        packageRoot.entryInfoList({QStringLiteral("*.pkg")}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &folder : folders) {
        if (isInterruptionRequested())
            return;
        const QString key = folder.completeBaseName().toUpper();
        if (map->RemoveFolderIfUnclaimed(key, folder))
            qCInfo(lcScan) << "removed unclaimed package folder" << folder.fileName();
    }
}
