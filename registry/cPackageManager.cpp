#include "cPackageManager.h"

#include "package/PackageLock.h"
#include "platform/AtomicFile.h"
#include "platform/FolderListing.h"
#include "platform/PlatformFiles.h"
#include "platform/RegularFiles.h"
#include "programs/PartPrograms.h"
#include "registry/PackageScanThread.h"
#include "registry/PackageUID.h"
#include "registry/cSharedPackageMap.h"

#include <QDirIterator>
#include <QLoggingCategory>
#include <QMetaType>
#include <QSet>

namespace {
Q_LOGGING_CATEGORY(lcRegistry, "packagemanager.registry", QtWarningMsg)
}

cPackageManager::cPackageManager(const QDir &root) : QObject(nullptr), packageRoot(root)
{
    sharedMap = new cSharedPackageMap;
    scanThread = new PackageScanThread(packageRoot);
    if (scanThread) {
        qRegisterMetaType<tPackageUID>("tPackageUID");
        connect(scanThread, &PackageScanThread::PackageScanCompleted, this, &cPackageManager::ProcessScanCompleted);
        connect(scanThread, &PackageScanThread::PackageDeleted, this, &cPackageManager::PackageDeleted);
        connect(scanThread, &PackageScanThread::PackageScanCompleted, this, &cPackageManager::PackageScanCompleted);
        connect(scanThread, &PackageScanThread::PackageScanError, this, &cPackageManager::PackageScanError);
        // One queued call for each new package: it tells the host, then files the package.
        connect(scanThread, &PackageScanThread::PackageAdded, this, &cPackageManager::HandlePackageAdded);
        connect(scanThread, &PackageScanThread::PackageDeleted, this, &cPackageManager::HandlePackageDeleted);
        // After the six above, so that a dropped package outlives the host's handlers.
        connect(scanThread, &PackageScanThread::PackagesDropped, this, &cPackageManager::ProcessDroppedPackages);
    }
    scanning = false;
    FindExistingPackages(packageRoot);
}

cPackageManager::~cPackageManager()
{
    // Nobody is left to see the rest of a running pass: cut it short after the package in
    // hand, wait for it, then free the thread, the map and every package (dropped or not).
    if (scanThread) {
        scanThread->requestInterruption();
        scanThread->wait();
        delete scanThread;
        scanThread = nullptr;
    }
    delete sharedMap;
    sharedMap = nullptr;
    for (const QList<cPackage *> &batch : std::as_const(awaitingDestruction))
        qDeleteAll(batch);
}

void cPackageManager::FindExistingPackages(const QDir &root)
{
    if (!root.exists())
        return;
    // Packages name a few parts folders between them: each is resolved once. The folders
    // are visited as they are listed, without a list of them all held at once.
    const Platform::ResolveCacheScope resolveEachFolderOnce;
    // Thousands of packages may share one parts folder: it is listed once, not per package.
    const Platform::FolderIndexScope listEachFolderOnce;
    // A copy missing from a package is made again here, as a pass makes the first ones,
    // without a flush of its own: all of them reach the disk together at the end.
    const quint64 unflushedBefore = Platform::UnflushedCommits();
    QDirIterator folders(root.path(), {QStringLiteral("*.pkg")}, QDir::Dirs | QDir::NoDotAndDotDot);
    while (folders.hasNext()) {
        const QFileInfo folder = folders.nextFileInfo();
        // Through a linked folder every write of the package would land outside the root.
        if (!Platform::IsRealFolder(folder.absoluteFilePath())) {
            qCWarning(lcRegistry) << "not registering" << folder.absoluteFilePath() << "(a link, not a folder)";
            continue;
        }
        const QString key = folder.completeBaseName().toUpper();
        auto *package = new cPackage(key, QDir(folder.absoluteFilePath()), QDir(QString()));
        sharedMap->Adopt(package);
        sharedMap->Insert(key, package);
        AddPackageToMaps(key);
        QMutexLocker locker(&package->Lock());
        // A tutorial package is never rewritten, at start-up no more than by a scan.
        if (!package->IsTutorialPackage())
            package->SearchForPartProgramsInPackageFolder();
    }
    if (Platform::UnflushedCommits() != unflushedBefore)
        Platform::FlushFileSystemOf(root.absolutePath());
}

QString cPackageManager::PartsFolderKey(const QString &packageUID)
{
    return PackageUID::PartsFolderKey(packageUID);
}

void cPackageManager::AddPackageToMaps(const QString &packageUID)
{
    cPackage *package = sharedMap->GetPackage(packageUID);
    if (!package)
        return;
    const QString upper = packageUID.toUpper();
    packagesByUID.insert(upper, package);
    packagesByPartDir[PackageUID::PartsFolderKey(upper)].insert(upper, package);
}

void cPackageManager::RemovePackageFromMaps(const QString &packageUID)
{
    const QString upper = packageUID.toUpper();
    packagesByUID.remove(upper);
    auto inner = packagesByPartDir.find(PackageUID::PartsFolderKey(upper));
    if (inner != packagesByPartDir.end())
        inner->remove(upper); // an emptied inner map stays in place
}

QString cPackageManager::CalculatePackageUID(const QFileInfo &programFile) const
{
    return PackageUID::ForProgramFile(programFile);
}

