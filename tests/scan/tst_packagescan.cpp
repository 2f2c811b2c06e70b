#include "cPackageManager.h"
#include "registry/PackageScanThread.h"
#include "registry/PackageUID.h"
#include "registry/cSharedPackageMap.h"

#include "TestUtils.h"

#include <QDirIterator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace TestUtils;

struct cPackageTestAccess
{
    static auto &Lock(cPackage *package) { return package->Lock(); }
    static cSharedPackageMap *SharedMap(cPackageManager &manager) { return manager.sharedMap; }
};

namespace {

constexpr int scanTimeoutMs = 60000;

// Every file below a folder with its bytes and time, to show that nothing was touched.
QMap<QString, QPair<QByteArray, qint64>> Snapshot(const QString &folder)
{
    QMap<QString, QPair<QByteArray, qint64>> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path, {ReadFile(path), it.fileInfo().lastModified().toMSecsSinceEpoch()});
    }
    return files;
}

} // namespace

class tst_PackageScan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void newProgramIsAnnouncedThenFiled();
    void existingPackageIsMaintainedSilently();
    void deliveryOrderAndDroppedPackageLifetime();
    void secondRequestIsRefused();
    void refusedRequestKeepsTheRunningPassFolders();
    void requestInsideCompletionHandlerStarts();
    void emptyFolderListStillDropsStalePackages();
    void countIsTakenBeforeStaleRemoval();
    void programInSubfolderIsNotFound();
    void stalePackageIsDroppedAndDeleted();
    void unclaimedFolders();
    void claimedFolderSurvives();
    void tutorialPackageIsUntouched();
    void linkInUnclaimedFolderIsNotFollowed();

private:
    QString WriteProgram(const QString &folder, const QString &name);
    // A package folder without manifest or program: registered at start-up, stale at the
    // next pass.
    QString MakeBrokenPackage(const QString &uid);
    bool Scan(cPackageManager &manager, const QStringList &folders, uint *count = nullptr);

    std::unique_ptr<QTemporaryDir> dir;
    QString root;
    QString parts;
};

void tst_PackageScan::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(dir->isValid(), qPrintable(dir->errorString()));
    root = MakeDir(dir->filePath(QStringLiteral("packages")));
    parts = MakeDir(dir->filePath(QStringLiteral("parts")));
}

QString tst_PackageScan::WriteProgram(const QString &folder, const QString &name)
{
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".NC");
    if (!WriteFile(path, MillingProgram(name)))
        return QString();
    return path;
}

QString tst_PackageScan::MakeBrokenPackage(const QString &uid)
{
    const QString folder = MakeDir(root + QLatin1Char('/') + uid + QStringLiteral(".pkg"));
    WriteFile(folder + QStringLiteral("/leftover.txt"), "left over");
    return folder;
}

bool tst_PackageScan::Scan(cPackageManager &manager, const QStringList &folders, uint *count)
{
    QSignalSpy completed(&manager, &cPackageManager::PackageScanCompleted);
    if (!manager.DoBackgroundScanForPackageUpdates(folders))
        return false;
    if (!completed.wait(scanTimeoutMs))
        return false;
    if (count)
        *count = completed.at(0).at(0).toUInt();
    return true;
}

void tst_PackageScan::newProgramIsAnnouncedThenFiled()
{
    const QString program = WriteProgram(parts, QStringLiteral("PLATE"));
    cPackageManager manager{QDir(root)};
    const QString uid = manager.CalculatePackageUID(QFileInfo(program));
    const QString key = cPackageManager::PartsFolderKey(uid);

    QStringList added;
    bool foundInHandler = false;
    bool inLookupMapsInHandler = true;
    bool scanningInHandler = false;
    connect(&manager, &cPackageManager::PackageAdded, this, [&](const tPackageUID &packageUID) {
        added << packageUID;
        foundInHandler = manager.GetPackage(packageUID) != nullptr;
        inLookupMapsInHandler = manager.GetPackageMap(key, false).contains(packageUID);
        scanningInHandler = manager.IsCurrentlyScanningForPackages();
    });

    uint count = 0;
    QVERIFY(Scan(manager, {parts}, &count));
    QCOMPARE(added, QStringList{uid});
    QVERIFY(foundInHandler);
    QVERIFY(!inLookupMapsInHandler); // the registry's own slot runs after the host's handler
    QVERIFY(scanningInHandler);
    QCOMPARE(count, 1u);
    QVERIFY(QFileInfo(root + QLatin1Char('/') + uid + QStringLiteral(".pkg")).isDir());
    QVERIFY(manager.GetPackage(uid) != nullptr);
    QCOMPARE(manager.GetPackageMap(key, false).value(uid), manager.GetPackage(uid));
    QVERIFY(!manager.IsCurrentlyScanningForPackages());
}

