#include "OperationsFixture.h"

#include <QRegularExpression>

using namespace OperationsTest;

// Moving, copying and removing packages through the registry.
class tst_CopyMove : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void moveAndCopy_data();
    void moveAndCopy();
};

void tst_CopyMove::moveAndCopy_data()
{
    QTest::addColumn<bool>("copy");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("newProgram"); // below the temporary folder
    QTest::addColumn<QByteArray>("theirs");  // a program of the new name already there
    QTest::newRow("move, no extension") << false << "PROG" << QString("parts/Mill/NEW") << QByteArray();
    QTest::newRow("move, NC suffix") << false << "PROG.NC" << QString("parts/Mill/NEW.NC") << QByteArray();
    QTest::newRow("move, lower-case suffix") << false << "PROG.nc" << QString("parts/Mill/NEW.nc") << QByteArray();
    QTest::newRow("copy to a new parts folder") << true << "PROG.NC" << QString("parts/LATHE/NEW.NC") << QByteArray();
    QTest::newRow("copy onto a program") << true << "PROG.NC" << QString("parts/LATHE/NEW.NC")
                                         << MillingProgram("THEIRS");
    QTest::newRow("copy of a name with a dot") << true << "part.1.nc" << QString("parts/Mill/NEW.nc") << QByteArray();
}

void tst_CopyMove::moveAndCopy()
{
    QFETCH(bool, copy);
    QFETCH(QString, program);
    QFETCH(QString, newProgram);
    QFETCH(QByteArray, theirs);
    Workspace space;
    cPackageManager registry{QDir(space.root)};
    QVERIFY(WriteFile(space.parts + u'/' + QFileInfo(program).completeBaseName() + ".CNV", ConversationalProgram()));
    const QString uid = registry.CreatePackage(QFileInfo(space.WriteProgram(program)));
    cPackage *package = registry.GetPackage(uid);
    // With a hand-written note and a picture.
    QVERIFY(package && WriteFile(space.Path("docs/notes.txt"), "check\n") &&
            WriteImage(space.Path("docs/photo.jpg"), 120, 80));
    QVERIFY(package->AddFileToPackage(QFileInfo(space.Path("docs/notes.txt")), "Ann", "by hand", {}) &&
            package->AddFileToPackage(QFileInfo(space.Path("docs/photo.jpg")), {}, {}, {}));
    const QString oldName = package->GetPackageName();
    const QString oldFolder = space.PackageFolder(uid);
    // Every file named after the package is renamed, whatever the case; the others keep their names.
    QStringList expectedFiles = FileNames(oldFolder).replaceInStrings(
        QRegularExpression("(?i)^" + QRegularExpression::escape(oldName) + "(?=\\.|$)"), "NEW");
    expectedFiles.sort();
    const QByteArray programBytes = ReadFile(space.parts + u'/' + program);
    newProgram = space.Path(newProgram);
    const QString newParts = QFileInfo(newProgram).absolutePath();
    QMap<QString, QByteArray> sourceBefore;
    if (copy) {
        // Neither a subfolder nor a link to a file outside is copied.
        QVERIFY(WriteFile(oldFolder + "/sub/inner.txt", "x") && WriteFile(space.Path("secret.txt"), "secret\n") &&
                QFile::link(space.Path("secret.txt"), oldFolder + "/linked.txt"));
        sourceBefore = Snapshot(oldFolder);
        if (!theirs.isEmpty())
            QVERIFY(WriteFile(newProgram, theirs));
    } else { // the host renames the programs first
        QVERIFY(QFile::rename(space.parts + u'/' + program, newProgram) &&
                QFile::rename(space.parts + "/PROG.CNV", space.parts + "/NEW.CNV"));
    }
    QVERIFY(!registry.CreatePackage(QFileInfo(space.WriteProgram("OTHER.NC"))).isEmpty());
    const QString newUid = space.Uid(newProgram);
    SignalLog log(registry);
    auto moveOrCopy = [&](const QString &id, const QString &target) {
        return copy ? registry.CopyPackage(id, QFileInfo(target)) : registry.MovePackage(id, QFileInfo(target));
    };
    // Refused, changing nothing: an identifier in other case, a registered target, and (a move) a target
    // whose folder is already there; a failed folder rename must not re-file the package.
    const QString blocker = space.PackageFolder(newUid) + "/keep.txt";
    QVERIFY(copy || WriteFile(blocker, "x"));
    const auto before = Snapshot(space.dir.path());
    QVERIFY(!moveOrCopy(uid.toLower(), newProgram) && !moveOrCopy(uid, space.parts + "/OTHER.NC"));
    QVERIFY(copy || !moveOrCopy(uid, newProgram));
    QCOMPARE(Snapshot(space.dir.path()), before);
    QVERIFY(registry.GetPackage(uid) == package && !registry.GetPackage(newUid) && package->GetPackageUID() == uid);
    QVERIFY(copy || (QFile::remove(blocker) && QDir().rmdir(space.PackageFolder(newUid))));

    cPackage *result = moveOrCopy(uid, newProgram);

    QVERIFY(result && (result == package) != copy);
    QCOMPARE(log.events, (copy ? QStringList{u'+' + newUid} : QStringList{u'-' + uid, u'+' + newUid}));
    QCOMPARE(registry.GetPackage(uid) == package, copy);
    const QString folder = space.PackageFolder(newUid);
    QCOMPARE(FileNames(folder), expectedFiles);
    const QByteArray history = (copy ? "Copied From Program Name = " : "Previous Program Name = ") + oldName.toUtf8();
    QVERIFY(ReadFile(folder + "/NEW.history.html").contains(history));
    // The package follows the programs of the new name; a copy never overwrites a program.
    QCOMPARE(cPackageTestAccess::PartNC(*result).absoluteFilePath(), newProgram);
    QCOMPARE(ReadFile(newProgram), theirs.isEmpty() ? programBytes : theirs);
    QCOMPARE(QFileInfo::exists(newParts + "/NEW.CNV"), theirs.isEmpty());
    if (copy) {
        QCOMPARE(Snapshot(oldFolder), sourceBefore);
        // A fresh manifest: the hand-written author and comment stay with the source.
        QVERIFY(!ReadFile(folder + "/manifest.xml").contains("by hand") &&
                ReadFile(folder + "/manifest.xml").contains("Unknown User"));
    }
    QVERIFY(cPackageTestAccess::Scan(registry, {space.parts, newParts}));
    QCOMPARE(registry.GetPackage(newUid), result);
    // Removing deletes the folder and the programs in the parts folder, and no other program.
    QVERIFY(registry.RemovePackage(newUid, true) && !registry.GetPackage(newUid) && log.events.last() == u'-' + newUid);
    QVERIFY(!QFileInfo::exists(newProgram) && !QFileInfo::exists(newParts + "/NEW.CNV") && !QFileInfo::exists(folder));
    QVERIFY(QFileInfo::exists(space.parts + "/OTHER.NC"));
}

QTEST_GUILESS_MAIN(tst_CopyMove)
#include "tst_copymove.moc"
