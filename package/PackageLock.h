#pragma once

#include "platform/CrossProcessLock.h"
#include "platform/PlatformFiles.h"

#include <QString>

#include <mutex>

// The lock that serialises work on one package: a recursive mutex among this process's
// threads and, held at the outermost level, the lock file ".package.lock" in the package
// folder among processes (a host and pkgtool, or several controls on one network share).
// Whoever holds it re-reads what another process may have changed before changing it.
//
// lock()/unlock() take both (for QMutexLocker); queries that only read this process's state
// take InProcess() and never wait on another process.
class PackageLock
{
public:
    PackageLock() = default;
    PackageLock(const PackageLock &) = delete;
    PackageLock &operator=(const PackageLock &) = delete;

    void lock();
    void unlock();

    std::recursive_mutex &InProcess() { return mutex; }

    // The package folder; set before the first lock and, under the lock, after a move (the
    // held lock file moves with the folder).
    void SetFolder(const QString &packageFolder);

    // Lets go of the lock file before the folder is removed (a network share cannot remove
    // a folder with an open file in it); the in-process lock stays held.
    void ReleaseAcrossProcesses();

    // The lock file's name: hidden, never a manifest entry, never copied.
    static QString FileName() { return Platform::PackageLockFileName(); }

private:
    std::recursive_mutex mutex;
    int depth = 0; // how often this process holds the lock; guarded by mutex
    QString folder;
    Platform::CrossProcessLock acrossProcesses;
};
