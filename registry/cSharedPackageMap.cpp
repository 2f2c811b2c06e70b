#include "registry/cSharedPackageMap.h"

#include "cPackage.h"

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

void cSharedPackageMap::Adopt(cPackage *package)
{
    QMutexLocker locker(&mutex);
    owned.insert(package);
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
