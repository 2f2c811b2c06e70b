// The library at a shop's scale: registry start-up, first scan, unchanged rescan, rescan
// after edits, memory per registered package, each against the floor of listing and
// stat-ing every file once in the same run; and image thumbnails beside vipsthumbnail.
//
// Each N runs in three layouts of the same programs: one parts folder, N/1000 folders and
// N/25 folders (a shop's flat folder, cells, small jobs): the cost per package must not
// depend on how many files share its folder. The first scan is set beside `cp -r` of the
// packages tree it wrote.
//
// Usage: bench_scale [--no-thumbnails] [--folders K ...] [N ...]
//        (default N: 10000, 100000 takes long; --folders runs only the layouts of K folders)
// The workspaces go to $BENCH_SCALE_DIR (default: the system's temporary folder).
// Start-up and a first pass (for a profiler):
//        bench_scale --child-start-up <packages root> <empty folder> <parts folder>...

#include "ScaleWorkspace.h"
#include "ScanWorkspace.h"
#include "cPackageManager.h"
#include "media/Thumbnails.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>
#include <memory>

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_START_INSTRUMENTATION
#define CALLGRIND_STOP_INSTRUMENTATION
#endif

namespace {

const char ChildStartUpFlag[] = "--child-start-up";

// Under `valgrind --tool=callgrind --instr-atstart=no`, BENCH_SCALE_PROFILE=first, =unchanged
// or =start-up limits the profile to that step.
bool Profiling(const char *step)
{
    return qEnvironmentVariable("BENCH_SCALE_PROFILE") == QLatin1String(step);
}

// Processor time of the whole process (all threads), or of its finished children, in
// nanoseconds.
qint64 CpuNs(int who = RUSAGE_SELF)
{
    rusage usage{};
    getrusage(who, &usage);
    return (qint64(usage.ru_utime.tv_sec) + usage.ru_stime.tv_sec) * 1000000000 +
           (qint64(usage.ru_utime.tv_usec) + usage.ru_stime.tv_usec) * 1000;
}

// Wall and processor time of one step, in nanoseconds.
struct Timing
{
    qint64 wall = -1;
    qint64 cpu = -1;

    bool operator<(const Timing &other) const { return wall < other.wall; }
};

class Stopwatch
{
public:
    explicit Stopwatch(int who = RUSAGE_SELF) : who(who), cpuStart(CpuNs(who)) { timer.start(); }
    Timing Elapsed() const { return {timer.nsecsElapsed(), CpuNs(who) - cpuStart}; }

private:
    QElapsedTimer timer;
    int who;
    qint64 cpuStart;
};

Timing Better(const Timing &a, const Timing &b)
{
    if (a.wall < 0)
        return b;
    if (b.wall < 0)
        return a;
    return b < a ? b : a;
}

// Runs one pass; a wall time of -1 when it could not start.
Timing TimedPass(cPackageManager &manager, const QStringList &folders, bool profile = false)
{
    QEventLoop loop;
    const QMetaObject::Connection connection =
        QObject::connect(&manager, &cPackageManager::PackageScanCompleted, &loop, [&loop](uint) { loop.quit(); });
    if (profile)
        CALLGRIND_START_INSTRUMENTATION;
    Stopwatch watch;
    Timing elapsed;
    if (manager.DoBackgroundScanForPackageUpdates(folders)) {
        loop.exec();
        elapsed = watch.Elapsed();
    }
    if (profile)
        CALLGRIND_STOP_INSTRUMENTATION;
    QObject::disconnect(connection);
    return elapsed;
}

// The floor: `find` listing every folder once and stat-ing every file of the parts folders
// and the packages tree, printing each file's time and size; best of three.
Timing Floor(const QStringList &folders, const QString &root, qint64 *files)
{
    *files = ScanWorkspace::ListAndStat(folders, root);
    Timing best;
    for (int i = 0; i < 3; ++i) {
        QProcess find;
        find.setStandardOutputFile(QProcess::nullDevice());
        Stopwatch watch(RUSAGE_CHILDREN);
        find.start(QStringLiteral("find"), QStringList(folders)
                                               << root << QStringLiteral("-printf") << QStringLiteral("%T@ %s\n"));
        if (!find.waitForFinished(-1) || find.exitCode() != 0)
            return Timing();
        best = Better(best, watch.Elapsed());
    }
    return best;
}

struct Written
{
    qint64 writeBytes = 0; // reached the storage layer
    qint64 wchar = 0;      // handed to write()

