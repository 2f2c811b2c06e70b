#include "registry/PackageScanThread.h"

#include "cPackage.h"
#include "platform/FolderListing.h"
#include "platform/PlatformFiles.h"
#include "platform/RegularFiles.h"
#include "package/PackageLock.h"
#include "programs/PartPrograms.h"
#include "registry/FolderRemoval.h"
#include "registry/PackageUID.h"
#include "registry/PartsFolderIndex.h"
#include "registry/cSharedPackageMap.h"

#include <QDateTime>
#include <QLoggingCategory>
#include <QMutexLocker>

#include <atomic>
#include <functional>
#include <future>
#include <thread>

Q_LOGGING_CATEGORY(lcScan, "packagemanager.registry.scan", QtWarningMsg)

namespace {

// New packages are written without a flush per file (everything in them can be made again
// from the parts folder) and flushed together: after this many, and at the end of the pass.
// The flush of one batch runs beside the making of the next, so that the disk and the
// processor work at once; the pass waits only for the last batch.
constexpr int NewPackagesPerFlush = 250;

// A package folder name longer than this cannot be made on the file systems we serve.
constexpr int MaxFolderNameBytes = 255;
// A folder with nothing of value in it, and a temporary file, are removed only once they are
// this old: another process may be setting the package up or writing the file right now.
constexpr qint64 LeftoverAgeSeconds = 3600;

// The extensions a package recognises as its program: "NAME", "NAME.NC", "NAME.CNV".
bool HasProgramSuffix(const QFileInfo &file)
{
    const QString suffix = file.suffix().toUpper();
    return suffix.isEmpty() || suffix == QLatin1String("NC") || suffix == QLatin1String("CNV");
}

// Nothing but this library's own files: its lock and temporary files.
bool HoldsNothingOfValue(const Platform::FolderListing &content)
{
    for (const Platform::FolderListing::Entry &entry : content.Entries()) {
        if (entry.kind != Platform::FolderListing::File || !Platform::IsOwnBookkeepingName(entry.name))
            return false;
    }
    return true;
}

bool IsOlderThan(const QString &path, qint64 seconds)
{
    const QDateTime modified = QFileInfo(path).lastModified();
    return modified.isValid() && modified.secsTo(QDateTime::currentDateTime()) > seconds;
}

// What a killed video run left in the temporary folder: its work folders and temporaries.
void RemoveStaleVideoWork()
{
    const QString temp = Platform::TempDir();
    Platform::RemoveStaleTemporaryFiles(temp, LeftoverAgeSeconds);
    const Platform::FolderListing listing = Platform::FolderListing::Read(temp);
    for (const Platform::FolderListing::Entry &entry : listing.Entries()) {
        const QString path = temp + QLatin1Char('/') + entry.name;
        if (entry.kind == Platform::FolderListing::Folder && entry.name.startsWith(QLatin1String("request-")) &&
            IsOlderThan(path, LeftoverAgeSeconds))
            RemoveFolder(QFileInfo(path));
    }
}

bool LooksLikePackage(const Platform::FolderListing &content, const QString &programName)
{
    for (const Platform::FolderListing::Entry &entry : content.Matching(QStringLiteral("manifest.xml"))) {
        if (entry.kind == Platform::FolderListing::File)
            return true;
    }
    return HoldsProgramNamed(content, programName);
}

} // namespace

// A QDir of its own (built from the path, not copied): the worker must not share the
// registry's QDir private data, whose caches are filled lazily.
PackageScanThread::PackageScanThread(const QDir &root, QObject *parent)
    : QThread(parent), packageRoot(root.absolutePath())
{}

PackageScanThread::~PackageScanThread()
{
    requestInterruption();
    wait();
    // Taking the mutex once more orders the worker's last writes before the members go, for
    // ThreadSanitizer too, which does not see inside QThread::wait.
    QMutexLocker locker(&mutex);
    lastReport = tPackageScanReport();
}

