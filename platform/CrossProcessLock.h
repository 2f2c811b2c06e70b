#pragma once

#include <QString>

namespace Platform {

// An exclusive lock on a file that other processes honour, on a local disk and on network
// shares: an open-file-description lock (fcntl F_OFD_SETLKW) where the system has one,
// else flock(); LockFileEx on Windows. The system drops the lock when its holder dies, so a
// killed process never blocks the next one for good. Threads of one process exclude each
// other too when they hold separate objects.
class CrossProcessLock
{
public:
    CrossProcessLock() = default;
    ~CrossProcessLock() { Release(); }
    CrossProcessLock(const CrossProcessLock &) = delete;
    CrossProcessLock &operator=(const CrossProcessLock &) = delete;

    // Waits until the lock on `lockFilePath` (created as a plain file when missing, never
    // through a link) is ours. False, holding nothing, when the file cannot be made or
    // locked (a read-only or missing folder, a file system without locks).
    bool Acquire(const QString &lockFilePath);
    void Release();
    bool IsHeld() const;

private:
#ifdef Q_OS_WIN
    void *handle = nullptr;
#else
    int fd = -1;
#endif
};

} // namespace Platform
