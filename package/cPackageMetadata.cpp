#include "cPackage.h"

#include "MetadataGenerator.h"
#include "media/Thumbnails.h"
#include "platform/PlatformFiles.h"

#include <QLoggingCategory>
#include <QMutexLocker>

#include <limits>

// The overview picture and the statistics, tools and history pages.

Q_LOGGING_CATEGORY(lcPackageMetadata, "packagemanager.package.metadata", QtWarningMsg)

namespace {

// The package's file for a name pattern, found whatever the case of its name (the name as
// the pattern gives it when there is no such file yet), with what one stat tells of it.
struct PackageFileState
{
    QString path; // empty for a name that is not a plain file name
    Platform::FileFacts facts;

    QFileInfo Info() const { return path.isEmpty() ? QFileInfo() : QFileInfo(path); }
    bool MissingOrEmpty() const { return !facts.exists || facts.size == 0; }
};

PackageFileState PackageFile(const QString &packageDirPath, const QString &fileName)
{
    PackageFileState file;
    if (!Platform::IsPlainFileName(fileName))
        return file;
    file.path = packageDirPath + QLatin1Char('/') + fileName;
    file.facts = Platform::FactsOf(file.path);
    if (!file.facts.exists) {
        const QString existing = Platform::FindEntryNoCase(packageDirPath, fileName);
        if (!existing.isEmpty() && existing != fileName) {
            file.path = packageDirPath + QLatin1Char('/') + existing;
            file.facts = Platform::FactsOf(file.path);
        }
    }
    return file;
}

bool ExistsAfresh(const QFileInfo &file)
{
    return !file.filePath().isEmpty() && QFileInfo::exists(file.absoluteFilePath());
}

// The file of a manifest entry, when it lies in this package's folder.
QFileInfo EntryFile(const cManifestItem *item, const QString &packageDirPath)
{
    if (!item)
        return QFileInfo();
    const QFileInfo file = item->GetFileInfo();
    if (file.fileName().isEmpty() || QDir::cleanPath(file.absolutePath()) != QDir::cleanPath(packageDirPath)) {
        qCWarning(lcPackageMetadata) << "entry outside the package folder:" << file.filePath();
        return QFileInfo();
    }
    return file;
}

} // namespace

bool cPackage::GenerateOverviewFile()
{
    const PackageFileState overview = PackageFile(packageDirPath, QStringLiteral("%1.gif").arg(packageName));
    if (overview.path.isEmpty())
        return false;
    if (!overview.MissingOrEmpty())
        return false;
    return ReplaceWithUndeterminedRendering(overview.Info());
}

bool cPackage::GenerateStatsFile()
{
    const PackageFileState page = PackageFile(packageDirPath, QStringLiteral("%1.stats.html").arg(packageName));
    if (page.path.isEmpty())
        return false;
    // An empty page (left by an interrupted writer) is as good as none.
    if (!page.MissingOrEmpty())
        return true;
    if (metadataGenerator)
        metadataGenerator->CreateBlankStatsFile(packageName, page.Info());
    return ExistsAfresh(page.Info());
}

bool cPackage::GenerateToolsFile()
{
    const PackageFileState page = PackageFile(packageDirPath, QStringLiteral("%1.tools.html").arg(packageName));
    if (page.path.isEmpty())
        return false;
    const QString programName = QFileInfo(partNCProgramPath).fileName();
    bool written = false;
    if (!programName.isEmpty() && metadataGenerator) {
        const PackageFileState program = PackageFile(packageDirPath, programName);
        // A page that does not exist (or is empty) counts as older than any existing program.
        if (program.facts.isFile && (page.MissingOrEmpty() || page.facts.modifiedUtc < program.facts.modifiedUtc)) {
            metadataGenerator->UpdateToolsFile(packageName, page.Info(), program.Info());
            // A program dated in the future would otherwise have its page remade at every pass.
            Platform::KeepModTimeNotBefore(page.path, program.facts.modifiedUtc);
            written = true;
        }
    }
    return written ? ExistsAfresh(page.Info()) : page.facts.exists;
}

bool cPackage::GenerateHistoryFile()
{
    const PackageFileState page = PackageFile(packageDirPath, QStringLiteral("%1.history.html").arg(packageName));
    if (page.path.isEmpty())
        return false;
    if (!page.MissingOrEmpty())
        return true;
    if (metadataGenerator)
        metadataGenerator->CreateBlankHistoryFile(packageName, page.Info());
    return ExistsAfresh(page.Info());
}

bool cPackage::GenerateEssentialMetadataFiles()
{
    // All four always run.
    const bool overview = GenerateOverviewFile();
    const bool stats = GenerateStatsFile();
    const bool tools = GenerateToolsFile();
    const bool history = GenerateHistoryFile();
    return overview || stats || tools || history;
}

bool cPackage::UpdateStatsFile(unsigned int count)
{
    QMutexLocker locker(lock.get());
    if (!metadataGenerator || !manifest)
        return false;
    // The generator counts in int; a larger count must not turn negative.
    if (count > unsigned(std::numeric_limits<int>::max()))
        return false;
    const QFileInfo page = EntryFile(manifest->GetManifestItem(Stats), packageDirPath);
    if (page.fileName().isEmpty())
        return false;
    return metadataGenerator->UpdateStatsFile(page, int(count));
}

bool cPackage::UpdateToolInfo()
{
    QMutexLocker locker(lock.get());
    if (!metadataGenerator || !manifest)
        return false;
    const QFileInfo page = EntryFile(manifest->GetManifestItem(Tools), packageDirPath);
    const QFileInfo program = EntryFile(manifest->GetManifestItem(NCProgram), packageDirPath);
    if (page.fileName().isEmpty() || program.fileName().isEmpty())
        return false;
    return metadataGenerator->UpdateToolInfo(page, program);
}

bool cPackage::UpdateHistoryFile(eHistoricalEvent event, const QString &text, const QString &note)
{
    Q_UNUSED(note) // accepted for the host's sake; the page records the text only
    QMutexLocker locker(lock.get());
    if (!metadataGenerator || !manifest)
        return false;
    const QFileInfo page = EntryFile(manifest->GetManifestItem(History), packageDirPath);
    if (page.fileName().isEmpty())
        return false;
    return metadataGenerator->UpdateHistoryFile(page, event, text);
}

bool cPackage::CreateDiffFile()
{
    QMutexLocker locker(lock.get());
    return false;
}
