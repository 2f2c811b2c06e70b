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

    bool StartScan(const QStringList &partsFolders, cSharedPackageMap *map);

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
    void RemoveStalePackages(cSharedPackageMap *map);

    QDir packageRoot;
    QMutex mutex;
    QStringList scanFolders;
    cSharedPackageMap *sharedMap = nullptr;
    bool passFinished = true;  // set when run() has emitted completion
};
