#include "OperationsFixture.h"

using namespace TestUtils;
using namespace OperationsTest;

// Adding files to a package and removing them again.
class tst_PackageFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void addCopiesAndLists_data();
    void addCopiesAndLists();
    void addOverAnExistingFileKeepsItsEntry();
    void addInOtherCaseReplacesTheListedFile();
    void addReplacingAnImageRemakesItsThumbnail();
    void addFileAlreadyInThePackageListsItOnce();
    void addFailuresChangeNothing_data();
    void addFailuresChangeNothing();

    void removeDeletesFileThumbnailAndEntry();
    void removeOfAnEntryWhoseFileIsGone();
    void removeFindsOnlyListedExactNames_data();
    void removeFindsOnlyListedExactNames();

private:
    std::unique_ptr<Workspace> space;
    std::unique_ptr<cPackage> package;
    QString folder;
};

void tst_PackageFiles::init()
{
    space = std::make_unique<Workspace>();
    QVERIFY2(space->IsValid(), qPrintable(space->dir.errorString()));
    folder = MakeDir(space->root + QLatin1String("/X^BRACKET.pkg"));
    QVERIFY(WriteFile(folder + QLatin1String("/BRACKET.NC"), MillingProgram(QStringLiteral("BRACKET"))));
    package = cPackageTestAccess::MakePackage(QStringLiteral("X^BRACKET"), folder);
}

void tst_PackageFiles::cleanup()
{
    package.reset();
    space.reset();
}

void tst_PackageFiles::addCopiesAndLists_data()
{
    QTest::addColumn<QString>("sourceName");
    QTest::addColumn<QString>("targetName");
    QTest::addColumn<QString>("author");
    QTest::addColumn<QString>("comment");
    QTest::addColumn<QString>("expectedName");
    QTest::addColumn<int>("expectedKind");
    QTest::addColumn<QString>("expectedAuthor");
    QTest::addColumn<QString>("expectedComment");

    QTest::newRow("note, automatic attributes") << "setup.txt" << QString() << QString() << QString() << "setup.txt"
                                                << int(Note) << "Unknown User" << QString();
    QTest::newRow("given author and comment") << "setup.txt" << QString() << "Ann Welder"
                                              << "clamp at the left"
                                              << "setup.txt" << int(Note) << "Ann Welder"
                                              << "clamp at the left";
    QTest::newRow("target name sets the kind")
        << "capture.bin"
        << "fixture.pdf" << QString() << QString() << "fixture.pdf" << int(PDF) << "Unknown User" << QString();
    QTest::newRow("rendering of the program")
        << "render.out"
        << "BRACKET.GRAPH"
        << "Auto-Generated" << QString() << "BRACKET.GRAPH" << int(GraphData) << "Auto-Generated"
        << "Graphical Output Data";
}

void tst_PackageFiles::addCopiesAndLists()
{
    QFETCH(QString, sourceName);
    QFETCH(QString, targetName);
    QFETCH(QString, author);
    QFETCH(QString, comment);
    QFETCH(QString, expectedName);
    QFETCH(int, expectedKind);
    QFETCH(QString, expectedAuthor);
    QFETCH(QString, expectedComment);

    const QString source = space->Path(QLatin1String("outside/") + sourceName);
    const QByteArray bytes = "operator notes\nsecond line\n";
    QVERIFY(WriteFile(source, bytes));

    QVERIFY(package->AddFileToPackage(QFileInfo(source), author, comment, targetName));

    QCOMPARE(ReadFile(folder + QLatin1Char('/') + expectedName), bytes);
    QVERIFY(QFileInfo::exists(source)); // a copy, not a move
    const QList<cManifestItem *> entries = EntriesNamed(*package, expectedName);
    QCOMPARE(entries.size(), 1);
    QCOMPARE(int(cPackageTestAccess::Kind(entries.first())), expectedKind);
    QCOMPARE(entries.first()->GetAuthorString(), expectedAuthor);
    QCOMPARE(entries.first()->GetCommentString(), expectedComment);
    QVERIFY(ManifestLists(folder, expectedName));
    if (targetName.isEmpty())
        return;
    QVERIFY(!QFileInfo::exists(folder + QLatin1Char('/') + sourceName));
}

void tst_PackageFiles::addOverAnExistingFileKeepsItsEntry()
{
    const QString first = space->Path(QStringLiteral("outside/one/setup.txt"));
    const QString second = space->Path(QStringLiteral("outside/two/setup.txt"));
    QVERIFY(WriteFile(first, "first version\n"));
    QVERIFY(WriteFile(second, "second, longer version\n"));

    QVERIFY(package->AddFileToPackage(QFileInfo(first), QStringLiteral("Ann"), QStringLiteral("clamp left"), {}));
    const int noteCount = package->GetManifestItems(Note).size();
    QVERIFY(package->AddFileToPackage(QFileInfo(second), QStringLiteral("Bob"), QStringLiteral("ignored"), {}));

    QCOMPARE(ReadFile(folder + QLatin1String("/setup.txt")), QByteArray("second, longer version\n"));
    QCOMPARE(package->GetManifestItems(Note).size(), noteCount);
    const QList<cManifestItem *> entries = EntriesNamed(*package, QStringLiteral("setup.txt"));
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.first()->GetAuthorString(), QStringLiteral("Ann"));
    QCOMPARE(entries.first()->GetCommentString(), QStringLiteral("clamp left"));
    QVERIFY(ReadText(folder + QLatin1String("/manifest.xml")).contains(QLatin1String("comment=\"clamp left\"")));
    // No temporary file of the replacement is left behind.
    QCOMPARE(FileNames(folder).filter(QStringLiteral("setup")), QStringList{QStringLiteral("setup.txt")});
}

