#include "cManifest.h"

#include "manifest/ManifestNames_p.h"
#include "manifest/ManifestTexts_p.h"
#include "platform/AtomicFile.h"
#include "platform/PlatformFiles.h"
#include "platform/RegularFiles.h"
#include "platform/StableHash.h"

#include <QBuffer>
#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QSet>
#include <QVarLengthArray>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <limits>
#include <vector>

Q_LOGGING_CATEGORY(lcManifest, "packagemanager.manifest", QtWarningMsg)

// Entries are shared by a manifest and its copies. The pool records which manifests
// share them; an entry is freed as soon as none of them lists it any more, so pointers
// handed out stay valid exactly as long as some sharing manifest still lists the entry.
struct cManifest::EntryPool
{
    std::vector<const cManifest *> members;
};

namespace {

const unsigned int RegularPackageLimit = 104857600;
// The file is streamed, so its size costs no memory beyond its entries (each file is
// listed once); the cap is far above what a folder's entries give (some 250 bytes each, so
// millions of files), and keeps a runaway file from being parsed for minutes.
const qint64 MaxManifestBytes = qint64(1) << 30;
// The reader holds one token (a tag with its attributes, or a text) whole: an author or a
// comment of a million characters is no text anyone wrote, but a damaged file.
const qint64 MaxTokenBytes = 1 << 20;

// The longest run of bytes between markup delimiters, read in small pieces; a file that
// cannot be read counts as one endless run.
qint64 LongestTokenRun(QFile &file)
{
    qint64 longest = 0;
    qint64 run = 0;
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 read = file.read(buffer.data(), buffer.size());
        if (read < 0)
            return std::numeric_limits<qint64>::max();
        if (read == 0)
            break;
        for (qint64 i = 0; i < read; ++i) {
            const char c = buffer.at(i);
            if (c == '<' || c == '>') {
                longest = std::max(longest, run);
                run = 0;
            } else {
                ++run;
            }
        }
    }
    return std::max(longest, run);
}

// The name under which an unreadable "manifest.xml" is kept; empty when none is free.
QString SetAsidePath(const QString &manifestFilePath)
{
    const QString base = manifestFilePath + QLatin1String(".unreadable");
    for (int n = 0; n < 100; ++n) {
        const QString candidate = n == 0 ? base : base + QLatin1Char('.') + QString::number(n);
        const QFileInfo info(candidate);
        if (!info.exists() && !info.isSymLink())
            return candidate;
    }
    return QString();
}

QString ManifestFileName()
{
    return QStringLiteral("manifest.xml");
}

// The usual name as the one static text, not a copy per manifest.
QString SharedFileName(const QString &fileName)
{
    return fileName == ManifestFileName() ? ManifestFileName() : fileName;
}

// "package_size": a decimal of any size (a package of videos passes 4 GiB; one beyond 64 bits
// reads as the largest size). Anything else, a negative number included, is no size at all,
// so that only an explicit 0 makes a tutorial package.
bool ReadPackageSize(QStringView text, quint64 *size)
{
    bool ok = false;
    *size = text.toULongLong(&ok, 10);
    if (ok)
        return true;
    const QStringView digits = text.trimmed();
    if (digits.isEmpty())
        return false;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    *size = std::numeric_limits<quint64>::max();
    return true;
}

// "package_limit": a decimal that fits a signed 32-bit integer; anything else, a negative
// number included, reads as 0.
unsigned int ReadSize(QStringView text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return (ok && value > 0) ? static_cast<unsigned int>(value) : 0u;
}

// A text that "manifest.xml" carries and gives back unchanged: only characters that XML
// keeps as they are (no control characters, whose line ends a reader would normalise).
bool ReadsBackAsIs(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.unicode() < 0x20)
            return false;
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        if (c.isSurrogate() || c.unicode() == 0xFFFE || c.unicode() == 0xFFFF)
            return false;
    }
    return true;
}

// Order-dependent 64-bit mixing of the state's parts (splitmix64 finaliser per step).
class Fingerprint
{
public:
    void Add(quint64 value)
    {
        state ^= value + 0x9E3779B97F4A7C15ull + (state << 6) + (state >> 2);
        state = (state ^ (state >> 30)) * 0xBF58476D1CE4E5B9ull;
        state = (state ^ (state >> 27)) * 0x94D049BB133111EBull;
        state ^= state >> 31;
    }
    void Add(const QString &text)
    {
        Add(quint64(text.size()));
        Add(Platform::StableHash(text));
    }
    quint64 Value() const { return state; }

private:
    quint64 state = 0x243F6A8885A308D3ull;
};

