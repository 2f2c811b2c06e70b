#include "OperationsFixture.h"

using namespace TestUtils;
using namespace OperationsTest;

// Creating packages for programs, importing package folders, adding renderings.
class tst_CreateImport : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void createMakesAFiledPackage();
    void createForAProgramWithAPackageEmitsNothing();
    void createRefusesNamesThatAreNoFileNames_data();
    void createRefusesNamesThatAreNoFileNames();
    void createWithoutPackagesRootRegistersNothing();

    void importUnderANewName();
    void importKeepingTheName();
    void importOntoARegisteredIdentifierIsRefused();
    void importRefusesNamesThatAreNoFileNames_data();
    void importRefusesNamesThatAreNoFileNames();

    void renderingIsAddedToTheNamedPackage();
    void renderingNeedsTheExactIdentifier();
};

// Records the registry's signals as "+UID" and "-UID", in order.
struct SignalLog
{
    QStringList events;
    explicit SignalLog(cPackageManager &registry)
    {
        QObject::connect(&registry, &cPackageManager::PackageAdded, &registry,
                         [this](const tPackageUID &uid) { events << QLatin1Char('+') + uid; });
        QObject::connect(&registry, &cPackageManager::PackageDeleted, &registry,
                         [this](const tPackageUID &uid) { events << QLatin1Char('-') + uid; });
    }
};

// A package PLATE_7 made by another registry, whose program copy is "plate_7.nc".
static QString MakeSourcePackage(const Workspace &space)
{
    const QString otherParts = MakeDir(space.Path(QStringLiteral("elsewhere/parts")));
    const QString otherRoot = MakeDir(space.Path(QStringLiteral("elsewhere/packages")));
    const QString program = space.WriteProgram(QStringLiteral("plate_7.nc"), otherParts);
    cPackageManager other{QDir(otherRoot)};
    const QString uid = other.CreatePackage(QFileInfo(program));
    return uid.isEmpty() ? QString() : otherRoot + QLatin1Char('/') + uid + QLatin1String(".pkg");
}

void tst_CreateImport::createMakesAFiledPackage()
{
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    const QString program = space.WriteProgram(QStringLiteral("BRACKET.NC"));
    cPackageManager registry{QDir(space.root)};
    SignalLog log(registry);

    bool foundInHandler = false;
    connect(&registry, &cPackageManager::PackageAdded, this, [&](const tPackageUID &uid) {
        foundInHandler = registry.GetPackage(uid) != nullptr && registry.GetPackageMap(QString(), true).contains(uid) &&
                         registry.GetPackageMap(cPackageManager::PartsFolderKey(uid), false).contains(uid);
    });

    const QString uid = registry.CreatePackage(QFileInfo(program));

    QCOMPARE(uid, space.Uid(program));
    QCOMPARE(log.events, QStringList{QLatin1Char('+') + uid});
    QVERIFY2(foundInHandler, "the maps are up to date inside the host's handler");
    const QString folder = space.PackageFolder(uid);
    QCOMPARE(ReadFile(folder + QLatin1String("/BRACKET.NC")), ReadFile(program));
    for (const char *name :
         {"manifest.xml", "BRACKET.gif", "BRACKET.stats.html", "BRACKET.tools.html", "BRACKET.history.html"})
        QVERIFY2(QFileInfo::exists(folder + QLatin1Char('/') + QLatin1String(name)), name);
    QVERIFY(ManifestLists(folder, QStringLiteral("BRACKET.NC")));
    cPackage *package = registry.GetPackage(uid);
    QVERIFY(package);
    QCOMPARE(package->GetPackageName(), QStringLiteral("BRACKET"));
    QCOMPARE(package->GetPackageSizeLimit(), 104857600u);
}

void tst_CreateImport::createForAProgramWithAPackageEmitsNothing()
{
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    const QString program = space.WriteProgram(QStringLiteral("BRACKET.NC"));
    const QString conversational = space.WriteConversational(QStringLiteral("BRACKET.CNV"));
    cPackageManager registry{QDir(space.root)};
    const QString uid = registry.CreatePackage(QFileInfo(program));
    QVERIFY(!uid.isEmpty());
    cPackage *first = registry.GetPackage(uid);
    const QByteArray manifest = ReadFile(space.PackageFolder(uid) + QLatin1String("/manifest.xml"));
    SignalLog log(registry);

    // The conversational program shares the identifier of the NC program.
    QVERIFY(registry.CreatePackage(QFileInfo(program)).isEmpty());
    QVERIFY(registry.CreatePackage(QFileInfo(conversational)).isEmpty());

    QVERIFY(log.events.isEmpty());
    QCOMPARE(registry.GetPackage(uid), first);
    QCOMPARE(ReadFile(space.PackageFolder(uid) + QLatin1String("/manifest.xml")), manifest);
}

