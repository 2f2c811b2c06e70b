// Background scan over a generated workshop: first pass (every package made), a pass over
// unchanged folders, and registry start-up, against the floor of listing and stat-ing every
// file of the parts folders and packages once.
// Usage: bench_scan [N ...]   (programs per run, default 1000 10000)

#include "ScanWorkspace.h"
#include "cPackageManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <memory>

namespace {

// CPU time of the whole process (host and worker threads), in nanoseconds: steadier than
// wall time on a loaded machine.
qint64 ProcessCpuTime()
{
    timespec now{};
    if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now) != 0)
        return 0;
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

qint64 lastCpu = 0; // CPU time of the phase measured last

// Runs one pass and returns its wall time in nanoseconds; -1 when it could not start.
qint64 TimedPass(cPackageManager &manager, const QStringList &folders, uint *numPackages)
{
    QEventLoop loop;
    const QMetaObject::Connection connection =
        QObject::connect(&manager, &cPackageManager::PackageScanCompleted, &loop, [&](uint count) {
            *numPackages = count;
            loop.quit();
        });
    QElapsedTimer timer;
    timer.start();
    const qint64 cpuStart = ProcessCpuTime();
    if (!manager.DoBackgroundScanForPackageUpdates(folders)) {
        QObject::disconnect(connection);
        return -1;
    }
    loop.exec();
    const qint64 elapsed = timer.nsecsElapsed();
    lastCpu = ProcessCpuTime() - cpuStart;
    QObject::disconnect(connection);
    return elapsed;
}

void Report(const char *what, qint64 nanoseconds, int packages)
{
    std::printf("  %-34s %10.1f us/package  %9.2f s wall  %10.1f us/package CPU\n", what,
                double(nanoseconds) / 1000.0 / qMax(1, packages), double(nanoseconds) / 1e9,
                double(lastCpu) / 1000.0 / qMax(1, packages));
}

int Run(int count)
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString root = dir.path() + QStringLiteral("/packages");
    QDir().mkpath(root);
    const int folderCount = qMax(1, count / 250);
    const QStringList folders =
        ScanWorkspace::GeneratePrograms(dir.path() + QStringLiteral("/parts"), count, folderCount);
    std::printf("N = %d programs in %d parts folders\n", count, folderCount);

    uint packages = 0;
    {
        cPackageManager manager{QDir(root)};
        const qint64 first = TimedPass(manager, folders, &packages);
        Report("first pass (all packages made)", first, count);

        const int images = ScanWorkspace::AddImages(root, 10);
        const qint64 withImages = TimedPass(manager, folders, &packages);
        std::printf("  (%d packages got a photograph)\n", images);
        Report("pass after new photographs", withImages, count);

        const ScanWorkspace::FileSnapshot before(root);
        const qint64 bytesBefore = ScanWorkspace::BytesWritten();
        const qint64 unchanged = TimedPass(manager, folders, &packages);
        const qint64 bytesAfter = ScanWorkspace::BytesWritten();
        const ScanWorkspace::FileSnapshot after(root);
        Report("unchanged pass", unchanged, count);

        const qint64 unchangedCpu = lastCpu;
        QElapsedTimer timer;
        timer.start();
        qint64 cpuStart = ProcessCpuTime();
        const qint64 files = ScanWorkspace::ListAndStat(folders, root);
        const qint64 floor = timer.nsecsElapsed();
        lastCpu = ProcessCpuTime() - cpuStart;
        const qint64 floorCpu = lastCpu;
        Report("floor (list + stat every file)", floor, count);
        std::printf("  %-34s %10lld files\n", "files listed by the floor", files);
        std::printf("  %-34s %10.2f wall  %10.2f CPU\n", "unchanged pass / floor",
                    floor > 0 ? double(unchanged) / double(floor) : 0.0,
                    floorCpu > 0 ? double(unchangedCpu) / double(floorCpu) : 0.0);
        std::printf("  %-34s %10lld bytes, %d files changed\n", "written by the unchanged pass",
                    bytesBefore < 0 ? -1LL : bytesAfter - bytesBefore, after.ChangedSince(before));
        std::printf("  %-34s %10u\n", "numPackages reported", packages);
    }

    QElapsedTimer timer;
    timer.start();
    qint64 cpuStart = ProcessCpuTime();
    auto manager = std::make_unique<cPackageManager>(QDir(root));
    const qint64 startUp = timer.nsecsElapsed();
    lastCpu = ProcessCpuTime() - cpuStart;
    Report("registry start-up", startUp, count);
    timer.restart();
    cpuStart = ProcessCpuTime();
    manager.reset();
    lastCpu = ProcessCpuTime() - cpuStart;
    Report("registry teardown", timer.nsecsElapsed(), count);
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QList<int> counts;
    for (int i = 1; i < argc; ++i)
        counts << qMax(1, QByteArray(argv[i]).toInt());
    if (counts.isEmpty())
        counts = {1000, 10000};
    for (int count : std::as_const(counts)) {
        if (Run(count) != 0)
            return 1;
    }
    return 0;
}
