#include "TestUtils.h"
#include "cPackageManager.h"
#include "registry/PackageUID.h"

#include <QTemporaryDir>
#include <QTest>

using namespace TestUtils;

struct cPackageTestAccess
{
    static QString NameFromUID(const QString &uid) { return cPackage::GetNameFromUID(uid); }
    static QDir PartDirFromUID(const QString &uid) { return cPackage::GetPartDirFromPackageUID(uid); }
    static cPackage *MakePackage(const QString &uid, const QString &folder)
    {
        return new cPackage(uid, QDir(folder), QDir(QString()));
    }
    static cPackage *MakeForProgram(const QString &folder, const QString &program)
    {
        return new cPackage(QFileInfo(folder), QFileInfo(program));
    }
    static cManifest *Manifest(const cPackage &package) { return package.manifest.get(); }
    static QFileInfo PartNC(const cPackage &package) { return package.GetPartNCProgram(); }
    static QFileInfo PartCONV(const cPackage &package) { return package.GetPartCONVProgram(); }
    static void RemoveFromMaps(cPackageManager &registry, const QString &uid) { registry.RemovePackageFromMaps(uid); }
};

class tst_Registry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void identifiers_data();
    void identifiers();
    void partsFolderDecodesToTheRealFolder();
    void startupRegistersPackageFolders();
    void doesPackageExistInItsThreeForms();
    void packageFromProgramDerivesItsFields();
    void copiesShareOneManifest();
};

void tst_Registry::identifiers_data()
{
    QTest::addColumn<QString>("program"); // empty: start from the identifier
    QTest::addColumn<QString>("uid");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("key");
    const auto row = [](const char *tag, const char *program, const char *uid, const char *name, const char *key) {
        QTest::newRow(tag) << QString::fromLatin1(program) << QString::fromLatin1(uid) << QString::fromLatin1(name)
                           << QString::fromLatin1(key);
    };
    row("worked example", "/srv/Jobs/plate_7.nc", ",SRV,JOBS^PLATE_7", "PLATE_7", "/SRV/JOBS");
    row("root folder", "/PROG.NC", ",^PROG", "PROG", "/");
    row("dots in name", "/A/PART.V2.NC", ",A^PART.V2", "PART.V2", "/A");
    row("comma in folder", "/A,B/X.NC", ",A,B^X", "X", "/A/B");
    row("no extension", "/parts/BRACKET", ",PARTS^BRACKET", "BRACKET", "/PARTS");
    row("same for upper", "/JOBS/X.NC", ",JOBS^X", "X", "/JOBS");
    row("folder name", "", ",SRV,JOBS^PLATE_7.pkg", "PLATE_7", "/SRV/JOBS");
    row("drive, upper-case suffix stays", "", "D!,A^X.PKG", "X.PKG", "D:/A");
    row("lower-case identifier", "", ",srv,jobs^plate", "plate", "/SRV/JOBS");
    row("caret in name", "", ",A^B^C", "C", "/A");
    row("no caret", "", "NOTES", "NOTES", "NOTES");
}

void tst_Registry::identifiers()
{
    QFETCH(QString, program);
    QFETCH(QString, uid);
    if (!program.isEmpty()) {
        QTemporaryDir dir;
        QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
        cPackageManager registry{QDir(dir.path())};
        QCOMPARE(registry.CalculatePackageUID(QFileInfo(program)), uid);
    }
    QTEST(cPackageTestAccess::NameFromUID(uid), "name");
    QTEST(cPackageManager::PartsFolderKey(uid), "key");
}

