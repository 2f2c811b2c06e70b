#include "MediaTestUtils.h"

#include <QBuffer>
#include <QPainter>
#include <QtEndian>

#include <cstdlib>

namespace MediaTestUtils {

TiffBlockWriter::TiffBlockWriter(bool bigEndian, int size) : bytes(size, '\0'), bigEndian(bigEndian)
{
    PutBytes(0, bigEndian ? QByteArray("MM") : QByteArray("II"));
    PutU16(2, 42);
    PutU32(4, 8);
}

QByteArray TiffBlockWriter::U16(quint16 value) const
{
    QByteArray out(2, '\0');
    if (bigEndian)
        qToBigEndian(value, out.data());
    else
        qToLittleEndian(value, out.data());
    return out;
}

QByteArray TiffBlockWriter::U32(quint32 value) const
{
    QByteArray out(4, '\0');
    if (bigEndian)
        qToBigEndian(value, out.data());
    else
        qToLittleEndian(value, out.data());
    return out;
}

void TiffBlockWriter::PutDirectory(int offset, const QList<Entry> &entries, quint32 next)
{
    QByteArray directory = U16(quint16(entries.size()));
    for (const Entry &entry : entries)
        directory += U16(entry.tag) + U16(entry.type) + U32(entry.count) + FieldBytes(entry.field);
    directory += U32(next);
    PutBytes(offset, directory);
}

void TiffBlockWriter::PutBytes(int offset, const QByteArray &data)
{
    if (bytes.size() < offset + data.size())
        bytes.resize(offset + data.size(), '\0');
    bytes.replace(offset, data.size(), data);
}

QByteArray OrientationBlock(quint16 orientation, bool bigEndian)
{
    TiffBlockWriter writer(bigEndian, 8);
    writer.PutDirectory(8, {writer.Short(274, orientation)});
    return writer.bytes;
}

static QByteArray Segment(char marker, const QByteArray &content)
{
    QByteArray out("\xFF");
    out.append(marker);
    QByteArray length(2, '\0');
    qToBigEndian(quint16(content.size() + 2), length.data());
    return out + length + content;
}

QByteArray ExifSegment(const QByteArray &tiffBlock)
{
    return Segment(char(0xE1), QByteArray("Exif\0\0", 6) + tiffBlock);
}

QByteArray XmpSegment()
{
    return Segment(char(0xE1), QByteArray("http://ns.adobe.com/xap/1.0/\0", 29) +
                                   "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF/></x:xmpmeta>");
}

QByteArray WithSegments(const QByteArray &jpeg, const QList<QByteArray> &segments)
{
    QByteArray out = jpeg.left(2);
    for (const QByteArray &segment : segments)
        out += segment;
    return out + jpeg.mid(2);
}

static QByteArray Encode(const QImage &image, const char *format, int quality)
{
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return out;
}

QByteArray EncodeJpeg(const QImage &image, int quality)
{
    return Encode(image, "JPEG", quality);
}
QByteArray EncodePng(const QImage &image)
{
    return Encode(image, "PNG", -1);
}

QColor QuadrantColour(int index)
{
    static const QColor colours[] = {QColor(220, 30, 30), QColor(30, 200, 30), QColor(30, 30, 220),
                                     QColor(230, 220, 20)};
    return colours[index];
}

QImage QuadrantPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    const int halfW = width / 2;
    const int halfH = height / 2;
    painter.fillRect(0, 0, halfW, halfH, QuadrantColour(0));
    painter.fillRect(halfW, 0, width - halfW, halfH, QuadrantColour(1));
    painter.fillRect(0, halfH, halfW, height - halfH, QuadrantColour(2));
    painter.fillRect(halfW, halfH, width - halfW, height - halfH, QuadrantColour(3));
    painter.fillRect(0, 0, halfW / 2, halfH / 4, Qt::black);
    return image;
}

QImage StoredForOrientation(const QImage &upright, int orientation)
{
    const int w = upright.width();
    const int h = upright.height();
    const bool transposed = orientation >= 5;
    const int sw = transposed ? h : w;
    const int sh = transposed ? w : h;
    QImage stored(sw, sh, upright.format());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // Where the upright pixel (x, y) lies in the stored picture.
            int sx = x;
            int sy = y;
            switch (orientation) {
            case 2:
                sx = w - 1 - x;
                break;
            case 3:
                sx = w - 1 - x;
                sy = h - 1 - y;
                break;
            case 4:
                sy = h - 1 - y;
                break;
            case 5:
                sx = y;
                sy = x;
                break;
            case 6:
                sx = y;
                sy = sh - 1 - x;
                break;
            case 7:
                sx = sw - 1 - y;
                sy = sh - 1 - x;
                break;
            case 8:
                sx = sw - 1 - y;
                sy = x;
                break;
            default:
                break;
            }
            stored.setPixel(sx, sy, upright.pixel(x, y));
        }
    }
    return stored;
}

double MeanDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 255;
    const QImage first = a.convertToFormat(QImage::Format_RGB32);
    const QImage second = b.convertToFormat(QImage::Format_RGB32);
    double total = 0;
    for (int y = 0; y < first.height(); ++y) {
        for (int x = 0; x < first.width(); ++x) {
            const QRgb p = first.pixel(x, y);
            const QRgb q = second.pixel(x, y);
            total += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    }
    return total / (3.0 * first.width() * first.height());
}

} // namespace MediaTestUtils
