#include "platform/PlatformFiles.h"
#include "platform/RegularFiles.h"

#include "platform/AtomicFile.h"
#include "platform/StableHash.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
#include <QTimeZone>
#endif

#include <algorithm>
#include <filesystem>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace Platform {

QString ToSlashes(const QString &path)
{
    QString result = path;
    result.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return result;
}

QString FoldedName(const QString &name)
{
    return name.toUpper();
}

bool SameNameNoCase(const QString &a, const QString &b)
{
    // ASCII letters upper-case one to one, so an ASCII stretch compares in place; only a
    // name with other letters pays for upper-casing (which may change its length: "ß").
    const qsizetype common = qMin(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t x = a.at(i).unicode();
        const char16_t y = b.at(i).unicode();
        if (x >= 0x80 || y >= 0x80)
            return FoldedName(a.mid(i)) == FoldedName(b.mid(i));
        if (x == y)
            continue;
        const auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; };
        if (upper(x) != upper(y))
            return false;
    }
    // No letter upper-cases to nothing: a longer rest stays longer.
    return a.size() == b.size();
}

bool EndsWithNoCase(const QString &name, QLatin1String suffix)
{
    if (name.size() < suffix.size())
        return false;
    // An ASCII suffix can only match the same number of characters at the end.
    return SameNameNoCase(name.right(suffix.size()), QString(suffix));
}

qsizetype PrefixLengthNoCase(const QString &name, const QString &prefix)
{
    const QString sameLength = name.left(prefix.size());
    if (SameNameNoCase(sameLength, prefix))
        return sameLength.size();
    const auto ascii = [](const QString &text) {
        return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
    };
    if (ascii(sameLength) && ascii(prefix))
        return -1; // ASCII letters keep their number when upper-cased
    // Upper-casing may change lengths ("ß" -> "SS"): try the starts that could fold to the
    // prefix's length, shortest first.
    const QString folded = FoldedName(prefix);
    for (qsizetype length = 1; length <= name.size(); ++length) {
        const QString start = FoldedName(name.left(length));
        if (start.size() > folded.size())
            break;
        if (start == folded)
            return length;
    }
    return -1;
}

// Every entry but "." and "..", hidden ones included, in listing order.
static QStringList AllEntriesIn(const QString &folder)
{
#ifdef Q_OS_UNIX
    // readdir alone: QDir would build a file-information object for each entry.
    QStringList names;
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        names.append(QFile::decodeName(name));
    }
    ::closedir(dir);
    return names;
#else
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Unsorted);
#endif
}

static QStringList EntriesMatchingNoCase(const QString &folder, const QString &name)
{
    QStringList matches;
    const QStringList entries = AllEntriesIn(folder);
    for (const QString &entry : entries) {
        if (SameNameNoCase(entry, name))
            matches.append(entry);
    }
    return matches;
}

namespace {
thread_local ResolveCacheScope *currentResolveCache = nullptr;

enum class Resolution { Found, Missing, Ambiguous };
QString ResolveUncached(const QString &absolutePath, Resolution *resolution = nullptr);
} // namespace

ResolveCacheScope::ResolveCacheScope() : outer(currentResolveCache), owner(this)
{
    currentResolveCache = this;
}

ResolveCacheScope::ResolveCacheScope(ResolveCacheScope &shared) : outer(currentResolveCache), owner(shared.owner)
{
    currentResolveCache = this;
}

ResolveCacheScope::~ResolveCacheScope()
{
    currentResolveCache = outer;
}

QString ResolvePathNoCase(const QString &absolutePath)
{
    if (!currentResolveCache)
        return ResolveUncached(absolutePath);
    ResolveCacheScope *cache = currentResolveCache->owner;
    {
        const QMutexLocker locker(&cache->mutex);
        const auto known = cache->answers.constFind(absolutePath);
        if (known != cache->answers.constEnd())
            return *known;
    }
    // Resolved outside the lock: two threads asking at once both resolve, with one answer.
    const QString resolved = ResolveUncached(absolutePath);
    const QMutexLocker locker(&cache->mutex);
    cache->answers.insert(absolutePath, resolved);
    return resolved;
}

