// Reads a generated milling program for its tools page alone (the tool-usage reading) and
// for everything together (facts, tools page rows and overview picture), and prints the
// times and the peak memory. The program's read once; the picture's drawn from the sketch.
//
// Usage: bench_toolpath [lines] (default: 2000000 and 500)

#include "ProgramFacts.h"
#include "ProgramPreview.h"
#include "ToolUsage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

namespace {

// Written in slices, so that the peak memory is the reading's and not the generator's.
bool WriteProgram(QFile &file, qint64 lines)
{
    QByteArray text = "%\nO1000 (BENCH)\nG21 G90 G17 G54\n";
    qint64 written = 3;
    int tool = 0;
    while (written < lines) {
        if (written % 5000 == 3) {
            text += "T" + QByteArray::number(++tool % 20 + 1) + " M6 (TOOL)\nG0 X0 Y0 Z5\nG1 Z-1 F300\n";
            written += 3;
            continue;
        }
        const qint64 i = written % 400;
        if (i % 7 == 0)
            text += "G2 X" + QByteArray::number(double(i % 100)) + " Y" + QByteArray::number(double(i % 50)) + " R60\n";
        else
            text +=
                "G1 X" + QByteArray::number(double(i % 100) + 0.5) + " Y" + QByteArray::number(double(i % 50)) + "\n";
        ++written;
        if (text.size() > (1 << 20)) {
            if (file.write(text) < 0)
                return false;
            text.clear();
        }
    }
    return file.write(text + "M30\n%\n") >= 0;
}

long PeakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void Measure(qint64 lines, const QString &folder)
{
    const QString path = folder + QStringLiteral("/BENCH.NC");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || !WriteProgram(file, lines))
            return;
    }
    const int rounds = lines < 10000 ? 200 : 1;
    QElapsedTimer timer;
    timer.start();
    qsizetype tools = 0;
    for (int round = 0; round < rounds; ++round) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return;
        tools += ParseToolUsage(file).size();
    }
    const double toolsOnly = double(timer.nsecsElapsed()) / 1e6 / rounds;
    qsizetype bytes = 0;
    qint64 readingNs = 0;
    qint64 pictureNs = 0;
    for (int round = 0; round < rounds; ++round) {
        timer.restart();
        const ProgramFacts facts = ReadProgramFacts(path);
        readingNs += timer.nsecsElapsed();
        timer.restart();
        bytes += ProgramPreview::OverviewGif(facts).size();
        pictureNs += timer.nsecsElapsed();
    }
    const double reading = double(readingNs) / 1e6 / rounds;
    const double picture = double(pictureNs) / 1e6 / rounds;
    const double together = reading + picture;
    std::printf("%9lld lines: tools page alone %8.2f ms, facts + rows + picture %8.2f ms (%.2fx; picture %.2f ms), "
                "peak RSS %ld kB\n",
                static_cast<long long>(lines), toolsOnly, together, together / toolsOnly, picture, PeakKilobytes());
    (void)tools;
    (void)bytes;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    if (argc > 1) {
        Measure(QByteArray(argv[1]).toLongLong(), dir.path());
        return 0;
    }
    Measure(500, dir.path());
    Measure(2000000, dir.path());
    return 0;
}