void tst_PackageFiles::addInOtherCaseReplacesTheListedFile()
{
    const QString first = space->Path(QStringLiteral("outside/one/setup.txt"));
    const QString second = space->Path(QStringLiteral("outside/two/SETUP.TXT"));
    QVERIFY(WriteFile(first, "first version\n"));
    QVERIFY(WriteFile(second, "second version\n"));
    QVERIFY(package->AddFileToPackage(QFileInfo(first), QStringLiteral("Ann"), QString(), QString()));

    // One file whatever the case of its name, as on the control.
    QVERIFY(package->AddFileToPackage(QFileInfo(second), QString(), QString(), QString()));

    QCOMPARE(FileNames(folder).filter(QStringLiteral("setup"), Qt::CaseInsensitive),
             QStringList{QStringLiteral("setup.txt")});
    QCOMPARE(ReadFile(folder + QLatin1String("/setup.txt")), QByteArray("second version\n"));
    const QList<cManifestItem *> entries = EntriesNamed(*package, QStringLiteral("setup.txt"));
    QCOMPARE(entries.size(), 1);
    QCOMPARE(entries.first()->GetAuthorString(), QStringLiteral("Ann"));
}

void tst_PackageFiles::addReplacingAnImageRemakesItsThumbnail()
{
    const QString wide = space->Path(QStringLiteral("outside/wide/photo.jpg"));
    const QString tall = space->Path(QStringLiteral("outside/tall/photo.jpg"));
    QVERIFY(WriteImage(wide, 320, 160));
    QVERIFY(WriteImage(tall, 160, 320));
    // The replacement is older than the thumbnail of the first picture.
    QVERIFY(SetModTime(tall, QDateTime::currentDateTimeUtc().addDays(-30)));

    QVERIFY(package->AddFileToPackage(QFileInfo(wide), {}, {}, {}));
    const QString thumbnail = folder + QLatin1String("/photo.jpg.thumb");
    QImage before(thumbnail);
    QVERIFY2(!before.isNull(), "the image gets a thumbnail");
    QVERIFY(before.width() > before.height());

    QVERIFY(package->AddFileToPackage(QFileInfo(tall), {}, {}, {}));
    QImage after(thumbnail);
    QVERIFY(!after.isNull());
    QVERIFY2(after.height() > after.width(), "the thumbnail shows the new picture");
}

void tst_PackageFiles::addFileAlreadyInThePackageListsItOnce()
{
    const QString inside = folder + QLatin1String("/setup.txt");
    QVERIFY(WriteFile(inside, "already here\n"));

    QVERIFY(package->AddFileToPackage(QFileInfo(inside), {}, {}, {}));
    QVERIFY(package->AddFileToPackage(QFileInfo(inside), {}, {}, {}));

    QCOMPARE(ReadFile(inside), QByteArray("already here\n"));
    QCOMPARE(EntriesNamed(*package, QStringLiteral("setup.txt")).size(), 1);
    QCOMPARE(ReadText(folder + QLatin1String("/manifest.xml")).count(QLatin1String(">setup.txt<")), 1);
}

void tst_PackageFiles::addFailuresChangeNothing_data()
{
    QTest::addColumn<QString>("sourceName"); // empty: a file that does not exist
    QTest::addColumn<QString>("targetName");

    QTest::newRow("missing file") << QString() << QString();
    QTest::newRow("folder as file") << "outside" << QString();
    QTest::newRow("target climbs out") << "outside/n.txt"
                                       << "../escaped.txt";
    QTest::newRow("target in a subfolder") << "outside/n.txt"
                                           << "sub/n.txt";
    QTest::newRow("target with backslash") << "outside/n.txt"
                                           << "..\\escaped.txt";
    QTest::newRow("target dot-dot") << "outside/n.txt"
                                    << "..";
    QTest::newRow("target blanks") << "outside/n.txt"
                                   << "   ";
}

