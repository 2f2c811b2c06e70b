#pragma once

#include "cManifest.h"
#include "cManifestItem.h"
#include "cPackage.h"
#include "packagemanager_export.h"
#include "tPackageScanReport.h"
#include "tPackageUID.h"

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

class cSharedPackageMap;
class PackageScanThread;

// The registry of every package under one packages root.
//
// Lifetimes: the registry owns every package. A cPackage pointer the host receives stays
// valid until the registry is destroyed, except for a package that a background scan drops:
// that one lives until every handler of its PackageDeleted has run, whether connected
// directly, automatically or queued (on the registry's thread), and is destroyed on the
// registry's thread afterwards. A package removed or moved away by the host's own call is
// not destroyed before the registry.
class PACKAGEMANAGER_EXPORT cPackageManager : public QObject
{
    Q_OBJECT
    friend struct cPackageTestAccess;
    friend class PackageScanThread;

public:
    enum eProgramType { eNCProgramOnly = 0, eConvProgram = 1, eAnyProgram = 2 };

    explicit cPackageManager(const QDir &packageRoot);
    ~cPackageManager() override;

    QString CalculatePackageUID(const QFileInfo &programFile) const;

    cPackage *GetPackage(const QString &packageUID) const;
    bool DoesPackageExist(const QString &packageUID) const;
    bool DoesPackageExist(const QString &programName, const QDir &partsFolder) const;
    bool DoesPackageExist(const QDir &packageFolder, const QDir &partsFolder) const;
    bool IsAPackage(const QDir &folder) const;
    QMap<QString, cPackage *> GetPackageMap(const QString &partsFolder, bool all) const;
    QList<cPackage *> GetListOfPackages(const QString &partsFolder, eProgramType type) const;
    QList<cPackage *> GetListOfPackages(const QStringList &partsFolders, eProgramType type) const;
    bool IsCurrentlyScanningForPackages() const;
    bool IsProgramFile(const QFileInfo &file) const;

    QString CreatePackage(const QFileInfo &programFile);
    QString ImportPackage(const QDir &sourcePackageFolder, const QDir &destinationPartsFolder, const QString &newName);
    bool UpdateProgramRendering(const QString &packageUID, const QFileInfo &renderingFile);

    cPackage *MovePackage(const QString &packageUID, const QFileInfo &newProgramFile);
    cPackage *CopyPackage(const QString &packageUID, const QFileInfo &newProgramFile);
    bool RemovePackage(const QString &packageUID, bool removePackageFolder);

    bool DoBackgroundScanForPackageUpdates(const QStringList &partsFolders);
    // What the last completed pass kept or skipped; up to date in PackageScanCompleted handlers.
    tPackageScanReport GetLastScanReport() const;

    // The parts-folder key of an identifier: "/" separators, upper case.
    static QString PartsFolderKey(const QString &packageUID);

Q_SIGNALS:
    void PackageAdded(tPackageUID packageUID);
    void PackageDeleted(tPackageUID packageUID);
    void PackageScanCompleted(uint numPackages);
    void PackageScanError(uint errorCode);

private Q_SLOTS:
    void HandlePackageAdded(tPackageUID packageUID);
    void HandlePackageDeleted(tPackageUID packageUID);
    void ProcessScanCompleted(uint numPackages);
    // Destroys the packages that the scan dropped, once the host has seen their deletion.
    void ProcessDroppedPackages();
    // One batch of them, a trip through the event queue later (see the class comment).
    void DestroyDroppedPackages();

private:
    void FindExistingPackages(const QDir &root);
    void AddPackageToMaps(const QString &packageUID);
    void RemovePackageFromMaps(const QString &packageUID);

    QDir packageRoot;
    cSharedPackageMap *sharedMap = nullptr;
    bool scanning = false;
    PackageScanThread *scanThread = nullptr;
    QMap<QString, cPackage *> packagesByUID;
    QMap<QString, QMap<QString, cPackage *>> packagesByPartDir;
    QList<QList<cPackage *>> awaitingDestruction; // dropped, until queued host handlers have run
};
