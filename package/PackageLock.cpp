#include "package/PackageLock.h"

void PackageLock::lock()
{
    mutex.lock();
    // A folder that does not exist yet (a package being made) or takes no file (read-only)
    // is locked among threads only: the lock file cannot be made there, and writing there
    // fails anyway.
    if (depth++ == 0 && !folder.isEmpty())
        (void)acrossProcesses.Acquire(folder + QLatin1Char('/') + FileName());
}

void PackageLock::unlock()
{
    if (--depth == 0)
        acrossProcesses.Release();
    mutex.unlock();
}

void PackageLock::SetFolder(const QString &packageFolder)
{
    const std::lock_guard<std::recursive_mutex> guard(mutex);
    folder = packageFolder;
}

void PackageLock::ReleaseAcrossProcesses()
{
    const std::lock_guard<std::recursive_mutex> guard(mutex);
    acrossProcesses.Release();
}
