#include "media/Thumbnails.h"

bool UpdateImageThumbnail(const QFileInfo &, const QFileInfo &) { return false; }
bool UpdateVideoThumbnail(const QFileInfo &, const QFileInfo &) { return false; }
QString GenerateImageThumbnail(const QFileInfo &) { return QString(); }
QString GenerateVideoThumbnail(const QFileInfo &) { return QString(); }
QString GeneratePdfThumbnail(const QFileInfo &) { return QString(); }
QString GenerateUndeterminedRendering(const QFileInfo &) { return QString(); }
bool ReplaceWithUndeterminedRendering(const QFileInfo &) { return false; }
QDir GetParentOfFileDir(const QFileInfo &file)
{
    QDir dir(file.absolutePath());
    dir.cdUp();
    return dir;
}
bool TouchFile(const QFileInfo &) { return false; }
QImage ApplyExifOrientation(const QImage &image, quint16) { return image; }