void tst_PackageScan::existingPackageIsMaintainedSilently()
{
    const QString program = WriteProgram(parts, QStringLiteral("BRACKET"));
    cPackageManager manager{QDir(root)};
    const QString uid = manager.CalculatePackageUID(QFileInfo(program));
    QVERIFY(Scan(manager, {parts}));
    cPackage *package = manager.GetPackage(uid);
    QVERIFY(package);
    const QString folder = root + QLatin1Char('/') + uid + QStringLiteral(".pkg");
    QVERIFY(QFileInfo::exists(folder + QStringLiteral("/manifest.xml")));
    QCOMPARE(ReadFile(folder + QStringLiteral("/BRACKET.NC")), ReadFile(program));

    // A newer program in the parts folder reaches the package's copy at the next pass.
    QVERIFY(WriteFile(program, MillingProgram(QStringLiteral("BRACKET REV B"))));
    QVERIFY(SetModTime(program, QDateTime::currentDateTime().addSecs(60)));
    QSignalSpy added(&manager, &cPackageManager::PackageAdded);
    QSignalSpy deleted(&manager, &cPackageManager::PackageDeleted);
    uint count = 0;
    QVERIFY(Scan(manager, {parts}, &count));
    QCOMPARE(added.count(), 0);
    QCOMPARE(deleted.count(), 0);
    QCOMPARE(count, 1u);
    QCOMPARE(manager.GetPackage(uid), package);
    QCOMPARE(ReadFile(folder + QStringLiteral("/BRACKET.NC")), ReadFile(program));

    // Nothing changed: the whole pass writes no file.
    const auto before = Snapshot(folder);
    QVERIFY(Scan(manager, {parts}));
    const auto after = Snapshot(folder);
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QVERIFY2(after.value(it.key()) == it.value(), qPrintable(it.key() + QStringLiteral(" was rewritten")));
    QCOMPARE(after.keys(), before.keys());
}

void tst_PackageScan::deliveryOrderAndDroppedPackageLifetime()
{
    const QString staleUID = QStringLiteral("A!,GONE^OLD");
    const QString staleFolder = MakeBrokenPackage(staleUID);
    const QString program = WriteProgram(parts, QStringLiteral("NEW"));
    cPackageManager manager{QDir(root)};
    const QString newUID = manager.CalculatePackageUID(QFileInfo(program));
    const QString staleKey = cPackageManager::PartsFolderKey(staleUID);

    QStringList events;
    QString uidSeenThroughHeldPointer;
    bool staleFoundInHandler = true;
    connect(&manager, &cPackageManager::PackageAdded, this,
            [&](const tPackageUID &uid) { events << QStringLiteral("added ") + uid; });
    connect(&manager, &cPackageManager::PackageDeleted, this, [&](const tPackageUID &uid) {
        events << QStringLiteral("deleted ") + uid;
        staleFoundInHandler = manager.GetPackage(uid) != nullptr;
        // The lookup maps still lend the object out; it must be alive here.
        if (cPackage *held = manager.GetPackageMap(staleKey, false).value(uid))
            uidSeenThroughHeldPointer = held->GetPackageUID();
    });
    connect(&manager, &cPackageManager::PackageScanCompleted, this,
            [&](uint count) { events << QStringLiteral("completed %1").arg(count); });

    QVERIFY(Scan(manager, {parts}));
    const QStringList expected{QStringLiteral("added ") + newUID, QStringLiteral("deleted ") + staleUID,
                               QStringLiteral("completed 2")};
    QCOMPARE(events, expected);
    QVERIFY(!staleFoundInHandler);
    QCOMPARE(uidSeenThroughHeldPointer, staleUID);
    QVERIFY(!manager.GetPackageMap(staleKey, false).contains(staleUID));
    QVERIFY(!QFileInfo::exists(staleFolder));
}

