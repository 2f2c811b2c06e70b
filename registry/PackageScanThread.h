#pragma once

#include "tPackageUID.h"

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QMutex>
#include <QStringList>
#include <QThread>

class cSharedPackageMap;
class cPackage;

// The worker that rescans parts folders: every program gets a package, every package
// is brought up to date, stale packages and unclaimed package folders are removed.
class PackageScanThread : public QThread
{
    Q_OBJECT

public:
    explicit PackageScanThread(const QDir &packageRoot, QObject *parent = nullptr);
    ~PackageScanThread() override;

    // Starts a pass over the folders; false while a pass runs (the request is not kept).
    [[nodiscard]] bool StartScan(const QStringList &partsFolders, cSharedPackageMap *map);

Q_SIGNALS:
    void PackageAdded(tPackageUID packageUID);
    void PackageDeleted(tPackageUID packageUID);
    void PackageScanCompleted(uint numPackages);
    void PackageScanError(uint errorCode);
    // A dropped package waits in the shared map for destruction on the host's thread.
    void PackagesDropped();

protected:
    void run() override;

private:
    QList<QFileInfo> CollectProgramFiles(const QStringList &folders) const;
    // Makes, files and announces the package of a program without one; returns the package
    // filed under the identifier afterwards.
    cPackage *CreatePackage(const tPackageUID &packageUID, const QFileInfo &program, cSharedPackageMap *map);
    // Brings a filed package up to date under its lock; tutorial packages stay untouched.
    void MaintainPackage(const tPackageUID &packageUID, cPackage *package, cSharedPackageMap *map);
    void RemoveStalePackages(cSharedPackageMap *map);

    QDir packageRoot;
    QMutex mutex;
    QStringList scanFolders;
    cSharedPackageMap *sharedMap = nullptr;
    bool passFinished = true; // set by run() before it announces completion
};