bool IsXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// Characters that XML 1.0 cannot carry (control characters, lone surrogates) would make the
// whole file unreadable; they are left out.
QString XmlSafe(const QString &text)
{
    const auto firstBad = [&text]() -> qsizetype {
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
                ++i;
                continue;
            }
            if (c.isSurrogate() || !IsXmlChar(c.unicode()))
                return i;
        }
        return -1;
    }();
    if (firstBad < 0)
        return text;
    QString safe = text.left(firstBad);
    for (qsizetype i = firstBad; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            safe.append(c);
            safe.append(text.at(++i));
        } else if (!c.isSurrogate() && IsXmlChar(c.unicode())) {
            safe.append(c);
        }
    }
    return safe;
}

// A preview names a file beside the entry's file; anything else is not kept.
QString PlainNameOrEmpty(QStringView text)
{
    QString name = text.toString();
    return Platform::IsPlainFileName(name) ? name : QString();
}

} // namespace

cManifest::cManifest(const QString &packageName, const QFileInfo &manifestFile)
    : name(packageName), manifestFileName(SharedFileName(manifestFile.fileName())),
      folderPath(manifestFile.absolutePath())
{
    if (manifestFile.filePath().isEmpty()) {
        manifestFileName.clear();
        folderPath.clear();
    }
    (void)ImportFromManifestFile(packageName);
}

cManifest::cManifest(const cManifest &other)
    : packageSize(other.packageSize), packageLimit(other.packageLimit), sizeKnown(other.sizeKnown), name(other.name),
      manifestFileName(other.manifestFileName), folderPath(other.folderPath), entries(other.entries)
{
    if (!other.pool) {
        other.pool = std::make_shared<EntryPool>();
        other.pool->members.push_back(&other);
    }
    pool = other.pool;
    pool->members.push_back(this);
}

cManifest &cManifest::operator=(const cManifest &other)
{
    if (this == &other)
        return *this;
    if (pool && pool == other.pool) {
        // Same sharing group: the entries stay shared, only this list changes.
        const QList<cManifestItem *> previous = entries;
        entries = other.entries;
        ReclaimDropped(previous);
    } else {
        ReleaseEntries();
        entries = other.entries;
        if (!other.pool) {
            other.pool = std::make_shared<EntryPool>();
            other.pool->members.push_back(&other);
        }
        pool = other.pool;
        pool->members.push_back(this);
    }
    packageSize = other.packageSize;
    packageLimit = other.packageLimit;
    sizeKnown = other.sizeKnown;
    name = other.name;
    manifestFileName = other.manifestFileName;
    folderPath = other.folderPath;
    ForgetFileSync();
    return *this;
}

cManifest::~cManifest()
{
    ReleaseEntries();
}

void cManifest::ReleaseEntries()
{
    // Leave the group first, so that only the other members' lists keep entries alive.
    if (pool) {
        auto &members = pool->members;
        members.erase(std::remove(members.begin(), members.end(), this), members.end());
    }
    const QList<cManifestItem *> previous = entries;
    entries.clear();
    ReclaimDropped(previous);
    pool.reset();
}

void cManifest::CollectListedElsewhere(QSet<const cManifestItem *> &listed) const
{
    if (!pool)
        return;
    for (const cManifest *member : pool->members) {
        if (member != this) {
            for (const cManifestItem *item : member->entries)
                listed.insert(item);
        }
    }
}

void cManifest::ReclaimDropped(const QList<cManifestItem *> &dropped)
{
    if (dropped.isEmpty())
        return;
    // One pass over what is still listed anywhere: a damaged file can hold many thousands of
    // entries, so nothing here may be quadratic.
    QSet<const cManifestItem *> kept;
    kept.reserve(entries.size());
    for (const cManifestItem *item : std::as_const(entries))
        kept.insert(item);
    CollectListedElsewhere(kept);
    for (cManifestItem *item : dropped) {
        if (!item || kept.contains(item))
            continue;
        kept.insert(item); // listed twice, freed once
        delete item;
    }
}

