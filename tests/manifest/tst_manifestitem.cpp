#include "ManifestTestAccess.h"
#include "TestUtils.h"

#include "platform/PlatformFiles.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using Access = cPackageTestAccess;

class tst_ManifestItem : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void classification_data();
    void classification();
    void kindTables_data();
    void kindTables();
    void newEntryDefaults();
    void modTimeFromTextDate();
    void programCommentCarriesCreationTime();
    void syncModTimeReadsCurrentTime();
    void thumbnailStaysInFolder();
};

void tst_ManifestItem::classification_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("expected");

    QTest::newRow("program without extension") << "BRACKET" << int(NCProgram);
    QTest::newRow("program .nc") << "bracket.nc" << int(NCProgram);
    QTest::newRow("program .NC mixed case") << "Bracket.NC" << int(NCProgram);
    QTest::newRow("conversational") << "bracket.cnv" << int(ConvProgram);
    QTest::newRow("overview") << "bracket.gif" << int(Overview);
    QTest::newRow("other gif") << "photo.gif" << int(Unknown);
    QTest::newRow("stats") << "bracket.stats.html" << int(Stats);
    QTest::newRow("tools") << "BRACKET.Tools.HTML" << int(Tools);
    QTest::newRow("history") << "bracket.history.html" << int(History);
    QTest::newRow("other stats page") << "other.stats.html" << int(Unknown);
    QTest::newRow("graph data") << "bracket.graph" << int(GraphData);
    QTest::newRow("note") << "notes.txt" << int(Note);
    QTest::newRow("jpeg spelled long") << "scan.jpeg" << int(Unknown);
    QTest::newRow("jpg") << "scan.JPG" << int(Image);
    QTest::newRow("png") << "scan.png" << int(Image);
    QTest::newRow("bmp") << "scan.bmp" << int(Image);
    QTest::newRow("video") << "clip.MP4" << int(Video);
    QTest::newRow("avi") << "clip.avi" << int(Unknown);
    QTest::newRow("pdf") << "manual.Pdf" << int(PDF);
    QTest::newRow("name without dot is its extension") << "pdf" << int(PDF);
    QTest::newRow("name ending in a dot") << "trailing." << int(Unknown);
    QTest::newRow("program name as prefix only") << "bracket2.nc" << int(Unknown);
    QTest::newRow("program name with other text") << "bracket.old.txt" << int(Note);
    QTest::newRow("manifest") << "manifest.xml" << int(Unknown);
    QTest::newRow("no file") << "" << int(Unknown);
}

void tst_ManifestItem::classification()
{
    QFETCH(QString, fileName);
    QFETCH(int, expected);
    QCOMPARE(int(Access::Classify(fileName, QStringLiteral("bracket"))), expected);
}

// The rows that the written example of "manifest.xml" does not show.
void tst_ManifestItem::kindTables_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("texts"); // tab, file type, comment, author
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<bool>("readOnly");

    QTest::newRow("GraphData") << "BRACKET.GRAPH"
                               << QStringList{"X", "graphics", "Graphical Output Data", "Auto-Generated"} << true
                               << true;
    QTest::newRow("PDF") << "a.pdf" << QStringList{"PDFs", "pdf", "", "Unknown User"} << false << false;
    QTest::newRow("Video") << "a.mp4" << QStringList{"Videos", "video", "", "Unknown User"} << false << false;
    QTest::newRow("ConvProgram") << "BRACKET.CNV"
                                 << QStringList{"X", "conversational", "Program Created *", "Unknown User"} << true
                                 << true;
    QTest::newRow("Unknown") << "a.doc" << QStringList{"Unknown Tab", "Unkown File Type", "", ""} << true << false;
}

void tst_ManifestItem::kindTables()
{
    QFETCH(QString, file);
    QFETCH(QStringList, texts);
    QFETCH(bool, hidden);
    QFETCH(bool, readOnly);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.filePath(file);
    QVERIFY(TestUtils::WriteFile(path, "x"));

    cManifestItem item = Access::NewItem();
    Access::SetFile(item, path);
    QVERIFY(Access::AutoPopulate(item, QStringLiteral("BRACKET")));
    QCOMPARE(Access::Tab(item), texts.at(0));
    QCOMPARE(item.GetFileTypeString(), texts.at(1));
    if (texts.at(2).endsWith(QLatin1Char('*')))
        QVERIFY(item.GetCommentString().startsWith(texts.at(2).chopped(1)));
    else
        QCOMPARE(item.GetCommentString(), texts.at(2));
    QCOMPARE(item.GetAuthorString(), texts.at(3));
    QCOMPARE(item.IsHidden(), hidden);
    QCOMPARE(item.IsReadOnly(), readOnly);
    QCOMPARE(item.GetModTime(), QFileInfo(path).lastModified().toUTC());

    // A kind out of range reads like Unknown.
    const cManifestItem outOfRange = Access::NewItem(static_cast<eMetadataType>(13));
    QCOMPARE(outOfRange.GetFileTypeString(), QStringLiteral("Unkown File Type"));
}

