#include "cPackageManager.h"
#include "registry/PackageUID.h"
#include "registry/cSharedPackageMap.h"

#include "TestUtils.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

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
    void deletesOnlyOnEvidence_data();
    void deletesOnlyOnEvidence();
    void adoptsWhatOthersMade();
    void noFlappingOverTwoPasses_data();
    void noFlappingOverTwoPasses();
    void settledPackageSeesEveryChange_data();
    void settledPackageSeesEveryChange();
    void requestsWhileAPassRuns();
    // The host keeps working on its thread while passes run: it creates, queries, touches and
    // removes packages, and destroys registries in the middle of a pass. Run them under the
    // sanitizers: the checks here are coarse, the sanitizers' reports are the real result.
    void hostWorksWhileScanning();
    void registryDestroyedMidScan();

private:
    // Two parts folders of 24 programs each for the host to work on.
    bool MakeBusyFolders();
    void HostStep(cPackageManager &manager, int step);

    std::unique_ptr<QTemporaryDir> dir;
    QString root;
    QString parts;
    QStringList partsFolders, hostPrograms; // of the host's work
    QRandomGenerator random{20261206};
};

static constexpr int programsPerFolder = 24;
static constexpr int busyScanTimeoutMs = 300000;

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

void tst_PackageScan::deletesOnlyOnEvidence_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<bool>("dropped");
    QTest::addColumn<bool>("folderKept");
    QTest::addColumn<int>("keptUnreachable");
    QTest::newRow("program gone, no copy") << "gone" << true << false << 0;
    QTest::newRow("program there, folder not scanned") << "there" << false << true << 0;
    QTest::newRow("program copy in the package") << "copy" << false << true << 0;
    QTest::newRow("manifest empty, program in the share") << "emptyManifest" << false << true << 0;
    QTest::newRow("parts folder missing") << "noParts" << false << true << 1;
    QTest::newRow("parts folder empty (share not mounted)") << "emptyParts" << false << true << 1;
    QTest::newRow("packages root gone for a moment") << "noRoot" << false << true << 1;
}

// A package registered at start-up whose folder holds a photograph; what the next pass (over no
// folder at all, so the package's parts folder is not in it) does with it.
void tst_PackageScan::deletesOnlyOnEvidence()
{
    QFETCH(QString, situation);
    QFETCH(bool, dropped);
    QFETCH(bool, folderKept);
    QFETCH(int, keptUnreachable);
    const QString program = parts + "/OLD.NC";
    const QString uid = PackageUID::ForProgramFile(QFileInfo(program));
    const QString folder = root + '/' + uid + ".pkg";
    QVERIFY(WriteFile(folder + "/fixture.jpg", "photo") && WriteFile(parts + "/OTHER.NC", MillingProgram("O")));
    QVERIFY(WriteFile(root + "/undetermined_rendering.gif", "GIF89a"));
    QVERIFY(WriteFile(folder + "/manifest.xml", situation == "emptyManifest" ? "" : "<Manifest/>\n"));
    if (situation == "there" || situation == "emptyManifest")
        QVERIFY(WriteFile(program, MillingProgram("OLD")));
    if (situation == "copy")
        QVERIFY(WriteFile(folder + "/OLD.NC", MillingProgram("OLD")));
    if (situation == "noParts" || situation == "emptyParts")
        QVERIFY(QDir(parts).removeRecursively() && (situation == "noParts" || QDir().mkpath(parts)));

    cPackageManager manager{QDir(root)};
    QVERIFY(manager.GetPackage(uid));
    QStringList events;
    connect(&manager, &cPackageManager::PackageDeleted, this, [&](const QString &gone) {
        // Gone from the registry, but the lookup maps still lend the object out: it must be alive.
        cPackage *held = manager.GetPackageMap(cPackageManager::PartsFolderKey(gone), false).value(gone);
        events << "deleted " + gone << QString::number(manager.GetPackage(gone) != nullptr) << held->GetPackageUID();
    });
    // A host that keeps the pointer and handles the deletion later, as a list model does.
    cPackage *kept = manager.GetPackage(uid);
    QStringList queued;
    connect(
        &manager, &cPackageManager::PackageDeleted, this, [&](const QString &) { queued << kept->GetPackageUID(); },
        Qt::QueuedConnection);
    const QString away = dir->filePath("away");
    if (situation == "noRoot")
        QVERIFY(QDir().rename(root, away));
    QSignalSpy completed(&manager, &cPackageManager::PackageScanCompleted);
    QVERIFY(manager.DoBackgroundScanForPackageUpdates({}));
    QThread::msleep(300); // a busy host thread: the whole pass is queued up meanwhile
    QVERIFY(completed.wait(60000));
    QTest::qWait(10);
    if (situation == "noRoot")
        QVERIFY(QDir().rename(away, root));
    QCOMPARE(queued, dropped ? QStringList{uid} : QStringList());

    const QStringList expected = dropped ? QStringList{"deleted " + uid, "0", uid} : QStringList();
    QCOMPARE(events, expected);
    QCOMPARE(manager.GetPackage(uid) != nullptr, !dropped);
    QCOMPARE(QFileInfo::exists(folder + "/fixture.jpg"), folderKept);
    // A manifest that lost its program entry (a move or an import cut short) lists the copy again.
    QVERIFY(situation != "copy" || ReadFile(folder + "/manifest.xml").contains(">OLD.NC<"));
    QCOMPARE(int(manager.GetLastScanReport().keptUnreachable), keptUnreachable);
    QCOMPARE(QDir(root).entryList(QDir::Hidden | QDir::AllEntries | QDir::NoDotAndDotDot).size(), folderKept ? 2 : 1);
    if (situation == "noParts") { // a share mounted later: the package follows its program from then on
        QSignalSpy added(&manager, &cPackageManager::PackageAdded);
        QVERIFY(WriteFile(program, MillingProgram("OLD REV B")));
        QCOMPARE(Scan(manager, {parts}), 1);
        QVERIFY(added.isEmpty() && manager.GetPackage(uid)->HasNCProgram());
        QCOMPARE(ReadFile(folder + "/OLD.NC"), ReadFile(program));
    }
}

