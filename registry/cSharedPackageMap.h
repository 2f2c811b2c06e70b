#pragma once

#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QSet>
#include <QString>

#include <utility>

class cPackage;

// The identifier-to-package map shared by the registry and its scan thread. Every
// operation holds the mutex for its whole duration; keys compare exactly.
//
// The map also owns every package object the registry made, filed or not, so that a
// package dropped from the map (removed, moved away, refused) is still freed once.
class cSharedPackageMap
{
public:
    cSharedPackageMap() = default;
    ~cSharedPackageMap(); // destroys every owned package
    cSharedPackageMap(const cSharedPackageMap &) = delete;
    cSharedPackageMap &operator=(const cSharedPackageMap &) = delete;

    cPackage *GetPackage(const QString &key) const;
    bool Contains(const QString &key) const;
    // Files the package under the key, replacing what was there; true when the key was new.
    bool Insert(const QString &key, cPackage *package);
    // Files the package only when the key is free; true when it was filed.
    bool InsertIfAbsent(const QString &key, cPackage *package);
    bool Remove(const QString &key);
    // Removes the key only while it still files this package; true when it was removed.
    bool RemoveIfFiled(const QString &key, const cPackage *package);
    int Count() const;
    QList<cPackage *> GetPackages() const;
    // Every key with its package, at one moment, in a map or list of its own: nothing is
    // shared with the map, so the host may change the map while the caller reads.
    QMap<QString, cPackage *> Snapshot() const;
    QList<std::pair<QString, cPackage *>> Entries() const;

    // Ownership: every package object the registry creates is adopted here.
    void Adopt(cPackage *package);
    // Files and adopts a new package in one step when the key is free; on false the
    // package stays with the caller.
    bool AdoptIfAbsent(const QString &key, cPackage *package);
    // Hands a package back for destruction on the host's thread (see TakeDropped).
    void Drop(cPackage *package);
    // The dropped packages, no longer owned; the caller destroys them.
    QList<cPackage *> TakeDropped();

    // A host operation that sets a package folder up before filing its package claims the
    // identifier for that time, so that a scan running meanwhile does not delete the folder
    // as unclaimed. Claims nest; each ClaimFolder needs one ReleaseFolder.
    void ClaimFolder(const QString &key);
    void ReleaseFolder(const QString &key);
    // Removes the folder (RemoveFolder) only while the key is neither filed nor claimed; a
    // claim made meanwhile waits for the removal. True when the folder was removed.
    bool RemoveFolderIfUnclaimed(const QString &key, const QFileInfo &folder);
    // Files and adopts a package found in the packages root only while its key is neither
    // filed nor claimed by a host operation setting the folder up; on false the package
    // stays with the caller.
    bool AdoptIfUnclaimed(const QString &key, cPackage *package);

    // Identifiers the host removed or moved away since the running pass began: the pass
    // listed its folders earlier and must not make a package for them again.
    void BeginPass();
    void NoteGoneByHost(const QString &key);
    bool IsGoneByHost(const QString &key) const;

private:
    mutable QMutex mutex;
    QSet<QString> goneByHost;
    QMap<QString, cPackage *> packages;
    QSet<cPackage *> owned;
    QList<cPackage *> dropped;

    QMutex claimMutex; // taken before `mutex`, never after
    QHash<QString, int> claims;
};
