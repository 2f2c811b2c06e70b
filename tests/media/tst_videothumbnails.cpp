#include "TestUtils.h"
#include "cPackage.h"
#include "cPackageManager.h"
#include "media/Thumbnails.h"
#include "media/ffmpegInterface.h"

#include <QElapsedTimer>
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

using TestUtils::Entries;

class tst_VideoThumbnails : public QObject
{
    Q_OBJECT

    QTemporaryDir root;
    QString dir, tempFolder;
    QString packages, parts; // with PLATE_7.NC, for the tests through the registry

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
};

QTEST_GUILESS_MAIN(tst_VideoThumbnails)
#include "tst_videothumbnails.moc"
