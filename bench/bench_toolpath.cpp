// Reads a milling program for its tools page alone and for everything together (facts, tools
// page rows and overview picture), and prints the times and the process's peak memory after
// each size. "tools page before" is the tools page's reading before the toolpath reading
// existed (common/ToolsPageBefore.cpp), timed in the same run as the reference; the readings
// take turns. Small programs are read 200 times and the mean printed, large ones 5 times and
// the fastest printed (the machine is shared).
//
// Usage: bench_toolpath [lines [file to keep the program in] | program file]
// (default: 500, 200000 and 2000000 lines, in that order). With BENCH_TOOLPATH_PROFILE set,
// only reads the program file together five times, for a profiler.

#include "ProgramFacts.h"
#include "ProgramPreview.h"
#include "ToolUsage.h"
#include "ToolsPageBefore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <ctime>

namespace {

// Rounded-rectangle contours stepping down and inwards, one tool after another, with drilled
// patterns between them: line numbers, three decimals, comments, arcs by I and J.
class ProgramWriter
{
public:
    explicit ProgramWriter(QFile &file) : file(file) {}

    bool Write(qint64 lines)
    {
        Add("%");
        Add("O1000 (BENCH PLATE - 2D CONTOURS AND HOLES)");
        Add("(MATERIAL - ALU 6061, STOCK 240 X 160 X 25)");
        Block("G21 G90 G94 G17 G40 G49 G80");
        Block("G54");
        int tool = 0;
        while (written < lines - 4) {
            tool = tool % 24 + 1;
            Operation(tool, lines - 4);
        }
        Block("G28 G91 Z0.");
        Block("M30");
        Add("%");
        return Flush(true);
    }

private:
    void Add(const QByteArray &line)
    {
        text += line;
        text += '\n';
        ++written;
    }
    void Block(const QByteArray &words)
    {
        number += 5;
        Add("N" + QByteArray::number(number) + ' ' + words);
    }
    static QByteArray Word(char letter, double value) { return letter + QByteArray::number(value, 'f', 3); }
    bool Flush(bool last = false)
    {
        if (!last && text.size() < (1 << 20))
            return true;
        const bool ok = file.write(text) == text.size();
        text.clear();
        return ok;
    }

    void Operation(int tool, qint64 lines)
    {
        const int diameter = 2 + tool % 10 * 2;
        Add("(T" + QByteArray::number(tool) + " - D" + QByteArray::number(diameter) + " CARBIDE END MILL, 3 FLUTE)");
        Block("T" + QByteArray::number(tool) + " M6");
        Block("S" + QByteArray::number(4000 + 250 * tool) + " M3");
        Block("G0 G90 X-5. Y-5. M8");
        Block("G43 H" + QByteArray::number(tool) + " Z25.");
        const double cx = 120;
        const double cy = 80;
        for (int pass = 0; pass < 400 && written < lines; ++pass) {
            const double depth = -0.5 - (pass % 20) * 0.25;
            const double w = 100 - (pass % 37) * 2.5;
            const double h = 60 - (pass % 37) * 1.5;
            const double r = 5 + pass % 5;
            Block("G0 " + Word('X', cx - w + r) + ' ' + Word('Y', cy - h));
            Block("G1 Z" + QByteArray::number(depth, 'f', 3) + " F300");
            // Sides as several segments, corners as quarter arcs (counter-clockwise).
            const auto side = [&](double x0, double y0, double x1, double y1) {
                for (int s = 1; s <= 4; ++s)
                    Block("G1 " + Word('X', x0 + (x1 - x0) * s / 4) + ' ' + Word('Y', y0 + (y1 - y0) * s / 4) +
                          (s == 1 && x0 < x1 && y0 == y1 ? " F1200" : ""));
            };
            const auto corner = [&](double x, double y, double i, double j) {
                Block("G3 " + Word('X', x) + ' ' + Word('Y', y) + ' ' + Word('I', i) + ' ' + Word('J', j));
            };
            side(cx - w + r, cy - h, cx + w - r, cy - h);
            corner(cx + w, cy - h + r, 0, r);
            side(cx + w, cy - h + r, cx + w, cy + h - r);
            corner(cx + w - r, cy + h, -r, 0);
            side(cx + w - r, cy + h, cx - w + r, cy + h);
            corner(cx - w, cy + h - r, 0, -r);
            side(cx - w, cy + h - r, cx - w, cy - h + r);
            corner(cx - w + r, cy - h, r, 0);
            if (pass % 10 == 9)
                Add("(CHECK CHIP LOAD)");
            Block("G0 Z5.");
            if (!Flush())
                return;
        }
        Block("G0 Z25.");
        Block("G98 G81 X20. Y20. Z-8. R2. F150");
        for (int hole = 1; hole < 10 && written < lines; ++hole)
            Block(Word('X', 20 + hole * 22.5) + ' ' + Word('Y', 20 + (hole % 3) * 60));
        Block("G80");
        Block("M9");
        Block("M5");
    }