void tst_PackageScan::secondRequestIsRefused()
{
    const QString parts2 = MakeDir(dir->filePath(QStringLiteral("parts2")));
    const QString first = WriteProgram(parts, QStringLiteral("ONE"));
    const QString second = WriteProgram(parts2, QStringLiteral("TWO"));
    cPackageManager manager{QDir(root)};
    QSignalSpy added(&manager, &cPackageManager::PackageAdded);
    QSignalSpy completed(&manager, &cPackageManager::PackageScanCompleted);

    QVERIFY(manager.DoBackgroundScanForPackageUpdates({parts}));
    QVERIFY(!manager.DoBackgroundScanForPackageUpdates({parts2}));
    QVERIFY(manager.IsCurrentlyScanningForPackages());
    QVERIFY(completed.wait(scanTimeoutMs));
    QVERIFY(!manager.IsCurrentlyScanningForPackages());

    QCOMPARE(added.count(), 1);
    QCOMPARE(added.at(0).at(0).toString(), manager.CalculatePackageUID(QFileInfo(first)));
    const QString secondUID = manager.CalculatePackageUID(QFileInfo(second));
    QVERIFY(!QFileInfo::exists(root + QLatin1Char('/') + secondUID + QStringLiteral(".pkg")));
}

void tst_PackageScan::refusedRequestKeepsTheRunningPassFolders()
{
    // Hold a package's lock so that the pass waits inside its maintenance.
    const QString parts2 = MakeDir(dir->filePath(QStringLiteral("parts2")));
    const QString first = WriteProgram(parts, QStringLiteral("ONE"));
    const QString second = WriteProgram(parts2, QStringLiteral("TWO"));
    cPackageManager manager{QDir(root)};
    QVERIFY(Scan(manager, {parts}));
    cPackage *package = manager.GetPackage(manager.CalculatePackageUID(QFileInfo(first)));
    QVERIFY(package);

    cSharedPackageMap *map = cPackageTestAccess::SharedMap(manager);
    PackageScanThread thread{QDir(root)};
    // Queued to this thread, like the registry's own connections.
    int added = 0;
    int completions = 0;
    connect(&thread, &PackageScanThread::PackageAdded, this, [&] { ++added; });
    connect(&thread, &PackageScanThread::PackageScanCompleted, this, [&] { ++completions; });
    {
        QMutexLocker locker(&cPackageTestAccess::Lock(package));
        QVERIFY(thread.StartScan({parts}, map));
        QVERIFY(!thread.StartScan({parts2}, map));
    }
    QTRY_COMPARE_WITH_TIMEOUT(completions, 1, scanTimeoutMs);
    QCOMPARE(added, 0);
    QVERIFY(!map->Contains(manager.CalculatePackageUID(QFileInfo(second))));

    // Once completion is out, the next request starts even if run() is still returning.
    QVERIFY(thread.StartScan({parts2}, map));
    QTRY_COMPARE_WITH_TIMEOUT(completions, 2, scanTimeoutMs);
    QCOMPARE(added, 1);
    QVERIFY(thread.wait(scanTimeoutMs));
}

