#include "MediaTestUtils.h"
#include "TestUtils.h"
#include "cPackage.h"
#include "media/Thumbnails.h"

#include "platform/PlatformFiles.h"

#include <QImageReader>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace MediaTestUtils;

namespace {

QByteArray BigEndian32(quint32 value)
{
    return TiffBlock(true).Number(value, 4);
}

QByteArray PngChunk(const char *type, const QByteArray &data)
{
    const QByteArray body = QByteArray(type) + data;
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : body) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return BigEndian32(quint32(data.size())) + body + BigEndian32(~crc);
}

// A PNG whose header announces `width` x `height` RGB pixels; its data is never reached.
QByteArray PngHeaderOnly(quint32 width, quint32 height)
{
    return QByteArray("\x89PNG\r\n\x1a\n") +
           PngChunk("IHDR", BigEndian32(width) + BigEndian32(height) + QByteArray("\x08\x02\0\0\0", 5)) +
           PngChunk("IDAT", QByteArray("\x78\x9c", 2)) + PngChunk("IEND", QByteArray());
}

} // namespace

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

    // An unchanged package is left alone at the next pass, whatever the clocks and sizes.
    void secondPassWritesNothing_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("ageDays");    // negative: dated in the future
        QTest::addColumn<int>("qtLimitMiB"); // Qt's allocation limit meanwhile; 0: as it is
        QTest::addColumn<QSize>("expected");
        QTest::newRow("photo from a camera with a wrong clock")
            << "a.jpg" << Encode(QuadrantPicture(400, 300)) << -400 << 0 << QSize(110, 82);
        QTest::newRow("picture beyond Qt's own limit")
            << "wide.png" << Encode(QuadrantPicture(1200, 900), "PNG") << 1 << 1 << QSize(110, 82);
        QTest::newRow("picture beyond any budget, a plain thumbnail")
            << "huge.PNG" << PngHeaderOnly(40000, 30000) << 1 << 0 << QSize(110, 82);
    }

    void secondPassWritesNothing()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(int, ageDays);
        QFETCH(int, qtLimitMiB);
        QFETCH(QSize, expected);
        const int savedLimit = QImageReader::allocationLimit();
        if (qtLimitMiB)
            QImageReader::setAllocationLimit(qtLimitMiB);
        QTest::failOnWarning(QRegularExpression("."));
        const QString package = TestUtils::MakeDir(Path("PART.pkg")), image = package + u'/' + name;
        QVERIFY(TestUtils::WriteFile(image, bytes) &&
                TestUtils::SetModTime(image, QDateTime::currentDateTimeUtc().addDays(-ageDays)));
        QVERIFY(cPackageTestAccess::UpdateThumbs(package));
        QImageReader::setAllocationLimit(savedLimit);
        QCOMPARE(QImage(image + ".thumb").size(), expected);

        const Platform::FileStamp stamp = Platform::StampOf(image + ".thumb");
        QVERIFY(stamp.IsValid() && cPackageTestAccess::UpdateThumbs(package));
        QVERIFY(Platform::StampOf(image + ".thumb") == stamp);
    }

    // The placeholder for a program's overview picture: the packages root's, else the one
    // installed in the defaults folder; never an empty file.
    void overviewPlaceholder_data()
    {
        QTest::addColumn<QByteArray>("inRoot");   // null: none
        QTest::addColumn<bool>("installed");      // whether the defaults folder holds one
        QTest::addColumn<QByteArray>("overview"); // null: none yet
        QTest::addColumn<QByteArray>("expected"); // null: none afterwards
        const QByteArray shipped = TestUtils::ReadFile(PM_SOURCE_DIR "/data/undetermined_rendering.gif");
        QTest::newRow("from the root") << QByteArray("GIF89a root") << true << QByteArray()
                                       << QByteArray("GIF89a root");
        QTest::newRow("root without one") << QByteArray() << true << QByteArray() << shipped;
        QTest::newRow("empty one in the root") << QByteArray("") << true << QByteArray() << shipped;
        QTest::newRow("empty overview repaired") << QByteArray() << true << QByteArray("") << shipped;
        QTest::newRow("none anywhere") << QByteArray() << false << QByteArray() << QByteArray();
        QTest::newRow("none anywhere, empty overview") << QByteArray() << false << QByteArray("") << QByteArray("");
    }

    void overviewPlaceholder()
    {
        QFETCH(QByteArray, inRoot);
        QFETCH(bool, installed);
        QFETCH(QByteArray, overview);
        QFETCH(QByteArray, expected);
        const QByteArray savedDefaults = qgetenv("PACKAGEMANAGER_DEFAULTS_DIR");
        if (!installed)
            qputenv("PACKAGEMANAGER_DEFAULTS_DIR", QFile::encodeName(TestUtils::MakeDir(Path("empty"))));
        if (!inRoot.isNull())
            QVERIFY(TestUtils::WriteFile(Path("undetermined_rendering.gif"), inRoot));
        const QString program = TestUtils::MakeDir(Path("PART.pkg")) + "/PART.NC", picture = Path("PART.pkg/PART.gif");
        QVERIFY(TestUtils::WriteFile(program, "G0\n"));
        if (!overview.isNull())
            QVERIFY(TestUtils::WriteFile(picture, overview));

        // The program's rendering and the package's overview are the same picture.
        const QString made = GenerateUndeterminedRendering(QFileInfo(program));
        const bool replaced = ReplaceWithUndeterminedRendering(QFileInfo(picture));
        qputenv("PACKAGEMANAGER_DEFAULTS_DIR", savedDefaults);
        QCOMPARE(made, expected.isEmpty() ? QString() : QString("PART.gif"));
        QCOMPARE(replaced, !expected.isEmpty());
        QCOMPARE(QFileInfo::exists(picture), !expected.isNull());
        QCOMPARE(TestUtils::ReadFile(picture), expected);
    }
};

QTEST_GUILESS_MAIN(tst_Thumbnails)
#include "tst_thumbnails.moc"