bool cManifest::ImportFromManifestFile(const QString &newName)
{
    if (manifestFileName.isEmpty())
        return true;
    const QString manifestFilePath = ManifestFilePath();
    // Taken before reading: a change made while the file is read shows at the next look.
    const Platform::FileStamp stampBeforeRead = Platform::StampOf(manifestFilePath);
    unreadableSize = -1;
    // A file that holds texts but cannot be read is never replaced by a manifest without
    // them: it is kept, or set aside, when the manifest is next written.
    const auto markUnreadable = [&](bool notOpened) {
        unreadableSize = stampBeforeRead.size;
        unreadableModified = stampBeforeRead.modified;
        unreadableIdentity = stampBeforeRead.identity;
        unreadableNotOpened = notOpened;
        RememberFileSync(stampBeforeRead.size, stampBeforeRead.modified, stampBeforeRead.changed,
                         stampBeforeRead.identity, false, false);
    };
    // A linked "manifest.xml" could lead out of the package folder, and a FIFO in its place
    // would block every command: neither is read.
    QFile file;
    if (!Platform::OpenRegularFile(file, manifestFilePath, Platform::LinkPolicy::Refuse)) {
        if (stampBeforeRead.IsValid() && stampBeforeRead.size > 0) {
            qCWarning(lcManifest) << "cannot read" << manifestFilePath << file.errorString();
            markUnreadable(true);
        }
        return true;
    }
    QString nameInFile;
    if (file.size() > MaxManifestBytes) {
        qCWarning(lcManifest) << "not reading" << manifestFilePath << "of" << file.size() << "bytes";
        markUnreadable(false);
        return true;
    }
    if (file.size() > MaxTokenBytes) {
        const qint64 longest = LongestTokenRun(file);
        if (longest > MaxTokenBytes || !file.seek(0)) {
            qCWarning(lcManifest) << "not reading" << manifestFilePath << "with a text of" << longest << "bytes";
            markUnreadable(false);
            return true;
        }
    }

    // A file that names no package must not leave the manifest nameless: every file would
    // then be unclassified, the program entry lost and the package taken for an orphan.
    const QString previousName = name;
    name = newName;
    const QList<cManifestItem *> previous = entries;
    entries.clear();
    // Entries whose file and kind reappear keep their identity, so pointers the host holds
    // survive a re-read of an unchanged file. One listed by a copy too is left to the copy.
    QMultiHash<QString, cManifestItem *> reusable;
    if (!previous.isEmpty()) {
        QSet<const cManifestItem *> elsewhere;
        CollectListedElsewhere(elsewhere);
        reusable.reserve(previous.size());
        for (auto it = previous.crbegin(); it != previous.crend(); ++it) {
            if (!elsewhere.contains(*it))
                reusable.insert((*it)->fileName, *it);
        }
    }

    // A folder holds a file once: an entry that repeats a listed file adds nothing (and a
    // damaged file repeating one entry millions of times costs no memory).
    QSet<QString> listedFiles;
    QXmlStreamReader xml(&file);
    auto moveToNextStartElement = [&xml] {
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::StartElement)
                return;
        }
    };

    moveToNextStartElement();
    while (!xml.atEnd()) {
        if (xml.isStartElement()) {
            const QXmlStreamAttributes attributes = xml.attributes();
            if (xml.name() == u"Manifest") {
                for (const QXmlStreamAttribute &attribute : attributes) {
                    const QStringView key = attribute.name();
                    if (key == u"package_name") {
                        nameInFile = attribute.value().toString();
                        if (name.isEmpty())
                            name = attribute.value().toString();
                    } else if (key == u"package_size") {
                        sizeKnown = ReadPackageSize(attribute.value(), &packageSize);
                        if (!sizeKnown)
                            packageSize = 0;
                    } else if (key == u"package_limit") {
                        packageLimit = ReadSize(attribute.value());
                    }
                }
            } else {
                cManifestItem parsed(ManifestTexts::KindOfCategory(xml.name()));
                const QString text = xml.readElementText();
                // Only a plain name in this folder can be an entry's file; anything else could
                // lead another operation out of the package folder.
                const bool plain = Platform::IsPlainFileName(text);
                if (plain && listedFiles.contains(text)) {
                    qCInfo(lcManifest) << "ignoring a repeated entry for" << text << "in" << manifestFilePath;
                    continue; // the reader stands on the element's end
                }
                if (plain) {
                    parsed.folderPath = folderPath;
                    parsed.fileName = text;
                    parsed.fileName.squeeze(); // the reader leaves room to grow
                    // One stat for both.
                    const Platform::FileFacts facts = Platform::FactsOf(folderPath + QLatin1Char('/') + text);
                    parsed.modTime = facts.modifiedUtc;
                    parsed.fileSize = facts.isFile ? quint64(facts.size) : 0u;
                } else {
                    parsed.folderPath = folderPath;
                }
                for (const QXmlStreamAttribute &attribute : attributes) {
                    const QStringView key = attribute.name();
                    const QStringView value = attribute.value();
                    if (key == u"hidden")
                        parsed.hidden = value == u"true";
                    else if (key == u"read_only")
                        parsed.readOnly = value == u"true";
                    else if (key == u"author")
                        parsed.author = ManifestTexts::Shared(value);
                    else if (key == u"comment")
                        parsed.comment = ManifestTexts::Shared(value);
                    else if (key == u"preview")
                        parsed.preview = PlainNameOrEmpty(value);
                    else if (key == u"mod_date")
                        parsed.SetModTime(value.toString());
                }
                if (plain || text.isEmpty()) {
                    if (plain)
                        listedFiles.insert(parsed.fileName);
                    cManifestItem *item = nullptr;
                    for (auto it = reusable.find(parsed.fileName); it != reusable.end() && it.key() == parsed.fileName;
                         ++it) {
                        if (it.value()->kind == parsed.kind) {
                            item = it.value();
                            *item = parsed;
                            reusable.erase(it);
                            break;
                        }
                    }
                    entries.append(item ? item : new cManifestItem(parsed));
                } else {
                    qCInfo(lcManifest) << "ignoring an entry that names no plain file:" << text << "in"
                                       << manifestFilePath;
                }
            }
        }
        moveToNextStartElement();
    }

    ReclaimDropped(previous);
    if (name.isEmpty())
        name = previousName;
    // Thousands of manifests stay in memory: no room held for entries that never come.
    entries.squeeze();
    const bool readWhole = !xml.hasError() || xml.error() == QXmlStreamReader::PrematureEndOfDocumentError;
    // A second read under an empty name takes the file's name, or keeps this one.
    const bool readingGivesState = readWhole && (newName.isEmpty() || nameInFile.isEmpty() || nameInFile == newName);
    RememberFileSync(stampBeforeRead.size, stampBeforeRead.modified, stampBeforeRead.changed, stampBeforeRead.identity,
                     false, readingGivesState);
    if (xml.hasError() && xml.error() != QXmlStreamReader::PrematureEndOfDocumentError) {
        qCWarning(lcManifest) << "cannot read" << manifestFilePath << ":" << xml.errorString();
        markUnreadable(false);
        return false;
    }
    return true;
}

