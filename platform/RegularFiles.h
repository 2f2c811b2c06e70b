#pragma once

// Opening files for reading without ever waiting on something that is not a file, and
// telling a real folder from a link to one. Inline, so that the page writer's library,
// which shares nothing else of this layer, reads its files the same way.

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QString>
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
#include <QTimeZone>
#endif

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Platform {

// What a read does with a symbolic link at the name it opens. Files inside a package are
// read with Refuse: a link there could lead anywhere outside the package.
enum class LinkPolicy { Follow, Refuse };

// Opens `path` for reading when it is a regular file; false for a FIFO, socket, device or
// folder (checked on the open file, so nothing is swapped in between), and under
// LinkPolicy::Refuse for a link at the name. Opening never blocks.
#ifdef Q_OS_UNIX
// The same as a descriptor (-1 on failure), with the stat of the file opened in `info`. It
// stays non-blocking, which changes nothing for a regular file.
inline int OpenRegularDescriptor(const QString &path, LinkPolicy links, struct stat *info)
{
    if (path.isEmpty())
        return -1;
    // O_NONBLOCK: opening a FIFO without a writer would otherwise wait for one.
    int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
    if (links == LinkPolicy::Refuse)
        flags |= O_NOFOLLOW;
    const int fd = ::open(QFile::encodeName(path).constData(), flags);
    if (fd < 0)
        return -1;
    if (::fstat(fd, info) != 0 || !S_ISREG(info->st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}
#endif

inline bool OpenRegularFile(QFile &file, const QString &path, LinkPolicy links,
                            QIODevice::OpenMode mode = QIODevice::ReadOnly)
{
    file.close();
    if (path.isEmpty())
        return false;
#ifdef Q_OS_UNIX
    struct stat info;
    const int fd = OpenRegularDescriptor(path, links, &info);
    if (fd < 0)
        return false;
    const int status = ::fcntl(fd, F_GETFL);
    if (status != -1)
        (void)::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    file.setFileName(path);
    if (!file.open(fd, mode | QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
#else
    const QFileInfo info(path);
    if ((links == LinkPolicy::Refuse && (info.isSymLink() || info.isJunction())) || !info.isFile())
        return false;
    file.setFileName(path);
    return file.open(mode | QIODevice::ReadOnly);
#endif
}

#ifdef Q_OS_UNIX
// A stat's modification time as UTC, to the millisecond (rounded down, before 1970 too:
// tv_nsec is never negative), without Qt 6.4's round trip through local time.
inline QDateTime ModifiedUtc(const struct stat &info)
{
#if defined(Q_OS_DARWIN)
    const struct timespec &time = info.st_mtimespec;
#else
    const struct timespec &time = info.st_mtim;
#endif
    const qint64 msecs = qint64(time.tv_sec) * 1000 + time.tv_nsec / 1000000;
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    return QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone::UTC);
#else
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
#endif
}
#endif

// A folder that is itself a folder, not a link (or junction) to one.
inline bool IsRealFolder(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat info;
    return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
#else
    const QFileInfo info(path);
    return info.isDir() && !info.isSymLink() && !info.isJunction();
#endif
}

} // namespace Platform