void tst_Registry::partsFolderDecodesToTheRealFolder()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString real = MakeDir(dir.path() + QLatin1String("/Srv/Jobs"));
    cPackageManager registry{QDir(dir.path())};
    const QString uid = registry.CalculatePackageUID(QFileInfo(real + QLatin1String("/plate_7.nc")));
    QCOMPARE(cPackageTestAccess::PartDirFromUID(uid).absolutePath(), real);

    // A folder that is gone decodes to the empty-path QDir.
    QCOMPARE(cPackageTestAccess::PartDirFromUID(QStringLiteral(",NO,SUCH,FOLDER^X")), QDir(QString()));
    // "," inside a folder name does not survive the round trip.
    QCOMPARE(cPackageTestAccess::PartDirFromUID(QStringLiteral(",A,B^X")), QDir(QString()));
}

static QString MakeRootWithFolders(const QString &root)
{
    for (const char *name : {"A!,P^ONE.pkg", "A!,P^TWO.pkg", "c!,x^lower.pkg", "NOTES.pkg", "misc"})
        MakeDir(root + QLatin1Char('/') + QLatin1String(name));
    // A file named like a package folder is no package.
    WriteFile(root + QLatin1String("/FILE.pkg"), "x");
    return root;
}

void tst_Registry::startupRegistersPackageFolders()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    cPackageManager registry{QDir(MakeRootWithFolders(dir.path()))};

    const auto all = registry.GetPackageMap(QString(), true);
    QCOMPARE(all.keys(), (QStringList{QStringLiteral("A!,P^ONE"), QStringLiteral("A!,P^TWO"),
                                      QStringLiteral("C!,X^LOWER"), QStringLiteral("NOTES")}));
    QVERIFY(registry.GetPackage(QStringLiteral("C!,X^LOWER")));
    QVERIFY(!registry.GetPackage(QStringLiteral("c!,x^lower")));
    QVERIFY(!registry.GetPackage(QStringLiteral("MISC")));

    cPackage *lower = registry.GetPackage(QStringLiteral("C!,X^LOWER"));
    QCOMPARE(lower->GetPackageUID(), QStringLiteral("C!,X^LOWER"));
    QCOMPARE(lower->GetPackageName(), QStringLiteral("LOWER"));
    QCOMPARE(lower->GetManifestFile().absoluteFilePath(), dir.path() + QLatin1String("/c!,x^lower.pkg/manifest.xml"));
    QVERIFY(!registry.IsCurrentlyScanningForPackages());

    // A root that does not exist gives an empty registry.
    cPackageManager empty{QDir(dir.path() + QLatin1String("/missing"))};
    QVERIFY(empty.GetPackageMap(QString(), true).isEmpty());

    // The lookup maps by parts folder.
    QCOMPARE(registry.GetPackageMap(QStringLiteral("a:/p"), false).keys(),
             (QStringList{QStringLiteral("A!,P^ONE"), QStringLiteral("A!,P^TWO")}));
    QVERIFY(registry.GetPackageMap(QStringLiteral("a:\\p"), false).isEmpty());
    QCOMPARE(registry.GetPackageMap(QStringLiteral("NOTES"), false).keys(), QStringList{QStringLiteral("NOTES")});

    cPackageTestAccess::RemoveFromMaps(registry, QStringLiteral("A!,P^ONE"));
    cPackageTestAccess::RemoveFromMaps(registry, QStringLiteral("A!,P^TWO"));
    QVERIFY(registry.GetPackageMap(QStringLiteral("A:/P"), false).isEmpty());
    // The registry's authoritative map is not touched by the lookup maps.
    QVERIFY(registry.GetPackage(QStringLiteral("A!,P^ONE")));
}