bool cManifest::SetAsideUnreadableFile(const QString &manifestFilePath)
{
    if (unreadableSize < 0)
        return true;
    const Platform::FileStamp stamp = Platform::StampOf(manifestFilePath);
    if (!stamp.IsValid() || stamp.size != unreadableSize || stamp.modified != unreadableModified ||
        stamp.identity != unreadableIdentity) {
        unreadableSize = -1; // replaced or removed since: nothing of it to keep
        return true;
    }
    if (unreadableNotOpened) {
        qCWarning(lcManifest) << "not replacing" << manifestFilePath << "which could not be read";
        return false;
    }
    const QString aside = SetAsidePath(manifestFilePath);
    if (aside.isEmpty() || !QFile::rename(manifestFilePath, aside)) {
        qCWarning(lcManifest) << "cannot set aside the unreadable" << manifestFilePath;
        return false;
    }
    qCWarning(lcManifest) << "kept the unreadable" << manifestFilePath << "as" << aside;
    unreadableSize = -1;
    return true;
}

bool cManifest::ExportToManifestFile()
{
    calculatePackageSize();
    OrganizeManifestOrder();
    if (manifestFileName.isEmpty())
        return false;
    const QString manifestFilePath = ManifestFilePath();

    // Neither this state nor the file changed since the file was written from it (or found
    // to hold it already): nothing to serialize, compare or write.
    const quint64 fingerprint = StateFingerprint();
    if (syncedFileHoldsState && fingerprint == syncedFingerprint) {
        const Platform::FileStamp stamp = Platform::StampOf(manifestFilePath);
        if (stamp.IsValid() && stamp.size == syncedSize && stamp.modified == syncedModified &&
            stamp.changed == syncedChanged && stamp.identity == syncedIdentity)
            return true;
    }

    if (!SetAsideUnreadableFile(manifestFilePath))
        return false;
    const QByteArray bytes = SerializeManifest();
    // Writing through a link would change a file outside the package folder: the writer's
    // rename replaces the link by a file of its own.
    // One that replaces a manifest reaches the disk first: it holds the operator's texts. A
    // first one (an empty file counts as none), or one that replaces our own unflushed first
    // one while nobody has given an entry a text, holds nothing that the next pass cannot
    // make again; the pass flushes its new packages in one go.
    const Platform::FileStamp old = Platform::StampOf(manifestFilePath);
    const bool replacesOwnUnflushed = old.IsValid() && old.identity == unflushedIdentity && old.size == unflushedSize &&
                                      old.modified == unflushedModified && !HoldsPeoplesTexts();
    const Platform::Durability durability = old.IsValid() && old.size > 0 && !replacesOwnUnflushed
                                                ? Platform::Durability::Sync
                                                : Platform::Durability::NoSync;
    unflushedSize = -1;
    if (!Platform::WriteFileAtomically(manifestFilePath, bytes, durability)) {
        ForgetFileSync();
        qCWarning(lcManifest) << "cannot write" << manifestFilePath;
        return false;
    }
    const Platform::FileStamp stamp = Platform::StampOf(manifestFilePath);
    RememberFileSync(stamp.size, stamp.modified, stamp.changed, stamp.identity, true, StateReadsBackAsIs());
    syncedFingerprint = fingerprint;
    if (durability == Platform::Durability::NoSync) {
        unflushedIdentity = stamp.identity;
        unflushedSize = stamp.size;
        unflushedModified = stamp.modified;
    }
    return true;
}

