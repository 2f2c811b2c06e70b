#pragma once

#include "media/ExifValue.h"

#include <QByteArray>
#include <QMap>
#include <QSharedDataPointer>
#include <QString>
#include <QSysInfo>

class QIODevice;
class ExifReaderPrivate;

// Reads the EXIF block of a JPEG file: its main image, EXIF, GPS and thumbnail directories
// and the embedded thumbnail picture.
//
// Every read is checked against the block. Numbers beyond its end read as 0; an entry
// whose elements do not all lie inside the block decodes to the null value, so a bad count
// never allocates more than the block holds. Only the main image directory and its one
// successor (the thumbnail directory) are read, so a directory chain that loops back on
// itself cannot keep the reader busy.
class ExifReader
{
public:
    ExifReader();
    explicit ExifReader(const QString &fileName);
    ExifReader(const ExifReader &other);
    ExifReader &operator=(const ExifReader &other);
    ~ExifReader();

    bool loadFromJpeg(const QString &fileName);
    bool loadFromJpeg(QIODevice *device);
    // Reads a TIFF block starting at the device's position; offsets count from there.
    bool read(QIODevice *device);

    // A tag of the main image directory, or the null value.
    ExifValue value(quint16 tag) const;

    QSysInfo::Endian byteOrder() const;
    QMap<quint16, ExifValue> imageTags() const;
    QMap<quint16, ExifValue> extendedTags() const;
    QMap<quint16, ExifValue> gpsTags() const;
    QMap<quint16, ExifValue> thumbnailTags() const;

    QByteArray thumbnailData() const;
    ExifValue thumbnailXResolution() const;
    ExifValue thumbnailYResolution() const;
    ExifValue thumbnailResolutionUnit() const;
    ExifValue thumbnailOrientation() const;

    static constexpr quint16 OrientationTag = 274;

private:
    QSharedDataPointer<ExifReaderPrivate> d;
};
