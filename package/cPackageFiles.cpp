#include "cPackage.h"

#include "manifest/ManifestNames_p.h"
#include "media/Thumbnails.h"
#include "package/PackageLock.h"

#include "platform/AtomicFile.h"
#include "platform/PlatformFiles.h"

#include <QFile>
#include <QLoggingCategory>
#include <QMutexLocker>

// Adding files to and removing files from a package.

Q_LOGGING_CATEGORY(lcPackageFiles, "packagemanager.package.files", QtWarningMsg)

namespace {

// Thumbnails are never entries of their own; a preview that is not one (the overview
// picture named by an NC program's entry) belongs to another entry and must stay.
bool IsThumbnailName(const QString &name)
{
    return Platform::IsPlainFileName(name) && Platform::EndsWithNoCase(name, QLatin1String(".thumb"));
}

// Deletes the entry's thumbnail, found whatever the case of its name.
void DeleteThumbnailOf(const cManifestItem *entry, const QString &folder)
{
    const QString preview = entry->GetPreviewString();
    if (!IsThumbnailName(preview))
        return;
    const QString realName = Platform::FindEntryNoCase(folder, preview);
    if (!realName.isEmpty())
        QFile::remove(folder + QLatin1Char('/') + realName);
}

// Replaces `destination` by a copy of `source`: copy under a temporary name first, so that
// a failed copy leaves the old file in place.
bool ReplaceFile(const QString &source, const QString &destination)
{
    const QFileInfo target(destination);
    // A hidden name next to the destination (hidden files are not package files).
    const QString temporaryPath = Platform::OwnTemporaryPathFor(target.absoluteFilePath());
    if (!Platform::CopyFileKeepTime(source, temporaryPath))
        return false;
    if (!QFile::remove(destination)) {
        QFile::remove(temporaryPath);
        return false;
    }
    if (!QFile::rename(temporaryPath, destination)) {
        qCWarning(lcPackageFiles) << "could not move the replacement into place:" << destination;
        QFile::remove(temporaryPath);
        return false;
    }
    return true;
}

} // namespace

bool cPackage::AddFileToPackage(const QFileInfo &file, const QString &author, const QString &comment,
                                const QString &targetName)
{
    QMutexLocker locker(lock.get());
    if (!manifest)
        return false;
    // Another process may have changed the manifest since it was read.
    (void)manifest->ReloadIfChangedOnDisk();

    const QFileInfo source(file.absoluteFilePath()); // fresh, not the caller's cached data
    if (!source.exists() || !source.isFile())
        return false;

    const QString name = targetName.isEmpty() ? source.fileName() : targetName;
    // A name the manifest never lists would be copied in without an entry, or overwrite
    // the manifest itself.
    if (!Platform::IsPlainFileName(name) || name.trimmed().isEmpty() || !ManifestNames::CanBeListed(name)) {
        qCWarning(lcPackageFiles) << "refused target name" << name;
        return false;
    }

    // Names in a package folder are compared without regard to case: an existing file of
    // the name is replaced under its own spelling, so that its entry still names it.
    const QString existingName = Platform::FindEntryNoCase(packageDirPath, name);
    const QString destinationName = existingName.isEmpty() ? name : existingName;
    const QString destination = packageDirPath + QLatin1Char('/') + destinationName;
    const QFileInfo destinationInfo(destination);
    if (destinationInfo.exists() && !destinationInfo.isFile() && !destinationInfo.isSymLink())
        return false; // a folder of that name

    cManifestItem *entry = manifest->LookupManifestItemByFileName(destinationName);
    if (!entry) {
        // The manifest matches names without regard to case as well.
        const QList<cManifestItem *> all = manifest->GetManifestItems(Unknown);
        for (cManifestItem *candidate : all) {
            if (Platform::SameNameNoCase(candidate->GetFileNameString(), destinationName)) {
                entry = candidate;
                break;
            }
        }
    }

    if (source.absoluteFilePath() == destinationInfo.absoluteFilePath()) {
        // Already in the package folder under that name: only the entry is needed.
    } else if (!existingName.isEmpty()) {
        if (!ReplaceFile(source.absoluteFilePath(), destination))
            return false;
        // The copy keeps the source's time, which may be older than the thumbnail's:
        // drop the thumbnail so that matching makes it anew from the new file.
        if (entry)
            DeleteThumbnailOf(entry, packageDirPath);
    } else if (!Platform::CopyFileKeepTime(source.absoluteFilePath(), destination)) {
        return false;
    }

    // A replaced file keeps its entry with its attributes; a file without one gets a new one.
    if (!entry)
        entry = manifest->AddManifestItem(QFileInfo(destination), author, comment);
    if (!entry)
        return false;

    manifest->MatchManifestToFiles(QDir(packageDirPath));
    manifest->VerifyMinimalManifestExists();
    return manifest->ExportToManifestFile();
}

bool cPackage::RemoveFileFromPackage(const QString &fileName)
{
    QMutexLocker locker(lock.get());
    if (!manifest)
        return false;
    (void)manifest->ReloadIfChangedOnDisk();

    const cManifestItem *entry = manifest->LookupManifestItemByFileName(fileName);
    if (!entry)
        return false;
    const QString entryName = entry->GetFileNameString();
    if (!Platform::IsPlainFileName(entryName))
        return false;

    bool deleted = false;
    const QString realName = Platform::FindEntryNoCase(packageDirPath, entryName);
    if (!realName.isEmpty()) {
        const QString path = packageDirPath + QLatin1Char('/') + realName;
        const QFileInfo info(path);
        if (info.isFile() || info.isSymLink()) // a link is removed, never followed
            deleted = QFile::remove(path);
        if (deleted)
            ForgetThumbnailFailure(info);
    }
    DeleteThumbnailOf(entry, packageDirPath);

    if (deleted && manifest->MatchManifestToFiles(QDir(packageDirPath))) {
        manifest->VerifyMinimalManifestExists();
        manifest->ExportToManifestFile();
    }
    return deleted;
}