bool cManifest::HoldsPeoplesTexts() const
{
    for (const cManifestItem *item : entries) {
        if (!item->author.isEmpty() && item->author != ManifestTexts::Author(item->kind))
            return true;
        const bool automaticComment =
            item->comment == ManifestTexts::FixedComment(item->kind) ||
            (ManifestTexts::IsProgram(item->kind) && item->comment.startsWith(ManifestTexts::ProgramCreatedPrefix()));
        if (!item->comment.isEmpty() && !automaticComment)
            return true;
    }
    return false;
}

QByteArray cManifest::SerializeManifest() const
{
    QByteArray bytes;
    bytes.reserve(512 + 320 * entries.size());
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QXmlStreamWriter xml(&buffer);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(4);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("Manifest"));
    xml.writeAttribute(QStringLiteral("package_name"), XmlSafe(name));
    xml.writeAttribute(QStringLiteral("package_size"), QString::number(packageSize));
    xml.writeAttribute(QStringLiteral("package_limit"), QString::number(packageLimit));
    for (const cManifestItem *item : entries) {
        if (item->kind < Overview || item->kind >= Unknown)
            continue;
        xml.writeStartElement(item->GetCategoryTypeString());
        xml.writeAttribute(QStringLiteral("tab"), item->GetTabString());
        if (!item->fileName.isEmpty()) {
            xml.writeAttribute(QStringLiteral("mod_time"), item->GetModTimeString());
            xml.writeAttribute(QStringLiteral("preview"), XmlSafe(item->preview));
            xml.writeAttribute(QStringLiteral("hidden"), item->GetHiddenString());
            xml.writeAttribute(QStringLiteral("read_only"), item->GetReadOnlyString());
            xml.writeAttribute(QStringLiteral("author"), XmlSafe(item->author));
            xml.writeAttribute(QStringLiteral("comment"), XmlSafe(item->comment));
        }
        xml.writeAttribute(QStringLiteral("type"), item->GetFileTypeString());
        // Written even when empty, so that a placeholder reads "<Note ...></Note>".
        xml.writeCharacters(XmlSafe(item->fileName));
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return bytes;
}

void cManifest::RelabelManifest(const QString &newName, const QFileInfo &manifestFile)
{
    ForgetFileSync();
    name = newName;
    manifestFileName = SharedFileName(manifestFile.fileName());
    folderPath = manifestFile.absolutePath();
    // The entries' files live in the package folder, which has just moved with the manifest.
    for (cManifestItem *item : std::as_const(entries))
        item->folderPath = folderPath;
}

cManifestItem *cManifest::AddManifestItem(const QFileInfo &file, const QString &author, const QString &comment)
{
    return AddItemForFile(file, author, comment);
}

cManifestItem *cManifest::AddItemForFile(const QFileInfo &file, const QString &author, const QString &comment)
{
    auto *item = new cManifestItem(Unknown);
    item->SetFileInfo(file);
    // Share the folder text with the manifest instead of holding a copy per entry.
    if (item->folderPath == folderPath)
        item->folderPath = folderPath;
    item->AutoPopulateAttributes(name, file);
    if (!author.isEmpty())
        item->author = author;
    if (!comment.isEmpty())
        item->comment = comment;
    entries.append(item);
    return item;
}

