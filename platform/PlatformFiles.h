#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>

// The small layer that gives the control's Windows file-system behaviour everywhere:
// "/" separators, case-insensitive names, copies that keep their time and never overwrite.
namespace Platform {

// "\" -> "/".
QString ToSlashes(const QString &path);

// The one rule for names compared without regard to case, the identifier's own: two names
// match when their upper-cased forms are equal ("Größe" matches "GRÖSSE", "ı" matches "i",
// "İ" does not). FoldedName is the key for hashing names by that rule.
QString FoldedName(const QString &name);
bool SameNameNoCase(const QString &a, const QString &b);
// Whether `name` ends with the ASCII `suffix` under that rule.
bool EndsWithNoCase(const QString &name, QLatin1String suffix);
// How many characters at the start of `name` match `prefix` under that rule ("Größe.NC"
// starts with "GRÖSSE": 5), or -1 when no start of it does. An empty prefix gives 0.
qsizetype PrefixLengthNoCase(const QString &name, const QString &prefix);

// Resolves an absolute path component by component: an exact match first, else the
// single entry that matches without regard to case. Empty when there is no such path.
QString ResolvePathNoCase(const QString &absolutePath);

// Whether ResolvePathNoCase fails on `absolutePath` because some component matches several
// entries that differ only in case, none of them exactly ("Mill/" and "mill/" for "MILL").
bool IsAmbiguousNoCase(const QString &absolutePath);

// While one lives on a thread, ResolvePathNoCase on that thread remembers its answers.
// For a start-up over many packages whose identifiers name the same few parts folders:
// each folder is then resolved (and its parents listed) once, not once per package.
class ResolveCacheScope
{
public:
    ResolveCacheScope();
    // On a helper thread of the pass that holds `shared`: shares its answers. `shared`
    // outlives this scope.
    explicit ResolveCacheScope(ResolveCacheScope &shared);
    ~ResolveCacheScope();
    ResolveCacheScope(const ResolveCacheScope &) = delete;
    ResolveCacheScope &operator=(const ResolveCacheScope &) = delete;

private:
    friend QString ResolvePathNoCase(const QString &absolutePath);
    ResolveCacheScope *outer;
    ResolveCacheScope *owner; // the scope whose answers count: this one or the one joined
    QMutex mutex;
    QHash<QString, QString> answers;
};

// The real name of the entry `name` in `folder` (exact match first, else the first entry
// that matches without regard to case); empty when there is none.
QString FindEntryNoCase(const QString &folder, const QString &name);

// Whether `folder` holds an entry whose name matches one of `names` without regard to case
// but is spelled otherwise: on the control's file system both would be one file.
bool HasOtherSpellingOf(const QString &folder, const QStringList &names);

// A plain file name: not empty, no "/" or "\", not "." or "..".
bool IsPlainFileName(const QString &name);

// Temporary files: everything the library writes into a package or parts folder is first
// written as ".<target name>.<6 random letters or digits>.pmtmp" beside its target (see
// AtomicFile.h). Hidden names never show in package listings or manifests.

// Copies `source` to `destination` under a temporary name in the destination folder,
// forces it to disk and renames it into place; never overwrites (false when the
// destination exists); the copy gets the source's last-modified time. On failure nothing
// is left behind. Without `sync` the copy is not forced to disk (for a copy that replaces
// nothing and can be made again; see FlushFileSystemOf).
[[nodiscard]] bool CopyFileKeepTime(const QString &source, const QString &destination, bool sync = true);

// Forces everything written to the file system that holds `path` to disk, in one go: the
// batch flush of files written without their own (a pass's new packages).
void FlushFileSystemOf(const QString &path);

// Writes the bytes atomically and durably; skips the write when the file already holds
// them. On failure the old file is whole and the result is false. `written` (optional)
// tells whether the file was written.
[[nodiscard]] bool WriteFileAtomically(const QString &path, const QByteArray &bytes, bool *written = nullptr);

// The name of the lock file in each package folder (see package/PackageLock.h).
inline QString PackageLockFileName()
{
    return QStringLiteral(".package.lock");
}

// Whether a file in a package folder is the library's own bookkeeping (the lock file or a
// temporary file): never a manifest entry, never listed, never copied. Checked by name, since
// Windows does not hide names that start with a dot.
bool IsOwnBookkeepingName(const QString &fileName);

// Removes the plain files in `folder` (not in its subfolders) whose names are our temporary
// names and that were last modified more than maxAgeSeconds ago: those of a killed writer.
// Links are never followed nor removed. Returns how many were removed.
int RemoveStaleTemporaryFiles(const QString &folder, qint64 maxAgeSeconds);

// A second name for the file at `path` (a hard link, named as our temporary files), so that
// its present version can be put back after the name was given to a new version. Costs no
// space on the disk. Empty when the file is missing or the file system has no hard links.
QString KeepVersionAside(const QString &path);
// Puts a version kept aside back at `path`, replacing what is there now.
bool PutVersionBack(const QString &aside, const QString &path);

// What tells one version of a file from another without reading it: its size, its
// modification and status-change times at the file system's precision, and its identity
// (a file renamed into its place is another file). Not valid for a missing file, a
// symbolic link or anything but a plain file.
struct FileStamp
{
    qint64 size = -1;
    qint64 modified = 0;
    qint64 changed = 0;
    quint64 identity = 0;

