#include "OperationsFixture.h"
#include "platform/PlatformFiles.h"

#include <QRegularExpression>

using namespace OperationsTest;

// Names compared without regard to case follow the identifier's upper-casing, and what
// would be one file on the control is never made two here.
class tst_LetterCase : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void programWhateverItsLetters_data();
    void programWhateverItsLetters();
    // What the control's file system would take for one file is refused, changing nothing.
    void otherSpellingsRefused_data();
    void otherSpellingsRefused();
};

void tst_LetterCase::programWhateverItsLetters_data()
{
    QTest::addColumn<QString>("partsFolder"); // below parts/
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("companion");    // a conversational program beside it, or none
    QTest::addColumn<QString>("manifestName"); // the spelling another tool left
    QTest::newRow("plain letters") << "Mill"
                                   << "PROG.NC" << QString() << "manifest.xml";
    QTest::newRow("spaces and marks") << "Mill Shop"
                                      << "Bracket 7, rev B!.nc" << QString() << "manifest.xml";
    QTest::newRow("sharp s") << "Maße"
                             << "Größe.nc" << QString() << "Manifest.xml";
    QTest::newRow("dotless i") << "Kılıç"
                               << "Kılavuz.nc" << QString() << "MANIFEST.XML";
    QTest::newRow("dotted capital I") << "İzmir"
                                      << "İnce.nc" << QString() << "manifest.xml";
    QTest::newRow("ligatures") << "ﬁles"
                               << "ﬂange.nc"
                               << "ﬂange.cnv"
                               << "manifest.xml";
    QTest::newRow("lower-case conversational") << "lathe"
                                               << "plate.nc"
                                               << "plate.cnv"
                                               << "Manifest.Xml";
}

void tst_LetterCase::programWhateverItsLetters()
{
    QFETCH(QString, partsFolder);
    QFETCH(QString, program);
    QFETCH(QString, companion);
    QFETCH(QString, manifestName);
    Workspace space;
    const QString parts = MakeDir(space.Path("parts/" + partsFolder));
    const QString programPath = parts + u'/' + program;
    QVERIFY(WriteFile(programPath, MillingProgram("A")));
    if (!companion.isEmpty())
        QVERIFY(WriteFile(parts + u'/' + companion, ConversationalProgram()));
    QString uid;
    {
        cPackageManager registry{QDir(space.root)};
        uid = registry.CreatePackage(QFileInfo(programPath));
        QVERIFY(!uid.isEmpty());
        cPackage *package = registry.GetPackage(uid);
        QVERIFY(package && WriteFile(space.Path("docs/n ä^,!.txt"), "check\n"));
        QVERIFY(package->AddFileToPackage(QFileInfo(space.Path("docs/n ä^,!.txt")), "Ann", "by hand", {}));
    }
    const QString folder = space.PackageFolder(uid);
    // Both programs are copied; one overview picture, a real one.
    QVERIFY2(FileNames(folder).contains(program), qPrintable(FileNames(folder).join(u' ')));
    QVERIFY(companion.isEmpty() || FileNames(folder).contains(companion));
    const QStringList overviews = QDir(folder).entryList({"*.gif"}, QDir::Files);
    QCOMPARE(overviews.size(), 1);
    QVERIFY(QFileInfo(folder + u'/' + overviews.first()).size() > 0);

    // Another tool spelt "manifest.xml" otherwise; the program is edited meanwhile.
    if (manifestName != "manifest.xml")
        QVERIFY(QFile::rename(folder + "/manifest.xml", folder + u'/' + manifestName));
    QVERIFY(WriteFile(programPath, MillingProgram("B")) &&
            SetModTime(programPath, QDateTime::currentDateTimeUtc().addSecs(60)));
    cPackageManager registry{QDir(space.root)};
    QVERIFY(registry.GetPackage(uid) && registry.IsAPackage(QDir(folder)));
    QVERIFY(cPackageTestAccess::Scan(registry, {parts}));
    QCOMPARE(ReadFile(folder + u'/' + program), MillingProgram("B"));
    const QStringList manifests =
        FileNames(folder).filter(QRegularExpression("^manifest\\.xml$", QRegularExpression::CaseInsensitiveOption));
    QCOMPARE(manifests, QStringList{manifestName});
    QVERIFY(ReadFile(folder + u'/' + manifestName).contains("by hand") && FileNames(folder).contains("n ä^,!.txt"));

    // A copy renames every file named after the program, whatever its letters.
    cPackage *copy = registry.CopyPackage(uid, QFileInfo(parts + "/COPY.NC"));
    QVERIFY(copy);
    const QStringList copied = FileNames(space.PackageFolder(copy->GetPackageUID()));
    for (const QString &file : copied)
        QVERIFY2(Platform::PrefixLengthNoCase(file, QFileInfo(program).completeBaseName()) < 0, qPrintable(file));
    QVERIFY(copied.contains("COPY" + program.mid(program.indexOf(u'.'))));

    // Removal deletes the program of every spelling.
    QVERIFY(registry.RemovePackage(uid, true));
    QVERIFY(!QFileInfo::exists(programPath) && !QFileInfo::exists(folder));
    QVERIFY(companion.isEmpty() || !QFileInfo::exists(parts + u'/' + companion));
}

void tst_LetterCase::otherSpellingsRefused_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("name");
    QTest::newRow("copy onto a program") << "copy"
                                         << "copy3.nc";
    QTest::newRow("copy onto a conversational program") << "copy"
                                                        << "Copy3.CNV";
    QTest::newRow("move beside a program") << "move"
                                           << "copy3.nc";
    QTest::newRow("remove from a folder with a case twin") << "remove" << QString();
}

void tst_LetterCase::otherSpellingsRefused()
{
    QFETCH(QString, operation);
    QFETCH(QString, name);
    Workspace space;
    cPackageManager registry{QDir(space.root)};
    const QString uid = registry.CreatePackage(QFileInfo(space.WriteProgram("PROG.NC")));
    cPackage *package = registry.GetPackage(uid);
    QVERIFY(package);
    const QString target = space.parts + "/COPY3.NC";
    if (operation == "copy" || operation == "move")
        QVERIFY(WriteFile(space.parts + u'/' + name, MillingProgram("theirs")));
    if (operation == "move") // the host renames its program first
        QVERIFY(QFile::rename(space.parts + "/PROG.NC", target));
    if (operation == "remove") // "Mill" and "mill" share the identifier's "MILL"
        QVERIFY(WriteFile(space.Path("parts/mill/PROG.NC"), MillingProgram("twin")) &&
                QDir().rename(space.parts, space.Path("parts/MiLL")));
    const auto before = Snapshot(space.dir.path());

    if (operation == "copy")
        QVERIFY(!registry.CopyPackage(uid, QFileInfo(target)));
    else if (operation == "move")
        QVERIFY(!registry.MovePackage(uid, QFileInfo(target)));
    else
        QVERIFY(!registry.RemovePackage(uid, true));
    QCOMPARE(Snapshot(space.dir.path()), before);
    QCOMPARE(registry.GetPackage(uid), package);
}

QTEST_GUILESS_MAIN(tst_LetterCase)
#include "tst_lettercase.moc"
