#include "cManifestItem.h"

#include "manifest/ManifestFileFacts_p.h"
#include "manifest/ManifestTexts_p.h"
#include "media/Thumbnails.h"
#include "platform/PlatformFiles.h"

namespace {

QDateTime ToUtc(const QDateTime &time)
{
    return time.isValid() ? time.toUTC() : QDateTime();
}

} // namespace

cManifestItem::cManifestItem(eMetadataType type) : kind(type) {}

QFileInfo cManifestItem::GetFileInfo() const
{
    return fileName.isEmpty() ? QFileInfo() : QFileInfo(GetFilePath());
}

QString cManifestItem::GetFilePath() const
{
    return fileName.isEmpty() ? QString() : QString(folderPath + QLatin1Char('/') + fileName);
}

QString cManifestItem::GetFileNameString() const
{
    return fileName;
}

QFileInfo cManifestItem::GetThumbnailInfo() const
{
    // A preview that is not a plain name could point out of the package folder.
    if (preview.isEmpty() || folderPath.isEmpty() || !Platform::IsPlainFileName(preview))
        return QFileInfo();
    return QFileInfo(folderPath + QLatin1Char('/') + preview);
}

QDateTime cManifestItem::GetModTime() const
{
    return modTime;
}

QString cManifestItem::GetModTimeString() const
{
    return modTime.isValid() ? modTime.toString(Qt::ISODate) : QString();
}

QString cManifestItem::GetPreviewString() const
{
    return preview;
}

QString cManifestItem::GetAuthorString() const
{
    return author;
}

QString cManifestItem::GetCommentString() const
{
    return comment;
}

QString cManifestItem::GetFileTypeString() const
{
    return ManifestTexts::FileType(kind);
}

bool cManifestItem::IsHidden() const
{
    return hidden;
}

bool cManifestItem::IsReadOnly() const
{
    return readOnly;
}

void cManifestItem::SetComment(const QString &text)
{
    comment = text;
}

void cManifestItem::SetFileInfo(const QFileInfo &file)
{
    fileName = file.fileName();
    folderPath = fileName.isEmpty() ? QString() : file.absolutePath();
    modTime = fileName.isEmpty() ? QDateTime() : ManifestFileFacts::ModTimeUtc(file);
    fileSize = fileName.isEmpty() ? 0u : ManifestFileFacts::Size(file);
}

void cManifestItem::SetMetadataType(const QString &category)
{
    const eMetadataType type = ManifestTexts::KindOfCategory(category);
    if (type != Unknown)
        kind = type;
}

void cManifestItem::SetHidden(bool value)
{
    hidden = value;
}

void cManifestItem::SetReadOnly(bool value)
{
    readOnly = value;
}

void cManifestItem::SetAuthor(const QString &value)
{
    author = value;
}

void cManifestItem::SetPreview(const QString &value)
{
    preview = value;
}

void cManifestItem::SetModTime(const QString &textDate)
{
    modTime = ToUtc(QDateTime::fromString(textDate, Qt::TextDate));
}

eMetadataType cManifestItem::GetMetadataType() const
{
    return kind;
}

QString cManifestItem::GetCategoryTypeString() const
{
    return ManifestTexts::Category(kind);
}

QString cManifestItem::GetTabString() const
{
    return ManifestTexts::Tab(kind);
}

QString cManifestItem::GetHiddenString() const
{
    return hidden ? QStringLiteral("true") : QStringLiteral("false");
}

QString cManifestItem::GetReadOnlyString() const
{
    return readOnly ? QStringLiteral("true") : QStringLiteral("false");
}

bool cManifestItem::AutoPopulateAttributes(const QString &packageName)
{
    return AutoPopulateAttributes(packageName, GetFileInfo());
}

bool cManifestItem::AutoPopulateAttributes(const QString &packageName, const QFileInfo &file)
{
    kind = AutoDetermineFileType(fileName, packageName);
    comment = AutoDetermineComment(kind, file);
    author = AutoDetermineAuthor(kind);
    hidden = AutoDetermineHiddenState(kind);
    readOnly = AutoDetermineReadOnlyState(kind);
    modTime = fileName.isEmpty() ? QDateTime() : ManifestFileFacts::ModTimeUtc(file);
    fileSize = fileName.isEmpty() ? 0u : ManifestFileFacts::Size(file);
    return true;
}

