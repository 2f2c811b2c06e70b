#include "cPackageManager.h"

#include "programs/PartPrograms.h"
#include "registry/PackageScanThread.h"
#include "registry/PackageUID.h"
#include "registry/cSharedPackageMap.h"

#include <QMetaType>

cPackageManager::cPackageManager(const QDir &root) : QObject(nullptr), packageRoot(root)
{
    sharedMap = new cSharedPackageMap;
    scanThread = new PackageScanThread(packageRoot);
    if (scanThread) {
        qRegisterMetaType<tPackageUID>("tPackageUID");
        connect(scanThread, &PackageScanThread::PackageScanCompleted, this, &cPackageManager::ProcessScanCompleted);
        connect(scanThread, &PackageScanThread::PackageAdded, this, &cPackageManager::PackageAdded);
        connect(scanThread, &PackageScanThread::PackageDeleted, this, &cPackageManager::PackageDeleted);
        connect(scanThread, &PackageScanThread::PackageScanCompleted, this, &cPackageManager::PackageScanCompleted);
        connect(scanThread, &PackageScanThread::PackageScanError, this, &cPackageManager::PackageScanError);
        connect(scanThread, &PackageScanThread::PackageAdded, this, &cPackageManager::HandlePackageAdded);
        connect(scanThread, &PackageScanThread::PackageDeleted, this, &cPackageManager::HandlePackageDeleted);
        // After the seven above, so that a dropped package outlives the host's handlers.
        connect(scanThread, &PackageScanThread::PackagesDropped, this, &cPackageManager::ProcessDroppedPackages);
    }
    scanning = false;
    FindExistingPackages(packageRoot);
}

cPackageManager::~cPackageManager()
{
    // Wait for a running pass, then free the thread, the map and every package.
    if (scanThread) {
        scanThread->wait();
        delete scanThread;
        scanThread = nullptr;
    }
    delete sharedMap;
    sharedMap = nullptr;
}

void cPackageManager::FindExistingPackages(const QDir &root)
{
    if (!root.exists())
        return;
    const QFileInfoList folders = root.entryInfoList({QStringLiteral("*.pkg")},
                                                     QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &folder : folders) {
        const QString key = folder.completeBaseName().toUpper();
        auto *package = new cPackage(key, QDir(folder.absoluteFilePath()), QDir(QString()));
        sharedMap->Adopt(package);
        sharedMap->Insert(key, package);
        AddPackageToMaps(key);
        QMutexLocker locker(&package->Lock());
        package->SearchForPartProgramsInPackageFolder();
    }
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
        inner->remove(upper);  // an emptied inner map stays in place
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
    return name.endsWith(QLatin1String(".pkg"), Qt::CaseInsensitive) &&
           QFileInfo::exists(folder.absolutePath() + QLatin1String("/manifest.xml"));
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
    const QList<cPackage *> packages = sharedMap->GetPackages();
    for (cPackage *package : packages) {
        QMutexLocker locker(&package->Lock());
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
    if (!scanThread)
        return false;
    const bool started = scanThread->StartScan(partsFolders, sharedMap);
    if (started)
        scanning = true;
    return started;
}

void cPackageManager::HandlePackageAdded(tPackageUID packageUID)
{
    AddPackageToMaps(packageUID);
}

void cPackageManager::HandlePackageDeleted(tPackageUID packageUID)
{
    RemovePackageFromMaps(packageUID);
}

void cPackageManager::ProcessScanCompleted(uint)
{
    scanning = false;
}

void cPackageManager::ProcessDroppedPackages()
{
    const QList<cPackage *> dropped = sharedMap->TakeDropped();
    for (cPackage *package : dropped) {
        // A package pointer may still sit in a lookup map under an identifier that the
        // host re-filed meanwhile; never leave a dangling one behind.
        for (auto it = packagesByUID.begin(); it != packagesByUID.end();) {
            if (it.value() == package)
                it = packagesByUID.erase(it);
            else
                ++it;
        }
        for (auto &inner : packagesByPartDir) {
            for (auto it = inner.begin(); it != inner.end();) {
                if (it.value() == package)
                    it = inner.erase(it);
                else
                    ++it;
            }
        }
        delete package;
    }
}
