#include "TestUtils.h"
#include "cPackageManager.h"
#include "registry/FolderRemoval.h"
#include "registry/PackageUID.h"
#include "registry/SettledStates.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace TestUtils;

struct cPackageTestAccess
{
    static QString NameFromUID(const QString &uid) { return cPackage::GetNameFromUID(uid); }
    static QDir PartDirFromUID(const QString &uid) { return cPackage::GetPartDirFromPackageUID(uid); }
};

class tst_Registry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void identifiers_data();
    void identifiers();
    void startupRegistersPackageFolders();
    void findsPackagesInTheirThreeForms();
    void settledStatesAreTakenOnlyWhenIntact_data();
    void settledStatesAreTakenOnlyWhenIntact();
    void removeFolder_data();
    void removeFolder();
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
    if (!program.isEmpty())
        QCOMPARE(PackageUID::ForProgramFile(QFileInfo(program)), uid);
    QTEST(cPackageTestAccess::NameFromUID(uid), "name");
    QTEST(cPackageManager::PartsFolderKey(uid), "key");
}

void tst_Registry::startupRegistersPackageFolders()
{
    QTemporaryDir dir;
    for (const char *name : {"A!,P^ONE.pkg", "A!,P^TWO.pkg", "c!,x^lower.pkg", "NOTES.pkg", "misc"})
        MakeDir(dir.path() + QLatin1Char('/') + QLatin1String(name));
    // A file named like a package folder is no package.
    QVERIFY(WriteFile(dir.path() + QLatin1String("/FILE.pkg"), "x"));
    cPackageManager registry{QDir(dir.path())};

    const auto all = registry.GetPackageMap(QString(), true);
    QCOMPARE(all.keys(), (QStringList{QStringLiteral("A!,P^ONE"), QStringLiteral("A!,P^TWO"),
                                      QStringLiteral("C!,X^LOWER"), QStringLiteral("NOTES")}));
    QVERIFY(registry.GetPackage(QStringLiteral("C!,X^LOWER")));
    QVERIFY(!registry.GetPackage(QStringLiteral("c!,x^lower")));
    QVERIFY(!registry.GetPackage(QStringLiteral("MISC")));

    // The folder keeps its own spelling.
    QCOMPARE(registry.GetPackage(QStringLiteral("C!,X^LOWER"))->GetManifestFile().absoluteFilePath(),
             dir.path() + QLatin1String("/c!,x^lower.pkg/manifest.xml"));

    // A root that does not exist gives an empty registry.
    cPackageManager empty{QDir(dir.path() + QLatin1String("/missing"))};
    QVERIFY(empty.GetPackageMap(QString(), true).isEmpty());

    // The lookup maps by parts folder.
    QCOMPARE(registry.GetPackageMap(QStringLiteral("a:/p"), false).keys(),
             (QStringList{QStringLiteral("A!,P^ONE"), QStringLiteral("A!,P^TWO")}));
    QVERIFY(registry.GetPackageMap(QStringLiteral("a:\\p"), false).isEmpty());
    QCOMPARE(registry.GetPackageMap(QStringLiteral("NOTES"), false).keys(), QStringList{QStringLiteral("NOTES")});
}

// By identifier, by name in a parts folder and by folder; the identifier decodes to the real
// parts folder, whatever its letters.
void tst_Registry::findsPackagesInTheirThreeForms()
{
    QTemporaryDir dir;
    const QString root = MakeDir(dir.path() + QLatin1String("/root"));
    const QString parts = MakeDir(dir.path() + QLatin1String("/Srv/Jobs"));
    const QString uid = PackageUID::ForProgramFile(QFileInfo(parts + QLatin1String("/PART.V2.NC")));
    MakeDir(root + QLatin1Char('/') + uid + QLatin1String(".pkg"));
    QCOMPARE(cPackageTestAccess::PartDirFromUID(uid).absolutePath(), parts);
    // A folder that is gone, or has "," in its name (which does not survive the round trip),
    // decodes to the empty-path QDir.
    QCOMPARE(cPackageTestAccess::PartDirFromUID(QStringLiteral(",NO,SUCH,FOLDER^X")), QDir(QString()));
    QCOMPARE(cPackageTestAccess::PartDirFromUID(QStringLiteral(",A,B^X")), QDir(QString()));

    cPackageManager registry{QDir(root)};
    QVERIFY(registry.DoesPackageExist(uid));
    QVERIFY(!registry.DoesPackageExist(uid.toLower()));
    QVERIFY(registry.DoesPackageExist(QStringLiteral("PART.V2"), QDir(parts)));
    QVERIFY(registry.DoesPackageExist(QStringLiteral("part.v2"), QDir(parts)));
    QVERIFY(!registry.DoesPackageExist(QStringLiteral("PART"), QDir(parts)));
    QVERIFY(registry.DoesPackageExist(QDir(QStringLiteral("/anywhere/D!,JOBS^PART.V2.pkg")), QDir(parts)));
    QVERIFY(!registry.DoesPackageExist(QDir(QStringLiteral("/anywhere/D!,JOBS^PART.pkg")), QDir(parts)));
}