cPackage *cPackageManager::GetPackage(const QString &packageUID) const
{
    return sharedMap->GetPackage(packageUID);
}

bool cPackageManager::DoesPackageExist(const QString &packageUID) const
{
    return GetPackage(packageUID) != nullptr;
}

bool cPackageManager::DoesPackageExist(const QString &programName, const QDir &partsFolder) const
{
    return DoesPackageExist(PackageUID::ForProgramInFolder(partsFolder.absolutePath(), programName));
}

bool cPackageManager::DoesPackageExist(const QDir &packageFolder, const QDir &partsFolder) const
{
    const QString name = QFileInfo(packageFolder.absolutePath()).completeBaseName().split(QLatin1Char('^')).last();
    return DoesPackageExist(PackageUID::ForProgramInFolder(partsFolder.absolutePath(), name));
}

bool cPackageManager::IsAPackage(const QDir &folder) const
{
    const QString name = QFileInfo(folder.absolutePath()).fileName();
    return Platform::EndsWithNoCase(name, QLatin1String(".pkg")) &&
           !Platform::FindEntryNoCase(folder.absolutePath(), QStringLiteral("manifest.xml")).isEmpty();
}

QMap<QString, cPackage *> cPackageManager::GetPackageMap(const QString &partsFolder, bool all) const
{
    if (all)
        return packagesByUID;
    return packagesByPartDir.value(partsFolder.toUpper());
}

QList<cPackage *> cPackageManager::GetListOfPackages(const QString &partsFolder, eProgramType type) const
{
    QList<cPackage *> result;
    // A package without a known program asks for its decoded parts folder: once per folder.
    const Platform::ResolveCacheScope resolveEachFolderOnce;
    const Platform::FolderIndexScope listEachFolderOnce;
    const QList<cPackage *> packages = sharedMap->GetPackages();
    for (cPackage *package : packages) {
        // A query: this process's threads only, never waiting on another process.
        QMutexLocker locker(&package->Lock().InProcess());
        if (!partsFolder.isEmpty() && !package->IsFromPartsPath(partsFolder))
            continue;
        const bool nc = package->HasNCProgram();
        const bool conv = package->HasCONVProgram();
        bool selected = false;
        switch (type) {
        case eNCProgramOnly:
            selected = nc && !conv;
            break;
        case eConvProgram:
            selected = conv;
            break;
        case eAnyProgram:
            selected = nc || conv;
            break;
        }
        if (selected)
            result.append(package);
    }
    return result;
}

QList<cPackage *> cPackageManager::GetListOfPackages(const QStringList &partsFolders, eProgramType type) const
{
    QList<cPackage *> result;
    for (const QString &folder : partsFolders)
        result += GetListOfPackages(folder, type);
    return result;
}

bool cPackageManager::IsCurrentlyScanningForPackages() const
{
    return scanning;
}

bool cPackageManager::IsProgramFile(const QFileInfo &file) const
{
    return IsPartProgramFile(file);
}

bool cPackageManager::DoBackgroundScanForPackageUpdates(const QStringList &partsFolders)
{
    // Until the host has seen the last pass's completion, a pass is running for it.
    if (!scanThread || scanning)
        return false;
    const bool started = scanThread->StartScan(partsFolders, sharedMap);
    if (started)
        scanning = true;
    return started;
}

tPackageScanReport cPackageManager::GetLastScanReport() const
{
    return scanThread ? scanThread->LastReport() : tPackageScanReport();
}

void cPackageManager::HandlePackageAdded(tPackageUID packageUID)
{
    Q_EMIT PackageAdded(packageUID);
    AddPackageToMaps(packageUID);
}

void cPackageManager::HandlePackageDeleted(tPackageUID packageUID)
{
    RemovePackageFromMaps(packageUID);
    // The host may have filed a new package under the identifier before this queued slot ran.
    if (sharedMap->Contains(packageUID))
        AddPackageToMaps(packageUID);
}

void cPackageManager::ProcessScanCompleted(uint)
{
    scanning = false;
}

void cPackageManager::ProcessDroppedPackages()
{
    const QList<cPackage *> dropped = sharedMap->TakeDropped();
    if (dropped.isEmpty())
        return;
    // HandlePackageDeleted has unfiled each identifier already; a pointer may still sit in a
    // lookup map under another identifier the host filed it under meanwhile.
    const QSet<cPackage *> doomed(dropped.cbegin(), dropped.cend());
    packagesByUID.removeIf([&doomed](const auto &it) { return doomed.contains(it.value()); });
    for (auto &inner : packagesByPartDir)
        inner.removeIf([&doomed](const auto &it) { return doomed.contains(it.value()); });
    // A host handler connected with Qt::QueuedConnection was posted when the registry emitted
    // PackageDeleted, after this call had been posted: one more trip through the event
    // queue lets it run first.
    awaitingDestruction.append(dropped);
    QMetaObject::invokeMethod(this, "DestroyDroppedPackages", Qt::QueuedConnection);
}

void cPackageManager::DestroyDroppedPackages()
{
    if (!awaitingDestruction.isEmpty())
        qDeleteAll(awaitingDestruction.takeFirst());
}
