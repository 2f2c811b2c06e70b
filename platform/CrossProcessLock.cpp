#include "platform/CrossProcessLock.h"

#include <QFile>
#include <QLoggingCategory>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

Q_LOGGING_CATEGORY(lcCrossProcessLock, "packagemanager.platform.lock", QtWarningMsg)

namespace Platform {

#ifdef Q_OS_WIN

bool CrossProcessLock::Acquire(const QString &lockFilePath)
{
    Release();
    const std::wstring path = lockFilePath.toStdWString();
    // Shared for deletion, so that the lock never keeps its folder from being removed.
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        qCInfo(lcCrossProcessLock) << "cannot open" << lockFilePath;
        return false;
    }
    OVERLAPPED whole = {};
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        qCInfo(lcCrossProcessLock) << "cannot lock" << lockFilePath;
        ::CloseHandle(file);
        return false;
    }
    handle = file;
    return true;
}

void CrossProcessLock::Release()
{
    if (!handle)
        return;
    // Closing the handle releases the lock.
    ::CloseHandle(static_cast<HANDLE>(handle));
    handle = nullptr;
}

bool CrossProcessLock::IsHeld() const
{
    return handle != nullptr;
}

#else

namespace {

bool LockWhole(int fd)
{
#ifdef F_OFD_SETLKW
    // Bound to this open file, not to the process: threads with their own descriptors
    // exclude each other, and closing another descriptor of the file keeps the lock.
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    for (;;) {
        if (::fcntl(fd, F_OFD_SETLKW, &whole) == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno != EINVAL)
            return false;
        break; // a kernel without such locks: flock below
    }
#endif
    for (;;) {
        if (::flock(fd, LOCK_EX) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

} // namespace

bool CrossProcessLock::Acquire(const QString &lockFilePath)
{
    Release();
    // Not blocking on a FIFO planted at the name; never through a link.
    const int file = ::open(QFile::encodeName(lockFilePath).constData(),
                            O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (file < 0) {
        qCInfo(lcCrossProcessLock) << "cannot open" << lockFilePath << ::strerror(errno);
        return false;
    }
    struct stat info;
    if (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) {
        qCWarning(lcCrossProcessLock) << "not a plain file:" << lockFilePath;
        ::close(file);
        return false;
    }
    if (!LockWhole(file)) {
        qCInfo(lcCrossProcessLock) << "cannot lock" << lockFilePath << ::strerror(errno);
        ::close(file);
        return false;
    }
    fd = file;
    return true;
}

void CrossProcessLock::Release()
{
    if (fd < 0)
        return;
    // Closing the only descriptor of the open file releases the lock.
    ::close(fd);
    fd = -1;
}

bool CrossProcessLock::IsHeld() const
{
    return fd >= 0;
}

#endif

} // namespace Platform