// A package folder goes with everything in it, and nothing that a link inside leads to.
void tst_Registry::removeFolder_data()
{
    QTest::addColumn<QString>("link");   // a link to `target` at this place below L.pkg; ".": L.pkg is the link
    QTest::addColumn<QString>("target"); // below the temporary folder
    QTest::newRow("tree without links") << QString() << QString();
    QTest::newRow("link to a folder") << "escape" << QString("outside");
    QTest::newRow("nested link to a folder") << "sub/escape" << QString("outside");
    QTest::newRow("link to a file") << "file" << QString("outside/a");
    QTest::newRow("link to the parent") << "up" << QString(".");
    QTest::newRow("dangling link") << "sub/gone" << QString("gone");
    QTest::newRow("folder that is a link") << "." << QString("outside");
}

void tst_Registry::removeFolder()
{
    QFETCH(QString, link);
    QFETCH(QString, target);
    QTemporaryDir dir;
    QVERIFY(WriteFile(dir.filePath("outside/a"), "a") && WriteFile(dir.filePath("outside/in/b"), "b"));
    const QString folder = dir.filePath("L.pkg");
    for (const char *file : {"own.txt", ".hidden", "sub/a/b.bin", ".dir/.x"})
        QVERIFY(link == "." || WriteFile(folder + '/' + file, "data"));
    if (!link.isEmpty())
        QVERIFY(QFile::link(dir.filePath(target), link == "." ? folder : folder + '/' + link));
    // Emptying keeps the folder itself.
    QVERIFY(!link.isEmpty() ||
            (EmptyFolder(folder) && QDir(folder).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)));

    QVERIFY(RemoveFolder(QFileInfo(folder)));

    QVERIFY(!QFileInfo::exists(folder) && !QFileInfo(folder).isSymLink());
    QVERIFY(ReadFile(dir.filePath("outside/a")) == "a" && ReadFile(dir.filePath("outside/in/b")) == "b");
    QVERIFY(!RemoveFolder(QFileInfo(folder))); // nothing left to remove
}

void tst_Registry::settledStatesAreTakenOnlyWhenIntact_data()
{
    QTest::addColumn<QString>("damage");
    for (const char *damage : {"none", "cut", "byte changed", "grown", "other settings", "other root"})
        QTest::newRow(damage) << QString::fromLatin1(damage);
}

// The states one registry leaves for the next are a cache: a file that is not exactly what
// this build wrote for this root, with these settings, gives nothing.
void tst_Registry::settledStatesAreTakenOnlyWhenIntact()
{
    QFETCH(QString, damage);
    const QTemporaryDir dir;
    const QByteArray cacheHome = qgetenv("XDG_CACHE_HOME");
    const QByteArray ffmpeg = qgetenv("PACKAGEMANAGER_FFMPEG");
    const auto restore = qScopeGuard([&] {
        qputenv("XDG_CACHE_HOME", cacheHome);
        qputenv("PACKAGEMANAGER_FFMPEG", ffmpeg);
    });
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath("cache")));
    SettledStates::tStates states;
    for (quint64 i = 1; i <= 100; ++i)
        states.insert(SettledStates::KeyOf(QString::number(i)), i * 0x9E3779B97F4A7C15ull);
    const QString root = MakeDir(dir.filePath("packages"));
    SettledStates writer(root);
    writer.Save(states);
    QVERIFY(QFileInfo(writer.FilePath()).size() > 100 * 16);

    QFile file(writer.FilePath());
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    if (damage == "cut")
        bytes.chop(9);
    else if (damage == "byte changed")
        bytes[bytes.size() / 2] = char(bytes[bytes.size() / 2] ^ 0x20);
    else if (damage == "grown")
        bytes.append(16, '\0');
    else if (damage == "other settings")
        qputenv("PACKAGEMANAGER_FFMPEG", "/opt/other/ffmpeg");
    QVERIFY(file.resize(0) && file.write(bytes) == bytes.size());
    file.close();

    SettledStates reader(damage == "other root" ? MakeDir(dir.filePath("elsewhere")) : root);
    QCOMPARE(reader.Load(), damage == "none" ? states : SettledStates::tStates());
}

QTEST_GUILESS_MAIN(tst_Registry)
#include "tst_registry.moc"
