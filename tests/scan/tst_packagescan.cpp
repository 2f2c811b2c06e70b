#include "cPackageManager.h"
#include "registry/PackageUID.h"
#include "registry/cSharedPackageMap.h"

#include "TestUtils.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace TestUtils;

struct cPackageTestAccess
{
    static cSharedPackageMap *SharedMap(cPackageManager &manager) { return manager.sharedMap; }
};

class tst_PackageScan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void newPackageIsAnnouncedThenMaintained();
    void stalePackagesAndDeliveryOrder_data();
    void stalePackagesAndDeliveryOrder();
    void requestsWhileAPassRuns();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString root;
    QString parts;
};

void tst_PackageScan::init()
{
    dir = std::make_unique<QTemporaryDir>();
    root = MakeDir(dir->filePath("packages"));
    parts = MakeDir(dir->filePath("parts"));
}

// Runs one pass; the count it reported, or -1.
static int Scan(cPackageManager &manager, const QStringList &folders)
{
    QSignalSpy completed(&manager, &cPackageManager::PackageScanCompleted);
    const bool done = manager.DoBackgroundScanForPackageUpdates(folders) && completed.wait(60000);
    return done ? int(completed.at(0).at(0).toUInt()) : -1;
}

void tst_PackageScan::newPackageIsAnnouncedThenMaintained()
{
    const QString program = parts + "/PLATE.NC";
    QVERIFY(WriteFile(program, MillingProgram("PLATE")) && WriteFile(parts + "/TUTOR.NC", MillingProgram("TUTOR")));
    // A tutorial package (size 0) is counted, but none of its files is touched.
    const QString tutorial = root + '/' + PackageUID::ForProgramFile(QFileInfo(parts + "/TUTOR.NC")) + ".pkg";
    const QByteArray manifest = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<Manifest package_name=\"TUTOR\" package_size=\"0\" package_limit=\"0\">\n"
                                "    <NCProgram tab=\"X\" type=\"text\">TUTOR.NC</NCProgram>\n</Manifest>\n";
    QVERIFY(WriteFile(tutorial + "/TUTOR.NC", "(OVT Tutorial)\n") && WriteFile(tutorial + "/manifest.xml", manifest));
    cPackageManager manager{QDir(root)};
    const QString uid = manager.CalculatePackageUID(QFileInfo(program));
    const QString key = cPackageManager::PartsFolderKey(uid);
    QStringList events;
    connect(&manager, &cPackageManager::PackageAdded, this, [&](const QString &added) {
        // Found at once, still scanning; the registry's own slot fills the lookup maps after the host's handler.
        events << added << QString::number(manager.GetPackage(added) != nullptr)
               << QString::number(manager.GetPackageMap(key, false).contains(added))
               << QString::number(manager.IsCurrentlyScanningForPackages());
    });

    QCOMPARE(Scan(manager, {parts}), 2);
    QCOMPARE(events, (QStringList{uid, "1", "0", "1"}));
    cPackage *package = manager.GetPackage(uid);
    QVERIFY(package && manager.GetPackageMap(key, false).value(uid) == package);
    // Newer programs: the package's copy follows at the next pass, without a signal; the tutorial's does not.
    QVERIFY(WriteFile(program, MillingProgram("PLATE REV B")));
    for (const char *name : {"/PLATE.NC", "/TUTOR.NC"})
        QVERIFY(SetModTime(parts + name, QDateTime::currentDateTime().addSecs(60)));
    QCOMPARE(Scan(manager, {parts}), 2);
    QVERIFY(events.size() == 4 && manager.GetPackage(uid) == package);
    QCOMPARE(ReadFile(root + '/' + uid + ".pkg/PLATE.NC"), ReadFile(program));
    QCOMPARE(QDir(tutorial).entryList(QDir::Files), (QStringList{"manifest.xml", "TUTOR.NC"}));
    QCOMPARE(QByteArray(ReadFile(tutorial + "/TUTOR.NC") + ReadFile(tutorial + "/manifest.xml")),
             QByteArray("(OVT Tutorial)\n" + manifest));
}

void tst_PackageScan::stalePackagesAndDeliveryOrder_data()
{
    QTest::addColumn<QString>("programFolder"); // below the temporary folder
    QTest::addColumn<QStringList>("scanned");
    QTest::addColumn<int>("count");
    QTest::newRow("new program") << "parts" << QStringList{"parts"} << 2;
    QTest::newRow("empty folder list") << "parts" << QStringList() << 0;
    QTest::newRow("program in a subfolder") << "parts/sub" << QStringList{"parts", "missing"} << 0;
}

