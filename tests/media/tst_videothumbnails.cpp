#include "TestUtils.h"
#include "cPackage.h"
#include "media/Thumbnails.h"
#include "media/ffmpegInterface.h"

#include <QImageReader>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <signal.h>

struct cPackageTestAccess
{
    static bool UpdateThumbs(const QString &dir) { return cPackage(QFileInfo(dir), QFileInfo()).UpdatePackageThumbs(); }
};

static QStringList Entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

class tst_VideoThumbnails : public QObject
{
    Q_OBJECT

    QTemporaryDir root;
    QString dir, tempFolder;

private Q_SLOTS:
    void init()
    {
        dir = TestUtils::MakeDir(root.filePath(QString::fromLatin1(QTest::currentDataTag())));
        tempFolder = dir + "/Temp";
        qputenv("PACKAGEMANAGER_TEMP_DIR", QFile::encodeName(tempFolder));
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
        QTest::newRow("missing") << QStringLiteral("/no/such/ffmpeg");
        QTest::newRow("exits non-zero") << QStringLiteral(PM_TEST_HELPER_DIR "/ffmpeg_fails");
        QTest::newRow("outlasts the wait") << QStringLiteral(PM_TEST_HELPER_DIR "/ffmpeg_hangs");
    }

    // The request ends as failed: no thumbnail, no stray files, no process left running.
    void toolFails()
    {
        QFETCH(QString, program);
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
        }
        // Through the scan's entry a stale thumbnail goes too (the 30-second wait is too long here).
        QVERIFY(hangs || (TestUtils::WriteFile(thumb, "old") && !UpdateVideoThumbnail(video, QFileInfo(thumb))));
        QCOMPARE(Entries(package), QStringList{"clip.mp4"});
        QCOMPARE(Entries(tempFolder), QStringList());
        const qint64 pid = hangs ? TestUtils::ReadFile(dir + "/hang.pid").toLongLong() : 0;
        QVERIFY(!hangs || (pid > 0 && ::kill(pid_t(pid), 0) == -1 && errno == ESRCH)); // killed and reaped
    }
};

QTEST_GUILESS_MAIN(tst_VideoThumbnails)
#include "tst_videothumbnails.moc"
