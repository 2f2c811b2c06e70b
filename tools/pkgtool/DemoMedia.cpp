#include "DemoMedia.h"

#include "platform/AtomicFile.h"

#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QStandardPaths>

namespace DemoMedia {

namespace {

void AppendBigEndian16(QByteArray &bytes, quint16 value)
{
    bytes.append(char(value >> 8));
    bytes.append(char(value & 0xff));
}

void AppendBigEndian32(QByteArray &bytes, quint32 value)
{
    AppendBigEndian16(bytes, quint16(value >> 16));
    AppendBigEndian16(bytes, quint16(value & 0xffff));
}

// A drawing of a part on a fixture plate, as the camera saw it.
QImage FixturePicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, 0, height);
    background.setColorAt(0, QColor(70, 80, 90));
    background.setColorAt(1, QColor(30, 35, 40));
    painter.fillRect(image.rect(), background);
    painter.setBrush(QColor(150, 155, 160));
    painter.setPen(QPen(QColor(20, 20, 20), 3));
    painter.drawRect(width / 8, height / 4, width * 3 / 4, height / 2);
    painter.setBrush(QColor(190, 195, 200));
    for (int i = 0; i < 4; ++i)
        painter.drawEllipse(QPoint(width / 4 + i * width / 6, height / 2), width / 30, width / 30);
    // The top edge is marked so that a turned picture is easy to spot.
    painter.setBrush(QColor(220, 60, 40));
    painter.setPen(Qt::NoPen);
    painter.drawRect(0, 0, width, height / 16);
    return image;
}

void DrawSheet(QPainter &painter, const QRect &area, const QString &title, const QStringList &lines)
{
    painter.fillRect(area, Qt::white);
    painter.setPen(QPen(Qt::black, area.width() / 400 + 1));
    painter.drawRect(area.adjusted(area.width() / 40, area.height() / 40, -area.width() / 40, -area.height() / 40));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(area.height() / 18);
    font.setBold(true);
    painter.setFont(font);
    const int left = area.left() + area.width() / 15;
    int y = area.top() + area.height() / 8;
    painter.drawText(left, y, title);
    font.setPixelSize(area.height() / 32);
    font.setBold(false);
    painter.setFont(font);
    for (const QString &line : lines) {
        y += area.height() / 20;
        painter.drawText(left, y, line);
    }
}

} // namespace

bool WriteBytes(const QString &path, const QByteArray &bytes)
{
    // Demo files are made again by the next demo: no need to force them to disk.
    return Platform::WriteFileAtomically(path, bytes, Platform::Durability::NoSync);
}

QByteArray ExifOrientationSegment(quint16 orientation)
{
    // "Exif\0\0", then a big-endian TIFF block with IFD0 holding one SHORT entry.
    QByteArray tiff("MM\0\x2a", 4);
    AppendBigEndian32(tiff, 8);   // offset of IFD0
    AppendBigEndian16(tiff, 1);   // one entry
    AppendBigEndian16(tiff, 274); // Orientation
    AppendBigEndian16(tiff, 3);   // SHORT
    AppendBigEndian32(tiff, 1);   // count
    AppendBigEndian16(tiff, orientation);
    AppendBigEndian16(tiff, 0); // padding of the value field
    AppendBigEndian32(tiff, 0); // no next directory

    QByteArray payload("Exif\0\0", 6);
    payload += tiff;
    QByteArray segment("\xff\xe1", 2);
    AppendBigEndian16(segment, quint16(payload.size() + 2));
    return segment + payload;
}

QByteArray InsertSegmentAfterSoi(const QByteArray &jpeg, const QByteArray &segment)
{
    if (jpeg.size() < 4 || quint8(jpeg.at(0)) != 0xff || quint8(jpeg.at(1)) != 0xd8)
        return QByteArray();
    return jpeg.left(2) + segment + jpeg.mid(2);
}

bool WritePhoto(const QString &path, quint16 orientation)
{
    // Stored as the sensor saw it: a landscape scene turned a quarter to the left, which
    // orientation 6 turns back.
    const QImage upright = FixturePicture(640, 480);
    QTransform turn;
    turn.rotate(-90);
    const QImage stored = upright.transformed(turn);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!stored.save(&buffer, "JPEG", 90))
        return false;
    const QByteArray withExif = InsertSegmentAfterSoi(jpeg, ExifOrientationSegment(orientation));
    return !withExif.isEmpty() && WriteBytes(path, withExif);
}

bool WriteSetupSheetPng(const QString &path, const QString &title, const QStringList &lines)
{
    QImage image(800, 600, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    DrawSheet(painter, image.rect(), title, lines);
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    return image.save(&buffer, "PNG") && WriteBytes(path, png);
}

bool WriteSetupSheetPdf(const QString &path, const QString &title, const QStringList &lines)
{
    QByteArray pdf;
    {
        QBuffer buffer(&pdf);
        if (!buffer.open(QIODevice::WriteOnly))
            return false;
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setResolution(150);
        writer.setTitle(title);
        writer.setCreator(QStringLiteral("pkgtool demo"));
        QPainter painter;
        if (!painter.begin(&writer))
            return false;
        const QRect page(0, 0, writer.width(), writer.height());
        DrawSheet(painter, page, title, lines);
        painter.end();
    }
    return !pdf.isEmpty() && WriteBytes(path, pdf);
}

QString FfmpegProgram()
{
    const QString configured = qEnvironmentVariable("PACKAGEMANAGER_FFMPEG", QStringLiteral("ffmpeg"));
    if (QFileInfo(configured).isAbsolute())
        return QFileInfo(configured).isExecutable() ? configured : QString();
    return QStandardPaths::findExecutable(configured);
}

bool WriteVideo(const QString &path, QString &reason)
{
    const QString ffmpeg = FfmpegProgram();
    if (ffmpeg.isEmpty()) {
        reason = QStringLiteral("ffmpeg not found");
        return false;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(ffmpeg,
                  {QStringLiteral("-nostdin"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                   QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                   QStringLiteral("testsrc=duration=3:size=320x240:rate=15"), QStringLiteral("-pix_fmt"),
                   QStringLiteral("yuv420p"), QStringLiteral("-g"), QStringLiteral("15"), QStringLiteral("-y"), path});
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished(1000);
        reason = QStringLiteral("ffmpeg did not finish");
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 || !QFileInfo::exists(path)) {
        reason = QStringLiteral("ffmpeg failed: ") + QString::fromLocal8Bit(process.readAll()).trimmed();
        return false;
    }
    return true;
}

QByteArray PlaceholderThumbnail()
{
    QImage image(110, 110, QImage::Format_RGB32);
    image.fill(QColor(200, 40, 40));
    QPainter painter(&image);
    painter.fillRect(10, 10, 90, 90, Qt::white);
    painter.setPen(QPen(QColor(200, 40, 40), 6));
    painter.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("PDF"));
    painter.end();
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return jpeg;
}

QByteArray PlaceholderGif()
{
    // A 1 x 1 grey GIF: Qt writes no GIF, and this file only stands in for a missing default.
    static const unsigned char gif[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80, 0x00,
                                        0x00, 0x80, 0x80, 0x80, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00, 0x00, 0x00,
                                        0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3b};
    return QByteArray(reinterpret_cast<const char *>(gif), int(sizeof(gif)));
}

} // namespace DemoMedia