void tst_PackageScan::requestInsideCompletionHandlerStarts()
{
    WriteProgram(parts, QStringLiteral("LOOP"));
    cPackageManager manager{QDir(root)};
    int completions = 0;
    bool scanningInHandler = true;
    bool restarted = false;
    connect(&manager, &cPackageManager::PackageScanCompleted, this, [&](uint) {
        if (++completions != 1)
            return;
        scanningInHandler = manager.IsCurrentlyScanningForPackages();
        restarted = manager.DoBackgroundScanForPackageUpdates({parts});
    });

    QVERIFY(manager.DoBackgroundScanForPackageUpdates({parts}));
    QTRY_COMPARE_WITH_TIMEOUT(completions, 2, scanTimeoutMs);
    QVERIFY(!scanningInHandler);
    QVERIFY(restarted);
    QVERIFY(!manager.IsCurrentlyScanningForPackages());
}

void tst_PackageScan::emptyFolderListStillDropsStalePackages()
{
    const QString staleUID = QStringLiteral("A!,P^ONE");
    const QString folder = MakeBrokenPackage(staleUID);
    cPackageManager manager{QDir(root)};
    QVERIFY(manager.GetPackage(staleUID));
    QSignalSpy deleted(&manager, &cPackageManager::PackageDeleted);

    uint count = 99;
    QVERIFY(Scan(manager, {}, &count));
    QCOMPARE(count, 0u);
    QCOMPARE(deleted.count(), 1);
    QCOMPARE(deleted.at(0).at(0).toString(), staleUID);
    QVERIFY(!manager.GetPackage(staleUID));
    QVERIFY(manager.GetPackageMap(QString(), true).isEmpty());
    QVERIFY(!QFileInfo::exists(folder));
}

void tst_PackageScan::countIsTakenBeforeStaleRemoval()
{
    MakeBrokenPackage(QStringLiteral("A!,P^STALE"));
    WriteProgram(parts, QStringLiteral("LIVE"));
    cPackageManager manager{QDir(root)};
    uint count = 0;
    QVERIFY(Scan(manager, {parts}, &count));
    QCOMPARE(count, 2u);
    QVERIFY(!manager.GetPackage(QStringLiteral("A!,P^STALE")));
}

void tst_PackageScan::programInSubfolderIsNotFound()
{
    const QString sub = MakeDir(parts + QStringLiteral("/sub"));
    WriteProgram(sub, QStringLiteral("DEEP"));
    cPackageManager manager{QDir(root)};
    QSignalSpy added(&manager, &cPackageManager::PackageAdded);
    uint count = 99;
    QVERIFY(Scan(manager, {parts, dir->filePath(QStringLiteral("missing"))}, &count));
    QCOMPARE(count, 0u);
    QCOMPARE(added.count(), 0);
    QVERIFY(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

void tst_PackageScan::stalePackageIsDroppedAndDeleted()
{
    const QString program = WriteProgram(parts, QStringLiteral("GONE"));
    cPackageManager manager{QDir(root)};
    const QString uid = manager.CalculatePackageUID(QFileInfo(program));
    QVERIFY(Scan(manager, {parts}));
    QVERIFY(manager.GetPackage(uid));
    const QString folder = root + QLatin1Char('/') + uid + QStringLiteral(".pkg");

    // The program still in the package keeps it alive.
    QVERIFY(QFile::remove(program));
    QSignalSpy deleted(&manager, &cPackageManager::PackageDeleted);
    QVERIFY(Scan(manager, {parts}));
    QCOMPARE(deleted.count(), 0);

    QVERIFY(QFile::remove(folder + QStringLiteral("/GONE.NC")));
    QVERIFY(Scan(manager, {parts}));
    QCOMPARE(deleted.count(), 1);
    QCOMPARE(deleted.at(0).at(0).toString(), uid);
    QVERIFY(!manager.GetPackage(uid));
    QVERIFY(!QFileInfo::exists(folder));
}

void tst_PackageScan::unclaimedFolders()
{
    cPackageManager manager{QDir(root)};
    // Made after start-up, so no package claims them.
    WriteFile(root + QStringLiteral("/Z.pkg/manifest.xml"), "<Manifest/>");
    WriteFile(root + QStringLiteral("/Z.pkg/sub/deep.txt"), "x");
    WriteFile(root + QStringLiteral("/z2.PKG/a.txt"), "x");
    WriteFile(root + QStringLiteral("/Z/keep.txt"), "kept");
    WriteFile(root + QStringLiteral("/F.pkg"), "a file, not a folder");
    WriteFile(root + QStringLiteral("/.hidden.pkg/keep.txt"), "kept");

    QVERIFY(Scan(manager, {}));
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("/Z.pkg")));
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("/z2.PKG")));
    QCOMPARE(ReadFile(root + QStringLiteral("/Z/keep.txt")), QByteArray("kept"));
    QVERIFY(QFileInfo(root + QStringLiteral("/F.pkg")).isFile());
    QVERIFY(QFileInfo::exists(root + QStringLiteral("/.hidden.pkg/keep.txt")));
}

