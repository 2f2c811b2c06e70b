#include "cManifestItem.h"

cManifestItem::cManifestItem(eMetadataType type) : kind(type) {}
QFileInfo cManifestItem::GetFileInfo() const { return fileName.isEmpty() ? QFileInfo() : QFileInfo(GetFilePath()); }
QString cManifestItem::GetFilePath() const { return fileName.isEmpty() ? QString() : folderPath + QLatin1Char('/') + fileName; }
QString cManifestItem::GetFileNameString() const { return fileName; }
QFileInfo cManifestItem::GetThumbnailInfo() const { return QFileInfo(); }
QDateTime cManifestItem::GetModTime() const { return modTime; }
QString cManifestItem::GetModTimeString() const { return modTime.isNull() ? QString() : modTime.toString(Qt::ISODate); }
QString cManifestItem::GetPreviewString() const { return preview; }
QString cManifestItem::GetAuthorString() const { return author; }
QString cManifestItem::GetCommentString() const { return comment; }
QString cManifestItem::GetFileTypeString() const { return QString(); }
bool cManifestItem::IsHidden() const { return hidden; }
bool cManifestItem::IsReadOnly() const { return readOnly; }
void cManifestItem::SetComment(const QString &text) { comment = text; }
void cManifestItem::SetFileInfo(const QFileInfo &file)
{
    folderPath = file.absolutePath();
    fileName = file.fileName();
}
void cManifestItem::SetMetadataType(const QString &) {}
void cManifestItem::SetHidden(bool value) { hidden = value; }
void cManifestItem::SetReadOnly(bool value) { readOnly = value; }
void cManifestItem::SetAuthor(const QString &value) { author = value; }
void cManifestItem::SetPreview(const QString &value) { preview = value; }
void cManifestItem::SetModTime(const QString &) {}
eMetadataType cManifestItem::GetMetadataType() const { return kind; }
QString cManifestItem::GetCategoryTypeString() const { return QString(); }
QString cManifestItem::GetTabString() const { return QString(); }
QString cManifestItem::GetHiddenString() const { return QString(); }
QString cManifestItem::GetReadOnlyString() const { return QString(); }
bool cManifestItem::AutoPopulateAttributes(const QString &) { return true; }
bool cManifestItem::SyncModTime() { return false; }
bool cManifestItem::SyncModTime(const QDateTime &) { return false; }
bool cManifestItem::SyncThumbnail() { return false; }
eMetadataType cManifestItem::AutoDetermineFileType(const QString &, const QString &) const { return Unknown; }
QString cManifestItem::AutoDetermineComment(eMetadataType) const { return QString(); }
QString cManifestItem::AutoDetermineAuthor(eMetadataType) const { return QString(); }
bool cManifestItem::AutoDetermineHiddenState(eMetadataType) const { return true; }
bool cManifestItem::AutoDetermineReadOnlyState(eMetadataType) const { return false; }