namespace {

QString ResolveUncached(const QString &absolutePath, Resolution *resolution)
{
    Resolution ignored;
    Resolution &outcome = resolution ? *resolution : ignored;
    outcome = Resolution::Missing;
    const QString path = QDir::cleanPath(ToSlashes(absolutePath));
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return QString();
    if (QFileInfo::exists(path)) {
        outcome = Resolution::Found;
        return path;
    }

    // Walk from the root: keep each component that exists as written, else take the one
    // entry that differs from it only in case.
    const QStringList components = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString resolved = path.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : QString();
    int first = 0;
    if (resolved.isEmpty()) {
        // A drive root such as "C:" on Windows.
        resolved = components.value(0) + QLatin1Char('/');
        first = 1;
    }
    for (int i = first; i < components.size(); ++i) {
        const QString &component = components.at(i);
        const QString prefix = resolved.endsWith(QLatin1Char('/')) ? resolved : resolved + QLatin1Char('/');
        const QString exact = prefix + component;
        if (QFileInfo::exists(exact)) {
            resolved = exact;
            continue;
        }
        const QStringList matches = EntriesMatchingNoCase(resolved, component);
        if (matches.size() != 1) {
            if (matches.size() > 1)
                outcome = Resolution::Ambiguous;
            return QString();
        }
        resolved = prefix + matches.first();
    }
    outcome = Resolution::Found;
    return resolved;
}

} // namespace

bool IsAmbiguousNoCase(const QString &absolutePath)
{
    Resolution resolution = Resolution::Missing;
    ResolveUncached(absolutePath, &resolution);
    return resolution == Resolution::Ambiguous;
}

QString FindEntryNoCase(const QString &folder, const QString &name)
{
    if (name.isEmpty())
        return QString();
    if (QFileInfo::exists(folder + QLatin1Char('/') + name))
        return name;
    const QStringList matches = EntriesMatchingNoCase(folder, name);
    return matches.isEmpty() ? QString() : matches.first();
}

bool HasOtherSpellingOf(const QString &folder, const QStringList &names)
{
    const QStringList entries = AllEntriesIn(folder);
    for (const QString &entry : entries) {
        for (const QString &name : names) {
            if (entry != name && SameNameNoCase(entry, name))
                return true;
        }
    }
    return false;
}

bool IsPlainFileName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    return !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

bool CopyFileKeepTime(const QString &source, const QString &destination, bool sync)
{
#ifdef Q_OS_UNIX
    struct stat existing;
    if (::lstat(QFile::encodeName(destination).constData(), &existing) == 0)
        return false; // a file, or a link even to nothing
#else
    const QFileInfo destinationInfo(destination);
    if (destinationInfo.exists() || destinationInfo.isSymLink())
        return false;
#endif
#ifdef Q_OS_UNIX
    // A FIFO or device as the source would block the copy or fill the disk. The time and
    // permissions are those of the file opened, not of whatever the name shows later.
    struct stat opened;
    const int input = OpenRegularDescriptor(source, LinkPolicy::Follow, &opened);
    if (input < 0)
        return false;
    const auto closeInput = qScopeGuard([input] { ::close(input); });
    const QDateTime sourceModified = ModifiedUtc(opened);
#else
    QFile input;
    if (!OpenRegularFile(input, source, LinkPolicy::Follow))
        return false;
    const QDateTime sourceModified = FactsOf(source).modifiedUtc;
#endif

    // Written under a temporary name in the destination folder, forced to disk, then renamed
    // into place: an interrupted or failed copy never leaves a partial file under the real
    // name, and a crash right after the copy never leaves an empty one.
    OwnTemporaryFile temporary;
    if (!temporary.Create(destination))
        return false;
    QByteArray buffer;
    buffer.resize(1 << 16);
    for (;;) {
#ifdef Q_OS_UNIX
        const qint64 read = ::read(input, buffer.data(), size_t(buffer.size()));
        if (read < 0 && errno == EINTR)
            continue;
#else
        const qint64 read = input.read(buffer.data(), buffer.size());
#endif
        if (read < 0)
            return false;
        if (read == 0)
            break;
        if (!temporary.Write(buffer.constData(), read))
            return false;
    }
#ifdef Q_OS_UNIX
    temporary.SetPermissions(opened.st_mode);
#else
    temporary.TakePermissionsOf(source);
#endif
    if (!sourceModified.isValid() || !temporary.SetModified(sourceModified.toMSecsSinceEpoch()))
        return false;
    // Never over an existing destination, even one that appeared during the copy.
    return temporary.Commit(sync ? Durability::Sync : Durability::NoSync, false);
}

