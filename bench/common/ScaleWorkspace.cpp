#include "ScaleWorkspace.h"

#include "ScanWorkspace.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>

#include <sys/stat.h>

namespace ScaleWorkspace {

namespace {

bool Write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray Note(int index)
{
    return "Setup note " + QByteArray::number(index) +
           "\nClamp on the left jaw, zero X on the fixed stop, Y on the part centre.\n"
           "Check the 10 mm end mill for wear before the finishing pass.\n";
}

// A one-page PDF with a line of text: small, but a real document.
QByteArray Pdf(int index)
{
    const QByteArray text = "BT /F1 18 Tf 72 720 Td (Setup sheet " + QByteArray::number(index) + ") Tj ET";
    QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + QByteArray::number(text.size()) + " >>\nstream\n" + text + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets << pdf.size();
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

// The package folder name of a program, as the registry encodes it.
QString PackageFolderName(const QString &programPath)
{
    const QFileInfo file(programPath);
    QString folder = file.absolutePath().toUpper();
    folder.replace(QLatin1Char('/'), QLatin1Char(','));
    return folder + QLatin1Char('^') + file.completeBaseName().toUpper() + QLatin1String(".pkg");
}

qint64 ProcField(const QString &path, const char *field)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

int AddNotesAndPdfs(const QString &packagesRoot, int noteEvery, int pdfEvery)
{
    const QStringList packages =
        QDir(packagesRoot).entryList({QStringLiteral("*.pkg")}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    int written = 0;
    for (qsizetype i = 0; i < packages.size(); ++i) {
        const QString folder = packagesRoot + QLatin1Char('/') + packages.at(i) + QLatin1Char('/');
        if (noteEvery > 0 && i % noteEvery == 3 % noteEvery &&
            Write(folder + QStringLiteral("setup.txt"), Note(int(i))))
            ++written;
        if (pdfEvery > 0 && i % pdfEvery == 5 % pdfEvery && Write(folder + QStringLiteral("drawing.pdf"), Pdf(int(i))))
            ++written;
    }
    return written;
}

QSet<QString> EditPrograms(const QStringList &partsFolders, int every)
{
    QStringList programs;
    for (const QString &folder : partsFolders) {
        const QStringList names = QDir(folder).entryList({QStringLiteral("*.NC")}, QDir::Files, QDir::Name);
        for (const QString &name : names)
            programs << folder + QLatin1Char('/') + name;
    }
    programs.sort();
    QSet<QString> touched;
    for (qsizetype i = 0; i < programs.size(); i += qMax(1, every)) {
        // A program with a conversational companion may have made its package from the
        // companion, and such a package follows the program without extension.
        while (i < programs.size() && QFileInfo::exists(programs.at(i).chopped(3) + QStringLiteral(".CNV")))
            ++i;
        if (i >= programs.size())
            break;
        const QString &path = programs.at(i);
        const QString name = QFileInfo(path).completeBaseName();
        if (Write(path, ScanWorkspace::MillingProgram(name + QStringLiteral("-REV2"), 3000 + int(i % 1000))))
            touched.insert(PackageFolderName(path));
    }
    return touched;
}

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

qint64 StatusKiB(const char *field)
{
    return ProcField(QStringLiteral("/proc/self/status"), field);
}

qint64 IoCounter(const char *field)
{
    return ProcField(QStringLiteral("/proc/self/io"), field);
}

FolderSnapshot::FolderSnapshot(const QString &packagesRoot)
{
    const QStringList packages =
        QDir(packagesRoot).entryList({QStringLiteral("*.pkg")}, QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString &package : packages) {
        const QString folder = packagesRoot + QLatin1Char('/') + package;
        auto &files = folders[package];
        // Hidden files too: a stray temporary file is a change.
        const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Unsorted);
        for (const QString &name : names) {
            struct stat info;
            if (::stat(QFile::encodeName(folder + QLatin1Char('/') + name).constData(), &info) != 0)
                continue;
            files.insert(name, {qint64(info.st_size), qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec});
        }
    }
}

int FolderSnapshot::ChangedFiles(const FolderSnapshot &earlier) const
{
    int changed = 0;
    QSet<QString> names(folders.keyBegin(), folders.keyEnd());
    for (auto it = earlier.folders.keyBegin(); it != earlier.folders.keyEnd(); ++it)
        names.insert(*it);
    for (const QString &folder : std::as_const(names)) {
        const auto now = folders.value(folder);
        const auto before = earlier.folders.value(folder);
        for (auto it = now.cbegin(); it != now.cend(); ++it) {
            if (before.value(it.key(), {-1, -1}) != it.value())
                ++changed;
        }
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (!now.contains(it.key()))
                ++changed;
        }
    }
    return changed;
}

QSet<QString> FolderSnapshot::ChangedFolders(const FolderSnapshot &earlier) const
{
    QSet<QString> changed;
    for (auto it = folders.cbegin(); it != folders.cend(); ++it) {
        if (earlier.folders.value(it.key()) != it.value())
            changed.insert(it.key());
    }
    for (auto it = earlier.folders.keyBegin(); it != earlier.folders.keyEnd(); ++it) {
        if (!folders.contains(*it))
            changed.insert(*it);
    }
    return changed;
}

} // namespace ScaleWorkspace
