#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QString>

#ifdef Q_OS_UNIX
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <filesystem>
#include <system_error>
#endif

// The one atomic writer of the library, its sibling metadata library and pkgtool. Header
// only: the metadata library does not link the platform layer, and each shared library
// keeps its own hidden copy.
//
// Qt 6.4's QSaveFile may rename a file into place after a buffered write failed and report
// success (a write smaller than its buffer is only checked at commit). Here every write,
// the fsync and the close are checked before the rename, and nothing is buffered.
//
// Temporary files: ".<target name>.<6 random letters or digits>.pmtmp" in the target's
// folder. Hidden, so that no listing of package files shows them, and recognisable, so
// that a clean-up can remove the ones a killed process left behind.
namespace Platform {

enum class Durability {
    Sync,  // data reach the disk before the rename (files people made or keep)
    NoSync // generated files that can be made again: the rename alone keeps them whole
};

namespace Detail {
inline std::atomic<quint64> unflushedCommits{0};
}

// How many files this process has put in place without forcing them to disk (NoSync): one
// who sees it grow over some work flushes the file system once (FlushFileSystemOf).
inline quint64 UnflushedCommits()
{
    return Detail::unflushedCommits.load(std::memory_order_relaxed);
}

inline QLatin1String OwnTemporarySuffix()
{
    return QLatin1String(".pmtmp");
}

// Whether `fileName` (a name, not a path) is one of our temporary files.
inline bool IsOwnTemporaryName(const QString &fileName)
{
    const qsizetype suffix = OwnTemporarySuffix().size();
    // "." + at least one character + "." + 6 random characters + suffix
    if (fileName.size() < 1 + 1 + 1 + 6 + suffix || !fileName.startsWith(QLatin1Char('.')) ||
        !fileName.endsWith(OwnTemporarySuffix()))
        return false;
    const qsizetype randomStart = fileName.size() - suffix - 6;
    if (fileName.at(randomStart - 1) != QLatin1Char('.'))
        return false;
    for (qsizetype i = randomStart; i < randomStart + 6; ++i) {
        const char16_t c = fileName.at(i).unicode();
        if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')))
            return false;
    }
    return true;
}

// A fresh temporary path for `targetPath`, in the target's folder (not yet created).
inline QString OwnTemporaryPathFor(const QString &targetPath)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const QFileInfo target(targetPath);
    QString random;
    random.reserve(6);
    for (int i = 0; i < 6; ++i)
        random += QLatin1Char(letters[QRandomGenerator::global()->bounded(int(sizeof(letters) - 1))]);
    return target.absolutePath() + QLatin1String("/.") + target.fileName() + QLatin1Char('.') + random +
           OwnTemporarySuffix();
}

// A temporary file created (exclusively, never through a link) beside a target, written
// with every step checked, then renamed over the target or removed.
class OwnTemporaryFile
{
public:
    OwnTemporaryFile() = default;
    OwnTemporaryFile(const OwnTemporaryFile &) = delete;
    OwnTemporaryFile &operator=(const OwnTemporaryFile &) = delete;
    ~OwnTemporaryFile() { Discard(); }

    // Creates the temporary file for `targetPath`; false when the folder takes no file.
    bool Create(const QString &targetPath)
    {
        Discard();
        target = targetPath;
        for (int attempt = 0; attempt < 16; ++attempt) {
            path = OwnTemporaryPathFor(targetPath);
#ifdef Q_OS_UNIX
            // O_EXCL: a link or file planted at the name makes this attempt fail, never followed.
            fd =
                ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
            if (fd >= 0)
                return true;
            if (errno != EEXIST)
                break;
#else
            file.setFileName(path);
            if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
                return true;
            if (!QFileInfo::exists(path))
                break;
#endif
        }
        path.clear();
        return false;
    }

    bool Write(const char *data, qint64 size)
    {
#ifdef Q_OS_UNIX
        if (fd < 0)
            return false;
        while (size > 0) {
            const ssize_t done = ::write(fd, data, size_t(size));
            if (done < 0 && errno == EINTR)
                continue;
            if (done <= 0)
                return false;
            data += done;
            size -= done;
        }
        return true;
#else
        return file.isOpen() && file.write(data, size) == size;
#endif
    }
    bool Write(const QByteArray &bytes)
    {
        return Write(bytes.constData(), bytes.size());
    }

#ifdef Q_OS_UNIX
    // Gives the file the permission bits of `mode` (a stat's st_mode).
    void SetPermissions(mode_t mode)
    {
        if (fd >= 0)
            (void)::fchmod(fd, mode & 07777);
    }
#endif

    // Gives the file the permissions of `reference` (the file it replaces or copies).
    void TakePermissionsOf(const QString &reference)
    {
#ifdef Q_OS_UNIX
        struct stat info;
        if (fd >= 0 && ::lstat(QFile::encodeName(reference).constData(), &info) == 0 && S_ISREG(info.st_mode))
            (void)::fchmod(fd, info.st_mode & 07777);
#else
        if (QFileInfo::exists(reference))
            file.setPermissions(QFileInfo(reference).permissions());
#endif
    }

