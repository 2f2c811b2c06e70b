#include "cPackage.h"

#include "package/PackageFolderListing_p.h"
#include "package/PackageLock.h"

#include "MetadataGenerator.h"
#include "ProgramPreview.h"
#include "media/Thumbnails.h"
#include "platform/AtomicFile.h"
#include "platform/FolderListing.h"
#include "platform/PlatformFiles.h"
#include "platform/RegularFiles.h"

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

} // namespace

// One reading of the NC program serves the overview picture, the tools page and the
// program's figures on the statistics page. It is read when it changed since the tools page
// was made, when the overview is missing, or when the overview is still the placeholder and
// no reading has found that there is nothing to draw.
struct ProgramReading
{
    QString programPath;
    bool changed = false;     // newer than the tools page (or no tools page yet)
    bool placeholder = false; // the overview is the placeholder, perhaps from before drawings
    bool read = false;
    ProgramFacts facts;
    // The overview and the tools page as the reading found them, so that the overview and
    // tools steps need not look again: the overview step looks before it writes, and no step
    // before the tools step writes that page.
    PackageFileState overview;
    PackageFileState page;
    bool overviewDrawn = false; // the overview step wrote a drawing
};

namespace {

PackageFileState PackageFile(const QString &packageDirPath, const QString &fileName)
{
    PackageFileState file;
    if (!Platform::IsPlainFileName(fileName))
        return file;
    file.path = packageDirPath + QLatin1Char('/') + fileName;
    file.facts = Platform::FactsOf(file.path);
    if (!file.facts.exists) {
        // Another spelling; one that has gone since the listing leaves the name as the
        // pattern gives it.
        const QString existing = PackageFolderListing::OtherSpelling(packageDirPath, fileName);
        if (!existing.isEmpty() && existing != fileName) {
            const QString other = packageDirPath + QLatin1Char('/') + existing;
            const Platform::FileFacts otherFacts = Platform::FactsOf(other);
            if (otherFacts.exists) {
                file.path = other;
                file.facts = otherFacts;
            }
        }
    }
    return file;
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

// Whether the overview holds the placeholder's bytes (as a package made before overviews
// were drawn does). Read only when the sizes match; a link is never followed.
bool IsPlaceholder(const PackageFileState &overview)
{
    constexpr qint64 maxPlaceholderSize = 1 << 20;
    qint64 size = 0;
    const QString source = PlaceholderOverviewSource(overview.Info(), &size);
    if (source.isEmpty() || size != overview.facts.size || size > maxPlaceholderSize)
        return false;
    QFile mine;
    QFile placeholder;
    if (!Platform::OpenRegularFile(mine, overview.path, Platform::LinkPolicy::Refuse) ||
        !Platform::OpenRegularFile(placeholder, source, Platform::LinkPolicy::Follow))
        return false;
    const QByteArray bytes = mine.read(size + 1);
    return bytes.size() == size && bytes == placeholder.read(size + 1);
}

// A placeholder overview with the tools page's time is one that a reading of the program
// found nothing to draw for: the mark that spares later passes reading the program again.
bool MarkedUndrawn(const PackageFileState &overview, const PackageFileState &page)
{
    return !page.MissingOrEmpty() && overview.facts.modifiedUtc == page.facts.modifiedUtc;
}

ProgramReading ReadProgramWhenNeeded(const QString &packageDirPath, const QString &packageName,
                                     const QString &partNCProgramPath)
{
    ProgramReading reading;
    reading.page = PackageFile(packageDirPath, QStringLiteral("%1.tools.html").arg(packageName));
    reading.overview = PackageFile(packageDirPath, QStringLiteral("%1.gif").arg(packageName));
    const PackageFileState &page = reading.page;
    const PackageFileState &overview = reading.overview;
    const QString programName = QFileInfo(partNCProgramPath).fileName();
    if (programName.isEmpty())
        return reading;
    const PackageFileState program = PackageFile(packageDirPath, programName);
    if (!program.facts.isFile)
        return reading;
    reading.programPath = program.path;
    // A page that does not exist (or is empty) counts as older than any existing program.
    reading.changed = page.MissingOrEmpty() || page.facts.modifiedUtc < program.facts.modifiedUtc;
    if (!reading.changed && !overview.MissingOrEmpty() && !MarkedUndrawn(overview, page))
        reading.placeholder = IsPlaceholder(overview);
    if (reading.changed || overview.MissingOrEmpty() || reading.placeholder) {
        reading.facts = ReadProgramFacts(program.path);
        reading.read = true;
    }
    return reading;
}

// The drawn toolpath for the overview, or nothing (then the placeholder serves).
QByteArray DrawnOverview(const ProgramReading &reading)
{
    return reading.read ? ProgramPreview::OverviewGif(reading.facts) : QByteArray();
}

// The overview is drawn again whenever it is missing or empty: not forced to disk.
bool WriteAtomically(const QString &path, const QByteArray &bytes)
{
    return Platform::WriteFileAtomically(path, bytes, Platform::Durability::NoSync);
}

} // namespace

bool cPackage::GenerateOverviewFile()
{
    ProgramReading reading = ReadProgramWhenNeeded(packageDirPath, packageName, partNCProgramPath);
    return GenerateOverviewFile(reading);
}

bool cPackage::GenerateOverviewFile(ProgramReading &reading)
{
    const PackageFileState &overview = reading.overview;
    if (overview.path.isEmpty())
        return false;
    // A rendering already there (the host's or ours) stays until the program changes; the
    // placeholder only until the program is found to have something to draw.
    if (!overview.MissingOrEmpty() && !reading.changed && !reading.placeholder)
        return false;
    const QByteArray drawn = DrawnOverview(reading);
    if (!drawn.isEmpty()) {
        reading.overviewDrawn = WriteAtomically(overview.path, drawn);
        return reading.overviewDrawn;
    }
    // A program without motion: the placeholder, also in place of an outdated drawing.
    if (!overview.MissingOrEmpty() && (!reading.read || reading.placeholder))
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
    // True once the page is in place, written now or found there.
    return metadataGenerator && metadataGenerator->CreateBlankStatsFile(packageName, page.Info());
}

bool cPackage::GenerateToolsFile()
{
    return GenerateToolsFile(ReadProgramWhenNeeded(packageDirPath, packageName, partNCProgramPath));
}

bool cPackage::GenerateToolsFile(const ProgramReading &reading)
{
    const PackageFileState &page = reading.page;
    if (page.path.isEmpty())
        return false;
    bool written = false;
    if (reading.changed && reading.read && metadataGenerator) {
        written =
            metadataGenerator->UpdateToolsFile(packageName, page.Info(), QFileInfo(reading.programPath), reading.facts);
        const PackageFileState stats = PackageFile(packageDirPath, QStringLiteral("%1.stats.html").arg(packageName));
        if (!stats.path.isEmpty())
            metadataGenerator->UpdateProgramFacts(stats.Info(), reading.facts);
    }
    // A page that could not be written again is still there.
    return written || page.facts.exists;
}

bool cPackage::GenerateHistoryFile()
{
    const PackageFileState page = PackageFile(packageDirPath, QStringLiteral("%1.history.html").arg(packageName));
    if (page.path.isEmpty())
        return false;
    if (!page.MissingOrEmpty())
        return true;
    return metadataGenerator && metadataGenerator->CreateBlankHistoryFile(packageName, page.Info());
}

namespace {

// After a reading, an overview that stayed the placeholder takes the tools page's time (see
// MarkedUndrawn). Only the time changes; a link is never followed.
void MarkUndrawnOverview(const QString &packageDirPath, const QString &packageName, const ProgramReading &reading)
{
    if (!reading.read || reading.overviewDrawn)
        return;
    const PackageFileState overview = PackageFile(packageDirPath, QStringLiteral("%1.gif").arg(packageName));
    const PackageFileState page = PackageFile(packageDirPath, QStringLiteral("%1.tools.html").arg(packageName));
    if (overview.MissingOrEmpty() || page.MissingOrEmpty() || MarkedUndrawn(overview, page) || !IsPlaceholder(overview))
        return;
    QFile file;
    if (!Platform::OpenRegularFile(file, overview.path, Platform::LinkPolicy::Refuse) ||
        !file.setFileTime(page.facts.modifiedUtc, QFileDevice::FileModificationTime))
        qCWarning(lcPackageMetadata) << "cannot mark the placeholder overview" << overview.path;
}

} // namespace

bool cPackage::GenerateEssentialMetadataFiles()
{
    // The package folder is listed once for the lookups of all four. The steps write only
    // under the names those lookups answer, and a name is tried as it is written before the
    // listing is asked, so the steps see each other's files; a file that another writer
    // gives another spelling meanwhile is seen in the next pass.
    const PackageFolderListing listPackageFolderOnce(packageDirPath);
    // All four always run; the program is read at most once for them.
    ProgramReading reading = ReadProgramWhenNeeded(packageDirPath, packageName, partNCProgramPath);
    const bool overview = GenerateOverviewFile(reading);
    // When the program's figures are due, the tools step writes the statistics page with
    // them (a missing page counts as blank): a blank page first would be written twice.
    const bool factsDue = reading.changed && reading.read && metadataGenerator;
    const bool stats = factsDue || GenerateStatsFile();
    const bool tools = GenerateToolsFile(reading);
    MarkUndrawnOverview(packageDirPath, packageName, reading);
    const bool history = GenerateHistoryFile();
    return overview || stats || tools || history;
}

bool cPackage::FillNewFolder()
{
    const PackageFolderListing listPackageFolderOnce(packageDirPath);
    const bool copied = SynchronizePartFiles(PartsFilePriority);
    GenerateEssentialMetadataFiles();
    return GenerateFullModeManifestFile() && copied;
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
