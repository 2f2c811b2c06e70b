#pragma once

#include <QList>
#include <QMap>
#include <QMutex>
#include <QSet>
#include <QString>

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
    ~cSharedPackageMap();  // destroys every owned package
    cSharedPackageMap(const cSharedPackageMap &) = delete;
    cSharedPackageMap &operator=(const cSharedPackageMap &) = delete;

    cPackage *GetPackage(const QString &key) const;
    bool Contains(const QString &key) const;
    // Files the package under the key, replacing what was there; true when the key was new.
    bool Insert(const QString &key, cPackage *package);
    // Files the package only when the key is free; true when it was filed.
    bool InsertIfAbsent(const QString &key, cPackage *package);
    bool Remove(const QString &key);
    int Count() const;
    QList<cPackage *> GetPackages() const;

    // Ownership: every package object the registry creates is adopted here.
    void Adopt(cPackage *package);
    // Hands a package back for destruction on the host's thread (see TakeDropped).
    void Drop(cPackage *package);
    // The dropped packages, no longer owned; the caller destroys them.
    QList<cPackage *> TakeDropped();

private:
    mutable QMutex mutex;
    QMap<QString, cPackage *> packages;
    QSet<cPackage *> owned;
    QList<cPackage *> dropped;
};