void tst_Registry::doesPackageExistInItsThreeForms()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString root = MakeDir(dir.path() + QLatin1String("/root"));
    const QString parts = MakeDir(dir.path() + QLatin1String("/Jobs"));
    cPackageManager probe{QDir(root)};
    const QString uid = probe.CalculatePackageUID(QFileInfo(parts + QLatin1String("/PART.V2.NC")));
    MakeDir(root + QLatin1Char('/') + uid + QLatin1String(".pkg"));

    cPackageManager registry{QDir(root)};
    QVERIFY(registry.DoesPackageExist(uid));
    QVERIFY(!registry.DoesPackageExist(uid.toLower()));
    QVERIFY(registry.DoesPackageExist(QStringLiteral("PART.V2"), QDir(parts)));
    QVERIFY(registry.DoesPackageExist(QStringLiteral("part.v2"), QDir(parts)));
    QVERIFY(!registry.DoesPackageExist(QStringLiteral("PART"), QDir(parts)));
    QVERIFY(registry.DoesPackageExist(QDir(QStringLiteral("/anywhere/D!,JOBS^PART.V2.pkg")), QDir(parts)));
    QVERIFY(!registry.DoesPackageExist(QDir(QStringLiteral("/anywhere/D!,JOBS^PART.pkg")), QDir(parts)));
}

void tst_Registry::packageFromProgramDerivesItsFields()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString parts = MakeDir(dir.path() + QLatin1String("/parts"));
    QVERIFY(WriteFile(parts + QLatin1String("/PROG.CNV"), ConversationalProgram()));
    QVERIFY(WriteFile(parts + QLatin1String("/OTHER.NC"), MillingProgram(QStringLiteral("OTHER"))));
    const QString folder = dir.path() + QLatin1String("/ABC^PROG.pkg");

    std::unique_ptr<cPackage> conv(cPackageTestAccess::MakeForProgram(folder, parts + QLatin1String("/PROG.CNV")));
    QCOMPARE(conv->GetPackageUID(), QStringLiteral("ABC^PROG"));
    QCOMPARE(conv->GetPackageName(), QStringLiteral("PROG"));
    QCOMPARE(cPackageTestAccess::PartCONV(*conv).absoluteFilePath(), parts + QLatin1String("/PROG.CNV"));
    QCOMPARE(cPackageTestAccess::PartNC(*conv).absoluteFilePath(), parts + QLatin1String("/PROG"));

    std::unique_ptr<cPackage> nc(cPackageTestAccess::MakeForProgram(folder, parts + QLatin1String("/OTHER.NC")));
    QCOMPARE(cPackageTestAccess::PartNC(*nc).absoluteFilePath(), parts + QLatin1String("/OTHER.NC"));
    QCOMPARE(cPackageTestAccess::PartCONV(*nc).absoluteFilePath(), parts + QLatin1String("/OTHER.CNV"));

    std::unique_ptr<cPackage> missing(cPackageTestAccess::MakeForProgram(folder, parts + QLatin1String("/GONE.NC")));
    QVERIFY(cPackageTestAccess::PartNC(*missing).filePath().isEmpty());
    QVERIFY(cPackageTestAccess::PartCONV(*missing).filePath().isEmpty());

    // The identifier constructor upper-cases the identifier but takes the name as given.
    std::unique_ptr<cPackage> lower(cPackageTestAccess::MakePackage(QStringLiteral("abc^prog"), folder));
    QCOMPARE(lower->GetPackageUID(), QStringLiteral("ABC^PROG"));
    QCOMPARE(lower->GetPackageName(), QStringLiteral("prog"));
}

void tst_Registry::copiesShareOneManifest()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    auto *original = cPackageTestAccess::MakePackage(QStringLiteral("A^B"), dir.path());
    auto *copy = new cPackage(*original);
    cPackage assigned = *copy;
    QVERIFY(cPackageTestAccess::Manifest(*original));
    QCOMPARE(cPackageTestAccess::Manifest(*copy), cPackageTestAccess::Manifest(*original));
    QCOMPARE(cPackageTestAccess::Manifest(assigned), cPackageTestAccess::Manifest(*original));
    QCOMPARE(copy->GetPackageSize(), original->GetPackageSize());
    // Destroying the copies in any order frees the shared parts once (checked under ASan).
    delete original;
    QCOMPARE(assigned.GetPackageUID(), QStringLiteral("A^B"));
    delete copy;
}

QTEST_GUILESS_MAIN(tst_Registry)
#include "tst_registry.moc"