// Folders this registry did not make: a package is adopted, nothing of value is deleted.
void tst_PackageScan::adoptsWhatOthersMade()
{
    QVERIFY(WriteFile(parts + "/MADE.NC", MillingProgram("MADE")));
    cPackageManager manager{QDir(root)};
    QStringList added;
    connect(&manager, &cPackageManager::PackageAdded, this, [&](const QString &uid) { added << uid; });
    const QString made = PackageUID::ForProgramFile(QFileInfo(parts + "/MADE.NC"));
    QVERIFY(WriteFile(root + '/' + made + ".pkg/manifest.xml", "<Manifest/>\n"));
    QVERIFY(WriteFile(root + "/A!,P^BUSY.pkg/manifest.xml", "<Manifest/>\n"));
    cPackageTestAccess::SharedMap(manager)->ClaimFolder("A!,P^BUSY");
    for (const char *file : {"/A!,X^NOTES.pkg/notes.txt", "/A!,X^HIDDEN.pkg/.notes", "/A!,X^NEW.pkg/.package.lock",
                             "/A!,X^OLD.pkg/.package.lock", "/A!,X^LOCK.pkg/.x.abc123.pmtmp", "/Z/k",
                             "/.A!,X^Q.pkg.1.removing/k", "/../out/k.NC"})
        QVERIFY(WriteFile(root + file, "x"));
    QVERIFY(QDir().mkpath(root + "/A!,X^EMPTY.pkg"));
    for (const char *old : {"/A!,X^OLD.pkg", "/A!,X^LOCK.pkg", "/A!,X^HIDDEN.pkg"})
        QVERIFY(SetModTime(root + old, QDateTime::currentDateTime().addSecs(-7200)));
    QVERIFY(QFile::link(dir->filePath("out"), root + "/A!,X^LINK.pkg"));

    QCOMPARE(Scan(manager, {}), 0);
    QCOMPARE(added, QStringList{made});
    QVERIFY(manager.GetPackage(made) && !manager.GetPackage("A!,P^BUSY") && !manager.GetPackage("A!,X^LINK"));
    for (const char *gone : {"/A!,X^OLD.pkg", "/A!,X^LOCK.pkg", "/.A!,X^Q.pkg.1.removing"})
        QVERIFY2(!QFileInfo::exists(root + gone), gone);
    for (const char *kept : {"/A!,P^BUSY.pkg", "/A!,X^NOTES.pkg/notes.txt", "/A!,X^HIDDEN.pkg/.notes", "/A!,X^NEW.pkg",
                             "/A!,X^EMPTY.pkg", "/Z/k", "/A!,X^LINK.pkg/k.NC"})
        QVERIFY2(QFileInfo::exists(root + kept), kept);

    // A package that another process removes disappears at the next pass.
    QVERIFY(QDir(root + '/' + made + ".pkg").removeRecursively());
    QSignalSpy deleted(&manager, &cPackageManager::PackageDeleted);
    QCOMPARE(Scan(manager, {}), 0);
    QCOMPARE(deleted.size(), 1);
    QVERIFY(!manager.GetPackage(made));
}

