#include "TestUtils.h"
#include "platform/PlatformFiles.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

// The cheap file queries that a scan of every package relies on: they must tell exactly
// what QFileInfo and QDir would, and notice every change of a file.
class tst_FileFacts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void factsAgreeWithFileInfo_data();
    void factsAgreeWithFileInfo();
    void plainFilesAgreeWithDirListing();
    void stampTellsVersionsApart();
    void resolveCacheLastsForItsScopeOnly();

private:
    std::unique_ptr<QTemporaryDir> dir;
};

void tst_FileFacts::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(dir->isValid(), qPrintable(dir->errorString()));
    QVERIFY(TestUtils::WriteFile(dir->filePath(QStringLiteral("PART.NC")), "G0 X0\nM30\n"));
    QVERIFY(TestUtils::SetModTime(dir->filePath(QStringLiteral("PART.NC")),
                                  QDateTime(QDate(2019, 7, 1), QTime(8, 30, 15, 250), Qt::UTC)));
    QVERIFY(TestUtils::WriteFile(dir->filePath(QStringLiteral("empty.txt")), QByteArray()));
    QVERIFY(TestUtils::WriteFile(dir->filePath(QStringLiteral(".hidden.txt")), "x"));
    QVERIFY(QDir(dir->path()).mkdir(QStringLiteral("folder.pkg")));
    QVERIFY(QFile::link(dir->filePath(QStringLiteral("PART.NC")), dir->filePath(QStringLiteral("link.NC"))));
    QVERIFY(QFile::link(dir->filePath(QStringLiteral("gone")), dir->filePath(QStringLiteral("dangling.NC"))));
}

void tst_FileFacts::factsAgreeWithFileInfo_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("stamped"); // a stamp is for a regular file reached without a link
    QTest::newRow("file with milliseconds") << QStringLiteral("PART.NC") << true;
    QTest::newRow("empty file") << QStringLiteral("empty.txt") << true;
    QTest::newRow("folder") << QStringLiteral("folder.pkg") << false;
    QTest::newRow("link to a file is followed") << QStringLiteral("link.NC") << false;
    QTest::newRow("dangling link") << QStringLiteral("dangling.NC") << false;
    QTest::newRow("missing") << QStringLiteral("nothing.NC") << false;
}

void tst_FileFacts::factsAgreeWithFileInfo()
{
    QFETCH(QString, name);
    const QString path = dir->filePath(name);
    const QFileInfo info(path);
    const Platform::FileFacts facts = Platform::FactsOf(path);
    QTEST(Platform::StampOf(path).IsValid(), "stamped");
    QVERIFY(!Platform::StampOf(QString()).IsValid());
    QCOMPARE(facts.exists, info.exists());
    QCOMPARE(facts.isFile, info.isFile());
    if (info.isFile())
        QCOMPARE(facts.size, info.size());
    QCOMPARE(facts.modifiedUtc.isValid(), info.exists());
    if (info.exists()) {
        QCOMPARE(facts.modifiedUtc, info.lastModified());
        QCOMPARE(facts.modifiedUtc.timeSpec(), Qt::UTC);
    }
}

void tst_FileFacts::plainFilesAgreeWithDirListing()
{
    QStringList listed = Platform::PlainFilesIn(dir->path());
    listed.sort();
    QCOMPARE(listed, QStringList({QStringLiteral("PART.NC"), QStringLiteral("empty.txt")}));
    QVERIFY(Platform::PlainFilesIn(dir->filePath(QStringLiteral("missing"))).isEmpty());
    // With links to files, and still without dangling links, folders and hidden files.
    listed = Platform::FilesIn(dir->path());
    listed.sort();
    QCOMPARE(listed, QStringList({QStringLiteral("PART.NC"), QStringLiteral("empty.txt"), QStringLiteral("link.NC")}));
}

// Rewritten in place, then replaced by a rename, each time with the size and the old time
// kept: the stamp shows another version of the file.
void tst_FileFacts::stampTellsVersionsApart()
{
    const QString path = dir->filePath(QStringLiteral("manifest.xml"));
    const QDateTime time(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);
    QVERIFY(TestUtils::WriteFile(path, "<Manifest a=\"1\"/>") && TestUtils::SetModTime(path, time));
    Platform::FileStamp before = Platform::StampOf(path);
    QVERIFY(before.IsValid() && Platform::StampOf(path) == before);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(13) && file.write("2") == 1);
    file.close();
    QVERIFY(TestUtils::SetModTime(path, time) && Platform::StampOf(path) != before);

    before = Platform::StampOf(path);
    QSaveFile replacement(path);
    QVERIFY(replacement.open(QIODevice::WriteOnly) && replacement.write("<Manifest a=\"3\"/>") == 17);
    QVERIFY(replacement.commit() && TestUtils::SetModTime(path, time) && Platform::StampOf(path) != before);
}

void tst_FileFacts::resolveCacheLastsForItsScopeOnly()
{
    const QString real = TestUtils::MakeDir(dir->filePath(QStringLiteral("srv/Parts")));
    const QString upper = dir->path() + QStringLiteral("/SRV/PARTS");
    const QString later = dir->path() + QStringLiteral("/SRV/LATER");
    {
        const Platform::ResolveCacheScope scope;
        QCOMPARE(Platform::ResolvePathNoCase(upper), real);
        QVERIFY(Platform::ResolvePathNoCase(later).isEmpty());
        // Within the scope the first answers stand.
        QVERIFY(QDir().mkpath(dir->filePath(QStringLiteral("srv/Later"))));
        QVERIFY(Platform::ResolvePathNoCase(later).isEmpty());
        QCOMPARE(Platform::ResolvePathNoCase(upper), real);
    }
    // Outside it the file system is asked again.
    QCOMPARE(Platform::ResolvePathNoCase(later), dir->filePath(QStringLiteral("srv/Later")));
}

QTEST_GUILESS_MAIN(tst_FileFacts)
#include "tst_filefacts.moc"
