#pragma once

#include "cManifestItem.h"
#include "packagemanager_export.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QString>

#include <memory>

class cPackage;

// A package's list of files, mirrored in its "manifest.xml".
class PACKAGEMANAGER_EXPORT cManifest
{
    friend class cPackage;
    friend struct cPackageTestAccess;

public:
    cManifest(const cManifest &other);
    cManifest &operator=(const cManifest &other);
    ~cManifest();

protected:
    cManifest(const QString &name, const QFileInfo &manifestFile);

    bool ImportFromManifestFile(const QString &name);
    bool ExportToManifestFile();
    void RelabelManifest(const QString &name, const QFileInfo &manifestFile);
    cManifestItem *AddManifestItem(const QFileInfo &file, const QString &author, const QString &comment);
    QList<cManifestItem *> GetManifestItems(eMetadataType type) const;
    cManifestItem *GetManifestItem(eMetadataType type) const;
    cManifestItem *LookupManifestItemByFileName(const QString &fileName) const;
    bool MatchManifestToFiles(const QDir &packageFolder);
    void VerifyMinimalManifestExists();
    bool SetManifestPropertiesToRegularMode();

    unsigned int GetPackageSize() const { return packageSize; }
    unsigned int GetPackageLimit() const { return packageLimit; }
    // False until a size was read from "manifest.xml" or computed by a write.
    bool HasKnownPackageSize() const { return sizeKnown; }
    QString GetName() const { return name; }
    QFileInfo GetManifestFileInfo() const { return QFileInfo(manifestFilePath); }

private:
    bool DeleteManifestItem(cManifestItem *item);
    unsigned int calculatePackageSize();
    void OrganizeManifestOrder();

    // Frees entries that no manifest sharing this one's entries still lists.
    void ReclaimDropped(const QList<cManifestItem *> &dropped);
    // Detaches from the entries shared with copies, reclaiming those nobody else lists.
    void ReleaseEntries();
    // Adds the entries that the other manifests sharing this one's entries list.
    void CollectListedElsewhere(QSet<const cManifestItem *> &listed) const;

    cManifestItem *FirstOfKind(eMetadataType type) const;
    cManifestItem *AddItemForFile(const QFileInfo &file, const QString &author, const QString &comment);
    QByteArray SerializeManifest() const;

    unsigned int packageSize = 0;
    // 0 until "manifest.xml" records a limit or regular mode sets it.
    unsigned int packageLimit = 0;
    bool sizeKnown = false;
    QString name;
    QString manifestFilePath; // absolute path of "manifest.xml"
    QString folderPath;       // its folder, shared with every entry
    QList<cManifestItem *> entries;

    // The manifests that share entries with this one; made on the first copy only, so a
    // manifest that is never copied carries no pool.
    struct EntryPool;
    mutable std::shared_ptr<EntryPool> pool;
};
