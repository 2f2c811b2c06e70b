#include "OperationsFixture.h"

using namespace TestUtils;
using namespace OperationsTest;

// Moving, copying and removing packages through the registry.
class tst_CopyMove : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void moveRenamesFolderAndFixedFiles_data();
    void moveRenamesFolderAndFixedFiles();
    void moveOntoARegisteredIdentifierChangesNothing();
    void moveOntoAnExistingFolderIsNotFiled_data();
    void moveOntoAnExistingFolderIsNotFiled();

    void copyMakesAnIndependentPackage();
    void copyLeavesAnExistingProgramUntouched();
    void copyOfANameWithADot();
    void copyOntoARegisteredIdentifierChangesNothing();

    void removeDeletesPartsProgramsAndFolder();
    void removeKeepingTheFolderLeavesItToTheScan();
    void removeWithProgramsAlreadyGone();
    void removeNeedsTheExactIdentifier();
};

namespace {

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

// A package for `programName` (and PROG.CNV beside it) with a note and a picture added.
QString MakePackage(const Workspace &space, cPackageManager &registry, const QString &programName)
{
    const QString program = space.WriteProgram(programName);
    space.WriteConversational(QFileInfo(programName).completeBaseName() + QLatin1String(".CNV"));
    const QString uid = registry.CreatePackage(QFileInfo(program));
    cPackage *package = registry.GetPackage(uid);
    if (!package)
        return QString();
    const QString note = space.Path(QStringLiteral("docs/notes.txt"));
    const QString picture = space.Path(QStringLiteral("docs/photo.jpg"));
    TestUtils::WriteFile(note, "check the clamps\n");
    WriteImage(picture, 120, 80);
    package->AddFileToPackage(QFileInfo(note), QStringLiteral("Ann"), QStringLiteral("written by hand"), QString());
    package->AddFileToPackage(QFileInfo(picture), QString(), QString(), QString());
    return uid;
}

bool NoFileStartsWith(const QString &folder, const QString &prefix)
{
    const QStringList files = FileNames(folder);
    for (const QString &file : files) {
        if (file.startsWith(prefix, Qt::CaseInsensitive))
            return false;
    }
    return true;
}

} // namespace

void tst_CopyMove::moveRenamesFolderAndFixedFiles_data()
{
    QTest::addColumn<QString>("programName");
    QTest::addColumn<QString>("newProgramName");
    QTest::addColumn<QString>("expectedCopy");

    QTest::newRow("no extension") << "PROG"
                                  << "NEW"
                                  << "NEW";
    QTest::newRow("NC suffix") << "PROG.NC"
                               << "NEW.NC"
                               << "NEW.NC";
    QTest::newRow("lower-case suffix") << "PROG.nc"
                                       << "NEW.nc"
                                       << "NEW.nc";
}

