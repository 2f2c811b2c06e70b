#include "ManifestTestAccess.h"
#include "cPackageManager.h"
#include "TestUtils.h"

#include <QTemporaryDir>
#include <QTest>

using Access = cPackageTestAccess;

namespace {

const QDateTime kTime(QDate(2013, 4, 2), QTime(14, 5, 9), Qt::UTC);

bool MakeFile(const QString &path, qsizetype size = 8)
{
    return TestUtils::WriteFile(path, QByteArray(size, 'x')) && TestUtils::SetModTime(path, kTime);
}

QStringList Names(const QList<cManifestItem *> &items)
{
    QStringList names;
    for (const cManifestItem *item : items)
        names.append(item->GetFileNameString());
    return names;
}

} // namespace

class tst_PackageManifest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void generateCreatesTheFile();
    void generateKeepsRecordedNameImportForcesOwn();
    void updateDoesNotSave();
    void lookupsThroughThePackage();
    void tutorialOnlyWithAKnownZeroSize();
    void startUpLoadsEachManifest();

private:
    std::unique_ptr<QTemporaryDir> holder;
    QString folder;
    QString manifestPath;
};

void tst_PackageManifest::init()
{
    holder = std::make_unique<QTemporaryDir>();
    QVERIFY2(holder->isValid(), qPrintable(holder->errorString()));
    folder = TestUtils::MakeDir(holder->filePath(QStringLiteral("packages/ABC^BRACKET.pkg")));
    manifestPath = folder + QStringLiteral("/manifest.xml");
}

void tst_PackageManifest::generateCreatesTheFile()
{
    for (const char *name : {"BRACKET.NC", "BRACKET.gif", "notes.txt", "notes.txt.thumb"})
        QVERIFY(MakeFile(folder + QLatin1Char('/') + QLatin1String(name)));
    auto package = Access::OpenPackage(QStringLiteral("ABC^BRACKET"), folder);
    QVERIFY(!QFileInfo::exists(manifestPath));
    QVERIFY(Access::GenerateManifestFile(*package));

    QVERIFY(QFileInfo::exists(manifestPath));
    QStringList names = Names(package->GetManifestItems(Unknown));
    QCOMPARE(names, QStringList({"BRACKET.gif", "notes.txt", "", "", "BRACKET.NC"}));
    QCOMPARE(package->GetPackageSize(), 24u);
    const QByteArray written = TestUtils::ReadFile(manifestPath);
    QVERIFY(written.contains("<Image tab=\"Images\" type=\"image\"></Image>"));
    QVERIFY(!written.contains("notes.txt.thumb"));
}

void tst_PackageManifest::generateKeepsRecordedNameImportForcesOwn()
{
    QVERIFY(MakeFile(folder + "/notes.txt"));
    QVERIFY(TestUtils::WriteFile(manifestPath, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                               "<Manifest package_name=\"OLDNAME\" package_size=\"8\">\n"
                                               "</Manifest>\n"));
    auto package = Access::OpenPackage(QStringLiteral("ABC^BRACKET"), folder);
    QCOMPARE(Access::ManifestName(*package), QStringLiteral("BRACKET"));
    QVERIFY(Access::GenerateManifestFile(*package));
    QCOMPARE(Access::ManifestName(*package), QStringLiteral("OLDNAME"));
    QVERIFY(TestUtils::ReadFile(manifestPath).contains("package_name=\"OLDNAME\""));

    QVERIFY(Access::ImportManifest(*package));
    QCOMPARE(Access::ManifestName(*package), QStringLiteral("BRACKET"));
    QVERIFY(Access::ExportManifest(*package));
    QVERIFY(TestUtils::ReadFile(manifestPath).contains("package_name=\"BRACKET\""));
}

