#include "cPackage.h"

#include "MetadataGenerator.h"
#include "package/PackageLock.h"
#include "package/cPackagePrograms_p.h"
#include "platform/FolderListing.h"
#include "platform/PlatformFiles.h"

#include <QMutex>
#include <QMutexLocker>

namespace {

// The generator keeps no state, so one serves every package: a QObject for each of
// thousands of packages would cost more memory than all their other fields.
std::shared_ptr<MetadataGenerator> SharedMetadataGenerator()
{
    static QBasicMutex mutex;
    static std::weak_ptr<MetadataGenerator> shared;
    QMutexLocker locker(&mutex);
    std::shared_ptr<MetadataGenerator> generator = shared.lock();
    if (!generator) {
        generator = std::make_shared<MetadataGenerator>();
        shared = generator;
    }
    return generator;
}

} // namespace

cPackage::cPackage(const QFileInfo &packageFolder, const QFileInfo &partProgram) : lock(std::make_shared<PackageLock>())
{
    SetFolder(packageFolder);
    if (partProgram.exists())
        SetPartProgramPaths(partProgram);
    CreateManifestAndGenerator();
}

cPackage::cPackage(const QFileInfo &packageFolder, const QFileInfo &partProgram, FolderJustMade)
    : lock(std::make_shared<PackageLock>())
{
    SetFolder(packageFolder);
    // The caller made the folder for a program it has just found.
    SetPartProgramPaths(partProgram);
    // Nothing to look for or read: the first write under the lock reads whatever another
    // writer may have put there meanwhile.
    manifest.reset(new cManifest(packageName, QFileInfo()));
    manifest->RelabelManifest(packageName, QFileInfo(packageDirPath + QLatin1String("/manifest.xml")));
    manifest->ShareFolderPath(packageDirPath);
    metadataGenerator = SharedMetadataGenerator();
}

void cPackage::SetFolder(const QFileInfo &packageFolder)
{
    packageUID = packageFolder.completeBaseName().toUpper();
    packageName = GetNameFromUID(packageUID);
    packageDirPath = packageFolder.absoluteFilePath();
    lock->SetFolder(packageDirPath);
}

void cPackage::SetPartProgramPaths(const QFileInfo &partProgram)
{
    // The NC program and its conversational companion share the program's name; the
    // companion is found whatever the case of its name ("plate.nc" beside "plate.cnv").
    const QString folder = partProgram.absolutePath();
    const auto companion = [&folder](const QString &name) {
        // The parts folder: its index of the start-up or pass, not a listing per package.
        const QString existing = Platform::FindEntryInScope(folder, name);
        return PackagePrograms::JoinPath(folder, existing.isEmpty() ? name : existing);
    };
    const QString baseName = partProgram.completeBaseName();
    if (Platform::SameNameNoCase(partProgram.suffix(), QStringLiteral("CNV"))) {
        partCONVProgramPath = partProgram.absoluteFilePath();
        // The NC half is "NAME" as the control writes it, or "NAME.NC" beside "NAME.CNV".
        const QString plain = Platform::FindEntryInScope(folder, baseName);
        const QString suffixed =
            plain.isEmpty() ? Platform::FindEntryInScope(folder, baseName + QLatin1String(".NC")) : QString();
        partNCProgramPath = PackagePrograms::JoinPath(folder, !plain.isEmpty()      ? plain
                                                              : !suffixed.isEmpty() ? suffixed
                                                                                    : baseName);
    } else {
        partNCProgramPath = partProgram.absoluteFilePath();
        partCONVProgramPath = companion(QStringLiteral("%1.CNV").arg(baseName));
    }
}

void cPackage::FollowPartProgram(const QFileInfo &partProgram)
{
    if (!partNCProgramPath.isEmpty() || !partCONVProgramPath.isEmpty() || !partProgram.exists())
        return;
    SetPartProgramPaths(partProgram);
    partNCProgramPath.squeeze();
    partCONVProgramPath.squeeze();
}

bool cPackage::HoldsProgramCopy(bool *readable, bool *listed) const
{
    *listed = false;
    *readable = QFileInfo(packageDirPath).isDir() && QDir(packageDirPath).isReadable();
    if (!*readable)
        return false;
    for (const eMetadataType type : {NCProgram, ConvProgram}) {
        const cManifestItem *item = manifest ? manifest->GetManifestItem(type) : nullptr;
        if (item && item->GetFileInfo().exists()) {
            *listed = true;
            return true;
        }
    }
    // The manifest may be missing or unreadable while the copy is there.
    QFileInfo nc;
    QFileInfo conv;
    PackagePrograms::FindProgramCopies(QDir(packageDirPath), packageName, packageDirPath, &nc, &conv);
    return !nc.filePath().isEmpty() || !conv.filePath().isEmpty();
}

quint64 cPackage::MaintenanceState(bool *holdsListedCopy, QStringList *plainFiles) const
{
    *holdsListedCopy = false;
    QStringList files;
    bool temporary = false;
    const quint64 folderState =
        Platform::FolderFingerprint(packageDirPath, {partNCProgramPath, partCONVProgramPath}, &files, &temporary);
    if (plainFiles)
        *plainFiles = files;
    // A temporary file goes once it is old enough: the state alone does not tell when.
    if (folderState == 0 || temporary || !manifest)
        return 0;
    for (const eMetadataType type : {NCProgram, ConvProgram}) {
        const cManifestItem *item = manifest->GetManifestItem(type);
        if (item && files.contains(item->GetFileNameString()))
            *holdsListedCopy = true;
    }
    const quint64 state = folderState ^ (manifest->ContentFingerprint() * 0xC2B2AE3D27D4EB4Full);
    return state == 0 ? 1 : state;
}

