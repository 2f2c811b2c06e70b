#include "MediaTestUtils.h"
#include "TestUtils.h"
#include "cPackage.h"
#include "media/Thumbnails.h"

#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace MediaTestUtils;

struct cPackageTestAccess
{
    static std::unique_ptr<cPackage> Make(const QString &packageFolder)
    {
        return std::unique_ptr<cPackage>(new cPackage(QFileInfo(packageFolder), QFileInfo()));
    }
    static bool UpdateThumbs(cPackage &package) { return package.UpdatePackageThumbs(); }
};

namespace {

QImage ReadThumbnail(const QString &path, QByteArray *format = nullptr)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    if (format)
        *format = reader.format();
    return reader.read();
}

// What the thumbnail must measure: the upright picture fitted by QImage::scaled.
QSize ExpectedSize(QSize stored, int orientation)
{
    if (orientation >= 5 && orientation <= 8)
        stored.transpose();
    return QImage(stored, QImage::Format_RGB32).scaled(110, 110, Qt::KeepAspectRatio, Qt::SmoothTransformation).size();
}

} // namespace

class tst_Thumbnails : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;

    QString Path(const QString &name) const { return dir->filePath(name); }

private Q_SLOTS:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY2(dir->isValid(), qPrintable(dir->errorString()));
    }

    void imageThumbnailSize_data()
    {
        QTest::addColumn<QSize>("stored");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<bool>("png");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("400x300 turned a quarter") << QSize(400, 300) << 6 << false << QSize(82, 110);
        QTest::newRow("400x300 upright") << QSize(400, 300) << 1 << false << QSize(110, 82);
        QTest::newRow("400x300 without EXIF") << QSize(400, 300) << 0 << false << QSize(110, 82);
        QTest::newRow("300x400 turned back") << QSize(300, 400) << 8 << false << QSize(110, 82);
        QTest::newRow("transposed") << QSize(640, 200) << 5 << false << QSize(34, 110);
        QTest::newRow("smaller than the box") << QSize(50, 40) << 1 << false << QSize(110, 88);
        QTest::newRow("square") << QSize(333, 333) << 3 << false << QSize(110, 110);
        QTest::newRow("odd sizes") << QSize(1999, 1001) << 7 << false << ExpectedSize(QSize(1999, 1001), 7);
        QTest::newRow("large photograph") << QSize(4032, 3024) << 6 << false << ExpectedSize(QSize(4032, 3024), 6);
        // QImage::scaled would give 110 x 0, no picture at all.
        QTest::newRow("thin strip keeps a pixel") << QSize(3000, 7) << 6 << false << QSize(1, 110);
        QTest::newRow("PNG") << QSize(400, 300) << 0 << true << QSize(110, 82);
    }

    void imageThumbnailSize()
    {
        QFETCH(QSize, stored);
        QFETCH(int, orientation);
        QFETCH(bool, png);
        QFETCH(QSize, expected);
        if (expected.width() > 1) // the thin strip departs from QImage::scaled on purpose
            QCOMPARE(expected, ExpectedSize(stored, orientation));

        const QImage picture = QuadrantPicture(stored.width(), stored.height());
        QByteArray bytes = png ? EncodePng(picture) : EncodeJpeg(picture);
        if (orientation > 0)
            bytes = WithSegments(bytes, {ExifSegment(OrientationBlock(quint16(orientation)))});
        const QString name = png ? QStringLiteral("shot.png") : QStringLiteral("shot.jpg");
        QVERIFY(TestUtils::WriteFile(Path(name), bytes));

        QCOMPARE(GenerateImageThumbnail(QFileInfo(Path(name))), name + QLatin1String(".thumb"));
        QByteArray format;
        const QImage thumbnail = ReadThumbnail(Path(name + QLatin1String(".thumb")), &format);
        QCOMPARE(format, QByteArray("jpeg"));
        QCOMPARE(thumbnail.size(), expected);

        // The same through the update helper, which replaces what is there.
        QVERIFY(TestUtils::WriteFile(Path(QStringLiteral("other.thumb")), "old"));
        QVERIFY(UpdateImageThumbnail(QFileInfo(Path(name)), QFileInfo(Path(QStringLiteral("other.thumb")))));
        QCOMPARE(ReadThumbnail(Path(QStringLiteral("other.thumb"))).size(), expected);
    }

    // A photograph stored in each orientation ends up as the same upright thumbnail.
    void everyOrientationTurnsUpright()
    {
        const QImage upright = QuadrantPicture(240, 160);
        QImage reference;
        for (int orientation = 1; orientation <= 8; ++orientation) {
            const QImage stored = StoredForOrientation(upright, orientation);
            const QString name = QStringLiteral("o%1.jpg").arg(orientation);
            QVERIFY(TestUtils::WriteFile(
                Path(name), WithSegments(EncodeJpeg(stored, 95),
                                         {ExifSegment(OrientationBlock(quint16(orientation), orientation % 2))})));
            QVERIFY(!GenerateImageThumbnail(QFileInfo(Path(name))).isEmpty());
            const QImage thumbnail = ReadThumbnail(Path(name + QLatin1String(".thumb")));
            QCOMPARE(thumbnail.size(), QSize(110, 73));

            // Each quadrant in its place; the black bar in the top-left corner.
            const int points[4][2] = {{41, 27}, {82, 18}, {27, 55}, {82, 55}};
            for (int q = 0; q < 4; ++q) {
                const QColor seen = thumbnail.pixelColor(points[q][0], points[q][1]);
                const QColor wanted = QuadrantColour(q);
                QVERIFY2(qAbs(seen.red() - wanted.red()) + qAbs(seen.green() - wanted.green()) +
                                 qAbs(seen.blue() - wanted.blue()) <
                             60,
                         qPrintable(QStringLiteral("orientation %1 quadrant %2").arg(orientation).arg(q)));
            }
            QVERIFY(qGray(thumbnail.pixel(4, 2)) < 50);
            if (orientation == 1)
                reference = thumbnail;
            else
                QVERIFY2(MeanDifference(thumbnail, reference) < 8,
                         qPrintable(QStringLiteral("orientation %1").arg(orientation)));
        }
    }

    void unreadableImage()
    {
        QVERIFY(TestUtils::WriteFile(Path(QStringLiteral("broken.jpg")), "\xFF\xD8 not really"));
        QVERIFY(TestUtils::WriteFile(Path(QStringLiteral("broken.jpg.thumb")), "old"));
        QVERIFY(!UpdateImageThumbnail(QFileInfo(Path(QStringLiteral("broken.jpg"))),
                                      QFileInfo(Path(QStringLiteral("broken.jpg.thumb")))));
        QVERIFY(!QFile::exists(Path(QStringLiteral("broken.jpg.thumb"))));
        QVERIFY(GenerateImageThumbnail(QFileInfo(Path(QStringLiteral("broken.jpg")))).isNull());
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("broken.jpg")});
    }

    void packageThumbsFollowTheImages()
    {
        const QString package = TestUtils::MakeDir(Path(QStringLiteral("PART.pkg")));
        const QString image = package + QLatin1String("/a.JPG");
        const QString png = package + QLatin1String("/b.png");
        QVERIFY(TestUtils::WriteFile(image, EncodeJpeg(QuadrantPicture(400, 300))));
        QVERIFY(TestUtils::WriteFile(png, EncodePng(QuadrantPicture(300, 400))));
        QVERIFY(TestUtils::WriteFile(package + QLatin1String("/notes.txt"), "x"));
        const QDateTime imageTime = QDateTime::currentDateTimeUtc().addSecs(-3600);
        QVERIFY(TestUtils::SetModTime(image, imageTime));
        QVERIFY(TestUtils::SetModTime(png, imageTime));
        std::unique_ptr<cPackage> pkg = cPackageTestAccess::Make(package);

        QVERIFY(cPackageTestAccess::UpdateThumbs(*pkg));
        const QString thumb = image + QLatin1String(".thumb");
        QCOMPARE(ReadThumbnail(thumb).size(), QSize(110, 82));
        QCOMPARE(ReadThumbnail(png + QLatin1String(".thumb")).size(), QSize(82, 110));
        QStringList expected{QStringLiteral("a.JPG"), QStringLiteral("a.JPG.thumb"), QStringLiteral("b.png"),
                             QStringLiteral("b.png.thumb"), QStringLiteral("notes.txt")};
        QCOMPARE(QDir(package).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);

        // Equal times keep the thumbnail.
        QVERIFY(TestUtils::WriteFile(thumb, "kept"));
        QVERIFY(TestUtils::SetModTime(thumb, imageTime));
        QVERIFY(cPackageTestAccess::UpdateThumbs(*pkg));
        QCOMPARE(TestUtils::ReadFile(thumb), QByteArray("kept"));

        // One second older is remade.
        QVERIFY(TestUtils::SetModTime(thumb, imageTime.addSecs(-1)));
        QVERIFY(cPackageTestAccess::UpdateThumbs(*pkg));
        QVERIFY(TestUtils::ReadFile(thumb).startsWith("\xFF\xD8"));
        QVERIFY(QFileInfo(thumb).lastModified() > imageTime);
    }

    void packageWithoutMediaIsLeftAlone()
    {
        const QString package = TestUtils::MakeDir(Path(QStringLiteral("EMPTY.pkg")));
        QVERIFY(TestUtils::WriteFile(package + QLatin1String("/EMPTY.NC"), TestUtils::MillingProgram("EMPTY")));
        QVERIFY(TestUtils::WriteFile(package + QLatin1String("/manual.pdf"), "%PDF-1.4"));
        std::unique_ptr<cPackage> pkg = cPackageTestAccess::Make(package);
        QVERIFY(cPackageTestAccess::UpdateThumbs(*pkg));
        QCOMPARE(QDir(package).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 (QStringList{QStringLiteral("EMPTY.NC"), QStringLiteral("manual.pdf")}));
    }

    void defaultFileCopies_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("expectedName");
        QTest::addColumn<QString>("defaultFile");
        QTest::newRow("PDF") << "manual.pdf"
                             << "manual.pdf.thumb"
                             << "generic_pdf.thumb";
        QTest::newRow("NC program") << "PART1.NC"
                                    << "PART1.gif"
                                    << "undetermined_rendering.gif";
        QTest::newRow("NC program, dotted name") << "PART.V2.NC"
                                                 << "PART.V2.gif"
                                                 << "undetermined_rendering.gif";
        QTest::newRow("NC program, lower case") << "part3.nc"
                                                << "part3.gif"
                                                << "undetermined_rendering.gif";
        QTest::newRow("NC program, no suffix") << "O1000"
                                               << "O1000.gif"
                                               << "undetermined_rendering.gif";
    }

    void defaultFileCopies()
    {
        QFETCH(QString, source);
        QFETCH(QString, expectedName);
        QFETCH(QString, defaultFile);
        const QString defaults = TestUtils::MakeDir(Path(QStringLiteral("defaults")));
        QVERIFY(QFile::copy(QStringLiteral(PM_SOURCE_DIR "/data/") + defaultFile, defaults + u'/' + defaultFile));
        qputenv("PACKAGEMANAGER_DEFAULTS_DIR", QFile::encodeName(defaults));
        const QString package = TestUtils::MakeDir(Path(QStringLiteral("P.pkg")));
        QVERIFY(TestUtils::WriteFile(package + u'/' + source, "content"));

        const bool pdf = source.endsWith(QLatin1String(".pdf"));
        const QFileInfo item(package + u'/' + source);
        QCOMPARE(pdf ? GeneratePdfThumbnail(item) : GenerateUndeterminedRendering(item), expectedName);
        QCOMPARE(TestUtils::ReadFile(package + u'/' + expectedName),
                 TestUtils::ReadFile(defaults + u'/' + defaultFile));
        QCOMPARE(QDir(package).entryList(QDir::Files | QDir::Hidden).size(), 2);

        // Without the default file there is nothing to copy.
        QVERIFY(QFile::remove(package + u'/' + expectedName));
        QVERIFY(QFile::remove(defaults + u'/' + defaultFile));
        QVERIFY((pdf ? GeneratePdfThumbnail(item) : GenerateUndeterminedRendering(item)).isNull());
        QVERIFY(!QFile::exists(package + u'/' + expectedName));
        qunsetenv("PACKAGEMANAGER_DEFAULTS_DIR");
    }

    void shippedDefaultsAreReadable()
    {
        QCOMPARE(ReadThumbnail(QStringLiteral(PM_SOURCE_DIR "/data/generic_pdf.thumb")).size(), QSize(110, 110));
        QImageReader gif(QStringLiteral(PM_SOURCE_DIR "/data/undetermined_rendering.gif"));
        QCOMPARE(gif.format(), QByteArray("gif"));
        QVERIFY(!gif.read().isNull());
    }

    void overviewReplacement()
    {
        const QString root = dir->path();
        const QString package = TestUtils::MakeDir(Path(QStringLiteral("PART.pkg")));
        const QString placeholder = root + QLatin1String("/undetermined_rendering.gif");
        QVERIFY(QFile::copy(QStringLiteral(PM_SOURCE_DIR "/data/undetermined_rendering.gif"), placeholder));
        const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-30);
        QVERIFY(TestUtils::SetModTime(placeholder, old));
        const QString overview = package + QLatin1String("/PART.gif");
        QVERIFY(TestUtils::WriteFile(overview, QByteArray()));

        const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-2);
        QVERIFY(ReplaceWithUndeterminedRendering(QFileInfo(overview)));
        QCOMPARE(TestUtils::ReadFile(overview), TestUtils::ReadFile(placeholder));
        QVERIFY(QFileInfo(overview).lastModified() >= before);
        QCOMPARE(GetParentOfFileDir(QFileInfo(overview)).absolutePath(), QDir(root).absolutePath());

        // Without the packages root's placeholder an empty overview is left behind.
        QVERIFY(QFile::remove(placeholder));
        QVERIFY(QFile::remove(overview));
        QVERIFY(ReplaceWithUndeterminedRendering(QFileInfo(overview)));
        QCOMPARE(QFileInfo(overview).size(), 0);
    }

    void touchKeepsContent()
    {
        const QString file = Path(QStringLiteral("f.txt"));
        QVERIFY(TestUtils::WriteFile(file, "abc"));
        QVERIFY(TestUtils::SetModTime(file, QDateTime::currentDateTimeUtc().addDays(-1)));
        QVERIFY(TouchFile(QFileInfo(file)));
        QCOMPARE(TestUtils::ReadFile(file), QByteArray("abc"));
        QVERIFY(QFileInfo(file).lastModified() > QDateTime::currentDateTimeUtc().addSecs(-60));
        QVERIFY(!TouchFile(QFileInfo(Path(QStringLiteral("no/such/folder/f")))));
    }
};

QTEST_GUILESS_MAIN(tst_Thumbnails)
#include "tst_thumbnails.moc"