    QFile &file;
    QByteArray text;
    qint64 written = 0;
    qint64 number = 0;
};

// Peak resident memory of the process so far, in kB. Sizes run from small to large, so the
// growth from one to the next is what the larger reading needs beyond the smaller one.
long PeakKilobytes()
{
    long peak = -1;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                peak = line.mid(6).trimmed().split(' ').value(0).toLong();
    return peak;
}

double CpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Wall and CPU time of one reading in ms: the mean of small ones, the fastest of large ones.
struct Time
{
    double wall = 0;
    double cpu = 0;
};

void Measure(const QString &path, qint64 lines)
{
    const qint64 bytes = QFileInfo(path).size();
    const bool small = bytes < (1 << 20);
    const int rounds = small ? 200 : 5;
    qsizetype tools = 0;
    QByteArray gif;
    ProgramFacts facts;
    const auto toolsBefore = [&] {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            tools += ToolsPageBefore::ParseToolUsage(file).size();
    };
    const auto toolsNow = [&] {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            tools += ParseToolUsage(file).size();
    };
    const auto together = [&] { gif = ProgramPreview::OverviewGif(facts = ReadProgramFacts(path)); };
    const auto drawing = [&] { gif = ProgramPreview::OverviewGif(facts); };

    // The times with the readings taking turns, so that the load of the shared machine falls
    // on all of them alike.
    QElapsedTimer timer;
    timer.start();
    Time best[4] = {{1e300, 1e300}, {1e300, 1e300}, {1e300, 1e300}, {1e300, 1e300}};
    Time sum[4];
    for (int round = 0; round < rounds; ++round) {
        int task = 0;
        for (const std::function<void()> &work : {std::function<void()>(toolsBefore), std::function<void()>(toolsNow),
                                                  std::function<void()>(together), std::function<void()>(drawing)}) {
            const qint64 start = timer.nsecsElapsed();
            const double cpuStart = CpuMs();
            work();
            const Time one{double(timer.nsecsElapsed() - start) / 1e6, CpuMs() - cpuStart};
            best[task] = {std::min(best[task].wall, one.wall), std::min(best[task].cpu, one.cpu)};
            sum[task] = {sum[task].wall + one.wall / rounds, sum[task].cpu + one.cpu / rounds};
            ++task;
        }
    }
    const Time *times = small ? sum : best;
    const Time before = times[0];
    const Time toolsOnly = times[1];
    const Time picture = times[2];
    const Time draw = times[3];
    std::printf("%9lld lines, %5.1f MB: tools page before %7.2f ms (CPU %7.2f), now %7.2f ms (CPU %7.2f); "
                "facts + rows + picture %7.2f ms (CPU %7.2f, of it drawing %.2f): %.2fx before, %.2fx now "
                "(CPU %.2fx, %.2fx); peak RSS %ld kB%s\n",
                static_cast<long long>(lines), double(bytes) / 1e6, before.wall, before.cpu, toolsOnly.wall,
                toolsOnly.cpu, picture.wall, picture.cpu, draw.cpu, picture.wall / before.wall,
                picture.wall / toolsOnly.wall, picture.cpu / before.cpu, picture.cpu / toolsOnly.cpu, PeakKilobytes(),
                facts.complete && !gif.isEmpty() ? "" : " INCOMPLETE");
    (void)tools;
}

void MeasureGenerated(qint64 lines, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !ProgramWriter(file).Write(lines))
        return;
    file.close();
    Measure(path, lines);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    if (qEnvironmentVariableIsSet("BENCH_TOOLPATH_PROFILE") && argc > 1) {
        // Only the reading together, for a profiler.
        for (int round = 0; round < 5; ++round)
            (void)ProgramPreview::OverviewGif(ReadProgramFacts(QString::fromLocal8Bit(argv[1])));
        return 0;
    }
    if (argc > 1) {
        const QString argument = QString::fromLocal8Bit(argv[1]);
        bool isNumber = false;
        const qint64 lines = argument.toLongLong(&isNumber);
        if (isNumber)
            MeasureGenerated(lines,
                             argc > 2 ? QString::fromLocal8Bit(argv[2]) : dir.filePath(QStringLiteral("BENCH.NC")));
        else
            Measure(argument, 0);
        return 0;
    }
    for (const qint64 lines : {500, 200000, 2000000})
        MeasureGenerated(lines, dir.filePath(QStringLiteral("BENCH.NC")));
    return 0;
}