    bool IsValid() const { return size >= 0; }
    bool operator==(const FileStamp &other) const
    {
        return size == other.size && modified == other.modified && changed == other.changed &&
               identity == other.identity;
    }
    bool operator!=(const FileStamp &other) const { return !(*this == other); }
};
FileStamp StampOf(const QString &path);

// What QFileInfo tells of a file (a link is followed), from one stat and with the time in
// UTC: QFileInfo's local-time detour costs more than the stat on a scan of every file.
struct FileFacts
{
    bool exists = false;
    bool isFile = false;
    qint64 size = 0;
    QDateTime modifiedUtc; // null when the file does not exist
};
FileFacts FactsOf(const QString &path);

// The names of the plain files in `folder`, as QDir::entryList(QDir::Files | QDir::NoSymLinks,
// QDir::Unsorted) gives them (no links, no hidden files), without a QFileInfo per entry.
QStringList PlainFilesIn(const QString &folder);
// The same with links to files, as QDir::entryList(QDir::Files, QDir::Unsorted) gives them.
QStringList FilesIn(const QString &folder);
// The plain files of PlainFilesIn with their size and time, from one stat each.
struct NamedFileFacts
{
    QString name;
    qint64 size = 0;
    QDateTime modifiedUtc;
};
QList<NamedFileFacts> PlainFileFactsIn(const QString &folder);

// What tells one state of a folder from another without reading its files: every entry's
// name, kind, size, modification and status-change times and identity, and the same of
// each of `files` elsewhere (links followed; a missing one counts as missing), hashed
// without regard to listing order. 0 when the folder cannot be read to its end, or where
// the platform gives no such times. `plainFiles` gets the names of the plain files;
// `holdsOwnTemporary` tells whether one of them is one of our temporary files.
quint64 FolderFingerprint(const QString &folder, const QStringList &files, QStringList *plainFiles,
                          bool *holdsOwnTemporary);

// Moves the file's last-modified time up to `time` when it is earlier: a file made from a
// source dated in the future then counts as up to date with it.
void KeepModTimeNotBefore(const QString &path, const QDateTime &time);

// Creation time, falling back to the last-modified time where the file system keeps none.
QDateTime CreationTime(const QFileInfo &file);

// The size and time of the file this code was loaded from (the library or the program it is
// built into): another build gives another value. 0 where that cannot be told.
quint64 OwnBuildIdentity();

// Fixed folders, read from the environment at each use.
QString DefaultsDir();   // PACKAGEMANAGER_DEFAULTS_DIR
QString TempDir();       // PACKAGEMANAGER_TEMP_DIR
QString FfmpegProgram(); // PACKAGEMANAGER_FFMPEG

} // namespace Platform
