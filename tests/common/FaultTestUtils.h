#pragma once

#include <QMap>
#include <QStringList>

#include <sys/resource.h>

// Helpers of the fault and crash tests.
namespace FaultTestUtils {

// False (with the reason) when the file cannot be opened or is not well-formed XML.
bool ParsesAsXml(const QString &path, QString *error);
// Peak resident memory in KiB, first reset to the current size if asked; -1 where /proc
// does not tell.
qint64 PeakRssKiB(bool reset = false);
// Appends `size` bytes made of `line` repeated, without holding them in memory.
bool AppendRepeated(const QString &path, const QByteArray &line, qint64 size);

// Makes a folder read-only while it lives (immutable when running as root, where
// permissions are ignored); `active` tells whether that worked.
struct ReadOnlyGuard
{
    explicit ReadOnlyGuard(const QString &path);
    ~ReadOnlyGuard() { Release(); }
    void Release();
    QString path;
    bool active = false;
};

// Lowers this process's file size limit, with SIGXFSZ ignored so that a write past it
// fails instead of killing the process; restored on destruction (raising the soft limit
// back up needs no privilege).
struct FileSizeLimit
{
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit() { (void)(active && ::setrlimit(RLIMIT_FSIZE, &saved) == 0); }
    struct rlimit saved = {};
    bool active = false;
};

} // namespace FaultTestUtils
