// Classifies a folder of generated files with the part-program test and prints how fast
// it goes and how many bytes it reads per file. Qualifying programs should be read only
// as far as their first decisive line, whatever their size.
//
// Usage: bench_programs [file count] [folder]  (defaults: 10000, a temporary folder)

#include "programs/PartPrograms.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <map>
#include <vector>

namespace {

enum class Kind { NCProgram, LateNCProgram, ConvProgram, BareNCProgram, Note, Binary };

const char *KindName(Kind kind)
{
    switch (kind) {
    case Kind::NCProgram:
        return "NC program (.NC)";
    case Kind::LateNCProgram:
        return "NC program, long comment header";
    case Kind::ConvProgram:
        return "conversational (.CNV)";
    case Kind::BareNCProgram:
        return "NC program, no suffix";
    case Kind::Note:
        return "note (.TXT)";
    case Kind::Binary:
        return "binary (.JPG)";
    }
    return "";
}

struct Sample
{
    QString path;
    Kind kind;
    qint64 size;
};

qint64 BytesReadSoFar()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = io.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

// Sizes spread evenly on a log scale between the bounds.
qint64 LogUniform(QRandomGenerator &random, qint64 low, qint64 high)
{
    const double exponent = std::log(double(low)) + random.generateDouble() * std::log(double(high) / double(low));
    return qint64(std::exp(exponent));
}

QByteArray FillTo(QByteArray text, qint64 size, const QByteArray &line)
{
    text.reserve(size);
    while (text.size() + line.size() <= size)
        text += line;
    return text;
}

QByteArray Content(Kind kind, qint64 size, QRandomGenerator &random)
{
    switch (kind) {
    case Kind::NCProgram:
    case Kind::BareNCProgram:
        return FillTo("%\nO1234 (BRACKET)\nG90 G54 G17\n", size, "X12.345 Y-6.789 Z-1.5 F300\n");
    case Kind::LateNCProgram:
        return FillTo(FillTo("%\n", 4000, "(setup: clamp the part on the left jaw, probe z zero)\n") + "T1 M6\n", size,
                      "X12.345 Y-6.789 Z-1.5 F300\n");
    case Kind::ConvProgram:
        return FillTo("N1\nFACE X0 Y0 W100 L50 D1\nN2\n", size, "POCKET X10 Y10 W20 L20 D5 R2\n");
    case Kind::Note:
        return FillTo("operator notes\n", size, "check the clamp torque before the second op, and the coolant.\n");
    case Kind::Binary: {
        QByteArray bytes(size, Qt::Uninitialized);
        for (qint64 i = 0; i < size; ++i)
            bytes[i] = char(random.bounded(256));
        bytes[0] = char(0xff); // as a JPEG starts
        return bytes;
    }
    }
    return QByteArray();
}

std::vector<Sample> Generate(const QString &folder, int count)
{
    QRandomGenerator random(20240301);
    std::vector<Sample> samples;
    samples.reserve(count);
    for (int i = 0; i < count; ++i) {
        const int roll = random.bounded(100);
        Kind kind;
        qint64 size;
        QString name = QStringLiteral("F%1").arg(i, 5, 10, QLatin1Char('0'));
        if (roll < 40) {
            kind = Kind::NCProgram;
            size = LogUniform(random, 1024, 1024 * 1024);
            name += QLatin1String(".NC");
        } else if (roll < 45) {
            kind = Kind::LateNCProgram;
            size = LogUniform(random, 8 * 1024, 1024 * 1024);
            name += QLatin1String(".NC");
        } else if (roll < 55) {
            kind = Kind::ConvProgram;
            size = LogUniform(random, 1024, 1024 * 1024);
            name += QLatin1String(".CNV");
        } else if (roll < 65) {
            kind = Kind::BareNCProgram;
            size = LogUniform(random, 1024, 1024 * 1024);
        } else if (roll < 85) {
            kind = Kind::Note;
            size = LogUniform(random, 256, 32 * 1024);
            name += QLatin1String(".TXT");
        } else {
            kind = Kind::Binary;
            size = LogUniform(random, 1024, 256 * 1024);
            name += QLatin1String(".JPG");
        }
        const QString path = folder + QLatin1Char('/') + name;
        QFile file(path);
        const QByteArray bytes = Content(kind, size, random);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return {};
        samples.push_back({path, kind, bytes.size()});
    }
    return samples;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = app.arguments();
    const int count = args.size() > 1 ? args.at(1).toInt() : 10000;
    QTemporaryDir temporary;
    const QString folder = args.size() > 2 ? args.at(2) : temporary.path();
    if (count <= 0 || !QDir().mkpath(folder)) {
        out << "usage: bench_programs [file count] [folder]\n";
        return 1;
    }
    if (BytesReadSoFar() < 0) {
        out << "/proc/self/io is not available: bytes read cannot be counted\n";
        return 1;
    }

    QElapsedTimer timer;
    timer.start();
    const std::vector<Sample> samples = Generate(folder, count);
    if (samples.empty()) {
        out << "cannot write the files into " << folder << "\n";
        return 1;
    }
    qint64 totalSize = 0;
    for (const Sample &sample : samples)
        totalSize += sample.size;
    out << "generated " << samples.size() << " files, " << totalSize / (1024 * 1024) << " MiB, in " << timer.elapsed()
        << " ms\n";

    // Pass 1: the plain scan, timed, bytes counted for the whole pass. The files were just
    // written, so they come from the page cache: this is the CPU and system-call cost.
    int programs = 0;
    qint64 before = BytesReadSoFar();
    timer.restart();
    const std::clock_t cpuStart = std::clock();
    for (const Sample &sample : samples)
        programs += IsPartProgramFile(QFileInfo(sample.path)) ? 1 : 0;
    const qint64 elapsedNs = std::max<qint64>(timer.nsecsElapsed(), 1);
    const qint64 cpuMs = qint64(std::clock() - cpuStart) * 1000 / CLOCKS_PER_SEC;
    const qint64 readTotal = BytesReadSoFar() - before;
    out << "classified " << samples.size() << " files (" << programs << " part programs) in " << elapsedNs / 1000000
        << " ms (" << cpuMs << " ms CPU): " << qint64(double(samples.size()) * 1e9 / double(elapsedNs)) << " files/s\n";
    out << "bytes read: " << readTotal / (1024 * 1024) << " MiB of " << totalSize / (1024 * 1024) << " MiB, "
        << readTotal / qint64(samples.size()) << " bytes per file\n\n";

    // Pass 2: bytes read per file, by kind.
    struct Figures
    {
        int files = 0;
        int passed = 0;
        qint64 size = 0;
        qint64 read = 0;
        qint64 maxRead = 0;
    };
    std::map<Kind, Figures> byKind;
    const qint64 overhead = [] {
        const qint64 first = BytesReadSoFar();
        return BytesReadSoFar() - first;
    }();
    for (const Sample &sample : samples) {
        const qint64 start = BytesReadSoFar();
        const bool passed = IsPartProgramFile(QFileInfo(sample.path));
        const qint64 read = std::max<qint64>(BytesReadSoFar() - start - overhead, 0);
        Figures &figures = byKind[sample.kind];
        ++figures.files;
        figures.passed += passed ? 1 : 0;
        figures.size += sample.size;
        figures.read += read;
        figures.maxRead = std::max(figures.maxRead, read);
    }
    out << qSetFieldWidth(34) << Qt::left << "kind" << qSetFieldWidth(8) << Qt::right << "files"
        << "passed" << qSetFieldWidth(14) << "mean size"
        << "mean read"
        << "max read" << qSetFieldWidth(0) << "\n";
    for (const auto &[kind, figures] : byKind) {
        out << qSetFieldWidth(34) << Qt::left << KindName(kind) << qSetFieldWidth(8) << Qt::right << figures.files
            << figures.passed << qSetFieldWidth(14) << figures.size / figures.files << figures.read / figures.files
            << figures.maxRead << qSetFieldWidth(0) << "\n";
    }
    return 0;
}
