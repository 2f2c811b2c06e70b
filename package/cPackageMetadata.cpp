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

// The package's file for a name pattern, found whatever the case of its name; the name as
// the pattern gives it when there is no such file yet.
QFileInfo PackageFile(const QString &packageDirPath, const QString &fileName)
{
    if (!Platform::IsPlainFileName(fileName))
        return QFileInfo();
    const QString existing = Platform::FindEntryNoCase(packageDirPath, fileName);
    return QFileInfo(packageDirPath + QLatin1Char('/') + (existing.isEmpty() ? fileName : existing));
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
    const QFileInfo overview = PackageFile(packageDirPath, QStringLiteral("%1.gif").arg(packageName));
    if (overview.filePath().isEmpty())
        return false;
    if (overview.exists() && overview.size() > 0)
        return false;
    return ReplaceWithUndeterminedRendering(overview);
}

bool cPackage::GenerateStatsFile()
{
    const QFileInfo page = PackageFile(packageDirPath, QStringLiteral("%1.stats.html").arg(packageName));
    if (page.filePath().isEmpty())
        return false;
    // An empty page (left by an interrupted writer) is as good as none.
    if ((!page.exists() || page.size() == 0) && metadataGenerator)
        metadataGenerator->CreateBlankStatsFile(packageName, page);
    return ExistsAfresh(page);
}

bool cPackage::GenerateToolsFile()
{
    const QFileInfo page = PackageFile(packageDirPath, QStringLiteral("%1.tools.html").arg(packageName));
    if (page.filePath().isEmpty())
        return false;
    const QString programName = QFileInfo(partNCProgramPath).fileName();
    if (!programName.isEmpty() && metadataGenerator) {
        const QFileInfo program = PackageFile(packageDirPath, programName);
        // A page that does not exist (or is empty) counts as older than any existing program.
        if (program.isFile() && (!page.exists() || page.size() == 0 || page.lastModified() < program.lastModified()))
            metadataGenerator->UpdateToolsFile(packageName, page, program);
    }
    return ExistsAfresh(page);
}

bool cPackage::GenerateHistoryFile()
{
    const QFileInfo page = PackageFile(packageDirPath, QStringLiteral("%1.history.html").arg(packageName));
    if (page.filePath().isEmpty())
        return false;
    if ((!page.exists() || page.size() == 0) && metadataGenerator)
        metadataGenerator->CreateBlankHistoryFile(packageName, page);
    return ExistsAfresh(page);
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