bool PackageScanThread::StartScan(const QStringList &partsFolders, cSharedPackageMap *map)
{
    QMutexLocker locker(&mutex);
    // A refused request changes nothing, so the pass under way keeps its own folders.
    if (isRunning() && !passFinished)
        return false;
    // The last pass has announced its end but may still be returning from run().
    wait();
    scanFolders = partsFolders;
    sharedMap = map;
    passFinished = false;
    if (map)
        map->BeginPass();
    start(QThread::InheritPriority);
    return true;
}

tPackageScanReport PackageScanThread::LastReport() const
{
    QMutexLocker locker(&mutex);
    return lastReport;
}

void PackageScanThread::run()
{
    QStringList folders;
    cSharedPackageMap *map = nullptr;
    {
        QMutexLocker locker(&mutex);
        folders = scanFolders;
        map = sharedMap;
    }

    tPackageScanReport report;
    uint numPackages = 0;
    if (map) {
        // Each parts folder is resolved once in a pass, however many packages name it.
        Platform::ResolveCacheScope resolveEachFolderOnce;
        // ... and listed once, however many files share it.
        Platform::FolderIndexScope listEachFolderOnce;
        PartsFolderIndex index;
        // Only packages filed before the pass began are judged at its end: one that the host
        // filed meanwhile (a move whose program it renames next) has not had its chance.
        const QMap<QString, cPackage *> before = map->Snapshot();
        if (!settledStates)
            TakeUpSettledStates(before);
        const QList<QFileInfo> programs = CollectProgramFiles(folders, &report);
        // Programs without a package are made after the others, grouped by identifier
        // ("PLATE.NC" and "PLATE.CNV" share one), on two threads where the process may use
        // two cores: making a package is processor work, reading, drawing and writing.
        QList<QList<QFileInfo>> newPrograms;
        QHash<QString, int> groupOfUID;
        QSet<const cPackage *> holdingCopies;
        for (const QFileInfo &program : programs) {
            if (isInterruptionRequested())
                break;
            const tPackageUID packageUID = PackageUID::ForProgramFile(program);
            cPackage *package = map->GetPackage(packageUID);
            if (!package) {
                const auto group = groupOfUID.constFind(packageUID);
                if (group == groupOfUID.cend()) {
                    groupOfUID.insert(packageUID, int(newPrograms.size()));
                    newPrograms.append({program});
                } else {
                    newPrograms[*group].append(program);
                }
                continue;
            }
            if (MaintainPackage(packageUID, package, program, map))
                holdingCopies.insert(package);
        }
        MakeNewPackages(newPrograms, map, resolveEachFolderOnce, listEachFolderOnce, &holdingCopies);
        if (!programs.isEmpty())
            numPackages = uint(map->Count()); // as the programs left it, before the tidying
        if (!isInterruptionRequested()) {
            TidyPackagesRoot(map, before, index, holdingCopies, &report);
            RemoveStaleVideoWork();
            KeepSettledStates(map);
        }
        qCInfo(lcScan) << "pass over" << folders.size() << "folders:" << programs.size() << "programs," << numPackages
                       << "packages," << report.keptUnreachable << "kept unreachable";
    }

    {
        QMutexLocker locker(&mutex);
        lastReport = report;
        passFinished = true;
    }
    Q_EMIT PackageScanCompleted(numPackages);
}

void PackageScanThread::TakeUpSettledStates(const QMap<QString, cPackage *> &packages)
{
    settledStates.emplace(packageRoot.absolutePath());
    const SettledStates::tStates states = settledStates->Load();
    if (states.isEmpty())
        return;
    for (auto it = packages.cbegin(); it != packages.cend(); ++it) {
        const auto state = states.constFind(SettledStates::KeyOf(it.key()));
        if (state != states.cend() && it.value()->settledState == 0)
            it.value()->settledState = *state;
    }
}