void tst_CopyMove::moveRenamesFolderAndFixedFiles()
{
    QFETCH(QString, programName);
    QFETCH(QString, newProgramName);
    QFETCH(QString, expectedCopy);
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    cPackageManager registry{QDir(space.root)};
    const QString oldUid = MakePackage(space, registry, programName);
    QVERIFY(!oldUid.isEmpty());
    cPackage *package = registry.GetPackage(oldUid);
    const QString oldFolder = space.PackageFolder(oldUid);
    QVERIFY(QFileInfo::exists(oldFolder + QLatin1String("/photo.jpg.thumb")));

    // The host renames the programs in the parts folder, then moves the package.
    QVERIFY(
        QFile::rename(space.parts + QLatin1Char('/') + programName, space.parts + QLatin1Char('/') + newProgramName));
    QVERIFY(QFile::rename(space.parts + QLatin1String("/PROG.CNV"), space.parts + QLatin1String("/NEW.CNV")));
    const QString newProgram = space.parts + QLatin1Char('/') + newProgramName;
    const QString newUid = space.Uid(newProgram);
    SignalLog log(registry);
    cPackage *seenInHandler = nullptr;
    connect(&registry, &cPackageManager::PackageAdded, this,
            [&](const tPackageUID &uid) { seenInHandler = registry.GetPackage(uid); });

    QCOMPARE(registry.MovePackage(oldUid, QFileInfo(newProgram)), package);

    QCOMPARE(log.events, (QStringList{QLatin1Char('-') + oldUid, QLatin1Char('+') + newUid}));
    QCOMPARE(seenInHandler, package);
    QCOMPARE(registry.GetPackage(newUid), package);
    QVERIFY(!registry.GetPackage(oldUid));
    QVERIFY(!registry.GetPackageMap(QString(), true).contains(oldUid));
    QCOMPARE(package->GetPackageUID(), newUid);
    QCOMPARE(package->GetPackageName(), QStringLiteral("NEW"));
    QVERIFY(!QFileInfo::exists(oldFolder));

    const QString folder = space.PackageFolder(newUid);
    const QStringList files = FileNames(folder);
    for (const QString &name :
         {expectedCopy, QStringLiteral("NEW.CNV"), QStringLiteral("NEW.gif"), QStringLiteral("NEW.history.html"),
          QStringLiteral("NEW.stats.html"), QStringLiteral("NEW.tools.html"), QStringLiteral("notes.txt"),
          QStringLiteral("photo.jpg"), QStringLiteral("photo.jpg.thumb"), QStringLiteral("manifest.xml")})
        QVERIFY2(files.contains(name), qPrintable(name + QLatin1String(" in ") + files.join(u' ')));
    QVERIFY2(NoFileStartsWith(folder, QStringLiteral("PROG")), qPrintable(files.join(u' ')));
    QVERIFY(ManifestLists(folder, expectedCopy));
    QVERIFY(ManifestLists(folder, QStringLiteral("notes.txt")));
    QVERIFY(
        ReadText(folder + QLatin1String("/NEW.history.html")).contains(QLatin1String("Previous Program Name = PROG")));
    QCOMPARE(package->GetManifestFile().absoluteFilePath(), folder + QLatin1String("/manifest.xml"));

    // The package now follows the programs of the new name.
    QCOMPARE(cPackageTestAccess::PartNC(*package).absoluteFilePath(), space.parts + QLatin1Char('/') + expectedCopy);
    QCOMPARE(cPackageTestAccess::PartCONV(*package).absoluteFilePath(), space.parts + QLatin1String("/NEW.CNV"));
    QVERIFY(cPackageTestAccess::Scan(registry, {space.parts}));
    QCOMPARE(registry.GetPackage(newUid), package);
    QVERIFY(QFileInfo::exists(folder + QLatin1String("/notes.txt")));
    QVERIFY(!registry.GetPackage(oldUid));
}

void tst_CopyMove::moveOntoARegisteredIdentifierChangesNothing()
{
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    cPackageManager registry{QDir(space.root)};
    const QString first = registry.CreatePackage(QFileInfo(space.WriteProgram(QStringLiteral("FIRST.NC"))));
    const QString secondProgram = space.WriteProgram(QStringLiteral("SECOND.NC"));
    const QString second = registry.CreatePackage(QFileInfo(secondProgram));
    QVERIFY(!first.isEmpty() && !second.isEmpty());
    cPackage *firstPackage = registry.GetPackage(first);
    cPackage *secondPackage = registry.GetPackage(second);
    const QStringList firstFiles = FileNames(space.PackageFolder(first));
    const QStringList secondFiles = FileNames(space.PackageFolder(second));
    SignalLog log(registry);

    QVERIFY(!registry.MovePackage(first, QFileInfo(secondProgram)));
    QVERIFY(!registry.MovePackage(space.Uid(space.parts + QLatin1String("/NONE")), QFileInfo(secondProgram)));

    QVERIFY(log.events.isEmpty());
    QCOMPARE(registry.GetPackage(first), firstPackage);
    QCOMPARE(registry.GetPackage(second), secondPackage);
    QCOMPARE(firstPackage->GetPackageUID(), first);
    QCOMPARE(FileNames(space.PackageFolder(first)), firstFiles);
    QCOMPARE(FileNames(space.PackageFolder(second)), secondFiles);
}

void tst_CopyMove::moveOntoAnExistingFolderIsNotFiled_data()
{
    QTest::addColumn<bool>("withFile");
    QTest::addColumn<bool>("lowerCaseName");
    QTest::newRow("empty folder") << false << false;
    QTest::newRow("folder with a file") << true << false;
    QTest::newRow("folder named in lower case") << false << true;
}