void cManifestItem::AutoPopulateTexts(const QString &packageName)
{
    kind = AutoDetermineFileType(fileName, packageName);
    comment =
        ManifestTexts::IsProgram(kind) ? AutoDetermineComment(kind, GetFileInfo()) : ManifestTexts::FixedComment(kind);
    author = AutoDetermineAuthor(kind);
    hidden = AutoDetermineHiddenState(kind);
    readOnly = AutoDetermineReadOnlyState(kind);
    if (fileName.isEmpty()) {
        modTime = QDateTime();
        fileSize = 0;
    }
}

bool cManifestItem::SyncModTime()
{
    if (fileName.isEmpty())
        return SyncModTime(QDateTime());
    const QFileInfo file(GetFilePath());
    fileSize = ManifestFileFacts::Size(file);
    return SyncModTime(ManifestFileFacts::ModTimeUtc(file));
}

bool cManifestItem::SyncModTime(const QDateTime &currentModTimeUtc)
{
    const QDateTime current = ToUtc(currentModTimeUtc);
    if (current == modTime)
        return false;
    modTime = current;
    return true;
}

bool cManifestItem::SyncThumbnail()
{
    const QFileInfo thumbnail = GetThumbnailInfo();
    return RefreshThumbnail(!thumbnail.filePath().isEmpty() && thumbnail.exists());
}

bool cManifestItem::RefreshThumbnail(bool thumbnailExists)
{
    if (thumbnailExists)
        return false;
    if (kind != Image && kind != Video && kind != PDF && kind != NCProgram)
        return false;

    QString made;
    // An entry without a file has nothing to make a thumbnail of.
    if (!fileName.isEmpty()) {
        const QFileInfo file = GetFileInfo();
        switch (kind) {
        case Image:
            made = GenerateImageThumbnail(file);
            break;
        case Video:
            made = GenerateVideoThumbnail(file);
            break;
        case PDF:
            made = GeneratePdfThumbnail(file);
            break;
        default:
            made = GenerateUndeterminedRendering(file);
            break;
        }
    }
    if (made == preview)
        return false;
    preview = made;
    return true;
}

eMetadataType cManifestItem::AutoDetermineFileType(const QString &name, const QString &packageName) const
{
    // A placeholder has no file, so it is no program whatever the package is called.
    if (name.isEmpty())
        return Unknown;

    const QString file = name.toUpper();
    const QString package = packageName.toUpper();
    if (file.startsWith(package)) {
        const QStringView rest = QStringView(file).mid(package.size());
        if (rest.isEmpty() || rest == u".NC")
            return NCProgram;
        if (rest == u".CNV")
            return ConvProgram;
        if (rest == u".GIF")
            return Overview;
        if (rest == u".STATS.HTML")
            return Stats;
        if (rest == u".TOOLS.HTML")
            return Tools;
        if (rest == u".HISTORY.HTML")
            return History;
        if (rest == u".GRAPH")
            return GraphData;
    }

    // The text after the last dot; a name without a dot is its own extension.
    const QStringView extension = QStringView(file).mid(file.lastIndexOf(QLatin1Char('.')) + 1);
    if (extension == u"TXT")
        return Note;
    if (extension == u"JPG" || extension == u"PNG" || extension == u"BMP")
        return Image;
    if (extension == u"MP4")
        return Video;
    if (extension == u"PDF")
        return PDF;
    return Unknown;
}

QString cManifestItem::AutoDetermineComment(eMetadataType type) const
{
    return AutoDetermineComment(type, GetFileInfo());
}

QString cManifestItem::AutoDetermineComment(eMetadataType type, const QFileInfo &file) const
{
    if (!ManifestTexts::IsProgram(type))
        return ManifestTexts::FixedComment(type);
    const QDateTime created = Platform::CreationTime(file);
    return ManifestTexts::ProgramCreatedPrefix() +
           (created.isValid() ? created.toLocalTime().toString(Qt::ISODate) : QString());
}

QString cManifestItem::AutoDetermineAuthor(eMetadataType type) const
{
    return ManifestTexts::Author(type);
}

bool cManifestItem::AutoDetermineHiddenState(eMetadataType type) const
{
    return ManifestTexts::Hidden(type);
}

bool cManifestItem::AutoDetermineReadOnlyState(eMetadataType type) const
{
    return ManifestTexts::ReadOnly(type);
}
