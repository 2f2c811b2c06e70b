#include "registry/cSharedPackageMap.h"

#include "cPackage.h"
#include "registry/FolderRemoval.h"

#include <QMutexLocker>

cSharedPackageMap::~cSharedPackageMap()
{
    QSet<cPackage *> all = owned;
    for (cPackage *package : std::as_const(dropped))
        all.insert(package);
    qDeleteAll(all);
}

cPackage *cSharedPackageMap::GetPackage(const QString &key) const
{
    QMutexLocker locker(&mutex);
    return packages.value(key, nullptr);
}

bool cSharedPackageMap::Contains(const QString &key) const
{
    QMutexLocker locker(&mutex);
    return packages.contains(key);
}

bool cSharedPackageMap::Insert(const QString &key, cPackage *package)
{
    QMutexLocker locker(&mutex);
    const bool isNew = !packages.contains(key);
    packages.insert(key, package);
    return isNew;
}

bool cSharedPackageMap::InsertIfAbsent(const QString &key, cPackage *package)
{
    QMutexLocker locker(&mutex);
    if (packages.contains(key))
        return false;
    packages.insert(key, package);
    return true;
}

bool cSharedPackageMap::Remove(const QString &key)
{
    QMutexLocker locker(&mutex);
    return packages.remove(key) > 0;
}

bool cSharedPackageMap::RemoveIfFiled(const QString &key, const cPackage *package)
{
    QMutexLocker locker(&mutex);
    const auto it = packages.constFind(key);
    if (it == packages.cend() || it.value() != package)
        return false;
    packages.erase(it);
    return true;
}

int cSharedPackageMap::Count() const
{
    QMutexLocker locker(&mutex);
    return packages.size();
}

QList<cPackage *> cSharedPackageMap::GetPackages() const
{
    QMutexLocker locker(&mutex);
    return packages.values();
}

QMap<QString, cPackage *> cSharedPackageMap::Snapshot() const
{
    // Built from a list of its own rather than shared with the map: the host's next change
    // would then copy the whole map on its thread, and once the snapshot is released that
    // change could rewrite nodes the reader had read without ordering against it.
    const QList<std::pair<QString, cPackage *>> entries = Entries();
    QMap<QString, cPackage *> snapshot;
    for (const auto &[key, package] : entries)
        snapshot.insert(snapshot.cend(), key, package); // in key order: appended at the end
    return snapshot;
}

QList<std::pair<QString, cPackage *>> cSharedPackageMap::Entries() const
{
    QMutexLocker locker(&mutex);
    QList<std::pair<QString, cPackage *>> entries;
    entries.reserve(packages.size());
    for (auto it = packages.cbegin(); it != packages.cend(); ++it)
        entries.append({it.key(), it.value()});
    return entries;
}

void cSharedPackageMap::Adopt(cPackage *package)
{
    QMutexLocker locker(&mutex);
    owned.insert(package);
}

bool cSharedPackageMap::AdoptIfAbsent(const QString &key, cPackage *package)
{
    QMutexLocker locker(&mutex);
    if (packages.contains(key))
        return false;
    packages.insert(key, package);
    owned.insert(package);
    return true;
}

void cSharedPackageMap::Drop(cPackage *package)
{
    QMutexLocker locker(&mutex);
    if (owned.remove(package))
        dropped.append(package);
}

QList<cPackage *> cSharedPackageMap::TakeDropped()
{
    QMutexLocker locker(&mutex);
    QList<cPackage *> result;
    result.swap(dropped);
    return result;
}

void cSharedPackageMap::ClaimFolder(const QString &key)
{
    QMutexLocker locker(&claimMutex);
    ++claims[key];
}

void cSharedPackageMap::ReleaseFolder(const QString &key)
{
    QMutexLocker locker(&claimMutex);
    const auto it = claims.find(key);
    if (it == claims.end())
        return;
    if (--it.value() <= 0)
        claims.erase(it);
}

bool cSharedPackageMap::RemoveFolderIfUnclaimed(const QString &key, const QFileInfo &folder)
{
    QMutexLocker claimLocker(&claimMutex);
    if (claims.contains(key) || Contains(key))
        return false;
    return RemoveFolder(folder);
}

bool cSharedPackageMap::AdoptIfUnclaimed(const QString &key, cPackage *package)
{
    QMutexLocker claimLocker(&claimMutex);
    if (claims.contains(key))
        return false;
    return AdoptIfAbsent(key, package);
}

void cSharedPackageMap::BeginPass()
{
    QMutexLocker locker(&mutex);
    goneByHost.clear();
}

void cSharedPackageMap::NoteGoneByHost(const QString &key)
{
    QMutexLocker locker(&mutex);
    goneByHost.insert(key);
}

bool cSharedPackageMap::IsGoneByHost(const QString &key) const
{
    QMutexLocker locker(&mutex);
    return goneByHost.contains(key);
}