void PackageScanThread::KeepSettledStates(cSharedPackageMap *map)
{
    // Only this thread sets the states; the packages filed now outlive the pass.
    const QList<std::pair<QString, cPackage *>> packages = map->Entries();
    SettledStates::tStates states;
    states.reserve(packages.size());
    for (const auto &[uid, package] : packages) {
        if (package->settledState != 0)
            states.insert(SettledStates::KeyOf(uid), package->settledState);
    }
    settledStates->Save(states);
}

QList<QFileInfo> PackageScanThread::CollectProgramFiles(const QStringList &folders, tPackageScanReport *report)
{
    QList<QFileInfo> programs;
    QSet<QString> listed;
    QHash<QString, QString> ncProgramByUID; // one NC program per identifier
    for (const QString &folder : folders) {
        // An empty text would name the working folder; a folder named twice is listed once.
        if (folder.isEmpty())
            continue;
        const QDir dir(folder);
        const QString path = QDir::cleanPath(dir.absolutePath());
        if (listed.contains(path))
            continue;
        listed.insert(path);
        const Platform::FolderListing listing = Platform::ListingInScope(path);
        if (!listing.IsReadable()) {
            if (dir.exists())
                NoteOnce(path, QStringLiteral("cannot read the parts folder"));
            continue;
        }

        // A folder whose identifier resolves to another folder (one that differs only in
        // letter case) cannot keep packages of its own.
        const QString folderKeyUID = PackageUID::ForProgramInFolder(path, QStringLiteral("X"));
        const bool folderRoundTrips = PackageUID::RoundTrips(path, QStringLiteral("X"));
        const bool folderResolves =
            folderRoundTrips && QDir::cleanPath(PackageUID::ResolvedPartsFolder(folderKeyUID)) == path;

        for (const Platform::FolderListing::Entry &entry : listing.Entries()) {
            if (entry.kind == Platform::FolderListing::Folder || entry.name.startsWith(QLatin1Char('.')))
                continue;
            const QFileInfo file(path + QLatin1Char('/') + entry.name);
            if (entry.kind != Platform::FolderListing::File &&
                !(entry.kind == Platform::FolderListing::Link && file.isFile()))
                continue;
            if (!IsPartProgramFile(file))
                continue;
            if (!HasProgramSuffix(file) && listing.Contains(file.fileName() + QLatin1String(".CNV")))
                continue; // "PART.V2" is the NC half of "PART.V2.CNV"'s package
            if (!HasProgramSuffix(file)) {
                Skip(file.filePath(), QStringLiteral("the extension is not one of a program (none, .NC, .CNV)"),
                     report);
                continue;
            }
            // "\" is a separator where the packages live on the control.
            if (!folderRoundTrips || !PackageUID::RoundTrips(path, file.completeBaseName()) ||
                !Platform::IsPlainFileName(file.fileName())) {
                Skip(file.filePath(),
                     QStringLiteral("an identifier cannot carry the name or folder (\"^\", \",\" or \"!\")"), report);
                continue;
            }
            if (!folderResolves) {
                Skip(file.filePath(), QStringLiteral("another folder differs from this one only in letter case"),
                     report);
                continue;
            }
            const QString uid = PackageUID::ForProgramFile(file);
            if (QFile::encodeName(uid + QLatin1String(".pkg")).size() > MaxFolderNameBytes) {
                Skip(file.filePath(), QStringLiteral("the identifier is too long for a folder name"), report);
                continue;
            }
            // "PLATE.NC" and "PLATE.CNV" share a package; "PLATE.NC" and "plate.nc" cannot.
            const bool conversational = Platform::SameNameNoCase(file.suffix(), QStringLiteral("CNV"));
            if (!conversational) {
                const auto earlier = ncProgramByUID.constFind(uid);
                if (earlier != ncProgramByUID.cend() && *earlier != file.fileName()) {
                    Skip(file.filePath(),
                         QStringLiteral("another program has the same identifier (") + *earlier + QLatin1Char(')'),
                         report);
                    continue;
                }
                ncProgramByUID.insert(uid, file.fileName());
            }
            programs.append(file);
        }
    }
    return programs;
}

