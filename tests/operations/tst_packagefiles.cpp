#include "OperationsFixture.h"

using namespace OperationsTest;

// Adding files to a package and removing them again.
class tst_PackageFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void add_data();
    void add();
    void refusalsReplacementAndRemoval();

private:
    std::unique_ptr<Workspace> space;
    std::unique_ptr<cPackageManager> registry;
    cPackage *package = nullptr;
    QString folder;
};

void tst_PackageFiles::init()
{
    registry.reset();
    space = std::make_unique<Workspace>();
    registry = std::make_unique<cPackageManager>(QDir(space->root));
    package = registry->GetPackage(registry->CreatePackage(QFileInfo(space->WriteProgram("BRACKET.NC"))));
    QVERIFY(package);
    folder = space->PackageFolder(package->GetPackageUID());
    // A picture with its thumbnail and a note, listed in a saved manifest.
    QVERIFY(WriteImage(space->Path("outside/photo.jpg"), 200, 100) && WriteFile(space->Path("outside/setup.txt"), "1"));
    QVERIFY(package->AddFileToPackage(QFileInfo(space->Path("outside/photo.jpg")), {}, {}, {}));
    QVERIFY(package->AddFileToPackage(QFileInfo(space->Path("outside/setup.txt")), "Ann", "clamp left", {}));
}

void tst_PackageFiles::add_data()
{
    QTest::addColumn<QString>("source"); // below the temporary folder
    QTest::addColumn<QString>("targetName");
    QTest::addColumn<QString>("author"); // and comment "spare" when given
    QTest::newRow("automatic attributes") << "new/notes.txt" << QString() << QString();
    QTest::newRow("given author and comment") << "new/notes.txt" << QString() << "Bob";
    QTest::newRow("target name sets the kind") << "new/a.bin" << QString("fixture.pdf") << QString();
    QTest::newRow("over a listed file") << "new/setup.txt" << QString() << "Bob";
    QTest::newRow("over a listed file, other case") << "new/SETUP.TXT" << QString() << QString();
    QTest::newRow("file in the package") << "packages/setup.txt" << QString() << QString(); // in its folder
}

void tst_PackageFiles::add()
{
    QFETCH(QString, source);
    QFETCH(QString, targetName);
    QFETCH(QString, author);
    if (source.startsWith("packages/"))
        source = QDir(space->dir.path()).relativeFilePath(folder + "/setup.txt");
    const QString comment = author.isEmpty() ? QString() : "spare";
    const QString name = targetName.isEmpty() ? QFileInfo(source).fileName().toLower() : targetName;
    QStringList expectedFiles = FileNames(folder) << name << (name.endsWith(".pdf") ? name + ".thumb" : name);
    expectedFiles.removeDuplicates();
    expectedFiles.sort();
    QVERIFY(WriteFile(space->Path(source), "second, longer version\n"));

    QVERIFY(package->AddFileToPackage(QFileInfo(space->Path(source)), author, comment, targetName));

    QCOMPARE(ReadFile(folder + u'/' + name), "second, longer version\n");
    QVERIFY(QFileInfo::exists(space->Path(source))); // a copy, not a move
    QCOMPARE(FileNames(folder), expectedFiles);      // no second file, no temporary file left
    QList<cManifestItem *> entries = package->GetManifestItems(Unknown);
    entries.removeIf([&](cManifestItem *each) { return each->GetFileNameString() != name; });
    QVERIFY(entries.size() == 1 && ManifestLists(folder, name));
    const cManifestItem *entry = entries.first();
    QCOMPARE(cPackageTestAccess::Kind(entry), name.endsWith(".pdf") ? PDF : Note);
    // A replaced file keeps its entry's author and comment.
    const bool listed = name == "setup.txt";
    QCOMPARE(entry->GetAuthorString(), listed ? "Ann" : author.isEmpty() ? "Unknown User" : author);
    QCOMPARE(entry->GetCommentString(), listed ? "clamp left" : comment);
}

void tst_PackageFiles::refusalsReplacementAndRemoval()
{
    QVERIFY(WriteFile(folder + "/loose.txt", "loose\n") && WriteFile(space->root + "/outside.txt", "outside\n"));
    const auto before = Snapshot(space->dir.path());
    // Refused, changing nothing: a missing file, a folder, target names that are no plain file name or
    // that the manifest never lists, and removals of names that are not listed exactly so.
    for (const char *add : {"outside/missing.txt|", "outside|", "outside/setup.txt|../outside.txt",
                            "outside/setup.txt|sub/n.txt", "outside/setup.txt|..\\n.txt", "outside/setup.txt|..",
                            "outside/setup.txt|   ", "outside/setup.txt|manifest.xml", "outside/setup.txt|MANIFEST.XML",
                            "outside/setup.txt|x.jpg.THUMB", "outside/setup.txt|.package.lock"}) {
        const QStringList sourceAndTarget = QString(add).split(u'|');
        QVERIFY2(!package->AddFileToPackage(QFileInfo(space->Path(sourceAndTarget[0])), {}, {}, sourceAndTarget[1]),
                 add);
    }
    for (const char *name : {"PHOTO.JPG", "loose.txt", "../outside.txt", ""})
        QVERIFY2(!package->RemoveFileFromPackage(name), name);
    QCOMPARE(Snapshot(space->dir.path()), before);

    // A replaced picture gets a new thumbnail, though the replacement is older than the old thumbnail.
    const QString thumbnail = folder + "/photo.jpg.thumb";
    QVERIFY(QImage(thumbnail).width() > QImage(thumbnail).height());
    QVERIFY(WriteImage(space->Path("tall/photo.jpg"), 100, 200) &&
            SetModTime(space->Path("tall/photo.jpg"), QDateTime::currentDateTimeUtc().addDays(-30)));
    QVERIFY(package->AddFileToPackage(QFileInfo(space->Path("tall/photo.jpg")), {}, {}, {}));
    QVERIFY(QImage(thumbnail).height() > QImage(thumbnail).width());

    // Removing a listed file takes its thumbnail along.
    QVERIFY(package->RemoveFileFromPackage("photo.jpg"));
    QVERIFY(!QFileInfo::exists(folder + "/photo.jpg") && !QFileInfo::exists(thumbnail));
    QVERIFY(!ManifestLists(folder, "photo.jpg") && ManifestLists(folder, "setup.txt"));
    // An entry whose file is already gone: false, and the manifest stays as it was.
    QVERIFY(QFile::remove(folder + "/setup.txt"));
    const QByteArray manifest = ReadFile(folder + "/manifest.xml");
    const QDateTime savedAt = QFileInfo(folder + "/manifest.xml").lastModified();
    QVERIFY(!package->RemoveFileFromPackage("setup.txt"));
    QCOMPARE(ReadFile(folder + "/manifest.xml"), manifest);
    QCOMPARE(QFileInfo(folder + "/manifest.xml").lastModified(), savedAt);
}

QTEST_GUILESS_MAIN(tst_PackageFiles)
#include "tst_packagefiles.moc"