    static Written Now() { return {ScaleWorkspace::IoCounter("write_bytes"), ScaleWorkspace::IoCounter("wchar")}; }
    Written operator-(const Written &earlier) const { return {writeBytes - earlier.writeBytes, wchar - earlier.wchar}; }
};

void Header()
{
    std::printf("  %-38s %10s %8s %10s %8s %8s %11s %9s %7s\n", "", "us/package", "x floor", "cpu us/pkg", "x floor",
                "seconds", "write_bytes", "wchar", "changed");
}

void Row(const char *what, const Timing &time, int packages, const Timing &floor, const Written *written = nullptr,
         int changedFiles = -1)
{
    const auto perPackage = [packages](qint64 ns) { return double(ns) / 1000.0 / qMax(1, packages); };
    const auto ratio = [](qint64 ns, qint64 floorNs) { return floorNs > 0 ? double(ns) / double(floorNs) : 0.0; };
    std::printf("  %-38s %10.1f %8.2f %10.1f %8.2f %8.2f", what, perPackage(time.wall), ratio(time.wall, floor.wall),
                perPackage(time.cpu), ratio(time.cpu, floor.cpu), double(time.wall) / 1e9);
    if (written)
        std::printf(" %11lld %9lld", static_cast<long long>(written->writeBytes),
                    static_cast<long long>(written->wchar));
    else
        std::printf(" %11s %9s", "", "");
    if (changedFiles >= 0)
        std::printf(" %7d", changedFiles);
    std::printf("\n");
    std::fflush(stdout);
}

struct StartUpFigures
{
    Timing time;
    Timing firstPass; // over the unchanged parts folders, right after start-up
    qint64 baseKiB = -1;
    qint64 peakKiB = -1;
    qint64 residentKiB = -1;
    int packages = 0;
};

// Start-up in a process of its own, so that its peak resident memory is its own.
StartUpFigures StartUpInChild(const QString &root, const QString &emptyRoot, const QStringList &folders)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                QStringList{QString::fromLatin1(ChildStartUpFlag), root, emptyRoot} + folders);
    StartUpFigures figures;
    if (!child.waitForFinished(-1) || child.exitCode() != 0)
        return figures;
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    if (fields.size() != 8)
        return figures;
    figures.time = {fields.at(0).toLongLong(), fields.at(1).toLongLong()};
    figures.baseKiB = fields.at(2).toLongLong();
    figures.peakKiB = fields.at(3).toLongLong();
    figures.residentKiB = fields.at(4).toLongLong();
    figures.packages = fields.at(5).toInt();
    figures.firstPass = {fields.at(6).toLongLong(), fields.at(7).toLongLong()};
    return figures;
}

// Start-up, then the first pass over the parts folders, as at a control's every boot.
int ChildStartUp(const QString &root, const QString &emptyRoot, const QStringList &folders)
{
    // The empty registry is the base: the library, Qt and one registry with its thread.
    cPackageManager empty{QDir(emptyRoot)};
    {
        // Resets the peak to the current resident size.
        QFile clear(QStringLiteral("/proc/self/clear_refs"));
        if (clear.open(QIODevice::WriteOnly))
            clear.write("5");
    }
    const qint64 base = ScaleWorkspace::StatusKiB("VmRSS");
    const bool profile = Profiling("start-up");
    if (profile)
        CALLGRIND_START_INSTRUMENTATION;
    Stopwatch watch;
    cPackageManager manager{QDir(root)};
    const Timing time = watch.Elapsed();
    if (profile)
        CALLGRIND_STOP_INSTRUMENTATION;
    const qint64 peak = ScaleWorkspace::StatusKiB("VmHWM");
    const qint64 resident = ScaleWorkspace::StatusKiB("VmRSS");
    const int packages = int(manager.GetPackageMap(QString(), true).size());
    const Timing firstPass = TimedPass(manager, folders);
    std::printf("%lld %lld %lld %lld %lld %d %lld %lld\n", static_cast<long long>(time.wall),
                static_cast<long long>(time.cpu), static_cast<long long>(base), static_cast<long long>(peak),
                static_cast<long long>(resident), packages, static_cast<long long>(firstPass.wall),
                static_cast<long long>(firstPass.cpu));
    return 0;
}

// `cp -r` of the packages tree, best of two; -1 when it failed. The copies stay until the
// end of the run: see main().
Timing CopyTree(const QString &root, const QString &parent)
{
    Timing best;
    for (int i = 0; i < 2; ++i) {
        const QString copy = parent + QStringLiteral("/copy-%1").arg(i);
        QProcess cp;
        Stopwatch watch;
        cp.start(QStringLiteral("cp"), {QStringLiteral("-r"), root, copy});
        if (!cp.waitForFinished(-1) || cp.exitCode() != 0)
            return {};
        Timing elapsed = watch.Elapsed();
        elapsed.cpu = -1; // the child's processor time is not ours
        best = Better(best, elapsed);
    }
    return best;
}