void PackageScanThread::Skip(const QString &path, const QString &reason, tPackageScanReport *report)
{
    report->skippedFiles.append(path + QLatin1String(": ") + reason);
    NoteOnce(path, QStringLiteral("no package: ") + reason);
}

void PackageScanThread::NoteOnce(const QString &path, const QString &what)
{
    const QMutexLocker locker(&notesMutex);
    if (noted.contains(path))
        return;
    noted.insert(path);
    qCWarning(lcScan).noquote() << what << QLatin1String("--") << path;
}

cPackage *PackageScanThread::CreatePackage(const tPackageUID &packageUID, const QFileInfo &program,
                                           cSharedPackageMap *map, bool *madeFolder)
{
    *madeFolder = false;
    // The listing may be older than the host's last removal or move, or than the program.
    if (map->IsGoneByHost(packageUID) || !QFileInfo::exists(program.absoluteFilePath()))
        return nullptr;
    // Two threads make packages at once: each call has a QDir of its own.
    const QDir root(packageRoot.path());
    const QString folderName = QStringLiteral("%1.pkg").arg(packageUID);
    const bool made = root.mkdir(folderName); // fails, and makes nothing, when the root is missing
    const QString folder = root.absoluteFilePath(folderName);
    if (!made && QFileInfo(folder).isSymLink() && !Platform::IsRealFolder(folder)) {
        NoteOnce(folder, QStringLiteral("a package folder that is a link is not registered"));
        return nullptr; // every write of the package would land outside the root
    }
    auto *package = made ? new cPackage(QFileInfo(folder), program, cPackage::FolderJustMade())
                         : new cPackage(QFileInfo(folder), program);
    if (map->AdoptIfAbsent(packageUID, package)) {
        *madeFolder = made;
        Q_EMIT PackageAdded(packageUID);
        return package;
    }
    // The host filed this identifier meanwhile; nobody has seen our object.
    delete package;
    return map->GetPackage(packageUID);
}

void PackageScanThread::MakeNewPackages(const QList<QList<QFileInfo>> &newPrograms, cSharedPackageMap *map,
                                        Platform::ResolveCacheScope &resolveScope,
                                        Platform::FolderIndexScope &listingScope, QSet<const cPackage *> *holdingCopies)
{
    const QString rootPath = packageRoot.absolutePath();
    std::atomic<int> nextGroup{0};
    std::atomic<int> made{0};

    // Takes groups until none is left; returns the packages whose listed copy it found.
    const auto makeGroups = [&](const std::function<void()> &afterEachGroup) {
        QSet<const cPackage *> holding;
        for (int i = nextGroup++; i < newPrograms.size() && !isInterruptionRequested(); i = nextGroup++) {
            for (const QFileInfo &program : newPrograms.at(i)) {
                const tPackageUID packageUID = PackageUID::ForProgramFile(program);
                cPackage *package = map->GetPackage(packageUID);
                bool madeFolder = false;
                if (!package) {
                    package = CreatePackage(packageUID, program, map, &madeFolder);
                    made += package ? 1 : 0;
                }
                if (package && MaintainPackage(packageUID, package, program, map, madeFolder))
                    holding.insert(package);
            }
            afterEachGroup();
        }
        return holding;
    };

    QSet<const cPackage *> helperHolding;
    std::thread helper;
    if (newPrograms.size() > 1 && QThread::idealThreadCount() > 1) {
        helper = std::thread([&] {
            const Platform::ResolveCacheScope sharedResolutions(resolveScope);
            const Platform::FolderIndexScope sharedListings(listingScope);
            helperHolding = makeGroups([] {});
        });
    }

    // This thread also starts the flushes: after every batch, one at a time, beside the work.
    std::future<void> flushing;
    int flushedUpTo = 0;
    *holdingCopies += makeGroups([&] {
        if (made - flushedUpTo < NewPackagesPerFlush)
            return;
        if (flushing.valid())
            flushing.wait();
        flushedUpTo = made;
        flushing = std::async(std::launch::async, Platform::FlushFileSystemOf, rootPath);
    });
    if (helper.joinable())
        helper.join();
    *holdingCopies += helperHolding;
    if (flushing.valid())
        flushing.wait();
    if (made > flushedUpTo)
        Platform::FlushFileSystemOf(rootPath);
}

