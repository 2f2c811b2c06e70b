#pragma once

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QString>

// Thumbnails beside package files. Sizes fit a 110 x 110 box.

bool UpdateImageThumbnail(const QFileInfo &image, const QFileInfo &thumbnail);
bool UpdateVideoThumbnail(const QFileInfo &video, const QFileInfo &thumbnail);

// Each makes the thumbnail beside its source and returns its file name, or a null string.
QString GenerateImageThumbnail(const QFileInfo &image);
QString GenerateVideoThumbnail(const QFileInfo &video);
QString GeneratePdfThumbnail(const QFileInfo &pdf);
QString GenerateUndeterminedRendering(const QFileInfo &ncProgram);

// Forgets that making the video's thumbnail failed (a video that fails is not given to the
// tool again until it changes). For a video removed from its package.
void ForgetThumbnailFailure(const QFileInfo &video);

// Replaces a missing or empty overview picture by the placeholder; without one nothing is
// written (an empty overview is never made).
bool ReplaceWithUndeterminedRendering(const QFileInfo &overview);
// The picture an overview takes in place of a rendering: the packages root's placeholder,
// else the defaults folder's; empty when neither is there. `size` takes its size.
QString PlaceholderOverviewSource(const QFileInfo &overview, qint64 *size = nullptr);

QDir GetParentOfFileDir(const QFileInfo &file);
bool TouchFile(const QFileInfo &file);
QImage ApplyExifOrientation(const QImage &image, quint16 orientation);
