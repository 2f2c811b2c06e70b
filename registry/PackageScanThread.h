#pragma once

#include "registry/SettledStates.h"
#include "tPackageScanReport.h"
#include "tPackageUID.h"

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QSet>
#include <QStringList>
#include <QThread>

#include <optional>

class cSharedPackageMap;
class cPackage;
class PartsFolderIndex;
namespace Platform {
class FolderListing;
class FolderIndexScope;
class ResolveCacheScope;
} // namespace Platform

// The worker that rescans parts folders: every program gets a package, every package is
// brought up to date, packages whose programs are gone are removed, and package folders that
// another process made are adopted.
//
// Nothing is deleted without evidence: a package goes only when its folder no longer holds a
// program copy and its parts folder could be read and no longer holds its program. A folder
// that could not be read keeps everything that depends on it.
class PackageScanThread : public QThread
{
    Q_OBJECT

public:
    explicit PackageScanThread(const QDir &packageRoot, QObject *parent = nullptr);
    ~PackageScanThread() override;

    // Starts a pass over the folders; false while a pass runs (the request is not kept).
    [[nodiscard]] bool StartScan(const QStringList &partsFolders, cSharedPackageMap *map);
    // The report of the last pass that completed.
    tPackageScanReport LastReport() const;

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
    // What a pass does with a package it did not meet: keep it, keep it because a folder
    // could not be read, forget it (its folder is gone), give its manifest back the program
    // copy, or remove it (its program is gone).
    enum class eVerdict { Keep, Unreachable, Vanished, Repair, Gone };
    eVerdict JudgePackage(const tPackageUID &packageUID, cPackage *package, PartsFolderIndex &index,
                          QString *unreachable) const;

    // The settled states an earlier process left, for the packages filed at the first pass.
    void TakeUpSettledStates(const QMap<QString, cPackage *> &packages);
    // Leaves the states the pass settled for the next process.
    void KeepSettledStates(cSharedPackageMap *map);
    QList<QFileInfo> CollectProgramFiles(const QStringList &folders, tPackageScanReport *report);
    // Makes, files and announces the package of a program without one; returns the package
    // filed under the identifier afterwards (null when none should be made). `madeFolder`:
    // the package is ours and this call made its folder.
    cPackage *CreatePackage(const tPackageUID &packageUID, const QFileInfo &program, cSharedPackageMap *map,
                            bool *madeFolder);
    // Makes the packages of programs without one (grouped by identifier), on this thread and
    // a helper that shares the pass's scopes, and flushes them in batches.
    // `holdingCopies` gains the packages whose maintenance found their listed copy.
    void MakeNewPackages(const QList<QList<QFileInfo>> &newPrograms, cSharedPackageMap *map,
                         Platform::ResolveCacheScope &resolveScope, Platform::FolderIndexScope &listingScope,
                         QSet<const cPackage *> *holdingCopies);
    // Brings a filed package up to date under its lock; tutorial packages stay untouched.
    // A package whose state is the one its last maintenance settled is left as it is, after
    // one listing of its folder. True when that listing (or the one after the maintenance)
    // found the program copy that the manifest names: evidence enough to keep the package
    // in this pass. `inNewFolder`: the package was made in this pass with a folder of its
    // own, which needs no look at its state, media or leftovers (false is returned).
    bool MaintainPackage(const tPackageUID &packageUID, cPackage *package, const QFileInfo &program,
                         cSharedPackageMap *map, bool inNewFolder = false);
    // Drops the stale packages among those filed before the pass, then adopts the package
    // folders that another process made.
    // `holdingCopies`: the packages whose maintenance in this pass found their listed copy.
    void TidyPackagesRoot(cSharedPackageMap *map, const QMap<QString, cPackage *> &before, PartsFolderIndex &index,
                          const QSet<const cPackage *> &holdingCopies, tPackageScanReport *report);
    void RemoveStalePackages(cSharedPackageMap *map, const QMap<QString, cPackage *> &before, PartsFolderIndex &index,
                             const QSet<const cPackage *> &holdingCopies, tPackageScanReport *report);
    void AdoptUnknownFolders(cSharedPackageMap *map, const Platform::FolderListing &root);
    void Skip(const QString &path, const QString &reason, tPackageScanReport *report);
    void NoteOnce(const QString &path, const QString &what);

    QDir packageRoot;
    // Settled states kept between processes; the first pass takes up what an earlier one left.
    std::optional<SettledStates> settledStates;
    mutable QMutex mutex;
    QStringList scanFolders;
    cSharedPackageMap *sharedMap = nullptr;
    bool passFinished = true; // set by run() before it announces completion
    tPackageScanReport lastReport;
    QMutex notesMutex;
    QSet<QString> noted; // what was logged once, by the worker or its helper
};