void tst_CopyMove::moveOntoAnExistingFolderIsNotFiled()
{
    QFETCH(bool, withFile);
    QFETCH(bool, lowerCaseName);
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    cPackageManager registry{QDir(space.root)};
    const QString uid = registry.CreatePackage(QFileInfo(space.WriteProgram(QStringLiteral("PROG.NC"))));
    QVERIFY(!uid.isEmpty());
    cPackage *package = registry.GetPackage(uid);
    const QString newProgram = space.parts + QLatin1String("/NEW.NC");
    const QString newUid = space.Uid(newProgram);
    QString blocking = space.PackageFolder(newUid);
    if (lowerCaseName)
        blocking = space.root + QLatin1Char('/') + QFileInfo(blocking).fileName().toLower();
    MakeDir(blocking);
    if (withFile)
        QVERIFY(WriteFile(blocking + QLatin1String("/keep.txt"), "someone else's\n"));
    const QStringList filesBefore = FileNames(space.PackageFolder(uid));
    SignalLog log(registry);

    QVERIFY(!registry.MovePackage(uid, QFileInfo(newProgram)));

    QVERIFY(log.events.isEmpty());
    QCOMPARE(registry.GetPackage(uid), package);
    QVERIFY(!registry.GetPackage(newUid));
    QCOMPARE(package->GetPackageUID(), uid);
    QCOMPARE(package->GetPackageName(), QStringLiteral("PROG"));
    QCOMPARE(FileNames(space.PackageFolder(uid)), filesBefore);
    QCOMPARE(FileNames(blocking), withFile ? QStringList{QStringLiteral("keep.txt")} : QStringList());
}

void tst_CopyMove::copyMakesAnIndependentPackage()
{
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    cPackageManager registry{QDir(space.root)};
    const QString sourceUid = MakePackage(space, registry, QStringLiteral("PROG.NC"));
    QVERIFY(!sourceUid.isEmpty());
    cPackage *source = registry.GetPackage(sourceUid);
    const QString sourceFolder = space.PackageFolder(sourceUid);
    QVERIFY(WriteFile(sourceFolder + QLatin1String("/sub/inner.txt"), "not copied\n"));
    // A link in the package never brings a file from outside into the copy.
    QVERIFY(WriteFile(space.Path(QStringLiteral("secret.txt")), "outside the package\n"));
    QVERIFY(QFile::link(space.Path(QStringLiteral("secret.txt")), sourceFolder + QLatin1String("/linked.txt")));
    const QStringList sourceFiles = FileNames(sourceFolder);
    const QByteArray sourceManifest = ReadFile(sourceFolder + QLatin1String("/manifest.xml"));
    // A parts folder that does not exist yet.
    const QString newProgram = space.Path(QStringLiteral("parts/LATHE/NEW.NC"));
    const QString newUid = space.Uid(newProgram);
    SignalLog log(registry);

    cPackage *copy = registry.CopyPackage(sourceUid, QFileInfo(newProgram));

    QVERIFY(copy);
    QVERIFY(copy != source);
    QCOMPARE(log.events, QStringList{QLatin1Char('+') + newUid});
    QCOMPARE(registry.GetPackage(newUid), copy);
    QCOMPARE(registry.GetPackage(sourceUid), source);
    QCOMPARE(copy->GetPackageName(), QStringLiteral("NEW"));
    QCOMPARE(FileNames(sourceFolder), sourceFiles);
    QCOMPARE(ReadFile(sourceFolder + QLatin1String("/manifest.xml")), sourceManifest);

    const QString folder = space.PackageFolder(newUid);
    const QStringList files = FileNames(folder);
    for (const char *name : {"NEW.NC", "NEW.CNV", "NEW.gif", "NEW.stats.html", "NEW.tools.html", "NEW.history.html",
                             "notes.txt", "photo.jpg", "manifest.xml"})
        QVERIFY2(files.contains(QLatin1String(name)), qPrintable(QLatin1String(name) + u' ' + files.join(u' ')));
    QVERIFY2(NoFileStartsWith(folder, QStringLiteral("PROG")), qPrintable(files.join(u' ')));
    QVERIFY(!QFileInfo::exists(folder + QLatin1String("/sub")));
    QVERIFY(!files.contains(QStringLiteral("linked.txt")));
    QVERIFY(ReadText(folder + QLatin1String("/NEW.history.html"))
                .contains(QLatin1String("Copied From Program Name = PROG")));
    const QList<cManifestItem *> notes = EntriesNamed(*copy, QStringLiteral("notes.txt"));
    QCOMPARE(notes.size(), 1);
    QCOMPARE(notes.first()->GetAuthorString(), QStringLiteral("Unknown User"));
    QVERIFY(notes.first()->GetCommentString().isEmpty());
    QVERIFY(!ReadText(folder + QLatin1String("/manifest.xml")).contains(QLatin1String("written by hand")));

    // The programs are copied into the new parts folder, which is made for them.
    QCOMPARE(ReadFile(space.Path(QStringLiteral("parts/LATHE/NEW.NC"))),
             ReadFile(sourceFolder + QLatin1String("/PROG.NC")));
    QCOMPARE(ReadFile(space.Path(QStringLiteral("parts/LATHE/NEW.CNV"))), ConversationalProgram());
    QCOMPARE(cPackageTestAccess::PartNC(*copy).absoluteFilePath(), space.Path(QStringLiteral("parts/LATHE/NEW.NC")));
}

