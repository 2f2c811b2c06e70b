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
    void stampTellsVersionsApart_data();
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
    QStringList expected = QDir(dir->path()).entryList(QDir::Files | QDir::NoSymLinks, QDir::Name);
    QStringList listed = Platform::PlainFilesIn(dir->path());
    listed.sort();
    QCOMPARE(listed, expected);
    QCOMPARE(listed, QStringList({QStringLiteral("PART.NC"), QStringLiteral("empty.txt")}));
    QVERIFY(Platform::PlainFilesIn(dir->filePath(QStringLiteral("missing"))).isEmpty());

    // With links to files, and still without dangling links, folders and hidden files.
    expected = QDir(dir->path()).entryList(QDir::Files, QDir::Name);
    listed = Platform::FilesIn(dir->path());
    listed.sort();
    QCOMPARE(listed, expected);
    QCOMPARE(listed, QStringList({QStringLiteral("PART.NC"), QStringLiteral("empty.txt"), QStringLiteral("link.NC")}));
}

void tst_FileFacts::stampTellsVersionsApart_data()
{
    QTest::addColumn<bool>("replace");
    QTest::newRow("rewritten in place, same size") << false;
    QTest::newRow("replaced by rename, same size and time") << true;
}

void tst_FileFacts::stampTellsVersionsApart()
{
    QFETCH(bool, replace);
    const QString path = dir->filePath(QStringLiteral("manifest.xml"));
    QVERIFY(TestUtils::WriteFile(path, "<Manifest a=\"1\"/>"));
    const QDateTime time(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);
    QVERIFY(TestUtils::SetModTime(path, time));
    const Platform::FileStamp before = Platform::StampOf(path);
    QVERIFY(before.IsValid());
    QCOMPARE(Platform::StampOf(path), before);

    if (replace) {
        QSaveFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<Manifest a=\"2\"/>");
        QVERIFY(file.commit());
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek(13));
        QCOMPARE(file.write("2"), 1);
    }
    // Even with the old time put back, the stamp shows another version of the file.
    QVERIFY(TestUtils::SetModTime(path, time));
    QVERIFY(Platform::StampOf(path) != before);
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