void tst_PackageManifest::updateDoesNotSave()
{
    QVERIFY(MakeFile(folder + "/notes.txt"));
    QVERIFY(MakeFile(folder + "/photo.jpg"));
    auto package = Access::OpenPackage(QStringLiteral("ABC^BRACKET"), folder);
    QVERIFY(Access::GenerateManifestFile(*package));
    const QByteArray saved = TestUtils::ReadFile(manifestPath);

    QVERIFY(QFile::remove(folder + "/photo.jpg"));
    QVERIFY(Access::UpdateManifest(*package));
    QCOMPARE(TestUtils::ReadFile(manifestPath), saved);
    // The image placeholder is back in place of the vanished photo.
    QVERIFY(package->GetManifestItem(Image));
    QVERIFY(package->GetManifestItem(Image)->GetFileNameString().isEmpty());
    QVERIFY(!Access::UpdateManifest(*package));
    QVERIFY(Access::ExportManifest(*package));
    QVERIFY(!TestUtils::ReadFile(manifestPath).contains("photo.jpg"));
}

void tst_PackageManifest::lookupsThroughThePackage()
{
    QVERIFY(MakeFile(folder + "/a.txt"));
    QVERIFY(MakeFile(folder + "/b.txt"));
    auto package = Access::OpenPackage(QStringLiteral("ABC^BRACKET"), folder);
    QVERIFY(!package->GetManifestItem(Note));
    QVERIFY(package->GetManifestItems(Note).isEmpty());
    QVERIFY(Access::GenerateManifestFile(*package));
    QCOMPARE(package->GetManifestItems(Note).size(), 2);
    QCOMPARE(package->GetManifestItem(Note), package->GetManifestItems(Note).first());
    QVERIFY(!package->GetManifestItem(PDF));
    QVERIFY(package->GetManifestItems(PDF).isEmpty());

    // A copy of the package answers from the same manifest.
    const cPackage copy(*package);
    QCOMPARE(copy.GetManifestItems(Unknown), package->GetManifestItems(Unknown));
    QCOMPARE(copy.GetPackageSize(), package->GetPackageSize());
}

void tst_PackageManifest::tutorialOnlyWithAKnownZeroSize()
{
    // A package made for a new program has no manifest file yet: not a tutorial.
    auto fresh = Access::OpenPackage(QStringLiteral("ABC^BRACKET"), folder);
    QVERIFY(!Access::IsTutorial(*fresh));
    QCOMPARE(fresh->GetPackageSize(), 0u);

    QVERIFY(TestUtils::WriteFile(manifestPath, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                               "<Manifest package_name=\"BRACKET\" package_size=\"0\" "
                                               "package_limit=\"0\"/>\n"));
    auto tutorial = Access::OpenPackage(QStringLiteral("ABC^BRACKET"), folder);
    QVERIFY(Access::IsTutorial(*tutorial));

    QVERIFY(QFile::remove(manifestPath));
    QVERIFY(MakeFile(folder + "/notes.txt"));
    auto regular = Access::OpenPackage(QStringLiteral("ABC^BRACKET"), folder);
    QVERIFY(Access::GenerateManifestFile(*regular));
    QVERIFY(!Access::IsTutorial(*regular));
    QCOMPARE(regular->GetPackageSize(), 8u);
}

void tst_PackageManifest::startUpLoadsEachManifest()
{
    QVERIFY(MakeFile(folder + "/notes.txt"));
    QVERIFY(TestUtils::WriteFile(manifestPath, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                               "<Manifest package_name=\"BRACKET\" package_size=\"1234\" "
                                               "package_limit=\"104857600\">\n"
                                               "    <Note author=\"Jo\">notes.txt</Note>\n"
                                               "</Manifest>\n"));
    cPackageManager registry(QDir(holder->filePath(QStringLiteral("packages"))));
    const cPackage *package = registry.GetPackage(QStringLiteral("ABC^BRACKET"));
    QVERIFY(package);
    QCOMPARE(package->GetPackageSize(), 1234u);
    QCOMPARE(package->GetPackageSizeLimit(), 104857600u);
    const cManifestItem *note = package->GetManifestItem(Note);
    QVERIFY(note);
    QCOMPARE(note->GetFileNameString(), QStringLiteral("notes.txt"));
    QCOMPARE(note->GetAuthorString(), QStringLiteral("Jo"));
}

QTEST_GUILESS_MAIN(tst_PackageManifest)
#include "tst_packagemanifest.moc"
