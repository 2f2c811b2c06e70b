// Reading and writing one typical manifest (ten files), and what a loaded manifest costs
// in memory.

#include "cManifest.h"
#include "cManifestItem.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <ctime>
#include <memory>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

struct cPackageTestAccess
{
    static cManifest *New(const QString &name, const QString &path) { return new cManifest(name, QFileInfo(path)); }
    static bool Import(cManifest &m) { return m.ImportFromManifestFile(QString()); }
    static bool Export(cManifest &m) { return m.ExportToManifestFile(); }
    static bool Match(cManifest &m, const QString &folder) { return m.MatchManifestToFiles(QDir(folder)); }
    static void Verify(cManifest &m) { m.VerifyMinimalManifestExists(); }
    static bool Regular(cManifest &m) { return m.SetManifestPropertiesToRegularMode(); }
    static void Comment(cManifest &m, const QString &text) { m.GetManifestItem(Image)->SetComment(text); }
    static qsizetype Count(const cManifest &m) { return m.GetManifestItems(Unknown).size(); }
};
using Access = cPackageTestAccess;

namespace {

bool WriteFile(const QString &path, qsizetype size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(size, 'x')) != size)
        return false;
    return file.setFileTime(QDateTime(QDate(2013, 4, 2), QTime(14, 5, 9), Qt::UTC), QFileDevice::FileModificationTime);
}

struct Cost
{
    double wallUs;
    double cpuUs;
};

QTextStream &operator<<(QTextStream &out, const Cost &cost)
{
    // CPU time tells the work apart from waiting on a busy machine or on the disk.
    return out << qSetRealNumberPrecision(4) << cost.wallUs << " us (cpu " << cost.cpuUs << " us)";
}

template <typename F> Cost CostPerRun(int runs, F &&work)
{
    work(); // warm the caches
    QElapsedTimer timer;
    const std::clock_t cpuStart = std::clock();
    timer.start();
    for (int i = 0; i < runs; ++i)
        work();
    const double wall = timer.nsecsElapsed() / 1000.0 / runs;
    const double cpu = double(std::clock() - cpuStart) * 1e6 / CLOCKS_PER_SEC / runs;
    return {wall, cpu};
}

qint64 HeapInUse()
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    return static_cast<qint64>(mallinfo2().uordblks);
#else
    return -1;
#endif
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString folder = dir.filePath(QStringLiteral("ABC^BRACKET.pkg"));
    QDir().mkpath(folder);
    const char *files[] = {"BRACKET.NC",           "BRACKET.gif",     "BRACKET.stats.html", "BRACKET.tools.html",
                           "BRACKET.history.html", "setup.jpg",       "setup.jpg.thumb",    "fixture.png",
                           "fixture.png.thumb",    "notes.txt",       "clip.mp4",           "clip.gif.thumb",
                           "manual.pdf",           "manual.pdf.thumb"};
    for (const char *name : files) {
        if (!WriteFile(folder + QLatin1Char('/') + QLatin1String(name), 4000))
            return 1;
    }
    const QString manifestPath = folder + QStringLiteral("/manifest.xml");

    std::unique_ptr<cManifest> manifest(Access::New(QStringLiteral("BRACKET"), manifestPath));
    Access::Match(*manifest, folder);
    Access::Verify(*manifest);
    Access::Regular(*manifest);
    out << "manifest.xml: " << QFile(manifestPath).size() << " bytes, " << Access::Count(*manifest) << " entries\n";

    const int runs = 2000;
    out << "read (re-import into a loaded manifest): " << CostPerRun(runs, [&] { Access::Import(*manifest); }) << "\n";
    out << "read (new manifest from the file):       " << CostPerRun(runs, [&] {
        std::unique_ptr<cManifest> fresh(Access::New(QStringLiteral("BRACKET"), manifestPath));
    }) << "\n";
    out << "write, bytes unchanged (no write):       " << CostPerRun(runs, [&] { Access::Export(*manifest); }) << "\n";
    int flip = 0;
    out << "write, one comment changed (atomic):     " << CostPerRun(runs / 4, [&] {
        Access::Comment(*manifest, QString::number(++flip));
        Access::Export(*manifest);
    }) << "\n";
    out << "match to the folder, nothing changed:    " << CostPerRun(runs, [&] { Access::Match(*manifest, folder); })
        << "\n";
    out << "scan cycle (read, match, write, regular): " << CostPerRun(runs, [&] {
        Access::Import(*manifest);
        Access::Match(*manifest, folder);
        Access::Verify(*manifest);
        Access::Export(*manifest);
        Access::Regular(*manifest);
    }) << "\n";

    // Memory: many loaded manifests of the same file.
    const int count = 5000;
    const qint64 before = HeapInUse();
    std::vector<std::unique_ptr<cManifest>> loaded;
    loaded.reserve(count);
    for (int i = 0; i < count; ++i)
        loaded.emplace_back(Access::New(QStringLiteral("BRACKET"), manifestPath));
    const qint64 after = HeapInUse();
    out << "sizeof(cManifestItem) = " << sizeof(cManifestItem) << ", sizeof(cManifest) = " << sizeof(cManifest) << "\n";
    if (before >= 0)
        out << "heap per loaded manifest (10 entries + placeholders): " << (after - before) / count << " bytes\n";
    return 0;
}
