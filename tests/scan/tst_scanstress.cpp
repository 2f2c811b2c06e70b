#include "cPackageManager.h"
#include "registry/cSharedPackageMap.h"

#include "TestUtils.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace TestUtils;

struct cPackageTestAccess
{
    static QList<cPackage *> FiledPackages(cPackageManager &manager) { return manager.sharedMap->GetPackages(); }
};

static constexpr int programsPerFolder = 24;
static constexpr int scanTimeoutMs = 300000;

// The host keeps working on its thread while passes run: it creates, queries, touches and
// removes packages, and destroys registries in the middle of a pass. Run it under the
// sanitizers: the checks here are coarse, the sanitizers' reports are the real result.
class tst_ScanStress : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void hostWorksWhileScanning();
    void registryDestroyedMidScan();

private:
    void HostStep(cPackageManager &manager, int step);

    QTemporaryDir dir;
    QString root = MakeDir(dir.filePath("packages"));
    QStringList partsFolders{MakeDir(dir.filePath("mill")), MakeDir(dir.filePath("lathe"))};
    QStringList hostPrograms;
    QRandomGenerator random{20261206};
};

void tst_ScanStress::initTestCase()
{
    for (int i = 0; i < 2 * programsPerFolder; ++i)
        QVERIFY(WriteFile(partsFolders.at(i % 2) + QString::asprintf("/P%03d.NC", i / 2), MillingProgram("P")));
}

void tst_ScanStress::HostStep(cPackageManager &manager, int step)
{
    const QString folder = partsFolders.at(step % 2);
    const QString program = folder + QString::asprintf("/P%03d.NC", int(random.bounded(programsPerFolder)));
    const QString uid = manager.CalculatePackageUID(QFileInfo(program));
    cPackage *package = manager.GetPackage(uid); // lent out: alive until the host has seen its PackageDeleted
    switch (step % 4) {
    case 0: { // a new program, packaged by the host while the scan may meet it too
        const QString path = folder + QStringLiteral("/H%1.NC").arg(step);
        if (WriteFile(path, MillingProgram("H")) && !manager.CreatePackage(QFileInfo(path)).isEmpty())
            hostPrograms << path;
        break;
    }
    case 1: // the host browses the folder's packages while a newer program waits for the scan
        WriteFile(program, MillingProgram(QStringLiteral("REV %1").arg(step)));
        for (cPackage *each : manager.GetListOfPackages(folder, cPackageManager::eAnyProgram)) {
            for (const cManifestItem *item : each->GetManifestItems(Unknown))
                (void)item->GetFileNameString();
        }
        break;
    case 2:
        if (!hostPrograms.isEmpty())
            (void)manager.RemovePackage(manager.CalculatePackageUID(QFileInfo(hostPrograms.takeFirst())), true);
        break;
    case 3: // a package loses its programs everywhere: the next pass drops it
        if (package && QFile::remove(program))
            QFile::remove(root + '/' + uid + ".pkg/" + QFileInfo(program).fileName());
        break;
    }
}

void tst_ScanStress::hostWorksWhileScanning()
{
    cPackageManager manager{QDir(root)};
    QSignalSpy completed(&manager, &cPackageManager::PackageScanCompleted);
    for (int step = 0; completed.count() < 4; ++step) {
        if (!manager.IsCurrentlyScanningForPackages())
            QVERIFY(manager.DoBackgroundScanForPackageUpdates(partsFolders));
        HostStep(manager, step);
        QCoreApplication::processEvents();
    }
    // Let the last requests settle, then check that the registry agrees with itself.
    QTRY_VERIFY_WITH_TIMEOUT(!manager.IsCurrentlyScanningForPackages(), scanTimeoutMs);
    for (int pass = 0; pass < 2; ++pass)
        QVERIFY(manager.DoBackgroundScanForPackageUpdates(partsFolders) && completed.wait(scanTimeoutMs));
    const QMap<QString, cPackage *> lookup = manager.GetPackageMap(QString(), true);
    for (cPackage *package : cPackageTestAccess::FiledPackages(manager))
        QCOMPARE(lookup.value(package->GetPackageUID()), package);
    for (const QString &folder : std::as_const(partsFolders)) {
        for (const QFileInfo &program : QDir(folder).entryInfoList({"*.NC"}, QDir::Files))
            QVERIFY2(manager.GetPackage(manager.CalculatePackageUID(program)), qPrintable(program.filePath()));
    }
}

void tst_ScanStress::registryDestroyedMidScan()
{
    // From "at once" to "a few packages in"; leaks and use after free are the sanitizers'.
    for (int round = 0; round < 6; ++round) {
        auto manager = std::make_unique<cPackageManager>(QDir(root));
        QVERIFY(manager->DoBackgroundScanForPackageUpdates(partsFolders));
        for (int i = 0; i < round * 3; ++i) {
            HostStep(*manager, round * 7 + i);
            QCoreApplication::processEvents();
        }
    }
    // What the interrupted passes left behind is still a usable packages root.
    cPackageManager manager{QDir(root)};
    QSignalSpy completed(&manager, &cPackageManager::PackageScanCompleted);
    QVERIFY(manager.DoBackgroundScanForPackageUpdates(partsFolders) && completed.wait(scanTimeoutMs));
    QVERIFY(!manager.GetPackageMap(QString(), true).isEmpty());
}

QTEST_GUILESS_MAIN(tst_ScanStress)
#include "tst_scanstress.moc"