void tst_PackageFiles::addFailuresChangeNothing()
{
    QFETCH(QString, sourceName);
    QFETCH(QString, targetName);

    // Start from a saved manifest.
    QVERIFY(WriteFile(space->Path(QStringLiteral("outside/n.txt")), "note\n"));
    QVERIFY(package->AddFileToPackage(QFileInfo(space->Path(QStringLiteral("outside/n.txt"))), {}, {}, {}));
    const QByteArray manifestBefore = ReadFile(folder + QLatin1String("/manifest.xml"));
    const QStringList filesBefore = FileNames(folder);
    const int entriesBefore = package->GetManifestItems(Unknown).size();

    const QString source =
        sourceName.isEmpty() ? space->Path(QStringLiteral("outside/missing.txt")) : space->Path(sourceName);
    QVERIFY(!package->AddFileToPackage(QFileInfo(source), {}, {}, targetName));

    QCOMPARE(FileNames(folder), filesBefore);
    QCOMPARE(ReadFile(folder + QLatin1String("/manifest.xml")), manifestBefore);
    QCOMPARE(package->GetManifestItems(Unknown).size(), entriesBefore);
    QVERIFY(!QFileInfo::exists(space->root + QLatin1String("/escaped.txt")));
    QVERIFY(!QFileInfo::exists(space->Path(QStringLiteral("escaped.txt"))));
    QVERIFY(!QFileInfo::exists(folder + QLatin1String("/sub")));
}

void tst_PackageFiles::removeDeletesFileThumbnailAndEntry()
{
    const QString picture = space->Path(QStringLiteral("outside/photo.jpg"));
    QVERIFY(WriteImage(picture, 200, 100));
    QVERIFY(WriteFile(space->Path(QStringLiteral("outside/keep.txt")), "keep\n"));
    QVERIFY(package->AddFileToPackage(QFileInfo(picture), {}, {}, {}));
    QVERIFY(package->AddFileToPackage(QFileInfo(space->Path(QStringLiteral("outside/keep.txt"))), {}, {}, {}));
    QVERIFY2(QFileInfo::exists(folder + QLatin1String("/photo.jpg.thumb")), "the image gets a thumbnail");
    QVERIFY(ManifestLists(folder, QStringLiteral("photo.jpg")));

    QVERIFY(package->RemoveFileFromPackage(QStringLiteral("photo.jpg")));

    QVERIFY(!QFileInfo::exists(folder + QLatin1String("/photo.jpg")));
    QVERIFY(!QFileInfo::exists(folder + QLatin1String("/photo.jpg.thumb")));
    QVERIFY(EntriesNamed(*package, QStringLiteral("photo.jpg")).isEmpty());
    QVERIFY(!ManifestLists(folder, QStringLiteral("photo.jpg")));
    QVERIFY(ManifestLists(folder, QStringLiteral("keep.txt")));
    QVERIFY(QFileInfo::exists(folder + QLatin1String("/keep.txt")));
}

void tst_PackageFiles::removeOfAnEntryWhoseFileIsGone()
{
    const QString picture = space->Path(QStringLiteral("outside/photo.jpg"));
    QVERIFY(WriteImage(picture, 200, 100));
    QVERIFY(package->AddFileToPackage(QFileInfo(picture), {}, {}, {}));
    const QString manifestPath = folder + QLatin1String("/manifest.xml");
    const QByteArray manifestBefore = ReadFile(manifestPath);
    const QDateTime savedAt = QFileInfo(manifestPath).lastModified();
    QVERIFY(QFile::remove(folder + QLatin1String("/photo.jpg")));

    QVERIFY(!package->RemoveFileFromPackage(QStringLiteral("photo.jpg")));

    QCOMPARE(ReadFile(manifestPath), manifestBefore);
    QCOMPARE(QFileInfo(manifestPath).lastModified(), savedAt);
    QVERIFY2(!QFileInfo::exists(folder + QLatin1String("/photo.jpg.thumb")), "the thumbnail still goes");
}

void tst_PackageFiles::removeFindsOnlyListedExactNames_data()
{
    QTest::addColumn<QString>("askedName");
    QTest::newRow("other case") << "SETUP.TXT";
    QTest::newRow("not listed") << "loose.txt";
    QTest::newRow("climbs out") << "../outside.txt";
    QTest::newRow("empty") << QString();
}

void tst_PackageFiles::removeFindsOnlyListedExactNames()
{
    QFETCH(QString, askedName);
    QVERIFY(WriteFile(space->Path(QStringLiteral("outside/setup.txt")), "note\n"));
    QVERIFY(package->AddFileToPackage(QFileInfo(space->Path(QStringLiteral("outside/setup.txt"))), {}, {}, {}));
    // Files the manifest does not list yet.
    QVERIFY(WriteFile(folder + QLatin1String("/loose.txt"), "loose\n"));
    QVERIFY(WriteFile(space->root + QLatin1String("/outside.txt"), "outside\n"));
    const QStringList filesBefore = FileNames(folder);

    QVERIFY(!package->RemoveFileFromPackage(askedName));

    QCOMPARE(FileNames(folder), filesBefore);
    QVERIFY(QFileInfo::exists(space->root + QLatin1String("/outside.txt")));
    QCOMPARE(EntriesNamed(*package, QStringLiteral("setup.txt")).size(), 1);
}

QTEST_GUILESS_MAIN(tst_PackageFiles)
#include "tst_packagefiles.moc"
