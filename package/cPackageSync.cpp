#include "cPackage.h"

#include "package/PackageFolderListing_p.h"
#include "package/cPackagePrograms_p.h"
#include "platform/AtomicFile.h"
#include "platform/PlatformFiles.h"

#include <QFile>
#include <QLoggingCategory>

// Keeping the package's program copies in step with the parts folder.

namespace {

Q_LOGGING_CATEGORY(lcPackageSync, "packagemanager.package.sync", QtWarningMsg)

using PackagePrograms::JoinPath;

// Copies a package copy to its parts-folder path. The parts folder is not ours to
// overwrite: the copy fails when the file exists there, in any letter case, as it would
// on the control.
bool CopyToParts(const QFileInfo &packageCopy, const QString &partPath)
{
    const QFileInfo source(packageCopy.absoluteFilePath());
    if (!source.isFile() || partPath.isEmpty())
        return false;
    const QFileInfo destination(partPath);
    if (!Platform::FindEntryNoCase(destination.absolutePath(), destination.fileName()).isEmpty()) {
        qCDebug(lcPackageSync) << "not replacing" << partPath;
        return false;
    }
    return Platform::CopyFileKeepTime(source.absoluteFilePath(), partPath);
}

} // namespace

bool cPackage::SynchronizePartFiles(ePartFilePriority priority)
{
    if (priority != PartsFilePriority && priority != PackageFilePriority)
        return true;

    bool result = true;
    for (const bool conversational : {false, true}) {
        const QString &partPath = conversational ? partCONVProgramPath : partNCProgramPath;
        if (partPath.isEmpty())
            continue; // no program on either side
        const QFileInfo part(partPath);
        const QString name = part.fileName();
        if (!Platform::IsPlainFileName(name))
            continue;

        // One stat for each side, with the times in UTC.
        const Platform::FileFacts partFacts = Platform::FactsOf(partPath);
        if (priority == PartsFilePriority && !partFacts.exists)
            continue; // nothing to copy, and the copy is not the parts folder's to restore
        QString copyPath = JoinPath(packageDirPath, name);
        Platform::FileFacts copyFacts = Platform::FactsOf(copyPath);
        bool noCopy = false; // under no spelling of the name
        if (!copyFacts.exists) {
            // The copy may carry the name in another letter case.
            const QString realName = PackageFolderListing::OtherSpelling(packageDirPath, name);
            noCopy = realName.isEmpty();
            if (!noCopy) {
                copyPath = JoinPath(packageDirPath, realName);
                copyFacts = Platform::FactsOf(copyPath);
            }
        }

        // Any difference counts, not only a newer file: the priority alone decides. Two saves
        // within one tick of the file system's clock share a time, so a size that differs
        // counts as well.
        if (PackagePrograms::SameModTime(partFacts.modifiedUtc, copyFacts.modifiedUtc) &&
            partFacts.size == copyFacts.size)
            continue;

        if (priority == PartsFilePriority) {
            if (partFacts.exists && noCopy)
                result = AddFirstCopy(part);
            else if (partFacts.exists)
                result = AddPartProgramsToPackageFolder(part);
        } else if (copyFacts.exists) {
            const QFileInfo copy(copyPath);
            if (!PackagePrograms::StaysInsideFolder(copy, packageDirPath)) {
                qCWarning(lcPackageSync) << "not copying a link that leads out of the package:" << copy.filePath();
                result = false;
                continue;
            }
            result = conversational ? CopyPackageConvProgramToParts(copy) : CopyPackageNCProgramToParts(copy);
        }
    }
    return result;
}

bool cPackage::SearchForPartProgramsInPackageFolder()
{
    SynchronizePartFiles(PartsFilePriority);
    return true;
}

bool cPackage::AddPartProgramsToPackageFolder(const QFileInfo &file)
{
    const QFileInfo source(file.absoluteFilePath());
    const QString name = source.fileName();
    if (!source.isFile() || !Platform::IsPlainFileName(name))
        return false;

    const QString destination = JoinPath(packageDirPath, name);
    const QString oldName = Platform::FindEntryNoCase(packageDirPath, name);
    const QString oldPath = oldName.isEmpty() ? QString() : JoinPath(packageDirPath, oldName);
    if (!oldPath.isEmpty() && QFileInfo(oldPath).isDir())
        return false;

    // The new copy is complete under a hidden name before the old copy is touched, and the
    // old copy is set aside rather than deleted until the new one is in place: a failure
    // at any step leaves the package with a whole program.
    const QString staged = Platform::OwnTemporaryPathFor(destination);
    // A copy that replaces an older one reaches the disk first; a first copy can be made
    // again from the parts folder, and the pass flushes its new packages in one go.
    const bool firstCopy = oldPath.isEmpty() || Platform::FactsOf(oldPath).size == 0;
    if (!Platform::CopyFileKeepTime(source.absoluteFilePath(), staged, !firstCopy)) {
        qCWarning(lcPackageSync) << "cannot copy" << source.absoluteFilePath() << "into" << packageDirPath;
        return false;
    }

    QString setAside;
    if (!oldPath.isEmpty()) {
        setAside = Platform::OwnTemporaryPathFor(oldPath);
        if (!QFile::rename(oldPath, setAside)) {
            qCWarning(lcPackageSync) << "cannot replace" << oldPath;
            QFile::remove(staged);
            return false;
        }
    }
    if (!QFile::rename(staged, destination)) {
        qCWarning(lcPackageSync) << "cannot move the new copy into place:" << destination;
        if (!setAside.isEmpty())
            QFile::rename(setAside, oldPath);
        QFile::remove(staged);
        return false;
    }
    if (!setAside.isEmpty() && !QFile::remove(setAside))
        qCWarning(lcPackageSync) << "cannot remove the replaced copy" << setAside;
    return true;
}

bool cPackage::AddFirstCopy(const QFileInfo &file)
{
    // Nothing to set aside: the copy goes straight to its name, which it never replaces (a
    // file another writer puts there meanwhile stays). Not forced to disk: it can be made
    // again from the parts folder, and the pass flushes its new packages in one go.
    const QString destination = JoinPath(packageDirPath, file.fileName());
    if (Platform::CopyFileKeepTime(file.absoluteFilePath(), destination, false))
        return true;
    qCWarning(lcPackageSync) << "cannot copy" << file.absoluteFilePath() << "into" << packageDirPath;
    return false;
}

bool cPackage::CopyPackageNCProgramToParts(const QFileInfo &file)
{
    return CopyToParts(file, partNCProgramPath);
}

bool cPackage::CopyPackageConvProgramToParts(const QFileInfo &file)
{
    return CopyToParts(file, partCONVProgramPath);
}