int Run(int count, int folderCount, const QString &parent)
{
    const QString workspace = parent + QStringLiteral("/%1-in-%2").arg(count).arg(folderCount);
    const QString root = workspace + QStringLiteral("/packages");
    const QString emptyRoot = workspace + QStringLiteral("/empty");
    QDir().mkpath(root);
    QDir().mkpath(emptyRoot);
    QElapsedTimer timer;
    timer.start();
    const QStringList folders =
        ScanWorkspace::GeneratePrograms(workspace + QStringLiteral("/parts"), count, folderCount);
    std::printf("N = %d programs in %d parts folders (%lld ms to generate, workspace %s)\n", count, folderCount,
                static_cast<long long>(timer.elapsed()), qPrintable(workspace));
    Header();

    qint64 floorFiles = 0;
    Timing floor;
    {
        cPackageManager manager{QDir(root)};
        Written before = Written::Now();
        const Timing first = TimedPass(manager, folders, Profiling("first"));
        Written written = Written::Now() - before;
        // The floor over the folders as the first pass left them, for the first pass's ratio.
        floor = Floor(folders, root, &floorFiles);
        Row("first scan (every package made)", first, count, floor, &written);
        const Timing copy = CopyTree(root, workspace);
        if (copy.wall > 0)
            std::printf("  %-38s %10.1f us/package; first scan = %.2f x cp -r\n", "cp -r of the packages tree",
                        double(copy.wall) / 1000.0 / count, double(first.wall) / double(copy.wall));

        const int images = ScanWorkspace::AddImages(root, 10);
        const int others = ScaleWorkspace::AddNotesAndPdfs(root, 7, 13);
        before = Written::Now();
        const Timing media = TimedPass(manager, folders);
        written = Written::Now() - before;
        Row("scan after new photos, notes, PDFs", media, count, floor, &written);
        std::printf("  (%d photographs, %d notes and PDFs added)\n", images, others);

        // Two unchanged passes between floors; the better times, the bytes of both.
        floor = Floor(folders, root, &floorFiles);
        const ScaleWorkspace::FolderSnapshot unchangedBefore(root);
        before = Written::Now();
        const bool profile = Profiling("unchanged");
        Timing unchanged = TimedPass(manager, folders, profile);
        unchanged = Better(unchanged, TimedPass(manager, folders));
        written = Written::Now() - before;
        const ScaleWorkspace::FolderSnapshot unchangedAfter(root);
        floor = Better(floor, Floor(folders, root, &floorFiles));
        Row("floor (find: list + stat every file)", floor, count, floor);
        Row("unchanged rescan (best of 2)", unchanged, count, floor, &written,
            unchangedAfter.ChangedFiles(unchangedBefore));

        const QSet<QString> edited = ScaleWorkspace::EditPrograms(folders, 100);
        const ScaleWorkspace::FolderSnapshot editBefore(root);
        before = Written::Now();
        const Timing afterEdit = TimedPass(manager, folders);
        written = Written::Now() - before;
        const ScaleWorkspace::FolderSnapshot editAfter(root);
        Row("rescan after 1% of programs edited", afterEdit, count, floor, &written,
            editAfter.ChangedFiles(editBefore));
        const QSet<QString> touched = editAfter.ChangedFolders(editBefore);
        std::printf("  (%lld programs edited; packages touched: %lld, of them edited: %lld)\n",
                    static_cast<long long>(edited.size()), static_cast<long long>(touched.size()),
                    static_cast<long long>(QSet<QString>(touched).intersect(edited).size()));
    }

    // Start-up over the packages left behind, twice in fresh processes: the better time,
    // the memory of the last.
    StartUpFigures startUp = StartUpInChild(root, emptyRoot, folders);
    const StartUpFigures again = StartUpInChild(root, emptyRoot, folders);
    if (again.time.wall >= 0) {
        const Timing best = Better(startUp.time, again.time);
        const Timing bestPass = Better(startUp.firstPass, again.firstPass);
        startUp = again;
        startUp.time = best;
        startUp.firstPass = bestPass;
    }
    if (startUp.time.wall < 0) {
        std::printf("  registry start-up: the child process failed\n");
        return 1;
    }
    Row("registry start-up (best of 2)", startUp.time, count, floor);
    Row("first pass after start-up, unchanged", startUp.firstPass, count, floor);
    std::printf("  %-38s %10.2f KiB peak, %.2f KiB retained (%d packages registered)\n",
                "memory per registered package", double(startUp.peakKiB - startUp.baseKiB) / qMax(1, startUp.packages),
                double(startUp.residentKiB - startUp.baseKiB) / qMax(1, startUp.packages), startUp.packages);
    std::printf("  (floor: %lld files listed and stat-ed)\n\n", static_cast<long long>(floorFiles));
    std::fflush(stdout);
    return 0;
}