void tst_CopyMove::copyLeavesAnExistingProgramUntouched()
{
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    cPackageManager registry{QDir(space.root)};
    const QString sourceUid = MakePackage(space, registry, QStringLiteral("PROG.NC"));
    QVERIFY(!sourceUid.isEmpty());
    const QString otherParts = MakeDir(space.Path(QStringLiteral("parts/OTHER")));
    const QByteArray theirs = "%\nO2000 (THEIRS)\nG0 X0\nM30\n%\n";
    QVERIFY(WriteFile(otherParts + QLatin1String("/NEW.NC"), theirs));

    cPackage *copy = registry.CopyPackage(sourceUid, QFileInfo(otherParts + QLatin1String("/NEW.NC")));

    QVERIFY(copy);
    QCOMPARE(ReadFile(otherParts + QLatin1String("/NEW.NC")), theirs);
    QVERIFY2(!QFileInfo::exists(otherParts + QLatin1String("/NEW.CNV")),
             "no conversational program without the NC one");
    QCOMPARE(FileNames(otherParts), QStringList{QStringLiteral("NEW.NC")});
}

void tst_CopyMove::copyOfANameWithADot()
{
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    cPackageManager registry{QDir(space.root)};
    const QString sourceUid = registry.CreatePackage(QFileInfo(space.WriteProgram(QStringLiteral("part.1.nc"))));
    QVERIFY(!sourceUid.isEmpty());
    QCOMPARE(registry.GetPackage(sourceUid)->GetPackageName(), QStringLiteral("PART.1"));
    const QString newProgram = space.parts + QLatin1String("/NEW.nc");
    const QString newUid = space.Uid(newProgram);

    cPackage *copy = registry.CopyPackage(sourceUid, QFileInfo(newProgram));

    QVERIFY(copy);
    const QString folder = space.PackageFolder(newUid);
    const QStringList files = FileNames(folder);
    for (const char *name : {"NEW.nc", "NEW.gif", "NEW.stats.html", "NEW.tools.html", "NEW.history.html"})
        QVERIFY2(files.contains(QLatin1String(name)), qPrintable(QLatin1String(name) + u' ' + files.join(u' ')));
    QVERIFY2(NoFileStartsWith(folder, QStringLiteral("PART")), qPrintable(files.join(u' ')));
    QVERIFY(QFileInfo::exists(newProgram));

    QVERIFY(cPackageTestAccess::Scan(registry, {space.parts}));
    QCOMPARE(registry.GetPackage(newUid), copy);
    QVERIFY(QFileInfo::exists(folder + QLatin1String("/NEW.nc")));
    QVERIFY(registry.GetPackage(sourceUid));
}