void tst_ManifestItem::newEntryDefaults()
{
    const cManifestItem item = Access::NewItem();
    QCOMPARE(int(Access::Kind(&item)), int(Unknown));
    QVERIFY(item.IsHidden());
    QVERIFY(item.IsReadOnly());
    QVERIFY(item.GetFileNameString().isEmpty());
    QVERIFY(item.GetModTimeString().isEmpty());
    QVERIFY(item.GetThumbnailInfo().filePath().isEmpty());
    QVERIFY(item.GetFileInfo().filePath().isEmpty());
    QVERIFY(item.GetAuthorString().isEmpty());
    QVERIFY(item.GetCommentString().isEmpty());

    // A placeholder stays Unknown in regular mode, whatever the package is called.
    cManifestItem placeholder = Access::NewItem(Note);
    QVERIFY(Access::AutoPopulate(placeholder, QString()));
    QCOMPARE(int(Access::Kind(&placeholder)), int(Unknown));
}

void tst_ManifestItem::modTimeFromTextDate()
{
    cManifestItem item = Access::NewItem();
    Access::SetModTime(item, QStringLiteral("Mon Apr 1 07:12:44 2013"));
    const QDateTime expected(QDate(2013, 4, 1), QTime(7, 12, 44));
    QCOMPARE(item.GetModTime(), expected.toUTC());
    QCOMPARE(item.GetModTime().timeSpec(), Qt::UTC);
    QVERIFY(item.GetModTimeString().endsWith(QLatin1Char('Z')));

    Access::SetModTime(item, QStringLiteral("2013-04-01T07:12:44Z"));
    QVERIFY(item.GetModTime().isNull());
    QVERIFY(item.GetModTimeString().isEmpty());
}

void tst_ManifestItem::programCommentCarriesCreationTime()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.filePath(QStringLiteral("BRACKET.NC"));
    QVERIFY(TestUtils::WriteFile(path, TestUtils::MillingProgram(QStringLiteral("BRACKET"))));

    cManifestItem item = Access::NewItem();
    Access::SetFile(item, path);
    QVERIFY(Access::AutoPopulate(item, QStringLiteral("BRACKET")));
    const QString comment = item.GetCommentString();
    // Local time, without zone.
    QVERIFY2(QRegularExpression(QStringLiteral("^Program Created \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$"))
                 .match(comment)
                 .hasMatch(),
             qPrintable(comment));
    const QDateTime created = Platform::CreationTime(QFileInfo(path));
    QCOMPARE(QDateTime::fromString(comment.mid(16), Qt::ISODate),
             created.toLocalTime().addMSecs(-created.time().msec()));
}

void tst_ManifestItem::syncModTimeReadsCurrentTime()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.filePath(QStringLiteral("notes.txt"));
    QVERIFY(TestUtils::WriteFile(path, "one"));
    const QDateTime first(QDate(2013, 4, 2), QTime(14, 5, 9), Qt::UTC);
    QVERIFY(TestUtils::SetModTime(path, first));

    cManifestItem item = Access::NewItem();
    Access::SetFile(item, path);
    QCOMPARE(item.GetModTime(), first);
    QVERIFY(!Access::SyncModTime(item));

    // Replaced file: the change shows at once, and only once.
    QVERIFY(QFile::remove(path));
    QVERIFY(TestUtils::WriteFile(path, "two"));
    const QDateTime second = first.addSecs(60);
    QVERIFY(TestUtils::SetModTime(path, second));
    QVERIFY(Access::SyncModTime(item));
    QCOMPARE(item.GetModTime(), second);
    QCOMPARE(item.GetModTimeString(), QStringLiteral("2013-04-02T14:06:09Z"));
    QVERIFY(!Access::SyncModTime(item));

    // A vanished file leaves a null time and keeps its name.
    QVERIFY(QFile::remove(path));
    QVERIFY(Access::SyncModTime(item));
    QVERIFY(item.GetModTime().isNull());
    QCOMPARE(item.GetFileNameString(), QStringLiteral("notes.txt"));
    QVERIFY(!Access::SyncModTime(item));
}

void tst_ManifestItem::thumbnailStaysInFolder()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.filePath(QStringLiteral("photo.jpg"));
    QVERIFY(TestUtils::WriteFile(path, "x"));
    QVERIFY(TestUtils::WriteFile(dir.filePath(QStringLiteral("photo.jpg.thumb")), "t"));

    cManifestItem item = Access::NewItem();
    Access::SetFile(item, path);
    Access::AutoPopulate(item, QStringLiteral("BRACKET"));
    Access::SetPreview(&item, QStringLiteral("photo.jpg.thumb"));
    QCOMPARE(item.GetThumbnailInfo().absoluteFilePath(), dir.filePath(QStringLiteral("photo.jpg.thumb")));
    // An existing thumbnail is left alone.
    QVERIFY(!Access::SyncThumbnail(item));
    QCOMPARE(item.GetPreviewString(), QStringLiteral("photo.jpg.thumb"));

    for (const QString &escape : {QStringLiteral("../outside.thumb"), QStringLiteral("/etc/passwd"),
                                  QStringLiteral("..\\outside.thumb"), QStringLiteral("..")}) {
        Access::SetPreview(&item, escape);
        QVERIFY2(item.GetThumbnailInfo().filePath().isEmpty(), qPrintable(escape));
    }
}

QTEST_GUILESS_MAIN(tst_ManifestItem)
#include "tst_manifestitem.moc"