cManifestItem *cManifest::AddItemForListedFile(const QString &folder, const QString &fileName)
{
    // Its size and time come from the listing (MatchManifestToFiles): no stat of its own.
    auto *item = new cManifestItem(Unknown);
    item->fileName = fileName;
    item->folderPath = folder == folderPath ? folderPath : folder;
    item->AutoPopulateTexts(name);
    item->textsFresh = true;
    entries.append(item);
    return item;
}

bool cManifest::DeleteManifestItem(cManifestItem *item)
{
    if (!item || entries.removeAll(item) == 0)
        return false;
    ReclaimDropped({item});
    return true;
}

QList<cManifestItem *> cManifest::GetManifestItems(eMetadataType type) const
{
    if (type == Unknown)
        return entries;
    QList<cManifestItem *> result;
    for (cManifestItem *item : entries) {
        if (item->kind == type)
            result.append(item);
    }
    return result;
}

cManifestItem *cManifest::GetManifestItem(eMetadataType type) const
{
    return FirstOfKind(type);
}

cManifestItem *cManifest::FirstOfKind(eMetadataType type) const
{
    if (type == Unknown)
        return entries.value(0, nullptr);
    for (cManifestItem *item : entries) {
        if (item->kind == type)
            return item;
    }
    return nullptr;
}

cManifestItem *cManifest::LookupManifestItemByFileName(const QString &fileName) const
{
    for (cManifestItem *item : entries) {
        if (!item->fileName.isEmpty() && item->fileName == fileName)
            return item;
    }
    return nullptr;
}

bool cManifest::MatchManifestToFiles(const QDir &packageFolder)
{
    bool changed = false;

    // The one listing of the folder, with one stat of each file.
    // Links are left out: nothing reached through one belongs to the package.
    const QString listedFolder = packageFolder.absolutePath();
    const QList<Platform::NamedFileFacts> listing = Platform::PlainFileFactsIn(listedFolder);
    QHash<QString, qsizetype> contentByName;       // exact name -> index in listing
    QHash<QString, qsizetype> contentByFoldedName; // case-folded name -> first such index
    QSet<QString> listedNames;                     // every listed name, for the thumbnails
    contentByName.reserve(listing.size());
    contentByFoldedName.reserve(listing.size());
    listedNames.reserve(listing.size());
    QVarLengthArray<qsizetype, 32> content;
    for (qsizetype i = 0; i < listing.size(); ++i) {
        const QString &fileName = listing.at(i).name;
        if (Platform::IsOwnBookkeepingName(fileName))
            continue;
        listedNames.insert(fileName);
        if (!ManifestNames::CanBeListed(fileName))
            continue;
        content.append(i);
        contentByName.insert(fileName, i);
        const QString folded = Platform::FoldedName(fileName);
        if (!contentByFoldedName.contains(folded))
            contentByFoldedName.insert(folded, i);
    }

    QSet<QString> entryNames;
    entryNames.reserve(entries.size());
    for (cManifestItem *item : std::as_const(entries)) {
        item->textsFresh = false; // only this match's additions count as fresh
        if (!item->fileName.isEmpty())
            entryNames.insert(Platform::FoldedName(item->fileName));
    }

    for (const qsizetype i : content) {
        if (!entryNames.contains(Platform::FoldedName(listing.at(i).name))) {
            AddItemForListedFile(listedFolder, listing.at(i).name);
            changed = true;
        }
    }

    QList<cManifestItem *> dropped;
    QList<cManifestItem *> remaining;
    remaining.reserve(entries.size());
    for (cManifestItem *item : std::as_const(entries)) {
        if (!item->fileName.isEmpty() && !contentByFoldedName.contains(Platform::FoldedName(item->fileName)))
            dropped.append(item);
        else
            remaining.append(item);
    }
    if (!dropped.isEmpty()) {
        entries = remaining;
        changed = true;
        ReclaimDropped(dropped);
    }

    const QString &entryFolder = listedFolder == folderPath ? folderPath : listedFolder;
    for (cManifestItem *item : std::as_const(entries)) {
        QDateTime current;
        if (!item->fileName.isEmpty()) {
            // Names compare without regard to case; on a file system that keeps case apart
            // the entry takes the name the file really has, or it could not reach it.
            qsizetype index = contentByName.value(item->fileName, -1);
            if (index < 0)
                index = contentByFoldedName.value(Platform::FoldedName(item->fileName), -1);
            if (index < 0)
                continue; // cannot happen: entries without a listed file were dropped above
            const Platform::NamedFileFacts &file = listing.at(index);
            if (file.name != item->fileName) {
                item->fileName = file.name;
                changed = true;
            }
            item->folderPath = entryFolder;
            current = file.modifiedUtc;
            item->fileSize = quint64(file.size);
        }
        if (item->SyncModTime(current))
            changed = true;
        const bool thumbnailExists = !item->preview.isEmpty() && listedNames.contains(item->preview);
        if (item->RefreshThumbnail(thumbnailExists))
            changed = true;
    }
    return changed;
}

