#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>

// Pictures and EXIF blocks made by hand for the media tests.
namespace MediaTestUtils {

// A TIFF block laid out by the test: header pointing at a directory at offset 8, then
// directories and data at chosen offsets, numbers in the block's byte order.
struct TiffBlock
{
    explicit TiffBlock(bool bigEndian)
        : bigEndian(bigEndian), bytes((bigEndian ? "MM" : "II") + Number(42, 2) + Number(8, 4))
    {}
    QByteArray Number(quint32 value, int size) const
    {
        QByteArray out(size, '\0');
        for (int i = 0; i < size; ++i)
            out[bigEndian ? size - 1 - i : i] = char(value >> (8 * i));
        return out;
    }
    // A 12-byte directory entry; `field` is padded to its 4 bytes.
    QByteArray Entry(quint16 tag, quint16 type, quint32 n, const QByteArray &field) const
    {
        return Number(tag, 2) + Number(type, 2) + Number(n, 4) + field.leftJustified(4, '\0', true);
    }
    QByteArray Short(quint16 tag, quint16 value) const { return Entry(tag, 3, 1, Number(value, 2)); }
    QByteArray At(quint16 tag, quint16 type, quint32 n, quint32 at) const { return Entry(tag, type, n, Number(at, 4)); }
    void Directory(int at, const QList<QByteArray> &entries, quint32 next = 0)
    {
        Put(at, Number(quint32(entries.size()), 2) + entries.join() + Number(next, 4));
    }
    void Put(int at, const QByteArray &data)
    {
        bytes.resize(qMax(bytes.size(), qsizetype(at + data.size())), '\0');
        bytes.replace(at, data.size(), data);
    }

    bool bigEndian;
    QByteArray bytes;
};

// IFD0 holding only Orientation, stored as SHORT (type 3) or LONG (type 4).
QByteArray OrientationBlock(quint16 orientation, bool bigEndian = false, quint16 type = 3);
// The JPEG stream with an EXIF segment around the block right after its start-of-image
// marker, after `segmentBefore` if given.
QByteArray WithExif(const QByteArray &jpeg, const QByteArray &tiffBlock, const QByteArray &segmentBefore = {});
QByteArray Encode(const QImage &image, const char *format = "JPEG");
// Quadrant q (0 top left, 1 top right, 2 bottom left, 3 bottom right) has the hue 30 + 90 q
// degrees, so every orientation of the picture looks different.
QImage QuadrantPicture(int width, int height);

} // namespace MediaTestUtils