void tst_PackageScan::noFlappingOverTwoPasses_data()
{
    QTest::addColumn<QStringList>("files"); // below the parts folder; "dir/" makes a folder
    QTest::addColumn<int>("packages");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<QStringList>("copies"); // what the one package holds after the first pass
    const auto row = [](const char *tag, const QStringList &files, int packages, int skipped,
                        const QStringList &copies = {}) {
        QTest::newRow(tag) << files << packages << skipped << copies;
    };
    row("another extension", {"prog.ngc", "PLATE.bak", "setup.txt"}, 0, 3);
    row("backup listed beside the program", {"PLATE.bak", "PLATE.NC"}, 1, 1, {"PLATE.NC"});
    // Whichever of a name's programs the pass meets first, the package holds both and the NC
    // program's pages after that one pass.
    row("NC and conversational programs of a name", {"PLATE.NC", "PLATE.CNV"}, 1, 0,
        {"PLATE.NC", "PLATE.CNV", "PLATE.tools.html"});
    row("NC half of a dotted conversational name", {"PART.V2", "PART.V2.CNV"}, 1, 0,
        {"PART.V2", "PART.V2.CNV", "PART.V2.tools.html"});
    row("name an identifier cannot carry", {"A^B.NC", "back\\slash.NC"}, 0, 2);
    row("folder an identifier cannot carry", {"Smith, John/P.NC", "a!b/Q.NC"}, 0, 2);
    row("name too long for a folder", {QString(250, 'L') + ".NC"}, 0, 1);
    row("folders differing only in case", {"Mill/P.NC", "mill/P.NC"}, 0, 2);
    row("programs differing only in case", {"P.NC", "p.nc"}, 1, 1);
}

// A file that cannot keep a package gets none and is reported; nothing comes and goes.
void tst_PackageScan::noFlappingOverTwoPasses()
{
    QFETCH(QStringList, files);
    QFETCH(int, packages);
    QFETCH(int, skipped);
    QFETCH(QStringList, copies);
    QStringList folders{parts};
    for (const QString &file : files) {
        const QByteArray content =
            file.endsWith(".CNV") ? ConversationalProgram() : QByteArray("G54\n") + MillingProgram("X");
        QVERIFY2(WriteFile(parts + '/' + file, content), qPrintable(file));
        if (file.contains('/') && !folders.contains(parts + '/' + file.section('/', 0, 0)))
            folders << parts + '/' + file.section('/', 0, 0);
    }
    cPackageManager manager{QDir(root)};
    QCOMPARE(Scan(manager, folders), packages);
    QCOMPARE(manager.GetLastScanReport().skippedFiles.size(), skipped);
    const QString package = root + '/' + QDir(root).entryList({"*.pkg"}, QDir::Dirs).value(0) + '/';
    for (const QString &copy : copies)
        QVERIFY2(QFileInfo::exists(package + copy), qPrintable(copy));
    QSignalSpy added(&manager, &cPackageManager::PackageAdded);
    QSignalSpy deleted(&manager, &cPackageManager::PackageDeleted);
    for (int pass = 0; pass < 2; ++pass)
        QCOMPARE(Scan(manager, folders), packages);
    QCOMPARE(added.size() + deleted.size(), 0);
    QCOMPARE(QDir(root).entryList({"*.pkg"}, QDir::Dirs).size(), packages);
}

void tst_PackageScan::settledPackageSeesEveryChange_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("newProcess");
    const char *changes[][2] = {{"overview removed", "overview"}, {"program edited", "edited"},
                                {"manifest removed", "manifest"}, {"photograph added", "photo"},
                                {"copy removed", "copy"},         {"program and copy removed", "gone"}};
    for (const bool newProcess : {false, true}) {
        for (const auto &change : changes)
            QTest::addRow("%s%s", change[0], newProcess ? ", next registry" : "") << change[1] << newProcess;
    }
}