void FlushFileSystemOf(const QString &path)
{
#ifdef Q_OS_LINUX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    (void)::syncfs(fd);
    ::close(fd);
#else
    Q_UNUSED(path)
#endif
}

bool WriteFileAtomically(const QString &path, const QByteArray &bytes, bool *written)
{
    return WriteFileAtomically(path, bytes, Durability::Sync, written);
}

bool IsOwnBookkeepingName(const QString &fileName)
{
    return fileName == PackageLockFileName() || IsOwnTemporaryName(fileName);
}

QString KeepVersionAside(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.isSymLink())
        return QString();
    for (int attempt = 0; attempt < 4; ++attempt) {
        const QString aside = OwnTemporaryPathFor(path);
        std::error_code error;
        std::filesystem::create_hard_link(std::filesystem::path(path.toStdU16String()),
                                          std::filesystem::path(aside.toStdU16String()), error);
        if (!error)
            return aside;
        if (error != std::errc::file_exists)
            return QString();
    }
    return QString();
}

bool PutVersionBack(const QString &aside, const QString &path)
{
    std::error_code error;
    std::filesystem::rename(std::filesystem::path(aside.toStdU16String()), std::filesystem::path(path.toStdU16String()),
                            error);
    // Renaming a link onto the file it names leaves both names: the version is back anyway.
    (void)QFile::remove(aside);
    return !error;
}

int RemoveStaleTemporaryFiles(const QString &folder, qint64 maxAgeSeconds)
{
    int removed = 0;
    const QDateTime limit = QDateTime::currentDateTimeUtc().addSecs(-maxAgeSeconds);
    // Hidden names included (ours start with a dot); only plain files are taken: links are
    // neither entered nor removed. Names first, so that only temporaries are stat-ed.
    const QStringList entries = AllEntriesIn(folder);
    for (const QString &name : entries) {
        if (!IsOwnTemporaryName(name))
            continue;
        const QString path = folder + QLatin1Char('/') + name;
        const QFileInfo entry(path);
        const FileFacts facts = FactsOf(path);
        if (entry.isSymLink() || !facts.isFile || !(facts.modifiedUtc < limit))
            continue;
        if (QFile::remove(path))
            ++removed;
    }
    return removed;
}

#ifdef Q_OS_UNIX
static qint64 Ns(const struct timespec &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

// A stat's modification and status-change times in nanoseconds since the epoch.
static qint64 ModifiedNs(const struct stat &info)
{
#if defined(Q_OS_DARWIN)
    return Ns(info.st_mtimespec);
#else
    return Ns(info.st_mtim);
#endif
}

static qint64 ChangedNs(const struct stat &info)
{
#if defined(Q_OS_DARWIN)
    return Ns(info.st_ctimespec);
#else
    return Ns(info.st_ctim);
#endif
}
#endif

FileStamp StampOf(const QString &path)
{
    FileStamp stamp;
    if (path.isEmpty())
        return stamp;
#ifdef Q_OS_UNIX
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return stamp;
    stamp.size = qint64(info.st_size);
    stamp.modified = ModifiedNs(info);
    stamp.changed = ChangedNs(info);
    stamp.identity = quint64(info.st_ino) ^ (quint64(info.st_dev) << 48);
#else
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile())
        return stamp;
    stamp.size = info.size();
    stamp.modified = info.lastModified().toMSecsSinceEpoch();
    stamp.changed = info.metadataChangeTime().toMSecsSinceEpoch();
    stamp.identity = quint64(info.birthTime().toMSecsSinceEpoch());
#endif
    return stamp;
}

