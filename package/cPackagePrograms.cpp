#include "cPackage.h"

#include "package/PackageLock.h"

#include "package/cPackagePrograms_p.h"
#include "platform/FolderListing.h"
#include "platform/PlatformFiles.h"
#include "platform/RegularFiles.h"
#include "programs/PartPrograms.h"
#include "programs/ProgramText.h"

#include <QFile>
#include <QLoggingCategory>
#include <QMutexLocker>
#include <QStringDecoder>

// Finding and reading the package's part programs.

namespace {

Q_LOGGING_CATEGORY(lcPackagePrograms, "packagemanager.package.programs", QtWarningMsg)

// A line longer than this is cut for display, so that a file without line ends cannot
// exhaust memory.
constexpr qint64 MaxDisplayLineBytes = 1 << 20;

// The first file in listing order named as the program ("NAME" or "NAME.NC" for the NC
// program, "NAME.CNV" for the conversational one, in any letter case) that passes the
// part-program test: a "PLATE.txt" of G-code is a note, not the program. In the package's own
// folder a link that leads out of it is not taken for the package's copy. Both kinds come
// from one listing; a null `nc` or `conv` is not looked for.
void FindProgramsIn(const QDir &folder, const QString &programName, const QString &packageFolder, QFileInfo *nc,
                    QFileInfo *conv)
{
    const QString folderPath = folder.absolutePath();
    const bool ownFolder = QDir::cleanPath(folderPath) == QDir::cleanPath(packageFolder);
    const QString upperName = programName.toUpper();
    const QString ncName = upperName + QLatin1String(".NC");
    const QString convName = upperName + QLatin1String(".CNV");
    // The package's own folder changes under our hands; a parts folder is listed once per
    // start-up or pass (see FolderIndexScope), since thousands of packages may share it.
    QStringList names;
    if (ownFolder) {
        names = Platform::FilesIn(folderPath);
    } else {
        const Platform::FolderListing listing = Platform::ListingInScope(QDir::cleanPath(folderPath));
        for (const auto &entry : listing.MatchingAny({upperName, ncName, convName})) {
            // As FilesIn: plain files and links, no hidden names.
            if ((entry.kind == Platform::FolderListing::File || entry.kind == Platform::FolderListing::Link) &&
                !entry.name.startsWith(QLatin1Char('.')))
                names.append(entry.name);
        }
    }
    bool ncFound = !nc;
    bool convFound = !conv;
    for (const QString &name : names) {
        if (ncFound && convFound)
            break;
        // Name checks first: only the few candidates are opened.
        const QString upper = name.toUpper();
        const bool conversational = upper == convName;
        if (conversational ? convFound : (ncFound || (upper != upperName && upper != ncName)))
            continue;
        const QFileInfo file(PackagePrograms::JoinPath(folderPath, name));
        if (ownFolder && !PackagePrograms::StaysInsideFolder(file, folderPath))
            continue;
        if (!IsPartProgramFile(file))
            continue;
        if (conversational) {
            *conv = file;
            convFound = true;
        } else {
            *nc = file;
            ncFound = true;
        }
    }
}

QFileInfo FindProgramIn(const QDir &folder, const QString &programName, bool conversational,
                        const QString &packageFolder)
{
    QFileInfo found;
    FindProgramsIn(folder, programName, packageFolder, conversational ? nullptr : &found,
                   conversational ? &found : nullptr);
    return found;
}

// The first `count` lines of a UTF-16 program after its byte-order mark, each with its line
// end and cut as an 8-bit line would be.
QStringList ReadUtf16Lines(QFile &file, int count, QStringConverter::Encoding byteOrder)
{
    constexpr qsizetype MaxDisplayLineChars = MaxDisplayLineBytes / 2;
    file.skip(2);
    QStringDecoder decoder(byteOrder);
    QStringList lines;
    QString line;
    bool lineCut = false;
    QByteArray chunk;
    while (lines.size() < count) {
        chunk = file.read(65536);
        if (chunk.isEmpty())
            break;
        const QString text = decoder.decode(chunk);
        for (const QChar c : text) {
            if (!lineCut)
                line.append(c);
            lineCut = line.size() >= MaxDisplayLineChars;
            if (c == QLatin1Char('\n')) {
                lines.append(line);
                line.clear();
                lineCut = false;
                if (lines.size() == count)
                    break;
            }
        }
    }
    if (lines.size() < count && !line.isEmpty())
        lines.append(line); // the last line may have no line end
    return lines;
}

qint64 FloorTo(qint64 value, qint64 step)
{
    return value - (((value % step) + step) % step);
}

} // namespace

namespace PackagePrograms {

QString JoinPath(const QString &folder, const QString &name)
{
    if (folder.endsWith(QLatin1Char('/')))
        return folder + name;
    return folder + QLatin1Char('/') + name;
}

bool StaysInsideFolder(const QFileInfo &entry, const QString &folderPath)
{
    if (!entry.isSymLink())
        return true;
    const QString target = entry.canonicalFilePath();
    const QString folder = QFileInfo(folderPath).canonicalFilePath();
    if (target.isEmpty() || folder.isEmpty())
        return false;
    return target.startsWith(JoinPath(folder, QString()));
}

QString DecodePartsFolder(const QString &packageFolderName)
{
    QString folder = packageFolderName.section(QLatin1Char('^'), 0, 0);
    folder.replace(QLatin1Char('!'), QLatin1Char(':'));
    folder.replace(QLatin1Char(','), QLatin1Char('/'));
    // Identifiers are upper case; the real folder may not be.
    const QString resolved = Platform::ResolvePathNoCase(folder);
    if (resolved.isEmpty() || !QFileInfo(resolved).isDir())
        return QString();
    return resolved;
}

bool SameModTime(const QDateTime &a, const QDateTime &b)
{
    if (!a.isValid() || !b.isValid())
        return a.isValid() == b.isValid();
    const qint64 x = a.toMSecsSinceEpoch();
    const qint64 y = b.toMSecsSinceEpoch();
    if (x == y)
        return true;
    // Only whole seconds are allowed for: a coarser step would take real edits a second
    // apart, common with tools that keep whole seconds, for an unchanged file.
    constexpr qint64 second = 1000;
    return (y == FloorTo(y, second) && FloorTo(x, second) == y) || (x == FloorTo(x, second) && FloorTo(y, second) == x);
}

} // namespace PackagePrograms

