#include "ScanWorkspace.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

namespace ScanWorkspace {

namespace {

bool Write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray Coordinate(char axis, double value)
{
    return QByteArray(1, axis) + QByteArray::number(value, 'f', 3);
}

} // namespace

QByteArray MillingProgram(const QString &name, int approxBytes)
{
    QRandomGenerator random(qHash(name) ^ uint(approxBytes));
    QByteArray text = "%\nO" + QByteArray::number(1000 + random.bounded(8000)) + " (" + name.toUtf8() + ")\n";
    text += "(MATERIAL - ALU 6061)\nG21 G90 G94 G17\nG54\n";
    int tool = 1;
    while (text.size() < approxBytes) {
        text += "(T" + QByteArray::number(tool) + " - " + QByteArray::number(2 + tool * 2) + "MM END MILL)\n";
        text += "T" + QByteArray::number(tool) + " M6\nS" + QByteArray::number(4000 + 500 * tool) + " M3\nM8\n";
        text += "G0 " + Coordinate('X', random.bounded(100.0)) + " " + Coordinate('Y', random.bounded(80.0)) + "\n";
        text += "G43 H" + QByteArray::number(tool) + " Z5.\nG1 Z-1.5 F150\n";
        for (int move = 0; move < 40 && text.size() < approxBytes; ++move) {
            if (move % 9 == 8)
                text += "G2 " + Coordinate('X', random.bounded(100.0)) + " " + Coordinate('Y', random.bounded(80.0)) +
                        " R5. F600\n";
            else
                text += "G1 " + Coordinate('X', random.bounded(100.0)) + " " + Coordinate('Y', random.bounded(80.0)) +
                        " F800\n";
        }
        text += "G0 Z25.\nG81 X10. Y10. Z-8. R2. F120\nX30.\nX50.\nG80\nM9\n";
        ++tool;
    }
    text += "G28 G91 Z0\nM30\n%\n";
    return text;
}

QStringList GeneratePrograms(const QString &partsRoot, int count, int folderCount)
{
    QStringList folders;
    for (int f = 0; f < folderCount; ++f) {
        folders << partsRoot + QStringLiteral("/CELL%1").arg(f, 2, 10, QLatin1Char('0'));
        QDir().mkpath(folders.last());
    }
    QRandomGenerator random(4711);
    for (int i = 0; i < count; ++i) {
        const QString folder = folders.at(i % folderCount);
        const QString name = QStringLiteral("PART%1").arg(i, 5, 10, QLatin1Char('0'));
        Write(folder + QLatin1Char('/') + name + QStringLiteral(".NC"),
              MillingProgram(name, 2048 + int(random.bounded(4096))));
        if (i % 8 == 0)
            Write(folder + QLatin1Char('/') + name + QStringLiteral(".CNV"),
                  "N1\nFACE X0 Y0 W100 L50 D1\nN2\nPOCKET X10 Y10 W20 L20 D5\nN3\nEND\n");
    }
    return folders;
}

int AddImages(const QString &packagesRoot, int every)
{
    QImage photo(640, 480, QImage::Format_RGB32);
    photo.fill(QColor(90, 110, 130));
    {
        QPainter painter(&photo);
        painter.setBrush(QColor(200, 180, 40));
        painter.drawEllipse(200, 120, 240, 240);
    }
    const QFileInfoList packages =
        QDir(packagesRoot).entryInfoList({QStringLiteral("*.pkg")}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    int written = 0;
    for (int i = 0; i < packages.size(); i += qMax(1, every)) {
        if (photo.save(packages.at(i).absoluteFilePath() + QStringLiteral("/setup.jpg"), "JPEG", 85))
            ++written;
    }
    return written;
}

qint64 ListAndStat(const QStringList &partsFolders, const QString &packagesRoot)
{
    qint64 files = 0;
    volatile qint64 sink = 0; // keeps the stat calls
    auto visit = [&](const QString &folder) {
        const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files, QDir::Unsorted);
        for (const QFileInfo &entry : entries) {
            sink = sink + entry.size() + entry.lastModified().toMSecsSinceEpoch();
            ++files;
        }
    };
    for (const QString &folder : partsFolders)
        visit(folder);
    const QFileInfoList packages =
        QDir(packagesRoot).entryInfoList({QStringLiteral("*.pkg")}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &package : packages)
        visit(package.absoluteFilePath());
    return files;
}

qint64 BytesWritten()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = io.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("wchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

FileSnapshot::FileSnapshot(const QString &packagesRoot)
{
    const QFileInfoList packages =
        QDir(packagesRoot).entryInfoList({QStringLiteral("*.pkg")}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo &package : packages) {
        const QFileInfoList entries = QDir(package.absoluteFilePath()).entryInfoList(QDir::Files, QDir::Unsorted);
        for (const QFileInfo &entry : entries)
            files.insert(entry.absoluteFilePath(), {entry.size(), entry.lastModified().toMSecsSinceEpoch()});
    }
}

int FileSnapshot::ChangedSince(const FileSnapshot &earlier) const
{
    int changed = 0;
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (earlier.files.value(it.key(), {-1, -1}) != it.value())
            ++changed;
    }
    for (auto it = earlier.files.cbegin(); it != earlier.files.cend(); ++it) {
        if (!files.contains(it.key()))
            ++changed;
    }
    return changed;
}

} // namespace ScanWorkspace