FileFacts FactsOf(const QString &path)
{
    FileFacts facts;
    if (path.isEmpty())
        return facts;
#ifdef Q_OS_UNIX
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return facts;
    facts.exists = true;
    facts.isFile = S_ISREG(info.st_mode);
    facts.size = qint64(info.st_size);
    facts.modifiedUtc = ModifiedUtc(info);
#else
    const QFileInfo info(path);
    if (!info.exists())
        return facts;
    facts.exists = true;
    facts.isFile = info.isFile();
    facts.size = info.size();
    facts.modifiedUtc = info.lastModified().toUTC();
#endif
    return facts;
}

#ifdef Q_OS_UNIX
static QStringList ListFiles(const QString &folder, bool withLinks)
{
    QStringList names;
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir)) {
        // Hidden names, "." and ".." start with a dot.
        if (entry->d_name[0] == '.')
            continue;
        bool isFile = entry->d_type == DT_REG;
        if (entry->d_type == DT_UNKNOWN || (withLinks && entry->d_type == DT_LNK)) {
            struct stat info;
            isFile = ::fstatat(dirfd(dir), entry->d_name, &info, withLinks ? 0 : AT_SYMLINK_NOFOLLOW) == 0 &&
                     S_ISREG(info.st_mode);
        }
        if (isFile)
            names.append(QFile::decodeName(entry->d_name));
    }
    ::closedir(dir);
    return names;
}
#endif

QStringList PlainFilesIn(const QString &folder)
{
#ifdef Q_OS_UNIX
    return ListFiles(folder, false);
#else
    return QDir(folder).entryList(QDir::Files | QDir::NoSymLinks, QDir::Unsorted);
#endif
}

QList<NamedFileFacts> PlainFileFactsIn(const QString &folder)
{
    QList<NamedFileFacts> files;
#ifdef Q_OS_UNIX
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return files;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.' || (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN))
            continue;
        struct stat info;
        if (::fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
            continue;
        files.append({QFile::decodeName(entry->d_name), qint64(info.st_size), ModifiedUtc(info)});
    }
    ::closedir(dir);
#else
    const QFileInfoList listing = QDir(folder).entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::Unsorted);
    for (const QFileInfo &file : listing)
        files.append({file.fileName(), file.size(), file.lastModified().toUTC()});
#endif
    return files;
}

QStringList FilesIn(const QString &folder)
{
#ifdef Q_OS_UNIX
    return ListFiles(folder, true);
#else
    return QDir(folder).entryList(QDir::Files, QDir::Unsorted);
#endif
}

#ifdef Q_OS_UNIX
static quint64 StatFingerprint(const struct stat &info, QByteArrayView name)
{
    const quint64 facts[] = {quint64(info.st_mode),    quint64(info.st_size), quint64(ModifiedNs(info)),
                             quint64(ChangedNs(info)), quint64(info.st_ino),  quint64(info.st_dev)};
    return XXH3_64bits_withSeed(facts, sizeof facts, StableHash(name));
}
#endif

