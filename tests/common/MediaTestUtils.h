#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QList>
#include <QString>

// Pictures and EXIF blocks made by hand for the media tests.
namespace MediaTestUtils {

// A TIFF block laid out by the test: header with the first directory at offset 8,
// directories and data put at chosen offsets. Numbers use the block's byte order.
class TiffBlockWriter
{
public:
    struct Entry
    {
        quint16 tag;
        quint16 type;
        quint32 count;
        QByteArray field; // the 4-byte field as it stands in the file
    };

    TiffBlockWriter(bool bigEndian, int size);

    QByteArray U16(quint16 value) const;
    QByteArray U32(quint32 value) const;
    // Fields: a 32-bit number, two 16-bit numbers, or raw bytes padded to 4.
    QByteArray Field32(quint32 value) const { return U32(value); }
    QByteArray Field16(quint16 first, quint16 second = 0) const { return U16(first) + U16(second); }
    static QByteArray FieldBytes(const QByteArray &bytes)
    {
        QByteArray field = bytes.left(4);
        field.resize(4, '\0');
        return field;
    }

    Entry Short(quint16 tag, quint16 value) const { return {tag, 3, 1, Field16(value)}; }
    Entry Long(quint16 tag, quint32 value) const { return {tag, 4, 1, Field32(value)}; }
    Entry AtOffset(quint16 tag, quint16 type, quint32 count, quint32 offset) const
    {
        return {tag, type, count, Field32(offset)};
    }

    void PutDirectory(int offset, const QList<Entry> &entries, quint32 next = 0);
    void PutBytes(int offset, const QByteArray &bytes);
    void PutU16(int offset, quint16 value) { PutBytes(offset, U16(value)); }
    void PutU32(int offset, quint32 value) { PutBytes(offset, U32(value)); }

    QByteArray bytes;

private:
    bool bigEndian;
};

// A small IFD0 holding only Orientation (SHORT) in the given byte order.
QByteArray OrientationBlock(quint16 orientation, bool bigEndian = false);

// APP1 segments: EXIF around a TIFF block, or an XMP packet.
QByteArray ExifSegment(const QByteArray &tiffBlock);
QByteArray XmpSegment();

// The JPEG stream with the segments inserted right after its start-of-image marker.
QByteArray WithSegments(const QByteArray &jpeg, const QList<QByteArray> &segments);

QByteArray EncodeJpeg(const QImage &image, int quality = 90);
QByteArray EncodePng(const QImage &image);

// A picture that looks different in every orientation: four coloured quadrants
// (red, green / blue, yellow) and a black bar along the top-left of the red one.
QImage QuadrantPicture(int width, int height);
QColor QuadrantColour(int index); // 0 top left, 1 top right, 2 bottom left, 3 bottom right

// The stored pixels of `upright` for an EXIF orientation (1 to 8): what a camera writes
// when the picture must be turned that way to be upright. Worked out pixel by pixel.
QImage StoredForOrientation(const QImage &upright, int orientation);

// Mean absolute difference of the colour channels; 255 when the sizes differ.
double MeanDifference(const QImage &a, const QImage &b);

} // namespace MediaTestUtils