bool PackageScanThread::MaintainPackage(const tPackageUID &packageUID, cPackage *package, const QFileInfo &program,
                                        cSharedPackageMap *map, bool inNewFolder)
{
    bool holdsListedCopy = false;
    quint64 stateBefore = 0;
    QStringList filesBefore;
    {
        // Telling whether anything changed only reads: other processes need not wait for
        // it. One that changes the package meanwhile changes its state, which the next pass
        // sees.
        const std::lock_guard<std::recursive_mutex> locker(package->Lock().InProcess());
        // The host may have removed or re-filed the package since it was looked up.
        if (map->GetPackage(packageUID) != package || package->IsTutorialPackage())
            return false;
        package->FollowPartProgram(program);
        // In a folder this pass made, everything is written now and maintained once more in
        // the next pass: its state tells nothing yet.
        if (!inNewFolder) {
            stateBefore = package->MaintenanceState(&holdsListedCopy, &filesBefore);
            if (stateBefore != 0 && stateBefore == package->settledState)
                return holdsListedCopy;
        }
    }
    QString folder;
    bool done = true;
    {
        QMutexLocker locker(&package->Lock());
        if (map->GetPackage(packageUID) != package || package->IsTutorialPackage())
            return false;
        // A folder this pass made holds no media yet and no leftover of an earlier writer:
        // its copy, pages and manifest are made under the same lock.
        if (inNewFolder) {
            (void)package->FillNewFolder();
            package->settledState = 0;
            return false; // not filed before the pass: its fate is not judged at the end
        }
        done = package->SynchronizePartFiles(cPackage::PartsFilePriority);
        folder = package->GetPackageDir().absolutePath();
    }
    // Thumbnails outside the lock, so that the host's calls on this package never wait for a
    // video; the manifest then finds them up to date. The files are those the state was taken
    // from: a file added since changes the state, and the next pass sees it.
    if (stateBefore != 0)
        cPackage::UpdateThumbsIn(folder, filesBefore);
    else
        cPackage::UpdateThumbsIn(folder);
    QMutexLocker locker(&package->Lock());
    if (map->GetPackage(packageUID) != package || package->GetPackageDir().absolutePath() != folder)
        return false;
    package->GenerateEssentialMetadataFiles();
    done = package->GenerateFullModeManifestFile() && done;
    // Only a folder that held one of our temporary files has old ones to sweep.
    if (stateBefore == 0)
        Platform::RemoveStaleTemporaryFiles(folder, LeftoverAgeSeconds);
    // Settled when this maintenance found nothing to change; a package it changed is
    // maintained once more in the next pass, which should find it settled. (Settling at the
    // state it started from would not do: a file it restored and someone removed again
    // brings the folder back to that state.)
    const quint64 stateAfter = package->MaintenanceState(&holdsListedCopy);
    package->settledState = done && stateAfter == stateBefore ? stateAfter : 0;
    return holdsListedCopy;
}

void PackageScanThread::TidyPackagesRoot(cSharedPackageMap *map, const QMap<QString, cPackage *> &before,
                                         PartsFolderIndex &index, const QSet<const cPackage *> &holdingCopies,
                                         tPackageScanReport *report)
{
    const QString rootPath = packageRoot.absolutePath();
    const Platform::FolderListing root = Platform::FolderListing::Read(rootPath);
    // A root that cannot be read, or that holds nothing at all while packages are known (a
    // share not mounted), tells nothing about any package.
    if (!root.IsReadable() || (root.IsEmpty() && !before.isEmpty())) {
        qCWarning(lcScan) << "cannot read the packages root; keeping all" << before.size() << "packages:" << rootPath;
        report->keptUnreachable += uint(before.size());
        report->unreachableFolders.append(rootPath);
        return;
    }
    RemoveStalePackages(map, before, index, holdingCopies, report);
    if (!isInterruptionRequested())
        AdoptUnknownFolders(map, root);
}

