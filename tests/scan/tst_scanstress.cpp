#include "cPackageManager.h"
#include "registry/cSharedPackageMap.h"

#include "TestUtils.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace TestUtils;

struct cPackageTestAccess
{
    static QList<cPackage *> FiledPackages(cPackageManager &manager) { return manager.sharedMap->GetPackages(); }
};

// The host keeps working on its thread while passes run: it creates, queries, touches and
// removes packages, and destroys registries in the middle of a pass. Run it under the
// sanitizers: the checks here are coarse, the sanitizers' reports are the real result.
class tst_ScanStress : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void hostWorksWhileScanning();
    void registryDestroyedMidScan();

private:
    void HostStep(cPackageManager &manager, int step);
    // Uses a package through its public operations, as a host's page would.
    static void Browse(cPackage *package);
    bool QuietScan(cPackageManager &manager);

    std::unique_ptr<QTemporaryDir> dir;
    QString root;
    QStringList partsFolders;
    QStringList hostPrograms;
    QRandomGenerator random{20261206};
};

namespace {

constexpr int programsPerFolder = 24;
constexpr int scanTimeoutMs = 300000;

} // namespace

void tst_ScanStress::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(dir->isValid(), qPrintable(dir->errorString()));
    root = MakeDir(dir->filePath(QStringLiteral("packages")));
    partsFolders = {MakeDir(dir->filePath(QStringLiteral("mill"))), MakeDir(dir->filePath(QStringLiteral("lathe")))};
    hostPrograms.clear();
    for (const QString &folder : std::as_const(partsFolders)) {
        for (int i = 0; i < programsPerFolder; ++i) {
            const QString name = QStringLiteral("P%1").arg(i, 3, 10, QLatin1Char('0'));
            QVERIFY(WriteFile(folder + QLatin1Char('/') + name + QStringLiteral(".NC"), MillingProgram(name)));
            if (i % 4 == 0)
                QVERIFY(WriteFile(folder + QLatin1Char('/') + name + QStringLiteral(".CNV"), ConversationalProgram()));
        }
    }
}

void tst_ScanStress::Browse(cPackage *package)
{
    if (!package)
        return;
    (void)package->GetPackageName();
    (void)package->GetPackageSize();
    (void)package->HasNCProgram();
    (void)package->HasCONVProgram();
    (void)package->GetPgmLines(3, NCProgram);
    const QList<cManifestItem *> items = package->GetManifestItems(Unknown);
    for (const cManifestItem *item : items) {
        (void)item->GetFileNameString();
        (void)item->GetModTimeString();
    }
}

void tst_ScanStress::HostStep(cPackageManager &manager, int step)
{
    const QString folder = partsFolders.at(step % partsFolders.size());
    const QString key =
        cPackageManager::PartsFolderKey(manager.CalculatePackageUID(QFileInfo(folder + QStringLiteral("/X.NC"))));

    switch (step % 6) {
    case 0: {
        // A new program, packaged by the host while the scan may meet it too.
        const QString name = QStringLiteral("H%1").arg(step);
        const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".NC");
        WriteFile(path, MillingProgram(name));
        if (!manager.CreatePackage(QFileInfo(path)).isEmpty())
            hostPrograms << path;
        break;
    }
    case 1: {
        // Every pointer the lookup maps lend out must be alive.
        const QMap<QString, cPackage *> map = manager.GetPackageMap(key, false);
        for (cPackage *package : map)
            Browse(package);
        break;
    }
    case 2: {
        const QList<cPackage *> list = manager.GetListOfPackages(folder, cPackageManager::eAnyProgram);
        for (cPackage *package : list)
            (void)package->GetPackageUID();
        break;
    }
    case 3: {
        // A newer program: the scan's synchronisation copies it.
        const int i = int(random.bounded(programsPerFolder));
        const QString path = folder + QStringLiteral("/P%1.NC").arg(i, 3, 10, QLatin1Char('0'));
        WriteFile(path, MillingProgram(QStringLiteral("REV %1").arg(step)));
        Browse(manager.GetPackage(manager.CalculatePackageUID(QFileInfo(path))));
        break;
    }
    case 4: {
        if (hostPrograms.isEmpty())
            break;
        const QString path = hostPrograms.takeAt(int(random.bounded(hostPrograms.size())));
        (void)manager.RemovePackage(manager.CalculatePackageUID(QFileInfo(path)), true);
        break;
    }
    case 5: {
        // A package loses its programs everywhere: the next pass drops it.
        const int i = int(random.bounded(programsPerFolder));
        const QString path = folder + QStringLiteral("/P%1.NC").arg(i, 3, 10, QLatin1Char('0'));
        const QString uid = manager.CalculatePackageUID(QFileInfo(path));
        if (cPackage *package = manager.GetPackage(uid)) {
            if (package->HasCONVProgram())
                break;
            QFile::remove(path);
            QFile::remove(root + QLatin1Char('/') + uid + QStringLiteral(".pkg/") + QFileInfo(path).fileName());
        }
        break;
    }
    }
}