// Our image thumbnails and vipsthumbnail's on the same pictures, per image in one process.
void Thumbnails(const QString &parent)
{
    QTemporaryDir dir(parent + QStringLiteral("/bench_scale-thumbs-XXXXXX"));
    if (!dir.isValid())
        return;
    const QString vips = QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail"));
    const int imagesPerSize = 8;
    const struct
    {
        const char *name;
        QSize size;
    } sizes[] = {{"12 MP", QSize(4000, 3000)}, {"2 MP", QSize(1632, 1224)}};

    std::printf("Image thumbnails (%d JPEGs per size)\n", imagesPerSize);
    std::printf("  %-6s %12s %12s %10s %12s\n", "size", "ours/s", "vips/s", "ours/vips", "our output");
    for (const auto &size : sizes) {
        QStringList files;
        const QImage picture = ScaleWorkspace::Photograph(size.size.width(), size.size.height(), 7);
        for (int i = 0; i < imagesPerSize; ++i) {
            const QString file = dir.filePath(QStringLiteral("%1-%2.jpg").arg(size.size.width()).arg(i));
            picture.save(file, "JPEG", 92);
            files << file;
        }
        // Warm the file cache and the image plugins once.
        (void)GenerateImageThumbnail(QFileInfo(files.first()));

        QElapsedTimer timer;
        timer.start();
        for (const QString &file : std::as_const(files)) {
            if (GenerateImageThumbnail(QFileInfo(file)).isEmpty())
                std::fprintf(stderr, "no thumbnail for %s\n", qPrintable(file));
        }
        const double ours = files.size() / (double(timer.nsecsElapsed()) / 1e9);

        double theirs = -1;
        if (!vips.isEmpty()) {
            const QString out = dir.filePath(QStringLiteral("vips-%1").arg(size.size.width()));
            QDir().mkpath(out);
            QProcess process;
            timer.restart();
            process.start(vips, QStringList(files) << QStringLiteral("-s") << QStringLiteral("110x110")
                                                   << QStringLiteral("-o") << out + QLatin1String("/%s.jpg"));
            if (process.waitForFinished(-1) && process.exitCode() == 0)
                theirs = files.size() / (double(timer.nsecsElapsed()) / 1e9);
        }
        const QSize made = QImageReader(files.first() + QLatin1String(".thumb")).size();
        const QString dimensions = QStringLiteral("%1x%2").arg(made.width()).arg(made.height());
        if (theirs > 0)
            std::printf("  %-6s %12.1f %12.1f %10.2f %12s\n", size.name, ours, theirs, ours / theirs,
                        qPrintable(dimensions));
        else
            std::printf("  %-6s %12.1f %12s %10s %12s\n", size.name, ours, "n/a", "n/a", qPrintable(dimensions));
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() >= 4 && arguments.at(1) == QLatin1String(ChildStartUpFlag))
        return ChildStartUp(arguments.at(2), arguments.at(3), arguments.mid(4));

    bool thumbnails = true;
    QList<int> counts;
    QList<int> onlyFolders;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--no-thumbnails"))
            thumbnails = false;
        else if (arguments.at(i) == QLatin1String("--folders") && i + 1 < arguments.size())
            onlyFolders << qMax(1, arguments.at(++i).toInt());
        else
            counts << qMax(1, arguments.at(i).toInt());
    }
    if (counts.isEmpty())
        counts = {10000};
    QString parent = qEnvironmentVariable("BENCH_SCALE_DIR");
    if (parent.isEmpty())
        parent = QDir::tempPath();
    // Every layout's workspace stays until the end. Some file systems (ext4 without a journal)
    // pass over inodes freed in the last minutes when they make a new file, so deleting a
    // finished layout, or the first copy before the second, would slow down whatever runs
    // next, and a ratio would compare unequal conditions. For the same reason, do not run
    // the benchmark within minutes of deleting many files.
    QTemporaryDir workspaces(parent + QStringLiteral("/bench_scale-XXXXXX"));
    if (!workspaces.isValid())
        return 1;
    // BENCH_SCALE_KEEP=1 leaves the workspaces behind, for profiling a step on its own.
    workspaces.setAutoRemove(qEnvironmentVariableIsEmpty("BENCH_SCALE_KEEP"));

    for (int count : std::as_const(counts)) {
        QList<int> layouts = {1, qMax(1, count / 1000), qMax(1, count / 25)};
        if (!onlyFolders.isEmpty())
            layouts = onlyFolders;
        for (const int folders : std::as_const(layouts)) {
            if (Run(count, folders, workspaces.path()) != 0)
                return 1;
        }
    }
    if (thumbnails)
        Thumbnails(parent);
    return 0;
}
