#include "platform/FolderListing.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace Platform {

namespace {

thread_local FolderIndexScope *currentFolderIndex = nullptr;

QString Folded(const QString &name)
{
    return name.toUpper();
}

#ifdef Q_OS_UNIX
FolderListing::eKind KindOf(DIR *dir, const dirent *entry)
{
    switch (entry->d_type) {
    case DT_REG:
        return FolderListing::File;
    case DT_DIR:
        return FolderListing::Folder;
    case DT_LNK:
        return FolderListing::Link;
    case DT_UNKNOWN:
        break;
    default:
        return FolderListing::Other;
    }
    // Some file systems do not fill d_type in.
    struct stat info;
    if (::fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return FolderListing::Other;
    if (S_ISREG(info.st_mode))
        return FolderListing::File;
    if (S_ISDIR(info.st_mode))
        return FolderListing::Folder;
    if (S_ISLNK(info.st_mode))
        return FolderListing::Link;
    return FolderListing::Other;
}
#endif

} // namespace

FolderListing FolderListing::Read(const QString &folder)
{
    FolderListing listing;
    if (folder.isEmpty())
        return listing;
#ifdef Q_OS_UNIX
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return listing;
    errno = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        listing.entries.append({QFile::decodeName(name), KindOf(dir, entry)});
        errno = 0;
    }
    // readdir answers null at the end and on an error; only errno tells them apart (a share
    // that drops in the middle of a listing must not look like a shorter folder).
    const bool complete = errno == 0;
    ::closedir(dir);
    if (!complete) {
        listing.entries.clear();
        return listing;
    }
#else
    const QFileInfo info(folder);
    if (!info.isDir() || !info.isReadable())
        return listing;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        const QFileInfo entry = it.nextFileInfo();
        eKind kind = Other;
        if (entry.isSymLink() || entry.isJunction())
            kind = Link;
        else if (entry.isDir())
            kind = Folder;
        else if (entry.isFile())
            kind = File;
        listing.entries.append({entry.fileName(), kind});
    }
#endif
    listing.readable = true;
    listing.byFoldedName.reserve(listing.entries.size());
    for (int i = 0; i < listing.entries.size(); ++i)
        listing.byFoldedName[Folded(listing.entries.at(i).name)].append(i);
    return listing;
}

QList<FolderListing::Entry> FolderListing::Matching(const QString &name) const
{
    QList<Entry> found;
    const auto it = byFoldedName.constFind(Folded(name));
    if (it == byFoldedName.cend())
        return found;
    for (const int index : *it)
        found.append(entries.at(index));
    return found;
}

QList<FolderListing::Entry> FolderListing::MatchingAny(const QStringList &names) const
{
    QList<int> indices;
    for (const QString &name : names) {
        const auto it = byFoldedName.constFind(Folded(name));
        if (it != byFoldedName.cend())
            indices += *it;
    }
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    QList<Entry> found;
    for (const int index : std::as_const(indices))
        found.append(entries.at(index));
    return found;
}

FolderIndexScope::FolderIndexScope() : outer(currentFolderIndex), owner(this)
{
    currentFolderIndex = this;
}

FolderIndexScope::FolderIndexScope(FolderIndexScope &shared) : outer(currentFolderIndex), owner(shared.owner)
{
    currentFolderIndex = this;
}

FolderIndexScope::~FolderIndexScope()
{
    currentFolderIndex = outer;
}

QString FindEntryInScope(const QString &folder, const QString &name)
{
    if (name.isEmpty())
        return QString();
    if (QFileInfo::exists(folder + QLatin1Char('/') + name))
        return name;
    const QList<FolderListing::Entry> matches = ListingInScope(QDir::cleanPath(folder)).Matching(name);
    return matches.isEmpty() ? QString() : matches.first().name;
}

FolderListing ListingInScope(const QString &folder)
{
    if (!currentFolderIndex)
        return FolderListing::Read(folder);
    FolderIndexScope *scope = currentFolderIndex->owner;
    // A helper thread of the pass may ask at the same time; the first reads, the other waits.
    const QMutexLocker locker(&scope->mutex);
    auto it = scope->listings.find(folder);
    if (it == scope->listings.end())
        it = scope->listings.insert(folder, FolderListing::Read(folder));
    return *it;
}

} // namespace Platform