void tst_CopyMove::copyOntoARegisteredIdentifierChangesNothing()
{
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    cPackageManager registry{QDir(space.root)};
    const QString first = registry.CreatePackage(QFileInfo(space.WriteProgram(QStringLiteral("FIRST.NC"))));
    const QString secondProgram = space.WriteProgram(QStringLiteral("SECOND.NC"));
    const QString second = registry.CreatePackage(QFileInfo(secondProgram));
    QVERIFY(!first.isEmpty() && !second.isEmpty());
    cPackage *secondPackage = registry.GetPackage(second);
    const QStringList secondFiles = FileNames(space.PackageFolder(second));
    const QStringList rootEntries = QDir(space.root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    SignalLog log(registry);

    QVERIFY(!registry.CopyPackage(first, QFileInfo(secondProgram)));
    QVERIFY(!registry.CopyPackage(first.toLower(), QFileInfo(space.parts + QLatin1String("/THIRD.NC"))));

    QVERIFY(log.events.isEmpty());
    QCOMPARE(registry.GetPackage(second), secondPackage);
    QCOMPARE(FileNames(space.PackageFolder(second)), secondFiles);
    QCOMPARE(QDir(space.root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), rootEntries);
}

void tst_CopyMove::removeDeletesPartsProgramsAndFolder()
{
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    cPackageManager registry{QDir(space.root)};
    const QString uid = MakePackage(space, registry, QStringLiteral("PROG.NC"));
    QVERIFY(!uid.isEmpty());
    cPackage *package = registry.GetPackage(uid);
    const QString other = space.WriteProgram(QStringLiteral("OTHER.NC"));
    SignalLog log(registry);

    QVERIFY(registry.RemovePackage(uid, true));

    QCOMPARE(log.events, QStringList{QLatin1Char('-') + uid});
    QVERIFY(!QFileInfo::exists(space.parts + QLatin1String("/PROG.NC")));
    QVERIFY(!QFileInfo::exists(space.parts + QLatin1String("/PROG.CNV")));
    QVERIFY(QFileInfo::exists(other));
    QVERIFY(!QFileInfo::exists(space.PackageFolder(uid)));
    QVERIFY(!registry.GetPackage(uid));
    QVERIFY(!registry.GetPackageMap(QString(), true).contains(uid));
    QVERIFY(!registry.GetPackageMap(cPackageManager::PartsFolderKey(uid), false).contains(uid));
    QCOMPARE(package->GetPackageName(), QStringLiteral("PROG")); // the host's pointer stays valid
}

void tst_CopyMove::removeKeepingTheFolderLeavesItToTheScan()
{
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    cPackageManager registry{QDir(space.root)};
    const QString uid = MakePackage(space, registry, QStringLiteral("PROG.NC"));
    QVERIFY(!uid.isEmpty());
    const QString folder = space.PackageFolder(uid);
    SignalLog log(registry);

    QVERIFY(registry.RemovePackage(uid, false));

    QCOMPARE(log.events, QStringList{QLatin1Char('-') + uid});
    QVERIFY(!QFileInfo::exists(space.parts + QLatin1String("/PROG.NC")));
    QVERIFY2(QFileInfo::exists(folder + QLatin1String("/PROG.NC")), "the package's own copy stays");
    QVERIFY(cPackageTestAccess::Scan(registry, {space.parts}));
    QVERIFY2(!QFileInfo::exists(folder), "a folder without a package goes at the next scan");
}

void tst_CopyMove::removeWithProgramsAlreadyGone()
{
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    cPackageManager registry{QDir(space.root)};
    const QString uid = MakePackage(space, registry, QStringLiteral("PROG.NC"));
    QVERIFY(!uid.isEmpty());
    QVERIFY(QFile::remove(space.parts + QLatin1String("/PROG.NC")));
    QVERIFY(QFile::remove(space.parts + QLatin1String("/PROG.CNV")));
    SignalLog log(registry);

    QVERIFY(registry.RemovePackage(uid, true));

    QCOMPARE(log.events, QStringList{QLatin1Char('-') + uid});
    QVERIFY(!QFileInfo::exists(space.PackageFolder(uid)));
}

void tst_CopyMove::removeNeedsTheExactIdentifier()
{
    Workspace space;
    QVERIFY2(space.IsValid(), qPrintable(space.dir.errorString()));
    cPackageManager registry{QDir(space.root)};
    const QString uid = MakePackage(space, registry, QStringLiteral("PROG.NC"));
    QVERIFY(!uid.isEmpty());
    SignalLog log(registry);

    QVERIFY(!registry.RemovePackage(uid.toLower(), true));

    QVERIFY(log.events.isEmpty());
    QVERIFY(registry.GetPackage(uid));
    QVERIFY(QFileInfo::exists(space.parts + QLatin1String("/PROG.NC")));
    QVERIFY(QFileInfo::exists(space.PackageFolder(uid)));
}

QTEST_GUILESS_MAIN(tst_CopyMove)
#include "tst_copymove.moc"