PackageScanThread::eVerdict PackageScanThread::JudgePackage(const tPackageUID &packageUID, cPackage *package,
                                                            PartsFolderIndex &index, QString *unreachable) const
{
    const QString folder = package->GetPackageDir().absolutePath();
    const QFileInfo folderInfo(folder);
    if (!folderInfo.exists() && !folderInfo.isSymLink()) {
        // Another process removed or moved it; unless the root itself just went away.
        if (QFileInfo(packageRoot.absolutePath()).isDir())
            return eVerdict::Vanished;
        *unreachable = packageRoot.absolutePath();
        return eVerdict::Unreachable;
    }
    bool readable = false;
    bool listed = false;
    if (package->HoldsProgramCopy(&readable, &listed)) {
        // A manifest lost to an interrupted write (or left naming the program's old name by
        // an interrupted import) lists the copy again.
        return listed || package->IsTutorialPackage() ? eVerdict::Keep : eVerdict::Repair;
    }
    if (!readable) {
        *unreachable = folder;
        return eVerdict::Unreachable;
    }
    const QString programName = PackageUID::ProgramName(packageUID);
    const QString parts = index.FolderOf(packageUID);
    if (parts.isEmpty()) {
        *unreachable = PackageUID::PartsFolderKey(packageUID);
        return eVerdict::Unreachable;
    }
    const Platform::FolderListing &listing = index.ListingOf(parts);
    if (!listing.IsReadable() || listing.IsEmpty()) {
        *unreachable = parts;
        return eVerdict::Unreachable;
    }
    if (HoldsProgramNamed(listing, programName))
        return eVerdict::Keep;
    // The pass's listing says the program is gone: look again before acting on it.
    const Platform::FolderListing now = Platform::FolderListing::Read(parts);
    if (!now.IsReadable() || now.IsEmpty()) {
        *unreachable = parts;
        return eVerdict::Unreachable;
    }
    return HoldsProgramNamed(now, programName) ? eVerdict::Keep : eVerdict::Gone;
}