void tst_PackageScan::stalePackagesAndDeliveryOrder()
{
    QFETCH(QString, programFolder);
    QFETCH(QStringList, scanned);
    QFETCH(int, count);
    // A package folder without manifest or program: registered at start-up, stale at the next pass.
    const QString staleUid = "A!,GONE^OLD";
    QVERIFY(WriteFile(root + '/' + staleUid + ".pkg/leftover.txt", "left over"));
    const QString program = dir->filePath(programFolder + "/NEW.NC");
    QVERIFY(WriteFile(program, MillingProgram("NEW")) && WriteFile(dir->filePath("out/k.NC"), "x"));
    cPackageManager manager{QDir(root)};
    const QString newUid = manager.CalculatePackageUID(QFileInfo(program));
    QStringList events;
    connect(&manager, &cPackageManager::PackageAdded, this, [&](const QString &uid) { events << "added " + uid; });
    connect(&manager, &cPackageManager::PackageDeleted, this, [&](const QString &uid) {
        // Gone from the registry, but the lookup maps still lend the object out: it must be alive.
        cPackage *held = manager.GetPackageMap(cPackageManager::PartsFolderKey(uid), false).value(uid);
        events << "deleted " + uid << QString::number(manager.GetPackage(uid) != nullptr) << held->GetPackageUID();
    });
    connect(&manager, &cPackageManager::PackageScanCompleted, this, [&](uint n) { events << QString::number(n); });
    scanned.replaceInStrings(QRegularExpression("^"), dir->path() + '/');
    // Folders made after start-up, so no package claims them, except the one the host is making.
    for (const char *file : {"/Z.pkg/manifest.xml", "/Z.pkg/sub/d", "/z2.PKG/a", "/Z/k", "/F.pkg", "/.h.pkg/k",
                             "/A!,P^BUSY.pkg/k", "/Q.pkg/o"})
        QVERIFY(WriteFile(root + file, "x"));
    cPackageTestAccess::SharedMap(manager)->ClaimFolder("A!,P^BUSY");
    QVERIFY(QFile::link(dir->filePath("out"), root + "/Q.pkg/escape") &&
            QFile::link(dir->filePath("out"), root + "/R.pkg"));

    QCOMPARE(Scan(manager, scanned), count);

    const QStringList dropped{"deleted " + staleUid, "0", staleUid, QString::number(count)};
    QCOMPARE(events, count ? QStringList{"added " + newUid} + dropped : dropped);
    for (const char *gone : {"/A!,GONE^OLD.pkg", "/Z.pkg", "/z2.PKG", "/Q.pkg", "/R.pkg"})
        QVERIFY2(!QFileInfo::exists(root + gone) && !QFileInfo(root + gone).isSymLink(), gone);
    for (const char *kept : {"/Z/k", "/F.pkg", "/.h.pkg/k", "/A!,P^BUSY.pkg/k", "/../out/k.NC"})
        QVERIFY2(QFileInfo(root + kept).isFile(), kept);
}

void tst_PackageScan::requestsWhileAPassRuns()
{
    const QString parts2 = dir->filePath("parts2");
    QVERIFY(WriteFile(parts + "/ONE.NC", MillingProgram("1")) && WriteFile(parts2 + "/TWO.NC", MillingProgram("2")));
    cPackageManager manager{QDir(root)};
    const QString two = manager.CalculatePackageUID(QFileInfo(parts2 + "/TWO.NC"));
    QStringList events; // per completion: scanning?, TWO filed?, and after the first: restarted?
    connect(&manager, &cPackageManager::PackageScanCompleted, this, [&](uint) {
        events << QString::number(manager.IsCurrentlyScanningForPackages())
               << QString::number(manager.DoesPackageExist(two));
        if (events.size() == 2) // once the host has seen completion, a new request starts
            events << QString::number(manager.DoBackgroundScanForPackageUpdates({parts2}));
    });

    // Until the host has seen completion, a second request is refused and its folders are not scanned.
    QVERIFY(manager.DoBackgroundScanForPackageUpdates({parts}));
    QVERIFY(!manager.DoBackgroundScanForPackageUpdates({parts2}) && manager.IsCurrentlyScanningForPackages());

    QTRY_COMPARE_WITH_TIMEOUT(events.size(), 5, 60000);
    QCOMPARE(events, (QStringList{"0", "0", "1", "0", "1"}));
}

QTEST_GUILESS_MAIN(tst_PackageScan)
#include "tst_packagescan.moc"
