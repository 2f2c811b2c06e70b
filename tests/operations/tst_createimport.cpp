#include "OperationsFixture.h"

using namespace OperationsTest;

// Creating packages for programs, importing package folders, adding renderings.
class tst_CreateImport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void create();
    void import_data();
    void import();
};

void tst_CreateImport::create()
{
    Workspace space;
    const QString program = space.WriteProgram("BRACKET.NC");
    cPackageManager registry{QDir(space.root)};
    SignalLog log(registry);
    bool foundInHandler = false;
    connect(&registry, &cPackageManager::PackageAdded, this, [&](const QString &uid) {
        foundInHandler = registry.GetPackage(uid) && registry.GetPackageMap(QString(), true).contains(uid) &&
                         registry.GetPackageMap(cPackageManager::PartsFolderKey(uid), false).contains(uid);
    });

    const QString uid = registry.CreatePackage(QFileInfo(program));

    QCOMPARE(uid, space.Uid(program));
    QCOMPARE(log.events, QStringList{u'+' + uid});
    QVERIFY2(foundInHandler, "the maps are up to date inside the host's handler");
    const QString folder = space.PackageFolder(uid);
    QVERIFY(ManifestLists(folder, "BRACKET.NC") && QFileInfo::exists(folder + "/BRACKET.history.html"));
    const QFileInfo rendering(space.Path("render/BRACKET.GRAPH"));
    QVERIFY(WriteFile(rendering.filePath(), "graphics\n"));

    // Refused, writing nothing: a program that has a package (also through its conversational twin), names
    // that are no plain file name, names an identifier cannot carry ("^" in the name; "^", "," or "!" in the
    // folder, which would decode to another place), a rendering for an identifier in other case, and a
    // registry without root.
    const QStringList refused{"BRACKET.CNV",    ".NC",          "   .NC", "..\\..\\EVIL.NC", "A^B.NC", "../Mill^2/P.NC",
                              "../Mill,2/P.NC", "../Mill!/P.NC"};
    for (const QString &name : refused)
        QVERIFY(WriteFile(QDir::cleanPath(space.parts + u'/' + name),
                          name.startsWith(u'B') ? ConversationalProgram() : MillingProgram("X")));
    const auto before = Snapshot(space.dir.path());
    for (const QString &name : QStringList{"BRACKET.NC"} + refused)
        QVERIFY2(registry.CreatePackage(QFileInfo(QDir::cleanPath(space.parts + u'/' + name))).isEmpty(),
                 qPrintable(name));
    QVERIFY(!registry.UpdateProgramRendering(uid.toLower(), rendering));
    cPackageManager rootless{QDir(space.Path("no-such-root"))};
    QVERIFY(rootless.CreatePackage(QFileInfo(program)).isEmpty() && !rootless.DoesPackageExist(uid));
    QCOMPARE(Snapshot(space.dir.path()), before);
    QVERIFY(!QFileInfo::exists(space.Path("no-such-root")));

    QVERIFY(registry.UpdateProgramRendering(uid, rendering));
    QCOMPARE(ReadFile(folder + "/BRACKET.GRAPH"), "graphics\n");
    QVERIFY(ManifestLists(folder, "BRACKET.GRAPH"));

    // Removing: not by an identifier in other case; a kept folder is a package still, which the
    // next pass registers again rather than deleting what it holds.
    QVERIFY(!registry.RemovePackage(uid.toLower(), true) && registry.GetPackage(uid));
    QVERIFY(registry.RemovePackage(uid, false) && !registry.GetPackage(uid));
    QCOMPARE(log.events, (QStringList{u'+' + uid, u'-' + uid}));
    QVERIFY(!QFileInfo::exists(program) && !QFileInfo::exists(space.parts + "/BRACKET.CNV"));
    QVERIFY(QFileInfo::exists(folder + "/BRACKET.NC") && cPackageTestAccess::Scan(registry, {space.parts}));
    QVERIFY(QFileInfo::exists(folder + "/BRACKET.GRAPH") && registry.GetPackage(uid));
}

void tst_CreateImport::import_data()
{
    QTest::addColumn<QString>("newName");
    QTest::addColumn<QString>("expectedProgram");
    QTest::newRow("under a new name") << "BRACKET" << QString("BRACKET.nc");
    QTest::newRow("keeping the name") << QString() << QString("plate_7.nc");
}

void tst_CreateImport::import()
{
    QFETCH(QString, newName);
    QFETCH(QString, expectedProgram);
    Workspace space;
    // A package PLATE_7 made by another registry, whose program copy is "plate_7.nc".
    QVERIFY(WriteFile(space.Path("elsewhere/parts/plate_7.nc"), MillingProgram("plate_7")));
    cPackageManager other{QDir(MakeDir(space.Path("elsewhere/packages")))};
    const QString source = space.Path("elsewhere/packages/") +
                           other.CreatePackage(QFileInfo(space.Path("elsewhere/parts/plate_7.nc"))) + ".pkg";
    cPackageManager registry{QDir(space.root)};
    SignalLog log(registry);
    // Refused, writing nothing: new names that are no plain file name.
    auto before = Snapshot(space.dir.path());
    for (const char *name : {"../../EVIL", "SUB/EVIL", "..\\EVIL", "..", ".", "   "})
        QVERIFY2(registry.ImportPackage(QDir(source), QDir(space.parts), name).isEmpty(), name);
    QCOMPARE(Snapshot(space.dir.path()), before);

    const QString uid = registry.ImportPackage(QDir(source), QDir(space.parts), newName);

    const QString name = newName.isEmpty() ? QString("PLATE_7") : newName;
    const bool renamed = !newName.isEmpty();
    QCOMPARE(uid, space.Uid(space.parts + u'/' + name));
    QCOMPARE(log.events, QStringList{u'+' + uid});
    const QString folder = space.PackageFolder(uid);
    const QStringList files = FileNames(folder);
    QVERIFY2(files.contains(name + ".gif") && files.contains(expectedProgram), qPrintable(files.join(u' ')));
    // Renamed: the old statistics go, and no file keeps the old name in any case.
    QCOMPARE(files.contains(name + ".stats.html") || ManifestLists(folder, name + ".stats.html"), !renamed);
    QCOMPARE(files.filter("plate_7", Qt::CaseInsensitive).isEmpty(), renamed);
    const QByteArray history = ReadFile(folder + u'/' + name + ".history.html");
    QCOMPARE(history.contains("Renamed During Import (old name = PLATE_7)"), renamed);
    QCOMPARE(ReadFile(space.parts + u'/' + expectedProgram), ReadFile(source + "/plate_7.nc"));
    // A second import onto the now registered identifier changes nothing, not even the source.
    before = Snapshot(space.dir.path());
    QVERIFY(registry.ImportPackage(QDir(source), QDir(space.parts), newName).isEmpty());
    QCOMPARE(Snapshot(space.dir.path()), before);
    QCOMPARE(log.events.size(), 1);
    // The program is still recognised as the package's: the next scan keeps it.
    cPackage *package = registry.GetPackage(uid);
    QVERIFY(package && cPackageTestAccess::Scan(registry, {space.parts}));
    QCOMPARE(registry.GetPackage(uid), package);
}

QTEST_GUILESS_MAIN(tst_CreateImport)
#include "tst_createimport.moc"
