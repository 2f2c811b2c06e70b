#include "MediaTestUtils.h"
#include "TestUtils.h"
#include "cPackage.h"
#include "media/Thumbnails.h"

#include <QTemporaryDir>
#include <QTest>

using namespace MediaTestUtils;

struct cPackageTestAccess
{
    static bool UpdateThumbs(const QString &dir) { return cPackage(QFileInfo(dir), QFileInfo()).UpdatePackageThumbs(); }
};

class tst_Thumbnails : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QString Path(const QString &name) const { return dir->filePath(name); }

private Q_SLOTS:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>(); // the shipped pictures come from PACKAGEMANAGER_DEFAULTS_DIR
    }

    void imageThumbnail_data()
    {
        QTest::addColumn<QSize>("stored");
        QTest::addColumn<int>("orientation");   // 0: a PNG without EXIF
        QTest::addColumn<QSize>("expected");    // what QImage::scaled gives for the upright picture
        QTest::addColumn<QString>("quadrants"); // the stored quadrant seen at each upright one
        const char *turned[] = {"0123", "1032", "3210", "2301", "0213", "2031", "3120", "1302"};
        for (int o = 1; o <= 8; ++o)
            QTest::addRow("%d", o) << QSize(160, 160) << o << QSize(110, 110) << turned[o - 1];
        QTest::newRow("400x300 turned right") << QSize(400, 300) << 6 << QSize(82, 110) << "2031";
        QTest::newRow("PNG, saved as JPEG") << QSize(400, 300) << 0 << QSize(110, 82) << "0123";
        QTest::newRow("large, decoded at a reduced scale") << QSize(4000, 3000) << 6 << QSize(82, 110) << "2031";
        QTest::newRow("thin strip keeps a pixel") << QSize(3000, 7) << 6 << QSize(1, 110) << ""; // not 0 wide
    }

    void imageThumbnail()
    {
        QFETCH(QSize, stored);
        QFETCH(int, orientation);
        QFETCH(QSize, expected);
        QFETCH(QString, quadrants);
        const QString name = Path(orientation ? "shot.jpg" : "shot.png"), thumb = name + ".thumb";
        const QByteArray bytes = Encode(QuadrantPicture(stored.width(), stored.height()), orientation ? "JPEG" : "PNG");
        const QByteArray exif = OrientationBlock(quint16(orientation), orientation % 2); // both byte orders
        QVERIFY(TestUtils::WriteFile(name, orientation ? WithExif(bytes, exif) : bytes));
        QCOMPARE(GenerateImageThumbnail(QFileInfo(name)), QFileInfo(thumb).fileName());
        QVERIFY(TestUtils::ReadFile(thumb).startsWith("\xFF\xD8"));
        const QImage thumbnail(thumb);
        QCOMPARE(thumbnail.size(), expected);
        for (int q = 0; q < quadrants.size(); ++q) { // compared loosely
            const QPoint centre = QPoint(expected.width() * (1 + q % 2 * 2), expected.height() * (1 + q / 2 * 2)) / 4;
            const int hue = 30 + 90 * quadrants.at(q).digitValue();
            QVERIFY2(qAbs(thumbnail.pixelColor(centre).hue() - hue) < 25, qPrintable(QString::number(q)));
        }
    }

    void packageThumbsFollowTheImages()
    {
        const QString package = TestUtils::MakeDir(Path("PART.pkg")), image = package + "/a.JPG",
                      thumb = image + ".thumb";
        const QDateTime imageTime = QDateTime::currentDateTimeUtc().addSecs(-3600);
        QVERIFY(TestUtils::WriteFile(image, Encode(QuadrantPicture(400, 300))) &&
                TestUtils::SetModTime(image, imageTime));
        // A picture that cannot be read loses its old thumbnail.
        QVERIFY(TestUtils::WriteFile(package + "/broken.jpg", "\xFF\xD8?") &&
                TestUtils::WriteFile(package + "/broken.jpg.thumb", "old"));
        QVERIFY(TestUtils::SetModTime(package + "/broken.jpg.thumb", imageTime));
        QVERIFY(cPackageTestAccess::UpdateThumbs(package));
        QCOMPARE(QDir(package).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"a.JPG", "a.JPG.thumb", "broken.jpg"}));

        QVERIFY(TestUtils::WriteFile(thumb, "kept") && TestUtils::SetModTime(thumb, imageTime));
        QVERIFY(cPackageTestAccess::UpdateThumbs(package));
        QCOMPARE(TestUtils::ReadFile(thumb), QByteArray("kept")); // equal times keep it
        QVERIFY(TestUtils::SetModTime(thumb, imageTime.addSecs(-1)));
        QVERIFY(cPackageTestAccess::UpdateThumbs(package));
        QCOMPARE(QImage(thumb).size(), QSize(110, 82)); // one second older is remade
    }

    void defaultFileCopies_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("expected");
        QTest::newRow("PDF") << QStringLiteral("manual.pdf") << QStringLiteral("manual.pdf.thumb");
        QTest::newRow("NC program") << QStringLiteral("PART1.NC") << QStringLiteral("PART1.gif");
        QTest::newRow("dotted name") << QStringLiteral("PART.V2.NC") << QStringLiteral("PART.V2.gif");
        QTest::newRow("lower case") << QStringLiteral("part3.nc") << QStringLiteral("part3.gif");
    }

    void defaultFileCopies()
    {
        QFETCH(QString, item);
        QFETCH(QString, expected);
        QVERIFY(TestUtils::WriteFile(Path(item), "content"));
        const QFileInfo info(Path(item));
        const bool pdf = item.endsWith(QLatin1String(".pdf"));
        QCOMPARE(pdf ? GeneratePdfThumbnail(info) : GenerateUndeterminedRendering(info), expected);
        const QString shipped = pdf ? "generic_pdf.thumb" : "undetermined_rendering.gif";
        QCOMPARE(TestUtils::ReadFile(Path(expected)), TestUtils::ReadFile(PM_SOURCE_DIR "/data/" + shipped));
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files).size(), 2);
    }

    void emptyOverviewIsReplaced()
    {
        const QString placeholder = Path("undetermined_rendering.gif");
        const QString overview = TestUtils::MakeDir(Path("PART.pkg")) + "/PART.gif";
        QVERIFY(QFile::copy(PM_SOURCE_DIR "/data/undetermined_rendering.gif", placeholder));
        QVERIFY(TestUtils::SetModTime(placeholder, QDateTime::currentDateTimeUtc().addDays(-30)));
        QVERIFY(TestUtils::WriteFile(overview, QByteArray()) && ReplaceWithUndeterminedRendering(QFileInfo(overview)));
        QCOMPARE(TestUtils::ReadFile(overview), TestUtils::ReadFile(placeholder));
        QVERIFY(QFileInfo(overview).lastModified() > QDateTime::currentDateTimeUtc().addSecs(-60));
    }
};

QTEST_GUILESS_MAIN(tst_Thumbnails)
#include "tst_thumbnails.moc"
