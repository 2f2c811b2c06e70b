#include "TestUtils.h"
#include "cPackage.h"
#include "cPackageManager.h"
#include "media/ExifReader.h"
#include "media/Thumbnails.h"
#include "media/ffmpegInterface.h"
#include "platform/PlatformFiles.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QImageReader>
#include <QLoggingCategory>
#include <QPainter>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <signal.h>

using TestUtils::Entries;

namespace {

// A TIFF block laid out by the test: header pointing at a directory at offset 8, then
// directories and data at chosen offsets, numbers in the block's byte order.
struct TiffBlock
{
    explicit TiffBlock(bool bigEndian)
        : bigEndian(bigEndian), bytes((bigEndian ? "MM" : "II") + Number(42, 2) + Number(8, 4))
    {}
    QByteArray Number(quint32 value, int size) const
    {
        QByteArray out(size, '\0');
        for (int i = 0; i < size; ++i)
            out[bigEndian ? size - 1 - i : i] = char(value >> (8 * i));
        return out;
    }
    // A 12-byte directory entry; `field` is padded to its 4 bytes.
    QByteArray Entry(quint16 tag, quint16 type, quint32 n, const QByteArray &field) const
    {
        return Number(tag, 2) + Number(type, 2) + Number(n, 4) + field.leftJustified(4, '\0', true);
    }
    QByteArray Short(quint16 tag, quint16 value) const { return Entry(tag, 3, 1, Number(value, 2)); }
    QByteArray At(quint16 tag, quint16 type, quint32 n, quint32 at) const { return Entry(tag, type, n, Number(at, 4)); }
    void Directory(int at, const QList<QByteArray> &entries, quint32 next = 0)
    {
        Put(at, Number(quint32(entries.size()), 2) + entries.join() + Number(next, 4));
    }
    void Put(int at, const QByteArray &data)
    {
        bytes.resize(qMax(bytes.size(), qsizetype(at + data.size())), '\0');
        bytes.replace(at, data.size(), data);
    }

    bool bigEndian;
    QByteArray bytes;
};

QByteArray BigEndian32(quint32 value)
{
    return TiffBlock(true).Number(value, 4);
}

// IFD0 holding only Orientation, stored as SHORT (type 3) or LONG (type 4).
QByteArray OrientationBlock(quint16 orientation, bool bigEndian = false, quint16 type = 3)
{
    TiffBlock block(bigEndian);
    block.Directory(8, {block.Entry(274, type, 1, block.Number(orientation, type == 3 ? 2 : 4))});
    return block.bytes;
}

// The JPEG stream with an EXIF segment around the block right after its start-of-image
// marker, after `segmentBefore` if given.
QByteArray WithExif(const QByteArray &jpeg, const QByteArray &tiffBlock, const QByteArray &segmentBefore = {})
{
    const QByteArray length = TiffBlock(true).Number(quint32(tiffBlock.size() + 8), 2);
    return jpeg.left(2) + segmentBefore + "\xFF\xE1" + length + QByteArray("Exif\0\0", 6) + tiffBlock + jpeg.mid(2);
}

QByteArray Encode(const QImage &image, const char *format = "JPEG")
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 95);
    return buffer.data();
}

// Quadrant q (0 top left, 1 top right, 2 bottom left, 3 bottom right) has the hue 30 + 90 q
// degrees, so every orientation of the picture looks different.
QImage QuadrantPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(300, 200, 220));
    QPainter painter(&image);
    for (int q = 0; q < 3; ++q)
        painter.fillRect(QRectF(q % 2 * width / 2.0, q / 2 * height / 2.0, width / 2.0, height / 2.0),
                         QColor::fromHsv(30 + 90 * q, 200, 220));
    return image;
}

