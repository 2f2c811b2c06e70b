#include "registry/SettledStates.h"

#include "platform/AtomicFile.h"
#include "platform/PlatformFiles.h"
#include "platform/StableHash.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTimeZone>

#include <cstring>

namespace {

Q_LOGGING_CATEGORY(lcSettled, "packagemanager.registry.settled", QtWarningMsg)

constexpr char Magic[8] = {'P', 'M', 'S', 'E', 'T', 'L', 'D', '1'};
constexpr qsizetype HeaderBytes = 8 + 8 + 8; // magic, settings, count
constexpr qsizetype EntryBytes = 8 + 8;      // key, state
// Far more packages than a root holds: a larger file is not read.
constexpr qint64 MaxFileBytes = qint64(1) << 28;
// A cache left by a packages root nobody opened for this long goes.
constexpr qint64 UnusedDays = 30;

void Append(QByteArray &bytes, quint64 value)
{
    bytes.append(reinterpret_cast<const char *>(&value), 8);
}

quint64 Read(const char *at)
{
    quint64 value;
    std::memcpy(&value, at, 8);
    return value;
}

// Everything besides the package itself that a maintenance's outcome depends on: the code
// that maintains, where it finds its defaults, the helper program that makes video thumbnails
// and the picture formats it can read (one installed since may thumbnail what could not be
// before), and the local time zone that program comments are written in.
quint64 SettingsOf(const QString &packagesRoot, quint64 build)
{
    const QString ffmpeg = QStandardPaths::findExecutable(Platform::FfmpegProgram());
    const QFileInfo ffmpegFile(ffmpeg);
    QStringList texts = {packagesRoot,
                         QString::fromLatin1(qVersion()),
                         Platform::DefaultsDir(),
                         Platform::TempDir(),
                         ffmpeg,
                         QString::number(ffmpegFile.size()),
                         QString::number(ffmpegFile.lastModified().toMSecsSinceEpoch()),
                         QString::fromUtf8(QTimeZone::systemTimeZoneId()),
                         QString::number(QDateTime::currentDateTime().offsetFromUtc())};
    for (const QByteArray &format : QImageReader::supportedImageFormats())
        texts.append(QString::fromLatin1(format));
    quint64 hash = build;
    for (const QString &text : std::as_const(texts))
        hash = Platform::StableHash(text, hash);
    return hash;
}

} // namespace

SettledStates::SettledStates(const QString &root) : packagesRoot(QDir::cleanPath(QDir(root).absolutePath()))
{
    const quint64 build = Platform::OwnBuildIdentity();
    const QString cacheRoot = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (build == 0 || cacheRoot.isEmpty())
        return;
    settings = SettingsOf(packagesRoot, build);
    lastDigest = Digest(tStates()); // nothing settled needs no file
    filePath = cacheRoot + QLatin1String("/PackageManager/settled-") +
               QString::number(Platform::StableHash(packagesRoot), 16).rightJustified(16, QLatin1Char('0'));
}

quint64 SettledStates::KeyOf(const QString &packageUID)
{
    return Platform::StableHash(packageUID);
}

quint64 SettledStates::Digest(const tStates &states)
{
    // Independent of the order of the entries.
    quint64 digest = quint64(states.size());
    for (auto it = states.cbegin(); it != states.cend(); ++it) {
        const quint64 entry[] = {it.key(), it.value()};
        digest += XXH3_64bits(entry, sizeof entry);
    }
    return digest;
}

SettledStates::tStates SettledStates::Load()
{
    tStates states;
    if (filePath.isEmpty())
        return states;
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxFileBytes)
        return states;
    const QByteArray bytes = file.readAll();
    // Bounds and checksum before any entry is believed: a cut or foreign file gives nothing.
    if (bytes.size() < HeaderBytes + 8 || std::memcmp(bytes.constData(), Magic, 8) != 0)
        return states;
    const qsizetype body = bytes.size() - 8;
    const quint64 count = Read(bytes.constData() + 16);
    if (Read(bytes.constData() + 8) != settings || (body - HeaderBytes) % EntryBytes != 0 ||
        count != quint64((body - HeaderBytes) / EntryBytes) ||
        Read(bytes.constData() + body) != Platform::StableHash(QByteArrayView(bytes.constData(), body)))
        return states;
    states.reserve(qsizetype(count));
    for (qsizetype at = HeaderBytes; at < body; at += EntryBytes)
        states.insert(Read(bytes.constData() + at), Read(bytes.constData() + at + 8));
    // A file still in use is written again now and then, so that it never looks unused.
    const QDateTime written = QFileInfo(file).lastModified().toUTC();
    if (written >= QDateTime::currentDateTimeUtc().addDays(-UnusedDays / 2))
        lastDigest = Digest(states);
    return states;
}

void SettledStates::Save(const tStates &states)
{
    if (filePath.isEmpty())
        return;
    const quint64 digest = Digest(states);
    if (digest == lastDigest)
        return;
    const QString folder = QFileInfo(filePath).path();
    if (!QDir().mkpath(folder))
        return;
    QByteArray bytes;
    bytes.reserve(HeaderBytes + EntryBytes * states.size() + 8);
    bytes.append(Magic, 8);
    Append(bytes, settings);
    Append(bytes, quint64(states.size()));
    for (auto it = states.cbegin(); it != states.cend(); ++it) {
        Append(bytes, it.key());
        Append(bytes, it.value());
    }
    Append(bytes, Platform::StableHash(bytes));
    // The files of the packages these states vouch for reach the disk first: after a power
    // failure no state is taken for settled whose files were still in memory. The cache
    // itself is not flushed: one lost or cut only costs one full pass.
    Platform::FlushFileSystemOf(packagesRoot);
    if (!Platform::WriteFileAtomically(filePath, bytes, Platform::Durability::NoSync)) {
        qCInfo(lcSettled) << "cannot keep the settled package states in" << filePath;
        return;
    }
    lastDigest = digest;

    // Caches of packages roots that nobody opened for a long time (temporary ones, say).
    const QDateTime unusedSince = QDateTime::currentDateTimeUtc().addDays(-UnusedDays);
    const QFileInfoList others = QDir(folder).entryInfoList({QStringLiteral("settled-*")}, QDir::Files, QDir::Unsorted);
    for (const QFileInfo &other : others) {
        if (other.lastModified().toUTC() < unusedSince)
            QFile::remove(other.filePath());
    }
    Platform::RemoveStaleTemporaryFiles(folder, 3600);
}
