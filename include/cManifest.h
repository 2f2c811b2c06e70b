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

    unsigned int packageSize = 0;
    unsigned int packageLimit = 0;
    bool sizeKnown = false;
    QString name;
    QString manifestFilePath;  // absolute path of "manifest.xml"
    QString folderPath;        // its folder, shared with every entry
    QList<cManifestItem *> entries;

    // Entry ownership shared by a manifest and its copies (see cManifest.cpp).
    struct EntryPool;
    std::shared_ptr<EntryPool> pool;

    // What "manifest.xml" held when this manifest last read or wrote it, so that an
    // unchanged manifest is not written again.
    QByteArray lastFileDigest;
    qint64 lastFileSize = -1;
    qint64 lastFileModMSecs = -1;
};
