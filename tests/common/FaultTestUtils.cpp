#include "FaultTestUtils.h"

#include <QFile>
#include <QProcess>
#include <QXmlStreamReader>

#include <csignal>
#include <unistd.h>

namespace FaultTestUtils {

bool ParsesAsXml(const QString &path, QString *error)
{
    QFile file(path);
    const bool opened = file.open(QIODevice::ReadOnly);
    QXmlStreamReader xml(&file);
    while (opened && !xml.atEnd())
        xml.readNext();
    *error = opened ? xml.errorString() : file.errorString();
    return opened && !xml.hasError();
}

qint64 PeakRssKiB(bool reset)
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs")), status(QStringLiteral("/proc/self/status"));
    const bool cleared =
        !reset || (clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1 && clearRefs.flush());
    const QByteArray text = cleared && status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const qsizetype at = text.indexOf("VmHWM:");
    return at < 0 ? -1 : text.mid(at + 6, 24).trimmed().split(' ').value(0).toLongLong();
}

bool AppendRepeated(const QString &path, const QByteArray &line, qint64 size)
{
    QFile file(path);
    const QByteArray block = line.repeated(qMax<qsizetype>(1, (1 << 20) / qMax<qsizetype>(1, line.size())));
    bool ok = file.open(QIODevice::Append);
    for (qint64 left = size; ok && left > 0; left -= block.size())
        ok = file.write(block.constData(), qMin<qint64>(left, block.size())) > 0;
    return ok;
}

ReadOnlyGuard::ReadOnlyGuard(const QString &path) : path(path)
{
    active = ::geteuid() == 0 ? QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path}) == 0
                              : QFile::setPermissions(path, QFile::permissions(path) & ~QFileDevice::WriteOwner);
}

void ReadOnlyGuard::Release()
{
    if (active)
        (void)(::geteuid() == 0 ? QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path}) == 0
                                : QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::WriteOwner));
    active = false;
}

FileSizeLimit::FileSizeLimit(qint64 bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    active = ::getrlimit(RLIMIT_FSIZE, &saved) == 0;
    const struct rlimit limit = {rlim_t(bytes), saved.rlim_max};
    active = active && ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

} // namespace FaultTestUtils