void cManifest::VerifyMinimalManifestExists()
{
    for (const eMetadataType type : {Note, Image, Video}) {
        if (!FirstOfKind(type)) {
            auto *placeholder = new cManifestItem(type);
            placeholder->folderPath = folderPath;
            entries.append(placeholder);
        }
    }
}

bool cManifest::SetManifestPropertiesToRegularMode()
{
    ApplyRegularMode();
    return ExportToManifestFile();
}

void cManifest::ApplyRegularMode(bool filesJustMatched)
{
    packageLimit = RegularPackageLimit;

    // The first placeholder of each required kind is kept as the object that stands for the
    // fresh placeholder, so that pointers to it survive the reset.
    cManifestItem *placeholders[3] = {nullptr, nullptr, nullptr};
    const eMetadataType required[3] = {Note, Image, Video};

    for (cManifestItem *item : std::as_const(entries)) {
        if (item->fileName.isEmpty()) {
            for (int k = 0; k < 3; ++k) {
                if (item->kind == required[k] && !placeholders[k])
                    placeholders[k] = item;
            }
        }
        // An entry the match just added has its texts (a program's reads the file's time).
        if (filesJustMatched && item->textsFresh) {
            item->textsFresh = false;
            continue;
        }
        const eMetadataType oldKind = item->kind;
        const QString oldAuthor = item->author;
        const QString oldComment = item->comment;
        if (filesJustMatched)
            item->AutoPopulateTexts(name);
        else
            item->AutoPopulateAttributes(name);

        // An author or comment that someone gave the entry survives, unless the entry
        // changed its kind; automatic texts are renewed.
        if (item->kind != oldKind)
            continue;
        if (!oldAuthor.isEmpty() && oldAuthor != item->author)
            item->author = oldAuthor;
        const bool automaticComment =
            oldComment == ManifestTexts::FixedComment(item->kind) ||
            (ManifestTexts::IsProgram(item->kind) && oldComment.startsWith(ManifestTexts::ProgramCreatedPrefix()));
        if (!oldComment.isEmpty() && !automaticComment)
            item->comment = oldComment;
    }

    for (int k = 0; k < 3; ++k) {
        if (FirstOfKind(required[k]))
            continue;
        if (cManifestItem *placeholder = placeholders[k]) {
            *placeholder = cManifestItem(required[k]);
            placeholder->folderPath = folderPath;
        } else {
            auto *fresh = new cManifestItem(required[k]);
            fresh->folderPath = folderPath;
            entries.append(fresh);
        }
    }
}

quint64 cManifest::calculatePackageSize()
{
    // Each entry took its file's size with its time, when it was read, matched or reset,
    // so totalling costs no stat.
    quint64 total = 0;
    for (const cManifestItem *item : std::as_const(entries)) {
        if (!item->fileName.isEmpty())
            total += item->fileSize;
    }
    // 0 marks a tutorial package, which no scan touches again: a package whose files all
    // went (deleted behind its back) must not turn into one and stop following its program.
    packageSize = qMax<quint64>(total, 1);
    sizeKnown = true;
    return packageSize;
}

void cManifest::OrganizeManifestOrder()
{
    QList<cManifestItem *> ordered;
    ordered.reserve(entries.size());
    for (int type = Overview; type <= ConvProgram; ++type) {
        for (cManifestItem *item : std::as_const(entries)) {
            if (item->kind == type)
                ordered.append(item);
        }
    }
    if (ordered.size() == entries.size()) {
        entries = ordered;
        return;
    }
    const QList<cManifestItem *> previous = entries;
    entries = ordered;
    ReclaimDropped(previous);
}

