// Draws the two default files that the package manager installs:
//   generic_pdf.thumb           thumbnail of every PDF in a package (JPEG, 110 x 110)
//   undetermined_rendering.gif  stand-in for a program rendering not made yet (GIF)
// Usage: make_default_files <output folder>
// The outputs are committed beside this source; run it again only to change the drawings.

#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <QVector>

#include <cgif.h>

#include <cstdio>
#include <cstring>

namespace {

QImage DrawPdfThumbnail()
{
    QImage image(110, 110, QImage::Format_RGB32);
    image.fill(QColor(236, 238, 241));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    // A page with a folded corner.
    QPainterPath page;
    page.moveTo(24, 8);
    page.lineTo(72, 8);
    page.lineTo(88, 24);
    page.lineTo(88, 102);
    page.lineTo(24, 102);
    page.closeSubpath();
    painter.setPen(QPen(QColor(120, 124, 130), 1.5));
    painter.setBrush(Qt::white);
    painter.drawPath(page);
    QPainterPath fold;
    fold.moveTo(72, 8);
    fold.lineTo(72, 24);
    fold.lineTo(88, 24);
    painter.setBrush(QColor(214, 217, 222));
    painter.drawPath(fold);

    // Lines of text.
    painter.setPen(QPen(QColor(170, 174, 180), 3, Qt::SolidLine, Qt::RoundCap));
    for (int y = 32; y <= 62; y += 8)
        painter.drawLine(32, y, y == 32 ? 64 : 80, y);

    // The red band of a document reader's icon.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(200, 32, 38));
    painter.drawRoundedRect(QRectF(16, 72, 60, 22), 3, 3);
    // "PDF" in strokes, so that no font is needed.
    painter.setPen(QPen(Qt::white, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    QPainterPath letters;
    letters.moveTo(24, 89); // P
    letters.lineTo(24, 77);
    letters.lineTo(30, 77);
    letters.quadTo(34, 80, 30, 83);
    letters.lineTo(24, 83);
    letters.moveTo(39, 77); // D
    letters.lineTo(39, 89);
    letters.lineTo(43, 89);
    letters.quadTo(50, 83, 43, 77);
    letters.closeSubpath();
    letters.moveTo(56, 89); // F
    letters.lineTo(56, 77);
    letters.lineTo(64, 77);
    letters.moveTo(56, 83);
    letters.lineTo(62, 83);
    painter.drawPath(letters);
    return image;
}

// Few colours and no smoothing, so that the picture maps exactly onto the GIF palette.
const QVector<QRgb> RenderingPalette = {qRgb(228, 230, 234), qRgb(150, 156, 164), qRgb(64, 70, 80), qRgb(38, 110, 196)};

QImage DrawUndeterminedRendering()
{
    QImage image(160, 120, QImage::Format_RGB32);
    image.fill(RenderingPalette.at(0));
    QPainter painter(&image);

    // The stock, drawn dashed: its shape is known, the part's is not.
    painter.setPen(QPen(QColor(RenderingPalette.at(1)), 2, Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(16, 14, 128, 92);

    // A question mark in strokes.
    painter.setPen(QPen(QColor(RenderingPalette.at(3)), 9, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    QPainterPath mark;
    mark.moveTo(62, 46);
    mark.arcTo(QRectF(62, 28, 36, 32), 180, -270);
    mark.lineTo(80, 72);
    painter.drawPath(mark);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(RenderingPalette.at(3)));
    painter.drawRect(75, 80, 10, 10);
    painter.end();
    return image.convertToFormat(QImage::Format_Indexed8, RenderingPalette, Qt::ThresholdDither);
}

// The indexed picture as a GIF with its own colour table; empty on failure.
QByteArray EncodeGif(const QImage &indexed)
{
    const QVector<QRgb> colours = indexed.colorTable();
    QByteArray table;
    for (const QRgb colour : colours)
        table.append(char(qRed(colour))).append(char(qGreen(colour))).append(char(qBlue(colour)));
    QByteArray pixels;
    for (int y = 0; y < indexed.height(); ++y)
        pixels.append(reinterpret_cast<const char *>(indexed.constScanLine(y)), indexed.width());

    QByteArray out;
    CGIF_Config config{};
    config.pGlobalPalette = reinterpret_cast<uint8_t *>(table.data());
    config.numGlobalPaletteEntries = uint16_t(colours.size());
    config.width = uint16_t(indexed.width());
    config.height = uint16_t(indexed.height());
    config.pWriteFn = [](void *context, const uint8_t *data, size_t size) {
        static_cast<QByteArray *>(context)->append(reinterpret_cast<const char *>(data), qsizetype(size));
        return int(CGIF_OK);
    };
    config.pContext = &out;
    CGIF *gif = cgif_newgif(&config);
    if (!gif)
        return QByteArray();
    CGIF_FrameConfig frame{};
    frame.pImageData = reinterpret_cast<uint8_t *>(pixels.data());
    const bool added = cgif_addframe(gif, &frame) == CGIF_OK;
    const bool closed = cgif_close(gif) == CGIF_OK;
    return added && closed ? out : QByteArray();
}

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return !bytes.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const bool pdfWritten = DrawPdfThumbnail().save(folder + QStringLiteral("/generic_pdf.thumb"), "JPEG", 90);
    const bool gifWritten =
        WriteFile(folder + QStringLiteral("/undetermined_rendering.gif"), EncodeGif(DrawUndeterminedRendering()));
    if (!pdfWritten || !gifWritten) {
        std::fprintf(stderr, "cannot write the default files into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
