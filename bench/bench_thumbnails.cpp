// Thumbnails of generated photographs: milliseconds per image for the package's image
// thumbnails, for a plain full decode followed by QImage::scaled, and for vipsthumbnail
// (when installed) on the same files in one process call.

#include "media/Thumbnails.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// Smooth gradients, shapes and grain: about what a camera picture costs to decode.
QImage Photograph(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, width, height);
    sky.setColorAt(0, QColor(40, 90, 160));
    sky.setColorAt(1, QColor(230, 200, 150));
    painter.fillRect(image.rect(), sky);
    for (int i = 0; i < 60; ++i) {
        painter.setBrush(QColor::fromRgb(random.generate() | 0xFF000000));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPoint(random.bounded(width), random.bounded(height)), random.bounded(width / 6) + 10,
                            random.bounded(height / 6) + 10);
    }
    painter.end();
    for (int y = 0; y < height; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int grain = int(random.bounded(17)) - 8;
            const QRgb p = line[x];
            line[x] = qRgb(qBound(0, qRed(p) + grain, 255), qBound(0, qGreen(p) + grain, 255),
                           qBound(0, qBlue(p) + grain, 255));
        }
    }
    return image;
}

double OursPerImage(const QStringList &files)
{
    QElapsedTimer timer;
    timer.start();
    for (const QString &file : files) {
        if (GenerateImageThumbnail(QFileInfo(file)).isEmpty())
            std::fprintf(stderr, "no thumbnail for %s\n", qPrintable(file));
    }
    return double(timer.nsecsElapsed()) / 1e6 / files.size();
}

double FullDecodePerImage(const QStringList &files)
{
    QElapsedTimer timer;
    timer.start();
    for (const QString &file : files) {
        const QImage thumbnail = QImage(file).scaled(110, 110, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        thumbnail.save(file + QLatin1String(".full.thumb"), "JPEG");
    }
    return double(timer.nsecsElapsed()) / 1e6 / files.size();
}

double VipsPerImage(const QString &vips, const QStringList &files, const QString &outFolder)
{
    QDir().mkpath(outFolder);
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(vips, QStringList(files) << QStringLiteral("-s") << QStringLiteral("110x110") << QStringLiteral("-o")
                                           << outFolder + QLatin1String("/%s.jpg"));
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        return -1;
    return double(timer.nsecsElapsed()) / 1e6 / files.size();
}

// Mean absolute channel difference between our thumbnails and the full-decode ones.
double MeanDifference(const QStringList &files)
{
    double total = 0;
    for (const QString &file : files) {
        const QImage ours = QImage(file + QLatin1String(".thumb")).convertToFormat(QImage::Format_RGB32);
        const QImage full = QImage(file + QLatin1String(".full.thumb")).convertToFormat(QImage::Format_RGB32);
        if (ours.size() != full.size())
            return -1;
        double sum = 0;
        for (int y = 0; y < ours.height(); ++y) {
            for (int x = 0; x < ours.width(); ++x) {
                const QRgb p = ours.pixel(x, y);
                const QRgb q = full.pixel(x, y);
                sum += qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q)) + qAbs(qBlue(p) - qBlue(q));
            }
        }
        total += sum / (3.0 * ours.width() * ours.height());
    }
    return total / files.size();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString vips = QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail"));
    const int imagesPerSize = 6;
    const struct
    {
        const char *name;
        QSize size;
    } sizes[] = {{"12 MP", QSize(4000, 3000)}, {"2 MP", QSize(1632, 1224)}};

    std::printf("%-6s %6s %9s %9s %9s %9s %10s\n", "size", "images", "ours ms", "full ms", "vips ms", "ours/vips",
                "diff/full");
    for (const auto &size : sizes) {
        QStringList files;
        const QImage picture = Photograph(size.size.width(), size.size.height(), 7);
        for (int i = 0; i < imagesPerSize; ++i) {
            const QString file = dir.filePath(QStringLiteral("%1-%2.jpg").arg(size.size.width()).arg(i));
            picture.save(file, "JPEG", 92);
            files << file;
        }
        // Warm the file cache and the image plugins once.
        GenerateImageThumbnail(QFileInfo(files.first()));

        const double ours = OursPerImage(files);
        const double full = FullDecodePerImage(files);
        const double vipsMs =
            vips.isEmpty() ? -1 : VipsPerImage(vips, files, dir.filePath(QStringLiteral("vips-%1").arg(size.name)));
        const double difference = MeanDifference(files);
        if (vipsMs > 0)
            std::printf("%-6s %6d %9.2f %9.2f %9.2f %9.2f %10.2f\n", size.name, int(files.size()), ours, full, vipsMs,
                        ours / vipsMs, difference);
        else
            std::printf("%-6s %6d %9.2f %9.2f %9s %9s %10.2f\n", size.name, int(files.size()), ours, full, "n/a", "n/a",
                        difference);
    }
    return 0;
}