bool cManifest::RefreshFromManifestFile()
{
    // Reading the unchanged file would give back this very state: keep it. The caller takes
    // the entries' times and sizes from the folder afterwards, as it would after a read.
    if (syncedReadingGivesState && !SharesEntries() && StateFingerprint() == syncedFingerprint) {
        const Platform::FileStamp stamp = Platform::StampOf(ManifestFilePath());
        if (stamp.IsValid() && stamp.size == syncedSize && stamp.modified == syncedModified &&
            stamp.changed == syncedChanged && stamp.identity == syncedIdentity)
            return true;
    }
    return ImportFromManifestFile(QString());
}

bool cManifest::ReloadIfChangedOnDisk()
{
    if (manifestFileName.isEmpty())
        return true;
    const Platform::FileStamp stamp = Platform::StampOf(ManifestFilePath());
    if (!stamp.IsValid())
        return true; // nothing to read: this state is all there is
    if (syncedSize >= 0 && stamp.size == syncedSize && stamp.modified == syncedModified &&
        stamp.changed == syncedChanged && stamp.identity == syncedIdentity)
        return true;
    return ImportFromManifestFile(name);
}

quint64 cManifest::StateFingerprint() const
{
    // The entry objects too: pointers to them are handed out.
    Fingerprint print;
    print.Add(ContentFingerprint());
    for (const cManifestItem *item : entries)
        print.Add(quint64(quintptr(item)));
    return print.Value();
}

quint64 cManifest::ContentFingerprint() const
{
    Fingerprint print;
    print.Add(name);
    print.Add(packageSize);
    print.Add(quint64(packageLimit));
    print.Add(quint64(sizeKnown) << 32 | quint64(entries.size()));
    for (const cManifestItem *item : entries) {
        print.Add(quint64(item->kind) | quint64(item->hidden) << 8 | quint64(item->readOnly) << 9 |
                  quint64(item->modTime.isValid()) << 10 | quint64(item->folderPath == folderPath) << 11);
        print.Add(quint64(item->modTime.isValid() ? item->modTime.toMSecsSinceEpoch() : 0));
        print.Add(item->fileName);
        print.Add(item->preview);
        print.Add(item->author);
        print.Add(item->comment);
    }
    return print.Value();
}

bool cManifest::StateReadsBackAsIs() const
{
    // What a read of SerializeManifest() restores: a name and sizes the file format keeps,
    // entries of a known kind in this folder with plain names and texts that survive XML.
    // Placeholders are written without attributes, so only default ones come back as they are.
    const unsigned int maxReadable = unsigned(std::numeric_limits<int>::max());
    if (!sizeKnown || packageLimit > maxReadable || !ReadsBackAsIs(name))
        return false;
    for (const cManifestItem *item : entries) {
        if (item->kind < Overview || item->kind >= Unknown || item->folderPath != folderPath)
            return false;
        if (item->fileName.isEmpty()) {
            if (!item->preview.isEmpty() || !item->author.isEmpty() || !item->comment.isEmpty() || !item->hidden ||
                !item->readOnly || item->modTime.isValid() || item->fileSize != 0)
                return false;
            continue;
        }
        if (!Platform::IsPlainFileName(item->fileName) || !ReadsBackAsIs(item->fileName) ||
            !ReadsBackAsIs(item->author) || !ReadsBackAsIs(item->comment) || !ReadsBackAsIs(item->preview) ||
            (!item->preview.isEmpty() && !Platform::IsPlainFileName(item->preview)))
            return false;
    }
    return true;
}

bool cManifest::SharesEntries() const
{
    return pool && pool->members.size() > 1;
}

void cManifest::RememberFileSync(qint64 size, qint64 modified, qint64 changed, quint64 identity, bool fileHoldsState,
                                 bool readingGivesState)
{
    syncedSize = size;
    syncedModified = modified;
    syncedChanged = changed;
    syncedIdentity = identity;
    syncedFingerprint = StateFingerprint();
    const bool known = size >= 0;
    syncedFileHoldsState = known && fileHoldsState;
    syncedReadingGivesState = known && readingGivesState;
}

void cManifest::ForgetFileSync()
{
    syncedSize = -1;
    syncedFileHoldsState = false;
    syncedReadingGivesState = false;
}

void cManifest::ShareFolderPath(const QString &path)
{
    if (path != folderPath)
        return;
    folderPath = path;
    for (cManifestItem *item : std::as_const(entries)) {
        if (item->folderPath == path)
            item->folderPath = path;
    }
}

QString cManifest::ManifestFilePath() const
{
    if (manifestFileName.isEmpty())
        return QString();
    if (folderPath.endsWith(QLatin1Char('/')))
        return folderPath + manifestFileName;
    return folderPath + QLatin1Char('/') + manifestFileName;
}