    // Gives the file a last-modified time (copies keep their source's).
    bool SetModified(qint64 msecsSinceEpoch)
    {
#ifdef Q_OS_UNIX
        struct timespec times[2];
        times[0].tv_sec = 0;
        times[0].tv_nsec = UTIME_OMIT;
        times[1].tv_sec = time_t(msecsSinceEpoch / 1000);
        times[1].tv_nsec = long(msecsSinceEpoch % 1000) * 1000000;
        if (times[1].tv_nsec < 0) {
            times[1].tv_sec -= 1;
            times[1].tv_nsec += 1000000000;
        }
        return fd >= 0 && ::futimens(fd, times) == 0;
#else
        return file.isOpen() &&
               file.setFileTime(QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch), QFileDevice::FileModificationTime);
#endif
    }

    // Flushes (and with Sync, forces to disk) and closes; then renames over the target,
    // which replaces a link at the target's name instead of writing through it. With
    // `replace` false an existing target is kept and the commit fails.
    bool Commit(Durability durability, bool replace = true)
    {
#ifdef Q_OS_UNIX
        if (fd < 0)
            return false;
        bool ok = durability == Durability::NoSync || ::fsync(fd) == 0;
        ok = ::close(fd) == 0 && ok; // NFS reports a failed write-back at close
        fd = -1;
        if (!ok)
            return Discard();
        const QByteArray from = QFile::encodeName(path);
        const QByteArray to = QFile::encodeName(target);
        if (replace) {
            ok = ::rename(from.constData(), to.constData()) == 0;
        } else {
#if defined(Q_OS_LINUX) && defined(RENAME_NOREPLACE)
            // One call that never replaces, where the file system offers it.
            ok = ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0;
            const bool tried = ok || (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP);
#else
            const bool tried = false;
#endif
            if (!tried) {
                // A hard link never replaces; where links are not supported, test and rename.
                ok = ::link(from.constData(), to.constData()) == 0;
                if (ok)
                    (void)::unlink(from.constData());
                else if (errno != EEXIST && !QFileInfo::exists(target) && !QFileInfo(target).isSymLink())
                    ok = ::rename(from.constData(), to.constData()) == 0;
            }
        }
        if (!ok)
            return Discard();
        path.clear();
        if (durability == Durability::NoSync)
            Detail::unflushedCommits.fetch_add(1, std::memory_order_relaxed);
        if (durability == Durability::Sync) {
            // The rename itself lasts once the folder is on disk; some file systems refuse
            // an fsync of a folder, which is no failure of the write.
            const int folder = ::open(QFile::encodeName(QFileInfo(target).absolutePath()).constData(),
                                      O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (folder >= 0) {
                (void)::fsync(folder);
                ::close(folder);
            }
        }
        return true;
#else
        Q_UNUSED(durability)
        if (!file.isOpen() || !file.flush())
            return Discard();
        file.close();
        if (file.error() != QFileDevice::NoError)
            return Discard();
        std::error_code error;
        if (!replace && (QFileInfo::exists(target) || QFileInfo(target).isSymLink()))
            return Discard();
        std::filesystem::rename(std::filesystem::path(path.toStdWString()),
                                std::filesystem::path(target.toStdWString()), error);
        if (error)
            return Discard();
        path.clear();
        return true;
#endif
    }

    // Removes the temporary file; returns false for the callers' convenience.
    bool Discard()
    {
#ifdef Q_OS_UNIX
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
        if (!path.isEmpty())
            (void)::unlink(QFile::encodeName(path).constData());
#else
        if (file.isOpen())
            file.close();
        if (!path.isEmpty())
            QFile::remove(path);
#endif
        path.clear();
        return false;
    }

    QString Path() const
    {
        return path;
    }

private:
    QString target;
    QString path;
#ifdef Q_OS_UNIX
    int fd = -1;
#else
    QFile file;
#endif
};

// Whether the plain file at `path` holds exactly `bytes` (a link or a missing file does not).
// `isFile` tells whether a plain file is there at all, `isLink` whether a symbolic link is.
inline bool FileHolds(const QString &path, const QByteArray &bytes, bool *isFile = nullptr, bool *isLink = nullptr)
{
#ifdef Q_OS_UNIX
    // One lstat: a link is no regular file to it.
    struct stat info;
    const bool found = ::lstat(QFile::encodeName(path).constData(), &info) == 0;
    const bool plain = found && S_ISREG(info.st_mode);
    const bool link = found && S_ISLNK(info.st_mode);
    const qint64 size = plain ? qint64(info.st_size) : -1;
#else
    const QFileInfo info(path);
    const bool link = info.isSymLink();
    const bool plain = !link && info.isFile();
    const qint64 size = plain ? info.size() : -1;
#endif
    if (isFile)
        *isFile = plain;
    if (isLink)
        *isLink = link;
    if (size != qint64(bytes.size()))
        return false;
    QFile existing(path);
    return existing.open(QIODevice::ReadOnly) && existing.read(bytes.size() + 1) == bytes;
}

enum class AtLink {
    Replace, // a symbolic link at the name is replaced by the file, never written through
    Keep     // a symbolic link at the name stays, and the write fails
};

// Replaces the file at `path` by `bytes` atomically: on any failure the old file stays as
// it was and the result is false. Bytes equal to the file's are not written again
// (`written` tells which happened).
[[nodiscard]] inline bool WriteFileAtomically(const QString &path, const QByteArray &bytes, Durability durability,
                                              bool *written = nullptr, AtLink atLink = AtLink::Replace)
{
    if (written)
        *written = false;
    bool replacing = false;
    bool link = false;
    if (FileHolds(path, bytes, &replacing, &link))
        return true;
    if (link && atLink == AtLink::Keep)
        return false;
    OwnTemporaryFile file;
    if (!file.Create(path))
        return false;
    if (replacing)
        file.TakePermissionsOf(path);
    if (!file.Write(bytes) || !file.Commit(durability))
        return false;
    if (written)
        *written = true;
    return true;
}

} // namespace Platform
