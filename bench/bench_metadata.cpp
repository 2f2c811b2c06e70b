// Measures the page writer: the tool list of a large NC program, adding rows to a long run
// history, and a package's maintenance pass over pages that are already up to date.
//
// Usage: bench_metadata [program lines] [history rows]  (defaults: 2000000, 20000)

#include "MetadataGenerator.h"
#include "ToolUsage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

// A milling program of `lines` lines with a tool change every 500 lines over 40 tools.
bool WriteProgram(const QString &path, qint64 lines)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk;
    for (qint64 line = 0; line < lines; ++line) {
        if (line % 500 == 0)
            chunk += "N" + QByteArray::number(line) + " T" + QByteArray::number(line / 500 % 40 + 1) + " M6 (TOOL " +
                     QByteArray::number(line / 500 % 40 + 1) + ")\n";
        else
            chunk += "G1 X" + QByteArray::number(line % 1000) + ".25 Y" + QByteArray::number(line % 777) +
                     ".5 F1200 (PASS)\n";
        if (chunk.size() > (1 << 20)) {
            file.write(chunk);
            chunk.clear();
        }
    }
    file.write(chunk);
    return file.error() == QFileDevice::NoError;
}

qint64 PeakResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 programLines = argc > 1 ? QByteArray(argv[1]).toLongLong() : 2000000;
    const int historyRows = argc > 2 ? QByteArray(argv[2]).toInt() : 20000;

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    MetadataGenerator generator;

    // Tool list of a large program.
    const QString program = dir.filePath(QStringLiteral("BIG.NC"));
    if (!WriteProgram(program, programLines))
        return 1;
    const qint64 programSize = QFileInfo(program).size();
    const qint64 residentBefore = PeakResidentKiB();
    QElapsedTimer timer;
    timer.start();
    const QFileInfo toolsPage(dir.filePath(QStringLiteral("BIG.tools.html")));
    if (!generator.UpdateToolsFile(QStringLiteral("BIG"), toolsPage, QFileInfo(program)))
        return 1;
    const qint64 toolsMs = timer.elapsed();
    std::printf("tools page: %lld lines, %.1f MB in %lld ms (%.1f MB/s); peak RSS %lld -> %lld KiB\n",
                static_cast<long long>(programLines), programSize / 1e6, static_cast<long long>(toolsMs),
                toolsMs > 0 ? programSize / 1e3 / toolsMs : 0.0, static_cast<long long>(residentBefore),
                static_cast<long long>(PeakResidentKiB()));

    // The same page again, program unchanged: the page bytes are equal, only its time moves.
    timer.restart();
    if (!generator.UpdateToolInfo(toolsPage, QFileInfo(program)))
        return 1;
    std::printf("tools page again (same bytes, not rewritten): %lld ms\n", static_cast<long long>(timer.elapsed()));

    // A long history: time per added row at the start and at the end.
    const QFileInfo history(dir.filePath(QStringLiteral("BIG.history.html")));
    if (!generator.CreateBlankHistoryFile(QStringLiteral("BIG"), history))
        return 1;
    const QString text = QStringLiteral("Program run completed on spindle 1, operator shift B");
    const int sample = std::min(500, historyRows);
    timer.restart();
    for (int row = 0; row < historyRows; ++row) {
        if (row == sample) {
            std::printf("history: first %d rows, %.3f ms per row\n", sample,
                        double(timer.nsecsElapsed()) / 1e6 / sample);
        }
        if (row == historyRows - sample)
            timer.restart();
        if (!generator.UpdateHistoryFile(history, ProgramRun, text))
            return 1;
    }
    std::printf("history: last %d rows (page %.1f MB, %d rows), %.3f ms per row\n", sample,
                QFileInfo(history.absoluteFilePath()).size() / 1e6, historyRows,
                double(timer.nsecsElapsed()) / 1e6 / sample);

    // Statistics updates.
    const QFileInfo stats(dir.filePath(QStringLiteral("BIG.stats.html")));
    if (!generator.CreateBlankStatsFile(QStringLiteral("BIG"), stats))
        return 1;
    timer.restart();
    const int statsUpdates = 2000;
    for (int i = 0; i < statsUpdates; ++i) {
        if (!generator.UpdateStatsFile(stats, 1))
            return 1;
    }
    std::printf("statistics: %.3f ms per update\n", double(timer.nsecsElapsed()) / 1e6 / statsUpdates);
    return 0;
}
