#pragma once

#include "cManifest.h"
#include "cManifestItem.h"
#include "eHistoricalEvent.h"
#include "packagemanager_export.h"
#include "tPackageUID.h"

#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>

class MetadataGenerator;
struct ProgramReading;
class PackageLock;
class cPackageManager;
class PackageScanThread;

// One package folder "<identifier>.pkg": a copy of a part program and the files that
// document it. Copies of a package share its manifest, metadata generator and lock.
//
// Every public operation holds the package's lock, so the host's calls and the background
// scan's maintenance of the same package never run at the same time; operations that
// change the package's files hold it against other processes as well.
class PACKAGEMANAGER_EXPORT cPackage
{
    friend class cPackageManager;
    friend class PackageScanThread;
    friend struct cPackageTestAccess;

public:
    enum ePartFilePriority { PartsFilePriority = 0, PackageFilePriority = 1 };

    cPackage(const cPackage &other);
    cPackage &operator=(const cPackage &other);
    ~cPackage();

    QString GetPackageName() const;
    QString GetPackageUID() const;
    unsigned int GetPackageSize() const;
    unsigned int GetPackageSizeLimit() const;
    QFileInfo GetManifestFile() const;

    cManifestItem *GetManifestItem(eMetadataType type) const;
    QList<cManifestItem *> GetManifestItems(eMetadataType type) const;

    bool AddFileToPackage(const QFileInfo &file, const QString &author, const QString &comment,
                          const QString &targetName);
    bool RemoveFileFromPackage(const QString &fileName);

    bool UpdateStatsFile(unsigned int count);
    bool UpdateToolInfo();
    bool UpdateHistoryFile(eHistoricalEvent event, const QString &text, const QString &note);
    bool CreateDiffFile();

    bool HasNCProgram() const;
    bool HasCONVProgram() const;
    QFileInfo GetPgmFileInfo(eMetadataType type) const;
    QStringList GetPgmLines(int count, eMetadataType type) const;

protected:
    cPackage(const QFileInfo &packageFolder, const QFileInfo &partProgram);
    cPackage(const QString &packageUID, const QDir &packageFolder, const QDir &partsFolder);
    // For a folder the caller has just made for `partProgram`, which it found to exist:
    // the folder holds no manifest to read yet.
    struct FolderJustMade
    {
    };
    cPackage(const QFileInfo &packageFolder, const QFileInfo &partProgram, FolderJustMade);

    QDir GetPackageDir() const;
    bool IsTutorialPackage() const;
    bool IsFromPartsPath(const QString &folder) const;

    // Manifest binding
    bool ImportManifest();
    bool UpdateManifest();
    bool ExportManifest();
    bool GenerateManifestFile();
    bool OpenUpPackageToFullMode();
    // GenerateManifestFile and OpenUpPackageToFullMode with one write of the file.
    bool GenerateFullModeManifestFile();
    // The program copy, the pages and the manifest of a package whose folder the caller made
    // (no media yet), with one listing of the folder for their lookups. Under the lock.
    bool FillNewFolder();

    // Part-program synchronisation
    bool SynchronizePartFiles(ePartFilePriority priority);
    bool SearchForPartProgramsInPackageFolder();

    // Metadata files
    bool GenerateOverviewFile();
    bool GenerateStatsFile();
    bool GenerateToolsFile();
    bool GenerateHistoryFile();
    bool GenerateEssentialMetadataFiles();
    bool GenerateOverviewFile(ProgramReading &reading);
    bool GenerateToolsFile(const ProgramReading &reading);

    // Thumbnails
    bool UpdatePackageThumbs();
    // The same for a folder, without the package: slow work (a video runs an external tool
    // for up to half a minute) that the scan does outside the package's lock. Thumbnails
    // are written whole under their final names, so a reader never sees half of one.
    static bool UpdateThumbsIn(const QString &packageDirPath);
    // The same for the plain files `plainFiles` of a listing of the folder.
    static bool UpdateThumbsIn(const QString &packageDirPath, const QStringList &plainFiles);

    // Copy and move
    cPackage *MovePackage(const QString &newPackageUID);
    cPackage *CopyPackage(const QString &newPackageUID);

    // The lock that serialises work on this package (shared with its copies), among this
    // process's threads (a standard mutex, so that ThreadSanitizer sees it) and, at the
    // outermost level, among processes (see package/PackageLock.h).
    PackageLock &Lock() const { return *lock; }

    QFileInfo GetPartNCProgram() const;
    QFileInfo GetPartCONVProgram() const;

    // A package whose parts folder could not be resolved when it was made (a share mounted
    // later) learns its program from the first pass that meets it.
    void FollowPartProgram(const QFileInfo &partProgram);
    // Whether the package folder holds a copy of the program; `readable` is false when the
    // folder could not be read, which is no evidence either way; `listed` tells whether the
    // manifest names that copy.
    bool HoldsProgramCopy(bool *readable, bool *listed) const;
    // The files in the parts folder that removing the package deletes: those named as its
    // own copies ("NAME" or "NAME.NC", and "NAME.CNV", in any letter case). False when the
    // folder cannot be read or a name matches two files.
    bool FindPartProgramsToRemove(const QString &partsFolder, QStringList *paths) const;

    // What a scan's maintenance of the package depends on: its folder's entries with their
    // times and identities, its programs in the parts folder, its manifest as this process
    // holds it; 0 when that cannot be told (a folder that cannot be read, or that holds a
    // temporary file). `holdsListedCopy` tells whether the folder holds, as a plain file, a
    // program copy that the manifest names. Under the in-process lock.
    // `plainFiles`, when given, gets the names of the folder's plain files as listed.
    quint64 MaintenanceState(bool *holdsListedCopy, QStringList *plainFiles = nullptr) const;
    // The state the last maintenance found and left unchanged (0 for none): as long as the
    // state stays the same, maintaining it again would change nothing.
    quint64 settledState = 0;

private:
    static QString GetNameFromUID(const QString &packageUID);
    void SetFolder(const QFileInfo &packageFolder);
    // The manifest read again when the file changed, matched to the folder's files; not written.
    bool RefreshManifest();
    static QDir GetPartDirFromPackageUID(const QString &packageUID);

    bool AddPartProgramsToPackageFolder(const QFileInfo &file);
    bool AddFirstCopy(const QFileInfo &file);
    bool CopyPackageNCProgramToParts(const QFileInfo &file);
    bool CopyPackageConvProgramToParts(const QFileInfo &file);

    QFileInfo FindNCProgram(const QDir &folder) const;
    QFileInfo FindCONVProgram(const QDir &folder) const;

    // Sets the part-program fields from the package's own copies, looked up in partsFolder.
    void FindPartProgramsIn(const QDir &partsFolder);
    void CreateManifestAndGenerator();
    void SetPartProgramPaths(const QFileInfo &partProgram);

    std::shared_ptr<cManifest> manifest;
    std::shared_ptr<MetadataGenerator> metadataGenerator;
    std::shared_ptr<PackageLock> lock;
    tPackageUID packageUID;
    QString packageName;
    QString packageDirPath;      // absolute path of the package folder
    QString partNCProgramPath;   // absolute path in the parts folder; empty when none is known
    QString partCONVProgramPath; // likewise for the conversational program
};