// A package that a pass found nothing to change in is left alone while it stays so; any
// change on either side is seen at the next pass, also by the next registry on the root,
// which takes up the states that this one settled.
void tst_PackageScan::settledPackageSeesEveryChange()
{
    QFETCH(QString, change);
    QFETCH(bool, newProcess);
    const QString program = parts + "/PLATE.NC";
    QVERIFY(WriteFile(program, MillingProgram("PLATE")) && WriteFile(parts + "/OTHER.NC", MillingProgram("O")));
    QVERIFY(WriteFile(root + "/undetermined_rendering.gif", "GIF89a"));
    auto registry = std::make_unique<cPackageManager>(QDir(root));
    const QString uid = registry->CalculatePackageUID(QFileInfo(program));
    const QString folder = root + '/' + uid + ".pkg";
    for (int pass = 0; pass < 3; ++pass)
        QCOMPARE(Scan(*registry, {parts}), 2);
    QVERIFY(ReadFile(folder + "/manifest.xml").contains("PLATE.gif"));
    if (newProcess) {
        registry.reset();
        // One that finds the root unchanged settles at once, without taking anything away.
        registry = std::make_unique<cPackageManager>(QDir(root));
        const QByteArray settledManifest = ReadFile(folder + "/manifest.xml");
        QCOMPARE(Scan(*registry, {parts}), 2);
        QCOMPARE(ReadFile(folder + "/manifest.xml"), settledManifest);
        registry.reset();
    }

    if (change == "overview")
        QVERIFY(QFile::remove(folder + "/PLATE.gif"));
    else if (change == "edited")
        QVERIFY(WriteFile(program, MillingProgram("PLATE REV B")) &&
                SetModTime(program, QDateTime::currentDateTime().addSecs(60)));
    else if (change == "manifest")
        QVERIFY(QFile::remove(folder + "/manifest.xml"));
    else if (change == "photo")
        QVERIFY(WriteFile(folder + "/photo.jpg", "photo"));
    else if (change == "copy")
        QVERIFY(QFile::remove(folder + "/PLATE.NC"));
    else if (change == "gone")
        QVERIFY(QFile::remove(program) && QFile::remove(folder + "/PLATE.NC"));
    if (!registry)
        registry = std::make_unique<cPackageManager>(QDir(root));
    cPackageManager &manager = *registry;
    QVERIFY(Scan(manager, {parts}) >= 1);

    if (change == "gone") {
        QVERIFY(!manager.GetPackage(uid) && !QFileInfo::exists(folder));
        return;
    }
    QVERIFY(manager.GetPackage(uid));
    QCOMPARE(ReadFile(folder + "/PLATE.NC"), ReadFile(program));
    QVERIFY(QFileInfo(folder + "/PLATE.gif").size() > 0);
    const QByteArray manifest = ReadFile(folder + "/manifest.xml");
    QVERIFY(manifest.contains(">PLATE.NC<") && manifest.contains(">PLATE.gif<"));
    QCOMPARE(manifest.contains(">photo.jpg<"), change == "photo");
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

bool tst_PackageScan::MakeBusyFolders()
{
    partsFolders = QStringList{parts, MakeDir(dir->filePath("lathe"))};
    hostPrograms.clear();
    bool written = true;
    for (int i = 0; i < 2 * programsPerFolder; ++i)
        written =
            written && WriteFile(partsFolders.at(i % 2) + QString::asprintf("/P%03d.NC", i / 2), MillingProgram("P"));
    return written;
}

void tst_PackageScan::HostStep(cPackageManager &manager, int step)
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

void tst_PackageScan::hostWorksWhileScanning()
{
    QVERIFY(MakeBusyFolders());
    cPackageManager manager{QDir(root)};
    QSignalSpy completed(&manager, &cPackageManager::PackageScanCompleted);
    for (int step = 0; completed.count() < 4; ++step) {
        if (!manager.IsCurrentlyScanningForPackages())
            QVERIFY(manager.DoBackgroundScanForPackageUpdates(partsFolders));
        HostStep(manager, step);
        QCoreApplication::processEvents();
    }
    // Let the last requests settle, then check that the registry agrees with itself.
    QTRY_VERIFY_WITH_TIMEOUT(!manager.IsCurrentlyScanningForPackages(), busyScanTimeoutMs);
    for (int pass = 0; pass < 2; ++pass)
        QVERIFY(manager.DoBackgroundScanForPackageUpdates(partsFolders) && completed.wait(busyScanTimeoutMs));
    const QMap<QString, cPackage *> lookup = manager.GetPackageMap(QString(), true);
    for (cPackage *package : cPackageTestAccess::SharedMap(manager)->GetPackages())
        QCOMPARE(lookup.value(package->GetPackageUID()), package);
    for (const QString &folder : std::as_const(partsFolders)) {
        for (const QFileInfo &program : QDir(folder).entryInfoList({"*.NC"}, QDir::Files))
            QVERIFY2(manager.GetPackage(manager.CalculatePackageUID(program)), qPrintable(program.filePath()));
    }
}

void tst_PackageScan::registryDestroyedMidScan()
{
    QVERIFY(MakeBusyFolders());
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
    QVERIFY(manager.DoBackgroundScanForPackageUpdates(partsFolders) && completed.wait(busyScanTimeoutMs));
    QVERIFY(!manager.GetPackageMap(QString(), true).isEmpty());
}

QTEST_GUILESS_MAIN(tst_PackageScan)
#include "tst_packagescan.moc"