void PackagePrograms::FindProgramCopies(const QDir &folder, const QString &programName, const QString &packageFolder,
                                        QFileInfo *nc, QFileInfo *conv)
{
    FindProgramsIn(folder, programName, packageFolder, nc, conv);
}

QFileInfo cPackage::FindNCProgram(const QDir &folder) const
{
    return FindProgramIn(folder, packageName, false, packageDirPath);
}

QFileInfo cPackage::FindCONVProgram(const QDir &folder) const
{
    return FindProgramIn(folder, packageName, true, packageDirPath);
}

bool cPackage::FindPartProgramsToRemove(const QString &partsFolder, QStringList *paths) const
{
    const Platform::FolderListing listing = Platform::FolderListing::Read(partsFolder);
    if (!listing.IsReadable())
        return false;
    QFileInfo ncCopy;
    QFileInfo convCopy;
    PackagePrograms::FindProgramCopies(QDir(packageDirPath), packageName, packageDirPath, &ncCopy, &convCopy);
    // Without a copy, the names a copy would have; a bare "NAME" only when it is a program.
    const QStringList ncNames = ncCopy.fileName().isEmpty()
                                    ? QStringList{packageName + QLatin1String(".NC"), packageName}
                                    : QStringList{ncCopy.fileName()};
    const QStringList convNames{packageName + QLatin1String(".CNV")};
    for (const QStringList &names : {ncNames, convNames}) {
        for (const QString &name : names) {
            QList<Platform::FolderListing::Entry> matches = listing.Matching(name);
            matches.removeIf([](const auto &entry) { return entry.kind == Platform::FolderListing::Folder; });
            if (matches.isEmpty())
                continue;
            if (matches.size() > 1) {
                qCWarning(lcPackagePrograms) << "two files in" << partsFolder << "are named" << name
                                             << "in different letter case; removing neither";
                return false;
            }
            const QString path = PackagePrograms::JoinPath(partsFolder, matches.first().name);
            if (ncCopy.fileName().isEmpty() && name == packageName && !IsPartProgramFile(QFileInfo(path)))
                continue;
            paths->append(path);
            break;
        }
    }
    return true;
}

bool cPackage::HasNCProgram() const
{
    QMutexLocker locker(&lock->InProcess());
    return manifest && manifest->GetManifestItem(NCProgram) != nullptr;
}

bool cPackage::HasCONVProgram() const
{
    QMutexLocker locker(&lock->InProcess());
    return manifest && manifest->GetManifestItem(ConvProgram) != nullptr;
}

QFileInfo cPackage::GetPgmFileInfo(eMetadataType type) const
{
    QMutexLocker locker(&lock->InProcess());
    const cManifestItem *item = manifest ? manifest->GetManifestItem(type) : nullptr;
    if (!item)
        return QFileInfo();
    const QString name = item->GetFileNameString();
    if (!Platform::IsPlainFileName(name))
        return QFileInfo();
    const QString folder = PackagePrograms::DecodePartsFolder(QFileInfo(packageDirPath).fileName());
    if (folder.isEmpty())
        return QFileInfo();
    const QString realName = Platform::FindEntryNoCase(folder, name);
    if (realName.isEmpty())
        return QFileInfo();
    const QFileInfo program(PackagePrograms::JoinPath(folder, realName));
    return program.isFile() ? program : QFileInfo();
}

QStringList cPackage::GetPgmLines(int count, eMetadataType type) const
{
    if (count <= 0 || (type != NCProgram && type != ConvProgram))
        return QStringList();
    QMutexLocker locker(&lock->InProcess());
    const cManifestItem *item = manifest ? manifest->GetManifestItem(type) : nullptr;
    if (!item)
        return QStringList();
    const QString name = item->GetFileNameString();
    if (!Platform::IsPlainFileName(name))
        return QStringList();
    const QString realName = Platform::FindEntryNoCase(packageDirPath, name);
    if (realName.isEmpty())
        return QStringList();
    const QFileInfo copy(PackagePrograms::JoinPath(packageDirPath, realName));
    if (!copy.isFile() || !PackagePrograms::StaysInsideFolder(copy, packageDirPath))
        return QStringList();

    QFile file;
    if (!Platform::OpenRegularFile(file, copy.absoluteFilePath(), Platform::LinkPolicy::Refuse))
        return QStringList();
    if (const auto utf16 = ProgramText::Utf16ByteOrder(file.peek(2)))
        return ReadUtf16Lines(file, count, *utf16);
    QByteArrayList lines;
    char chunk[16384];
    while (lines.size() < count) {
        // Piece by piece: a line grows only as far as it is long, up to the cut.
        QByteArray line;
        for (;;) {
            const qint64 read = file.readLine(chunk, sizeof chunk);
            if (read <= 0)
                break;
            line.append(chunk, qMin(read, qMax<qint64>(MaxDisplayLineBytes - line.size(), 0)));
            if (chunk[read - 1] == '\n')
                break;
        }
        if (line.isEmpty())
            break;
        lines.append(line);
    }
    return ProgramText::DecodeLines(lines);
}
