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
    // The same without writing the file; `filesJustMatched`: the entries took their files'
    // times and sizes a moment ago (MatchManifestToFiles), which need not be read again.
    void ApplyRegularMode(bool filesJustMatched = false);

    // The total in bytes, as large as it is; GetPackageSize() saturates at the largest
    // unsigned int.
    quint64 GetPackageSizeInBytes() const { return packageSize; }
    unsigned int GetPackageSize() const
    {
        return packageSize > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned int>(packageSize);
    }
    unsigned int GetPackageLimit() const { return packageLimit; }
    // False until a size was read from "manifest.xml" or computed by a write.
    bool HasKnownPackageSize() const { return sizeKnown; }
    QString GetName() const { return name; }
    QFileInfo GetManifestFileInfo() const { return QFileInfo(ManifestFilePath()); }

private:
    bool DeleteManifestItem(cManifestItem *item);
    quint64 calculatePackageSize();
    // Sets "manifest.xml" aside when the last read found it unreadable and it has not
    // changed since; false when it must not be replaced (it could not be opened).
    bool SetAsideUnreadableFile(const QString &manifestFilePath);
    void OrganizeManifestOrder();
    // Whether an entry carries an author or a comment that someone gave it.
    bool HoldsPeoplesTexts() const;

    // Frees entries that no manifest sharing this one's entries still lists.
    void ReclaimDropped(const QList<cManifestItem *> &dropped);
    // Detaches from the entries shared with copies, reclaiming those nobody else lists.
    void ReleaseEntries();
    // Adds the entries that the other manifests sharing this one's entries list.
    void CollectListedElsewhere(QSet<const cManifestItem *> &listed) const;

    // "manifest.xml" as this manifest last read or wrote it, so that a file that did not
    // change is neither parsed again nor compared byte for byte at every scan.
    bool RefreshFromManifestFile();
    // Reads "manifest.xml" again when another writer replaced it since this manifest last
    // read or wrote it (its stamp changed); keeps this state otherwise.
    bool ReloadIfChangedOnDisk();
    // Makes the manifest and its entries hold `path` (equal to their folder) as one string.
    void ShareFolderPath(const QString &path);
    quint64 StateFingerprint() const;
    // What the manifest holds, the same in every process on this machine that reads it.
    quint64 ContentFingerprint() const;
    bool StateReadsBackAsIs() const;
    bool SharesEntries() const;
    void RememberFileSync(qint64 size, qint64 modified, qint64 changed, quint64 identity, bool fileHoldsState,
                          bool readingGivesState);
    void ForgetFileSync();

    cManifestItem *FirstOfKind(eMetadataType type) const;
    cManifestItem *AddItemForFile(const QFileInfo &file, const QString &author, const QString &comment);
    cManifestItem *AddItemForListedFile(const QString &folder, const QString &fileName);
    QByteArray SerializeManifest() const;

    quint64 packageSize = 0;
    // 0 until "manifest.xml" records a limit or regular mode sets it.
    unsigned int packageLimit = 0;
    bool sizeKnown = false;
    QString name;
    // The file is folderPath + "/" + manifestFileName: the folder's text is shared with the
    // package and the entries, and the usual name is static text, so no path is held twice.
    QString ManifestFilePath() const;
    QString manifestFileName; // "manifest.xml"; empty when the manifest has no file
    QString folderPath;       // its folder, shared with every entry
    QList<cManifestItem *> entries;
    // The file this manifest last wrote without forcing it to disk (identity, size, time):
    // replacing it replaces nothing that was ever sure to be on disk.
    quint64 unflushedIdentity = 0;
    qint64 unflushedSize = -1;
    qint64 unflushedModified = 0;

    // The file's stamp and the state's fingerprint at the last read or write; fileHoldsState:
    // the file holds SerializeManifest() of that state; readingGivesState: reading the file
    // gives that state back (apart from the entries' times and sizes, taken from the folder).
    qint64 syncedSize = -1;
    qint64 syncedModified = 0;
    qint64 syncedChanged = 0;
    quint64 syncedIdentity = 0;
    quint64 syncedFingerprint = 0;
    bool syncedFileHoldsState = false;
    bool syncedReadingGivesState = false;
    // The stamp of a "manifest.xml" that could not be read (size -1: none), and whether it
    // could not even be opened (an outage, not damage).
    qint64 unreadableSize = -1;
    qint64 unreadableModified = 0;
    quint64 unreadableIdentity = 0;
    bool unreadableNotOpened = false;

    // The manifests that share entries with this one; made on the first copy only, so a
    // manifest that is never copied carries no pool.
    struct EntryPool;
    mutable std::shared_ptr<EntryPool> pool;
};
