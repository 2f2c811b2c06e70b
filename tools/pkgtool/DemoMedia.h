#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The media files of the demo, made on the spot so that nothing binary is shipped.
namespace DemoMedia {

// Writes the file atomically; false when it cannot be written whole.
bool WriteBytes(const QString &path, const QByteArray &bytes);

// An APP1 segment holding a minimal EXIF block with one Orientation entry (tag 274).
QByteArray ExifOrientationSegment(quint16 orientation);
// The JPEG bytes with the segment placed right after the start-of-image marker; empty when
// the bytes are no JPEG stream.
QByteArray InsertSegmentAfterSoi(const QByteArray &jpeg, const QByteArray &segment);

// A landscape photograph stored sideways: the picture is turned upright by orientation 6.
[[nodiscard]] bool WritePhoto(const QString &path, quint16 orientation);
[[nodiscard]] bool WriteSetupSheetPng(const QString &path, const QString &title, const QStringList &lines);
[[nodiscard]] bool WriteSetupSheetPdf(const QString &path, const QString &title, const QStringList &lines);
// A short test-pattern clip through ffmpeg; false with the reason when ffmpeg is missing or fails.
[[nodiscard]] bool WriteVideo(const QString &path, QString &reason);
// The program started for ffmpeg, found on PATH (honours PACKAGEMANAGER_FFMPEG); empty when missing.
QString FfmpegProgram();
// A small placeholder JPEG used when the defaults folder cannot be found.
QByteArray PlaceholderThumbnail();
// A small GIF used when the defaults folder cannot be found.
QByteArray PlaceholderGif();

} // namespace DemoMedia