void tst_CreateImport::createRefusesNamesThatAreNoFileNames_data()
{
    QTest::addColumn<QString>("programName");
    QTest::newRow("no base name") << ".NC";
    QTest::newRow("blank base name") << "   .NC";
    QTest::newRow("backslash") << "..\\..\\EVIL.NC";
}

void tst_CreateImport::createRefusesNamesThatAreNoFileNames()
{
    QFETCH(QString, programName);
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    const QString program = space.WriteProgram(programName);
    cPackageManager registry{QDir(space.root)};
    SignalLog log(registry);

    QVERIFY(registry.CreatePackage(QFileInfo(program)).isEmpty());

    QVERIFY(log.events.isEmpty());
    QVERIFY(QDir(space.root).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    QCOMPARE(QDir(space.dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{QStringLiteral("packages"), QStringLiteral("parts")}));
}

void tst_CreateImport::createWithoutPackagesRootRegistersNothing()
{
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    const QString program = space.WriteProgram(QStringLiteral("BRACKET.NC"));
    const QString missingRoot = space.Path(QStringLiteral("no-such-root"));
    cPackageManager registry{QDir(missingRoot)};
    SignalLog log(registry);

    QVERIFY(registry.CreatePackage(QFileInfo(program)).isEmpty());

    QVERIFY(log.events.isEmpty());
    QVERIFY(!registry.DoesPackageExist(space.Uid(program)));
    QVERIFY(!QFileInfo::exists(missingRoot));
}

void tst_CreateImport::importUnderANewName()
{
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    const QString source = MakeSourcePackage(space);
    QVERIFY(!source.isEmpty());
    QVERIFY(QFileInfo::exists(source + QLatin1String("/plate_7.nc")));
    QVERIFY(QFileInfo::exists(source + QLatin1String("/PLATE_7.gif")));
    QVERIFY(QFileInfo::exists(source + QLatin1String("/PLATE_7.stats.html")));
    const QStringList sourceFiles = FileNames(source);
    const QByteArray program = ReadFile(source + QLatin1String("/plate_7.nc"));
    cPackageManager registry{QDir(space.root)};
    SignalLog log(registry);
    bool foundInHandler = false;
    connect(&registry, &cPackageManager::PackageAdded, this,
            [&](const tPackageUID &uid) { foundInHandler = registry.GetPackage(uid) != nullptr; });

    const QString uid = registry.ImportPackage(QDir(source), QDir(space.parts), QStringLiteral("BRACKET"));

    QCOMPARE(uid, space.Uid(space.parts + QLatin1String("/BRACKET")));
    QCOMPARE(log.events, QStringList{QLatin1Char('+') + uid});
    QVERIFY(foundInHandler);
    const QString folder = space.PackageFolder(uid);
    const QStringList files = FileNames(folder);
    QVERIFY2(files.contains(QStringLiteral("BRACKET.gif")), qPrintable(files.join(u' ')));
    QVERIFY2(files.contains(QStringLiteral("BRACKET.nc")), qPrintable(files.join(u' ')));
    QVERIFY(files.contains(QStringLiteral("BRACKET.history.html")));
    QVERIFY2(!files.contains(QStringLiteral("BRACKET.stats.html")), "the old statistics are dropped");
    QVERIFY(!ManifestLists(folder, QStringLiteral("BRACKET.stats.html")));
    QVERIFY(files.filter(QStringLiteral("plate_7"), Qt::CaseInsensitive).isEmpty());
    QVERIFY(ReadText(folder + QLatin1String("/BRACKET.history.html"))
                .contains(QLatin1String("Renamed During Import (old name = PLATE_7)")));
    QCOMPARE(ReadFile(space.parts + QLatin1String("/BRACKET.nc")), program);
    QCOMPARE(FileNames(source), sourceFiles);

    // The program is still recognised as the package's: the next scan keeps it.
    cPackage *package = registry.GetPackage(uid);
    QVERIFY(cPackageTestAccess::Scan(registry, {space.parts}));
    QCOMPARE(registry.GetPackage(uid), package);
    QVERIFY(QFileInfo::exists(folder + QLatin1String("/BRACKET.nc")));
}

void tst_CreateImport::importKeepingTheName()
{
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    const QString source = MakeSourcePackage(space);
    QVERIFY(!source.isEmpty());
    cPackageManager registry{QDir(space.root)};

    const QString uid = registry.ImportPackage(QDir(source), QDir(space.parts), QString());

    QCOMPARE(uid, space.Uid(space.parts + QLatin1String("/PLATE_7")));
    const QString folder = space.PackageFolder(uid);
    QVERIFY(QFileInfo::exists(folder + QLatin1String("/PLATE_7.stats.html")));
    QVERIFY(QFileInfo::exists(folder + QLatin1String("/plate_7.nc")));
    QVERIFY(
        !ReadText(folder + QLatin1String("/PLATE_7.history.html")).contains(QLatin1String("Renamed During Import")));
    QVERIFY(QFileInfo::exists(space.parts + QLatin1String("/plate_7.nc")));
}

void tst_CreateImport::importOntoARegisteredIdentifierIsRefused()
{
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    const QString source = MakeSourcePackage(space);
    QVERIFY(!source.isEmpty());
    cPackageManager registry{QDir(space.root)};
    const QString uid = registry.CreatePackage(QFileInfo(space.WriteProgram(QStringLiteral("BRACKET.NC"))));
    QVERIFY(!uid.isEmpty());
    cPackage *existing = registry.GetPackage(uid);
    const QString folder = space.PackageFolder(uid);
    const QStringList filesBefore = FileNames(folder);
    const QByteArray manifestBefore = ReadFile(folder + QLatin1String("/manifest.xml"));
    SignalLog log(registry);

    QVERIFY(registry.ImportPackage(QDir(source), QDir(space.parts), QStringLiteral("BRACKET")).isEmpty());

    QVERIFY(log.events.isEmpty());
    QCOMPARE(registry.GetPackage(uid), existing);
    QCOMPARE(registry.GetPackageMap(QString(), true).value(uid), existing);
    QCOMPARE(FileNames(folder), filesBefore);
    QCOMPARE(ReadFile(folder + QLatin1String("/manifest.xml")), manifestBefore);
    QVERIFY(!QFileInfo::exists(space.parts + QLatin1String("/BRACKET.nc")));
}

void tst_CreateImport::importRefusesNamesThatAreNoFileNames_data()
{
    QTest::addColumn<QString>("newName");
    QTest::newRow("climbs out") << "../../EVIL";
    QTest::newRow("subfolder") << "SUB/EVIL";
    QTest::newRow("backslash") << "..\\EVIL";
    QTest::newRow("dot-dot") << "..";
    QTest::newRow("dot") << ".";
    QTest::newRow("blanks") << "   ";
}

void tst_CreateImport::importRefusesNamesThatAreNoFileNames()
{
    QFETCH(QString, newName);
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    const QString source = MakeSourcePackage(space);
    QVERIFY(!source.isEmpty());
    cPackageManager registry{QDir(space.root)};
    SignalLog log(registry);

    QVERIFY(registry.ImportPackage(QDir(source), QDir(space.parts), newName).isEmpty());

    QVERIFY(log.events.isEmpty());
    QVERIFY(QDir(space.root).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    QVERIFY(QDir(space.parts).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    QCOMPARE(QDir(space.dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             (QStringList{QStringLiteral("elsewhere"), QStringLiteral("packages"), QStringLiteral("parts")}));
}

void tst_CreateImport::renderingIsAddedToTheNamedPackage()
{
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    cPackageManager registry{QDir(space.root)};
    const QString uid = registry.CreatePackage(QFileInfo(space.WriteProgram(QStringLiteral("BRACKET.NC"))));
    QVERIFY(!uid.isEmpty());
    const QString rendering = space.Path(QStringLiteral("render/BRACKET.GRAPH"));
    QVERIFY(WriteFile(rendering, "graphics data\n"));

    QVERIFY(registry.UpdateProgramRendering(uid, QFileInfo(rendering)));

    const QString folder = space.PackageFolder(uid);
    QCOMPARE(ReadFile(folder + QLatin1String("/BRACKET.GRAPH")), QByteArray("graphics data\n"));
    const QList<cManifestItem *> entries = EntriesNamed(*registry.GetPackage(uid), QStringLiteral("BRACKET.GRAPH"));
    QCOMPARE(entries.size(), 1);
    QCOMPARE(int(cPackageTestAccess::Kind(entries.first())), int(GraphData));
    QCOMPARE(entries.first()->GetAuthorString(), QStringLiteral("Auto-Generated"));
    QVERIFY(ManifestLists(folder, QStringLiteral("BRACKET.GRAPH")));
}

void tst_CreateImport::renderingNeedsTheExactIdentifier()
{
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    cPackageManager registry{QDir(space.root)};
    const QString uid = registry.CreatePackage(QFileInfo(space.WriteProgram(QStringLiteral("BRACKET.NC"))));
    QVERIFY(!uid.isEmpty());
    const QString rendering = space.Path(QStringLiteral("render/BRACKET.GRAPH"));
    QVERIFY(WriteFile(rendering, "graphics data\n"));

    QVERIFY(!registry.UpdateProgramRendering(uid.toLower(), QFileInfo(rendering)));
    QVERIFY(!registry.UpdateProgramRendering(space.Uid(space.parts + QLatin1String("/OTHER")), QFileInfo(rendering)));

    QVERIFY(!QFileInfo::exists(space.PackageFolder(uid) + QLatin1String("/BRACKET.GRAPH")));
}

QTEST_GUILESS_MAIN(tst_CreateImport)
#include "tst_createimport.moc"