void PackageScanThread::RemoveStalePackages(cSharedPackageMap *map, const QMap<QString, cPackage *> &before,
                                            PartsFolderIndex &index, const QSet<const cPackage *> &holdingCopies,
                                            tPackageScanReport *report)
{
    // Pointers from the map stay valid for the whole pass: only this thread drops packages,
    // and a package removed by the host is still owned by the map.
    bool anyDropped = false;
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (isInterruptionRequested())
            break;
        const tPackageUID &packageUID = it.key();
        cPackage *package = it.value();
        // Its maintenance in this pass listed its folder and found the copy the manifest
        // names: kept, without a second look (only a verdict to drop asks again).
        if (holdingCopies.contains(package))
            continue;
        QString unreachable;
        eVerdict verdict = eVerdict::Keep;
        {
            // Judging only reads: other processes need not wait for it.
            const std::lock_guard<std::recursive_mutex> locker(package->Lock().InProcess());
            if (map->GetPackage(packageUID) != package)
                continue;
            verdict = JudgePackage(packageUID, package, index, &unreachable);
        }
        if (verdict == eVerdict::Repair || verdict == eVerdict::Gone) {
            // Acting on it waits for any process working on the package, then judges again.
            QMutexLocker locker(&package->Lock());
            if (map->GetPackage(packageUID) != package)
                continue;
            verdict = JudgePackage(packageUID, package, index, &unreachable);
            if (verdict == eVerdict::Repair) {
                package->GenerateFullModeManifestFile();
                verdict = eVerdict::Keep;
            } else if (verdict == eVerdict::Gone) {
                // The folder leaves its place in one step before the package is dropped; when
                // it cannot, the package stays as it is.
                const QString aside = MoveFolderAside(package->GetPackageDir().absolutePath());
                if (aside.isEmpty()) {
                    qCWarning(lcScan) << "cannot remove the folder of" << packageUID << "whose program is gone";
                    verdict = eVerdict::Keep;
                } else {
                    package->Lock().ReleaseAcrossProcesses(); // a share keeps a folder with an open file
                    if (!RemoveFolder(QFileInfo(aside)))
                        qCWarning(lcScan) << "left part of" << aside << "for a later pass";
                }
            }
        }

        if (verdict == eVerdict::Unreachable) {
            ++report->keptUnreachable;
            if (!report->unreachableFolders.contains(unreachable))
                report->unreachableFolders.append(unreachable);
            NoteOnce(unreachable, QStringLiteral("cannot read a folder; keeping the packages that depend on it"));
            continue;
        }
        if (verdict == eVerdict::Keep || !map->RemoveIfFiled(packageUID, package))
            continue;
        qCInfo(lcScan) << (verdict == eVerdict::Gone ? "removed" : "forgot vanished") << "package" << packageUID;
        Q_EMIT PackageDeleted(packageUID);
        map->Drop(package);
        anyDropped = true;
    }
    // Queued behind the PackageDeleted events: the host's handlers and the lookup maps are
    // done with the dropped packages before they are destroyed.
    if (anyDropped)
        Q_EMIT PackagesDropped();
}

void PackageScanThread::AdoptUnknownFolders(cSharedPackageMap *map, const Platform::FolderListing &root)
{
    const QString rootPath = packageRoot.absolutePath();
    for (const Platform::FolderListing::Entry &entry : root.Entries()) {
        if (isInterruptionRequested())
            return;
        const QString path = rootPath + QLatin1Char('/') + entry.name;
        if (entry.name.startsWith(QLatin1Char('.'))) {
            // What an interrupted removal left behind.
            if (entry.kind == Platform::FolderListing::Folder && IsFolderSetAside(entry.name))
                RemoveFolder(QFileInfo(path));
            continue;
        }
        if (!Platform::EndsWithNoCase(entry.name, QLatin1String(".pkg")))
            continue;
        if (entry.kind == Platform::FolderListing::Link) {
            NoteOnce(path, QStringLiteral("a package folder that is a link is not registered"));
            continue;
        }
        if (entry.kind != Platform::FolderListing::Folder)
            continue;
        const QString key = QFileInfo(entry.name).completeBaseName().toUpper();
        if (map->Contains(key))
            continue;

        const Platform::FolderListing content = Platform::FolderListing::Read(path);
        if (!content.IsReadable())
            continue;
        if (LooksLikePackage(content, PackageUID::ProgramName(key))) {
            // Made, moved, copied or imported by another process: registered as the start-up
            // scan would register it; from now on the rules above decide its fate.
            auto *package = new cPackage(key, QDir(path), QDir(QString()));
            {
                QMutexLocker locker(&package->Lock());
                if (!package->IsTutorialPackage())
                    package->SearchForPartProgramsInPackageFolder();
            }
            if (!map->AdoptIfUnclaimed(key, package)) {
                delete package; // a host operation of this process is setting it up
                continue;
            }
            qCInfo(lcScan) << "adopted package folder" << entry.name;
            Q_EMIT PackageAdded(key);
        } else if (HoldsNothingOfValue(content) && IsOlderThan(path, LeftoverAgeSeconds)) {
            if (map->RemoveFolderIfUnclaimed(key, QFileInfo(path)))
                qCInfo(lcScan) << "removed abandoned package folder" << entry.name;
        } else {
            NoteOnce(path, QStringLiteral("left alone: a folder that holds neither a manifest nor a program"));
        }
    }
}