cPackage::cPackage(const QString &uid, const QDir &packageFolder, const QDir &partsFolder)
    : lock(std::make_shared<PackageLock>())
{
    packageName = GetNameFromUID(uid);
    packageUID = uid.toUpper();
    packageDirPath = packageFolder.absolutePath();
    lock->SetFolder(packageDirPath);

    // QDir() (the working folder) stands for none given. Compared by path: comparing QDir
    // objects resolves both to canonical paths, a walk over every component of both.
    const auto isNone = [](const QDir &folder) { return folder.path() == QDir().path(); };
    QDir parts = partsFolder;
    if (isNone(parts))
        parts = GetPartDirFromPackageUID(uid);
    if (!isNone(parts) && parts.exists())
        FindPartProgramsIn(parts);
    CreateManifestAndGenerator();
}

cPackage::cPackage(const cPackage &other) = default;
cPackage &cPackage::operator=(const cPackage &other) = default;
cPackage::~cPackage() = default;

void cPackage::CreateManifestAndGenerator()
{
    manifest.reset(new cManifest(packageName, GetManifestFile()));
    // One copy of the folder's path for the package, its manifest and the entries.
    manifest->ShareFolderPath(packageDirPath);
    metadataGenerator = SharedMetadataGenerator();
}

void cPackage::FindPartProgramsIn(const QDir &partsFolder)
{
    const QDir packageFolder(packageDirPath);
    const QString folder = partsFolder.absolutePath() + QLatin1Char('/');
    // Both copies from one listing of the package folder.
    QFileInfo ncCopy;
    QFileInfo convCopy;
    PackagePrograms::FindProgramCopies(packageFolder, packageName, packageDirPath, &ncCopy, &convCopy);
    partNCProgramPath = ncCopy.fileName().isEmpty() ? QString() : folder + ncCopy.fileName();
    partCONVProgramPath = convCopy.fileName().isEmpty() ? QString() : folder + convCopy.fileName();

    // A copy can be missing (a crash while it was being replaced, a copy deleted by hand):
    // the package still belongs to the program of its name in the parts folder, which the
    // next scan copies again, rather than being taken for an orphan and deleted.
    if (partNCProgramPath.isEmpty())
        partNCProgramPath = FindNCProgram(partsFolder).absoluteFilePath();
    if (partCONVProgramPath.isEmpty())
        partCONVProgramPath = FindCONVProgram(partsFolder).absoluteFilePath();
    // Appending leaves room to grow; thousands of packages keep these for good.
    partNCProgramPath.squeeze();
    partCONVProgramPath.squeeze();
}

QString cPackage::GetNameFromUID(const QString &uid)
{
    QString name = uid.split(QLatin1Char('^')).last();
    name.remove(QStringLiteral(".pkg"), Qt::CaseSensitive);
    return name;
}

QDir cPackage::GetPartDirFromPackageUID(const QString &uid)
{
    QString folder = uid.split(QLatin1Char('^')).first();
    folder.replace(QLatin1Char(','), QLatin1Char('/'));
    folder.replace(QLatin1Char('!'), QLatin1Char(':'));
    // Identifiers are upper case; find the real folder on a case-sensitive file system.
    const QString resolved = Platform::ResolvePathNoCase(folder);
    if (resolved.isEmpty() || !QFileInfo(resolved).isDir())
        return QDir(QString());
    return QDir(resolved);
}

QString cPackage::GetPackageName() const
{
    QMutexLocker locker(&lock->InProcess());
    return packageName;
}

QString cPackage::GetPackageUID() const
{
    QMutexLocker locker(&lock->InProcess());
    return packageUID;
}

unsigned int cPackage::GetPackageSize() const
{
    QMutexLocker locker(&lock->InProcess());
    return manifest ? manifest->GetPackageSize() : 0;
}

unsigned int cPackage::GetPackageSizeLimit() const
{
    QMutexLocker locker(&lock->InProcess());
    return manifest ? manifest->GetPackageLimit() : 0;
}

QFileInfo cPackage::GetManifestFile() const
{
    QMutexLocker locker(&lock->InProcess());
    // Another spelling of the name is the same file on the control: it is read and
    // written, never joined by a second "manifest.xml".
    const QString name = QStringLiteral("manifest.xml");
    const QString existing = Platform::FindEntryNoCase(packageDirPath, name);
    return QFileInfo(PackagePrograms::JoinPath(packageDirPath, existing.isEmpty() ? name : existing));
}

QDir cPackage::GetPackageDir() const
{
    return QDir(packageDirPath);
}

QFileInfo cPackage::GetPartNCProgram() const
{
    return partNCProgramPath.isEmpty() ? QFileInfo() : QFileInfo(partNCProgramPath);
}

QFileInfo cPackage::GetPartCONVProgram() const
{
    return partCONVProgramPath.isEmpty() ? QFileInfo() : QFileInfo(partCONVProgramPath);
}

bool cPackage::IsTutorialPackage() const
{
    // A manifest that has neither read nor computed a size is not a tutorial's.
    return manifest && manifest->HasKnownPackageSize() && manifest->GetPackageSizeInBytes() == 0;
}

bool cPackage::IsFromPartsPath(const QString &folder) const
{
    QString programFolder;
    if (!partNCProgramPath.isEmpty())
        programFolder = QFileInfo(partNCProgramPath).absolutePath();
    else if (!partCONVProgramPath.isEmpty())
        programFolder = QFileInfo(partCONVProgramPath).absolutePath();
    else {
        const QDir decoded = GetPartDirFromPackageUID(packageUID);
        if (decoded == QDir(QString()))
            return false;
        programFolder = decoded.absolutePath();
    }
    return QDir(folder).absolutePath() == programFolder;
}