bool tst_ScanStress::QuietScan(cPackageManager &manager)
{
    QSignalSpy completed(&manager, &cPackageManager::PackageScanCompleted);
    if (!manager.DoBackgroundScanForPackageUpdates(partsFolders))
        return false;
    return completed.wait(scanTimeoutMs);
}

void tst_ScanStress::hostWorksWhileScanning()
{
    cPackageManager manager{QDir(root)};
    // A host handler uses the package that is going away.
    QString lastDeleted;
    connect(&manager, &cPackageManager::PackageDeleted, this, [&](const tPackageUID &uid) {
        const QMap<QString, cPackage *> all = manager.GetPackageMap(QString(), true);
        if (cPackage *package = all.value(uid))
            lastDeleted = package->GetPackageUID();
    });
    int completions = 0;
    connect(&manager, &cPackageManager::PackageScanCompleted, this, [&] { ++completions; });

    int step = 0;
    while (completions < 4) {
        if (!manager.IsCurrentlyScanningForPackages())
            QVERIFY(manager.DoBackgroundScanForPackageUpdates(partsFolders));
        HostStep(manager, step++);
        QCoreApplication::processEvents();
    }
    // Let the last requests settle, then check that the registry agrees with itself.
    QTRY_VERIFY_WITH_TIMEOUT(!manager.IsCurrentlyScanningForPackages(), scanTimeoutMs);
    QVERIFY(QuietScan(manager));
    QVERIFY(QuietScan(manager));

    const QMap<QString, cPackage *> lookup = manager.GetPackageMap(QString(), true);
    const QList<cPackage *> filed = cPackageTestAccess::FiledPackages(manager);
    for (cPackage *package : filed)
        QCOMPARE(lookup.value(package->GetPackageUID()), package);
    for (const QString &folder : std::as_const(partsFolders)) {
        const QFileInfoList programs = QDir(folder).entryInfoList({QStringLiteral("*.NC")}, QDir::Files);
        for (const QFileInfo &program : programs)
            QVERIFY2(manager.GetPackage(manager.CalculatePackageUID(program)), qPrintable(program.filePath()));
    }
    qInfo("host steps: %d", step);
}

void tst_ScanStress::registryDestroyedMidScan()
{
    for (int round = 0; round < 6; ++round) {
        auto manager = std::make_unique<cPackageManager>(QDir(root));
        QVERIFY(manager->DoBackgroundScanForPackageUpdates(partsFolders));
        // From "at once" to "a few packages in"; leaks and use after free are the sanitizers'.
        for (int i = 0; i < round * 3; ++i) {
            HostStep(*manager, round * 7 + i);
            QCoreApplication::processEvents();
        }
        manager.reset();
    }
    // What the interrupted passes left behind is still a usable packages root.
    cPackageManager manager{QDir(root)};
    QVERIFY(QuietScan(manager));
    QVERIFY(!manager.GetPackageMap(QString(), true).isEmpty());
}

QTEST_GUILESS_MAIN(tst_ScanStress)
#include "tst_scanstress.moc"