// Reads a JPEG stream, or a bare TIFF block.
ExifReader ReadExif(QByteArray bytes, bool jpeg = false)
{
    ExifReader reader;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    (void)(jpeg ? reader.loadFromJpeg(&buffer) : reader.read(&buffer));
    return reader;
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

// EXIF blocks, thumbnails of pictures and videos, and the placeholder overview; the shipped
// pictures come from PACKAGEMANAGER_DEFAULTS_DIR.
class tst_Media : public QObject
{
    Q_OBJECT

    QTemporaryDir root;
    QString dir, tempFolder; // this test's (and row's) own folder
    QString packages, parts; // with PLATE_7.NC, for the tests through the registry
    QString Path(const QString &name) const { return dir + u'/' + name; }

private Q_SLOTS:
    void init()
    {
        dir = TestUtils::MakeDir(root.filePath(QString::fromLatin1(QTest::currentTestFunction()) + "/" +
                                               QString::fromLatin1(QTest::currentDataTag())));
        tempFolder = dir + "/Temp";
        qputenv("PACKAGEMANAGER_TEMP_DIR", QFile::encodeName(tempFolder));
        packages = TestUtils::MakeDir(dir + "/packages"), parts = TestUtils::MakeDir(dir + "/parts");
        QVERIFY(TestUtils::WriteFile(parts + "/PLATE_7.NC", TestUtils::MillingProgram("PLATE_7")));
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

    // Both packages hold a clip.mp4: the two requests must not meet in the temporary folder.
    void twoPackagesScannedAtOnce()
    {
        const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
        if (ffmpeg.isEmpty())
            QSKIP("ffmpeg is not installed");
        const QString clip = root.filePath(QStringLiteral("clip.mp4")); // 3 seconds, a key frame every second
        const QString make = "-nostdin -loglevel error -f lavfi -i testsrc=duration=3:size=320x240:rate=10 -g 10 "
                             "-keyint_min 10 -sc_threshold 0 " +
                             clip;
        QCOMPARE(QProcess::execute(ffmpeg, make.split(u' ')), 0);
        const QString one = TestUtils::MakeDir(dir + "/ONE.pkg"), two = TestUtils::MakeDir(dir + "/TWO.pkg");
        for (const QString &video :
             QStringList{one + "/clip.mp4", one + "/a.b.MP4", one + "/50%.mp4", two + "/clip.mp4"})
            QVERIFY(QFile::copy(clip, video));
        std::unique_ptr<QThread> thread(QThread::create([&two] { cPackageTestAccess::UpdateThumbs(two); }));
        thread->start();
        QVERIFY(cPackageTestAccess::UpdateThumbs(one));
        QVERIFY(thread->wait(120000));
        for (const QString &gif : QStringList{one + "/clip.gif.thumb", one + "/a.b.gif.thumb", one + "/50%.gif.thumb",
                                              two + "/clip.gif.thumb"}) {
            QImageReader reader(gif, "gif"); // one frame per key frame
            QVERIFY2(reader.size() == QSize(110, 110) && reader.imageCount() == 3, qPrintable(gif));
        }
        QCOMPARE(Entries(tempFolder), QStringList());
        // The manifest's helper names a thumbnail as the scan does, so no second one appears.
        QVERIFY(QFile::remove(one + "/a.b.gif.thumb"));
        QCOMPARE(GenerateVideoThumbnail(QFileInfo(one + "/a.b.MP4")), "a.b.gif.thumb");
        QCOMPARE(Entries(one),
                 (QStringList{"50%.gif.thumb", "50%.mp4", "a.b.MP4", "a.b.gif.thumb", "clip.gif.thumb", "clip.mp4"}));
    }

    void toolFails_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("videosFault"); // remembered, so the video is not tried again
        QTest::newRow("missing") << QStringLiteral("/no/such/ffmpeg") << false;
        QTest::newRow("exits non-zero") << QStringLiteral(PM_TEST_HELPER_DIR "/ffmpeg_fails") << true;
        QTest::newRow("outlasts the wait") << QStringLiteral(PM_TEST_HELPER_DIR "/ffmpeg_hangs") << true;
    }

    // The request ends as failed: no thumbnail, no stray files, no process left running.
    void toolFails()
    {
        QFETCH(QString, program);
        QFETCH(bool, videosFault);
        const bool hangs = program.endsWith(QLatin1String("hangs"));
        qputenv("PACKAGEMANAGER_FFMPEG", QFile::encodeName(program));
        qputenv("PM_HANG_PID_FILE", QFile::encodeName(dir + "/hang.pid"));
        const QString package = TestUtils::MakeDir(dir + "/CLIP.pkg"), thumb = package + "/clip.gif.thumb";
        const QFileInfo video(package + "/clip.mp4");
        QVERIFY(TestUtils::WriteFile(video.filePath(), "any video"));
        {
            ffmpegInterface converter{QDir(tempFolder + "/work")};
            converter.SetRunTimeout(1000);
            QSignalSpy done(&converter, &ffmpegInterface::VideoThumbnailGenerationComplete);
            converter.StartVideoThumbnailGeneration(video, QFileInfo(thumb));
            QCOMPARE(done.count(), 1);
            QCOMPARE(done.at(0).at(1).toBool(), false);
            QCOMPARE(converter.LastOutcome() == ffmpegInterface::Outcome::ToolFailed, videosFault);
        }
        const qint64 pid = hangs ? TestUtils::ReadFile(dir + "/hang.pid").toLongLong() : 0;
        QVERIFY(!hangs || (pid > 0 && ::kill(pid_t(pid), 0) == -1 && errno == ESRCH)); // killed and reaped
        if (hangs)
            return; // the scan's entry waits 30 s
        // Through the scan's entry a stale thumbnail goes too, and a failure of the video is kept.
        QVERIFY(TestUtils::WriteFile(thumb, "old") && !UpdateVideoThumbnail(video, QFileInfo(thumb)));
        const QStringList left = videosFault ? QStringList{".clip.mp4.nothumb", "clip.mp4"} : QStringList{"clip.mp4"};
        QCOMPARE(Entries(package), left);
        QCOMPARE(Entries(tempFolder), QStringList());
    }

    // A video the tool fails on costs one run, not one per pass, per process or per added file;
    // a changed video is tried again.
    void failedVideoNotRetried()
    {
        const QString runs = dir + "/runs";
        QVERIFY(TestUtils::WriteFile(dir + "/notes.txt", "left jaw\n"));
        qputenv("PACKAGEMANAGER_FFMPEG", PM_TEST_HELPER_DIR "/ffmpeg_fails");
        qputenv("PM_FFMPEG_RUNS_FILE", QFile::encodeName(runs));
        const auto pkgtool = [](const QStringList &arguments) { return TestUtils::Pkgtool(arguments).exitCode == 0; };
        const auto runCount = [&] { return TestUtils::ReadFile(runs).count('\n'); };
        const QStringList scan{"scan", "--root", packages, parts};
        QVERIFY(pkgtool(scan));
        const QString package = QDir(packages).entryInfoList({"*.pkg"}, QDir::Dirs).value(0).absoluteFilePath();
        QVERIFY(TestUtils::WriteFile(package + "/clip.mp4", "not a video"));

        QVERIFY(pkgtool(scan));
        const qsizetype first = runCount();
        QVERIFY(first > 0);
        QVERIFY(pkgtool(scan));
        QVERIFY(pkgtool({"add-file", "--root", packages, QFileInfo(package).completeBaseName(), dir + "/notes.txt"}));
        QCOMPARE(runCount(), first);

        QVERIFY(TestUtils::WriteFile(package + "/clip.mp4", "another video"));
        QVERIFY(pkgtool(scan));
        QCOMPARE(runCount(), 2 * first);
    }

    // The host's queries do not wait for a run of the tool; the registry going away stops it
    // at once instead of waiting it out, and an interrupted run is no failure of the video.
    void destroyingRegistryStopsTool()
    {
        qputenv("PACKAGEMANAGER_FFMPEG", PM_TEST_HELPER_DIR "/ffmpeg_hangs");
        const QString pidFile = dir + "/hang.pid";
        qputenv("PM_HANG_PID_FILE", QFile::encodeName(pidFile));
        auto registry = std::make_unique<cPackageManager>(QDir(packages));
        QSignalSpy completed(registry.get(), &cPackageManager::PackageScanCompleted);
        QVERIFY(registry->DoBackgroundScanForPackageUpdates({parts}) && completed.wait(60000));
        const QString package = QDir(packages).entryInfoList({"*.pkg"}, QDir::Dirs).value(0).absoluteFilePath();
        QVERIFY(TestUtils::WriteFile(package + "/clip.mp4", "any video"));

        QVERIFY(registry->DoBackgroundScanForPackageUpdates({parts}));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(pidFile).size() > 0, 30000);
        const qint64 pid = TestUtils::ReadFile(pidFile).toLongLong();
        // While the tool runs, the host's queries answer: the tool is still running after them.
        QElapsedTimer clock;
        clock.start();
        const QString uid = registry->CalculatePackageUID(QFileInfo(parts + "/PLATE_7.NC"));
        cPackage *held = registry->GetPackage(uid);
        QVERIFY(held && registry->GetListOfPackages(parts, cPackageManager::eAnyProgram).size() == 1);
        QVERIFY(registry->GetPackageMap(QString(), true).size() == 1 && held->HasNCProgram());
        QVERIFY(!held->GetManifestItems(Unknown).isEmpty() && !held->GetPgmLines(3, NCProgram).isEmpty());
        qInfo("host queries took %lld ms while the tool ran", qint64(clock.elapsed()));
        QVERIFY(::kill(pid_t(pid), 0) == 0 && registry->IsCurrentlyScanningForPackages());
        clock.restart();
        registry.reset();
        qInfo("registry destroyed in %lld ms", qint64(clock.elapsed()));
        QVERIFY(pid > 0 && ::kill(pid_t(pid), 0) == -1 && errno == ESRCH);
        QVERIFY(!QFileInfo::exists(package + "/.clip.mp4.nothumb"));
    }

    void orientation_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("expected");
        const QByteArray jpeg = Encode(QuadrantPicture(16, 12));
        const QByteArray xmp("\xFF\xE1\x00\x20http://ns.adobe.com/xap/1.0/\0<x/>", 34);
        QTest::newRow("little-endian") << WithExif(jpeg, OrientationBlock(6)) << 6;
        QTest::newRow("big-endian") << WithExif(jpeg, OrientationBlock(6, true)) << 6;
        QTest::newRow("LONG reads 0") << WithExif(jpeg, OrientationBlock(6, false, 4)) << 0;
        QTest::newRow("XMP before EXIF") << WithExif(jpeg, OrientationBlock(6), xmp) << 0;
        QTest::newRow("segment length 0") << QByteArray("\xFF\xD8\xFF\xE0\x00\x00\xFF\xE0\x00\x00", 10) << 0;
        QTest::newRow("file ends inside the block") << WithExif(jpeg, OrientationBlock(6)).left(24) << 0;
        // After entries of other types, one of them unsupported (SSHORT), some with their data
        // elsewhere in the block: the walk over the directory stays in step.
        for (const bool bigEndian : {false, true}) {
            TiffBlock block(bigEndian);
            block.Put(100,
                      QByteArray("\x01\x02\x03\x04\x05\0\0\0hello\0", 14) + block.Number(72, 4) + block.Number(1, 4));
            block.Directory(8, {block.Entry(6, 8, 1, block.Number(7, 2)), block.Entry(1, 1, 4, "\x09\x08\x07\x06"),
                                block.At(2, 1, 5, 100), block.Entry(3, 2, 3, "ab"), block.At(4, 2, 6, 108),
                                block.At(5, 5, 1, 114), block.Short(274, 6)});
            QTest::addRow("after other types, %s", bigEndian ? "big-endian" : "little-endian")
                << WithExif(jpeg, block.bytes) << 6;
        }
    }

    void orientation()
    {
        QFETCH(QByteArray, content);
        if (QByteArray(QTest::currentDataTag()).startsWith("after other types"))
            QTest::ignoreMessage(QtWarningMsg, "Invalid Ifd Type 8");
        QTEST(int(ReadExif(content, true).value(274).toShort()), "expected");
    }

    // Entries reaching past the block read as null; a directory cut short keeps its whole
    // entries; directories pointing back are read once. Random damage never crashes.
    void damagedBlocks()
    {
        TiffBlock block(false);
        block.Directory(8,
                        {block.At(1, 1, 5, 118), block.At(2, 4, 0xFFFFFFFFu, 8), block.At(3, 5, 0x20000000u, 8),
                         block.At(5, 7, 0xFFFFFFF0u, 0xFFFFFFF0u), block.Short(274, 6), block.At(513, 4, 1, 100),
                         block.At(514, 4, 1, 6), block.At(34665, 4, 1, 8)},
                        8);
        block.Put(119, QByteArray(1, '\0'));
        const ExifReader reader = ReadExif(block.bytes);
        QVERIFY(reader.value(1).isNull() && reader.value(2).isNull() && reader.value(3).isNull() &&
                reader.value(5).isNull());
        QCOMPARE(reader.value(274).toShort(), quint16(6));
        QCOMPARE(reader.thumbnailTags().value(274).toShort(), quint16(6));
        block.Put(8, block.Number(50, 2)); // claims 50 entries; the block ends inside the sixth
        QCOMPARE(ReadExif(block.bytes.left(8 + 2 + 5 * 12 + 4)).imageTags().keys(), QList<quint16>({1, 2, 3, 5, 274}));

        QLoggingCategory::setFilterRules(QStringLiteral("packagemanager.media.exif.warning=false"));
        QRandomGenerator random(12345);
        for (int round = 0; round < 3000; ++round) {
            QByteArray damaged = block.bytes;
            for (int i = random.bounded(1, 7); i > 0; --i)
                damaged[random.bounded(int(damaged.size()))] = char(random.bounded(256));
            (void)ReadExif(damaged.left(round % 3 ? damaged.size() : random.bounded(int(damaged.size()))));
        }
        QLoggingCategory::setFilterRules(QString());
    }
};

QTEST_GUILESS_MAIN(tst_Media)
#include "tst_media.moc"