quint64 FolderFingerprint(const QString &folder, const QStringList &files, QStringList *plainFiles,
                          bool *holdsOwnTemporary)
{
    plainFiles->clear();
    *holdsOwnTemporary = false;
#ifdef Q_OS_UNIX
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return 0;
    // A sum of the entries' hashes: the same entries in another order give the same sum.
    quint64 sum = 0;
    bool complete = true;
    errno = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        struct stat info;
        if (::fstatat(dirfd(dir), name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            complete = false; // gone while listed: the folder is changing
            break;
        }
        const QByteArrayView nameBytes(name);
        sum += StatFingerprint(info, nameBytes) * 0x9E3779B97F4A7C15ull;
        if (S_ISREG(info.st_mode)) {
            const QString decoded = QFile::decodeName(name);
            if (name[0] == '.' && IsOwnTemporaryName(decoded))
                *holdsOwnTemporary = true;
            plainFiles->append(decoded);
        }
        errno = 0;
    }
    complete = complete && errno == 0;
    ::closedir(dir);
    if (!complete) {
        plainFiles->clear();
        return 0;
    }
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QByteArray path = QFile::encodeName(files.at(i));
        struct stat info;
        const quint64 mark = 0x100000001B3ull * quint64(i + 1);
        if (path.isEmpty() || ::stat(path.constData(), &info) != 0)
            sum ^= StableHash(path, mark);
        else
            sum ^= mark * StatFingerprint(info, path);
    }
    return sum == 0 ? 1 : sum;
#else
    Q_UNUSED(folder)
    Q_UNUSED(files)
    return 0;
#endif
}

void KeepModTimeNotBefore(const QString &path, const QDateTime &time)
{
    const FileFacts facts = FactsOf(path);
    if (!facts.isFile || !time.isValid() || !(facts.modifiedUtc < time))
        return;
    QFile file(path);
    if (file.open(QIODevice::ReadWrite))
        file.setFileTime(time, QFileDevice::FileModificationTime);
}

QDateTime CreationTime(const QFileInfo &file)
{
    const QDateTime birth = file.birthTime();
    return birth.isValid() ? birth : file.lastModified();
}

quint64 OwnBuildIdentity()
{
#ifdef Q_OS_UNIX
    static const quint64 identity = [] {
        Dl_info where;
        struct stat info;
        if (::dladdr(reinterpret_cast<void *>(&OwnBuildIdentity), &where) == 0 || !where.dli_fname ||
            ::stat(where.dli_fname, &info) != 0)
            return quint64(0);
        const quint64 facts[] = {quint64(info.st_size), quint64(ModifiedNs(info)), quint64(info.st_ino)};
        return quint64(XXH3_64bits(facts, sizeof facts) | 1);
    }();
    return identity;
#else
    return 0;
#endif
}

static QString FromEnvironment(const char *name, const QString &fallback)
{
    const QString value = qEnvironmentVariable(name);
    return value.isEmpty() ? fallback : value;
}

QString DefaultsDir()
{
#ifdef Q_OS_WIN
    return FromEnvironment("PACKAGEMANAGER_DEFAULTS_DIR", QStringLiteral("C:/Quarvington/Peltrix4/mills/packages"));
#else
    QString fallback = QStringLiteral(PM_INSTALL_DATADIR);
    if (!QFileInfo::exists(fallback + QLatin1String("/undetermined_rendering.gif")))
        fallback = QStringLiteral(PM_SOURCE_DATADIR);
    return FromEnvironment("PACKAGEMANAGER_DEFAULTS_DIR", fallback);
#endif
}

QString TempDir()
{
#ifdef Q_OS_WIN
    return FromEnvironment("PACKAGEMANAGER_TEMP_DIR", QStringLiteral("C:/TempQuarvington"));
#else
    return FromEnvironment("PACKAGEMANAGER_TEMP_DIR", QDir::tempPath() + QLatin1String("/TempQuarvington"));
#endif
}

QString FfmpegProgram()
{
#ifdef Q_OS_WIN
    return FromEnvironment("PACKAGEMANAGER_FFMPEG", QStringLiteral("ffmpeg.exe"));
#else
    return FromEnvironment("PACKAGEMANAGER_FFMPEG", QStringLiteral("ffmpeg"));
#endif
}

} // namespace Platform