void tst_PackageScan::claimedFolderSurvives()
{
    cPackageManager manager{QDir(root)};
    cSharedPackageMap *map = cPackageTestAccess::SharedMap(manager);
    const QString folder = MakeDir(root + QStringLiteral("/A!,P^BUSY.pkg"));
    map->ClaimFolder(QStringLiteral("A!,P^BUSY"));
    QVERIFY(Scan(manager, {}));
    QVERIFY(QFileInfo(folder).isDir());

    map->ReleaseFolder(QStringLiteral("A!,P^BUSY"));
    QVERIFY(Scan(manager, {}));
    QVERIFY(!QFileInfo::exists(folder));
}

void tst_PackageScan::tutorialPackageIsUntouched()
{
    const QString program = WriteProgram(parts, QStringLiteral("TUTOR"));
    const QString uid = PackageUID::ForProgramFile(QFileInfo(program));
    const QString folder = MakeDir(root + QLatin1Char('/') + uid + QStringLiteral(".pkg"));
    QVERIFY(WriteFile(folder + QStringLiteral("/TUTOR.NC"), "(OVT Tutorial step 1)\nG0 X0\n"));
    QVERIFY(WriteFile(folder + QStringLiteral("/manifest.xml"),
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<Manifest package_name=\"TUTOR\" package_size=\"0\" package_limit=\"0\">\n"
                      "    <NCProgram tab=\"X\" type=\"text\">TUTOR.NC</NCProgram>\n"
                      "</Manifest>\n"));
    cPackageManager manager{QDir(root)};
    QVERIFY(manager.GetPackage(uid));
    // The parts program changes after start-up: an ordinary package would take it over.
    QVERIFY(SetModTime(program, QDateTime::currentDateTime().addSecs(60)));
    const auto before = Snapshot(folder);

    QSignalSpy added(&manager, &cPackageManager::PackageAdded);
    QSignalSpy deleted(&manager, &cPackageManager::PackageDeleted);
    uint count = 0;
    QVERIFY(Scan(manager, {parts}, &count));
    QCOMPARE(count, 1u);
    QCOMPARE(added.count(), 0);
    QCOMPARE(deleted.count(), 0);
    QCOMPARE(Snapshot(folder), before);
}

void tst_PackageScan::linkInUnclaimedFolderIsNotFollowed()
{
#ifdef Q_OS_WIN
    QSKIP("QFile::link makes shortcuts on Windows");
#endif
    const QString outside = MakeDir(dir->filePath(QStringLiteral("outside")));
    WriteFile(outside + QStringLiteral("/precious.NC"), MillingProgram(QStringLiteral("PRECIOUS")));
    cPackageManager manager{QDir(root)};
    MakeDir(root + QStringLiteral("/Q.pkg"));
    QVERIFY(QFile::link(outside, root + QStringLiteral("/Q.pkg/escape")));
    QVERIFY(QFile::link(outside, root + QStringLiteral("/R.pkg")));

    QVERIFY(Scan(manager, {}));
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("/Q.pkg")));
    QVERIFY(!QFileInfo(root + QStringLiteral("/R.pkg")).isSymLink());
    QCOMPARE(ReadFile(outside + QStringLiteral("/precious.NC")), MillingProgram(QStringLiteral("PRECIOUS")));
}

QTEST_GUILESS_MAIN(tst_PackageScan)
#include "tst_packagescan.moc"
