#include "MediaTestUtils.h"

#include <QBuffer>
#include <QPainter>

namespace MediaTestUtils {

QByteArray OrientationBlock(quint16 orientation, bool bigEndian, quint16 type)
{
    TiffBlock block(bigEndian);
    block.Directory(8, {block.Entry(274, type, 1, block.Number(orientation, type == 3 ? 2 : 4))});
    return block.bytes;
}

QByteArray WithExif(const QByteArray &jpeg, const QByteArray &tiffBlock, const QByteArray &segmentBefore)
{
    const QByteArray length = TiffBlock(true).Number(quint32(tiffBlock.size() + 8), 2);
    return jpeg.left(2) + segmentBefore + "\xFF\xE1" + length + QByteArray("Exif\0\0", 6) + tiffBlock + jpeg.mid(2);
}

QByteArray Encode(const QImage &image, const char *format)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 95);
    return buffer.data();
}

QImage QuadrantPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(300, 200, 220));
    QPainter painter(&image);
    for (int q = 0; q < 3; ++q)
        painter.fillRect(QRectF(q % 2 * width / 2.0, q / 2 * height / 2.0, width / 2.0, height / 2.0),
                         QColor::fromHsv(30 + 90 * q, 200, 220));
    return image;
}

} // namespace MediaTestUtils
