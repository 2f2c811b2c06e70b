#include "TestUtils.h"
#include "cPackage.h"
#include "media/Thumbnails.h"
#include "media/ffmpegInterface.h"

#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <signal.h>
#endif

struct ffmpegInterfaceTestAccess
{
    static QStringList &Queue(ffmpegInterface &converter) { return converter.commandQueue; }
};

struct cPackageTestAccess
{
    static bool UpdateThumbs(const QString &packageFolder)
    {
        cPackage package{QFileInfo(packageFolder), QFileInfo()};
        return package.UpdatePackageThumbs();
    }
};

namespace {

QString Helper(const char *name)
{
    return QStringLiteral(PM_TEST_HELPER_DIR "/") + QLatin1String(name);
}

QStringList Entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class tst_VideoThumbnails : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir cache;
    QString clip; // a 3-second video with a key frame every second
    std::unique_ptr<QTemporaryDir> dir;
    QString tempFolder;

    QString Path(const QString &name) const { return dir->filePath(name); }

    QString PackageWithVideo(const QString &package, const QString &videoName)
    {
        const QString folder = TestUtils::MakeDir(Path(package));
        if (!clip.isEmpty())
            QFile::copy(clip, folder + u'/' + videoName);
        else
            TestUtils::WriteFile(folder + u'/' + videoName, "not a video");
        return folder;
    }

    static void VerifyGifThumbnail(const QString &path)
    {
        QImageReader reader(path);
        reader.setDecideFormatFromContent(true);
        QCOMPARE(reader.format(), QByteArray("gif"));
        QCOMPARE(reader.size(), QSize(110, 110));
        QVERIFY(reader.supportsAnimation());
        QCOMPARE(reader.imageCount(), 3);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(cache.isValid(), qPrintable(cache.errorString()));
        const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
        if (ffmpeg.isEmpty())
            return;
        const QString path = cache.filePath(QStringLiteral("clip.mp4"));
        QProcess make;
        make.setStandardInputFile(QProcess::nullDevice());
        make.start(ffmpeg,
                   {QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                    QStringLiteral("-i"), QStringLiteral("testsrc=duration=3:size=320x240:rate=10"),
                    QStringLiteral("-g"), QStringLiteral("10"), QStringLiteral("-keyint_min"), QStringLiteral("10"),
                    QStringLiteral("-sc_threshold"), QStringLiteral("0"), QStringLiteral("-pix_fmt"),
                    QStringLiteral("yuv420p"), path});
        QVERIFY(make.waitForFinished(120000));
        QCOMPARE(make.exitCode(), 0);
        clip = path;
    }

    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY2(dir->isValid(), qPrintable(dir->errorString()));
        tempFolder = Path(QStringLiteral("TempQuarvington"));
        qputenv("PACKAGEMANAGER_TEMP_DIR", QFile::encodeName(tempFolder));
        qunsetenv("PACKAGEMANAGER_FFMPEG");
    }

    void commands_data()
    {
        QTest::addColumn<QString>("video");
        QTest::addColumn<QString>("thumbnail");
        QTest::addColumn<QString>("temp");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("clip") << "/p/clip.pkg/clip.mp4"
                              << "/p/clip.pkg/clip.gif.thumb"
                              << "/t/TempQ"
                              << QStringList{
                                     "copy|/p/clip.pkg/clip.mp4|/t/TempQ/clip.mp4",
                                     "ffmpeg.exe|-i \"/t/TempQ/clip.mp4\"|-vf \"select='eq(pict_type,PICT_TYPE_I)'\"|"
                                     "-vsync vfr|\"/t/TempQ/clip%02d.png\"",
                                     "ffmpeg.exe|-framerate 2|-i \"/t/TempQ/clip%02d.png\"|-vf scale=110:110|"
                                     "\"/t/TempQ/clip.gif\"",
                                     "move|/t/TempQ/clip.gif|/p/clip.pkg/clip.gif.thumb",
                                     "completionFlag|clip",
                                 };
        QTest::newRow("dotted thumbnail name")
            << "/p/a.b.mp4"
            << "/p/a.b.gif.thumb"
            << "/t"
            << QStringList{
                   "copy|/p/a.b.mp4|/t/a.b.mp4",
                   "ffmpeg.exe|-i \"/t/a.b.mp4\"|-vf "
                   "\"select='eq(pict_type,PICT_TYPE_I)'\"|-vsync vfr|\"/t/a%02d.png\"",
                   "ffmpeg.exe|-framerate 2|-i \"/t/a%02d.png\"|-vf "
                   "scale=110:110|\"/t/a.gif\"",
                   "move|/t/a.gif|/p/a.b.gif.thumb",
                   "completionFlag|a",
               };
        // A "%" in a name is literal in the frame pattern.
        QTest::newRow("percent")
            << "/p/50%.mp4"
            << "/p/50%.gif.thumb"
            << "/t"
            << QStringList{
                   "copy|/p/50%.mp4|/t/50%.mp4",
                   "ffmpeg.exe|-i \"/t/50%.mp4\"|-vf \"select='eq(pict_type,PICT_TYPE_I)'\"|-vsync "
                   "vfr|\"/t/50%%%02d.png\"",
                   "ffmpeg.exe|-framerate 2|-i \"/t/50%%%02d.png\"|-vf scale=110:110|\"/t/50%.gif\"",
                   "move|/t/50%.gif|/p/50%.gif.thumb",
                   "completionFlag|50%",
               };
    }

    void commands()
    {
        QFETCH(QString, video);
        QFETCH(QString, thumbnail);
        QFETCH(QString, temp);
        QTEST(ffmpegInterface::VideoThumbnailCommands(QFileInfo(video), QFileInfo(thumbnail), temp), "expected");
    }

    void folderLifecycleAndOddEntries()
    {
        const QString work = tempFolder + QLatin1String("/work");
        {
            ffmpegInterface converter{QDir(work)};
            QVERIFY(QFileInfo(work).isDir());
            QSignalSpy done(&converter, &ffmpegInterface::VideoThumbnailGenerationComplete);

            converter.ProcessNextCommand(0, QProcess::NormalExit);
            QCOMPARE(done.count(), 0);

            // "copy" with two fields is no copy step: the request ends as failed.
            QVERIFY(TestUtils::WriteFile(work + QLatin1String("/stray.png"), "x"));
            QVERIFY(TestUtils::MakeDir(work + QLatin1String("/sub")).size() > 0);
            ffmpegInterfaceTestAccess::Queue(converter) << QStringLiteral("copy|only");
            converter.ProcessNextCommand(0, QProcess::NormalExit);
            QCOMPARE(done.count(), 1);
            QCOMPARE(done.at(0).at(0).toString(), QString());
            QCOMPARE(done.at(0).at(1).toBool(), false);
            QCOMPARE(Entries(work), QStringList{QStringLiteral("sub")});
            QVERIFY(QDir(work).rmdir(QStringLiteral("sub")));
        }
        QVERIFY(!QFileInfo::exists(work));
    }

    void realVideo()
    {
        if (clip.isEmpty())
            QSKIP("ffmpeg is not installed");
        const QString package = PackageWithVideo(QStringLiteral("CLIP.pkg"), QStringLiteral("clip.mp4"));
        const QString thumbnail = package + QLatin1String("/clip.gif.thumb");
        const QString work = tempFolder + QLatin1String("/work");
        {
            ffmpegInterface converter{QDir(work)};
            QSignalSpy done(&converter, &ffmpegInterface::VideoThumbnailGenerationComplete);
            converter.StartVideoThumbnailGeneration(QFileInfo(package + QLatin1String("/clip.mp4")),
                                                    QFileInfo(thumbnail));
            // The whole chain has run when the call returns.
            QCOMPARE(done.count(), 1);
            QCOMPARE(done.at(0).at(0).toString(), QStringLiteral("clip"));
            QCOMPARE(done.at(0).at(1).toBool(), true);
            QVERIFY(Entries(work).isEmpty());
        }
        VerifyGifThumbnail(thumbnail);
        QCOMPARE(Entries(tempFolder), QStringList());
        QCOMPARE(Entries(package), (QStringList{QStringLiteral("clip.gif.thumb"), QStringLiteral("clip.mp4")}));
    }

    void packageScanMakesVideoThumbnails()
    {
        if (clip.isEmpty())
            QSKIP("ffmpeg is not installed");
        const QString package = PackageWithVideo(QStringLiteral("CLIP.pkg"), QStringLiteral("clip.MP4"));
        QFile::copy(clip, package + QLatin1String("/a.b.mp4"));
        QVERIFY(cPackageTestAccess::UpdateThumbs(package));
        VerifyGifThumbnail(package + QLatin1String("/clip.gif.thumb"));
        VerifyGifThumbnail(package + QLatin1String("/a.b.gif.thumb"));
        QCOMPARE(Entries(tempFolder), QStringList());

        // The manifest's helper names it the same way, so no second thumbnail appears.
        QVERIFY(QFile::remove(package + QLatin1String("/a.b.gif.thumb")));
        QCOMPARE(GenerateVideoThumbnail(QFileInfo(package + QLatin1String("/a.b.mp4"))),
                 QStringLiteral("a.b.gif.thumb"));
        QCOMPARE(Entries(package), (QStringList{QStringLiteral("a.b.gif.thumb"), QStringLiteral("a.b.mp4"),
                                                QStringLiteral("clip.MP4"), QStringLiteral("clip.gif.thumb")}));
    }

    void twoThreadsAtOnce()
    {
        if (clip.isEmpty())
            QSKIP("ffmpeg is not installed");
        // Same video name in both: the requests must not meet in the temporary folder.
        const QString first = PackageWithVideo(QStringLiteral("ONE.pkg"), QStringLiteral("clip.mp4"));
        const QString second = PackageWithVideo(QStringLiteral("TWO.pkg"), QStringLiteral("clip.mp4"));
        bool results[2] = {false, false};
        const QString folders[2] = {first, second};
        std::unique_ptr<QThread> threads[2];
        for (int i = 0; i < 2; ++i) {
            threads[i].reset(QThread::create([&results, &folders, i] {
                results[i] = UpdateVideoThumbnail(QFileInfo(folders[i] + QLatin1String("/clip.mp4")),
                                                  QFileInfo(folders[i] + QLatin1String("/clip.gif.thumb")));
            }));
            threads[i]->start();
        }
        for (auto &thread : threads)
            QVERIFY(thread->wait(120000));
        QVERIFY(results[0]);
        QVERIFY(results[1]);
        VerifyGifThumbnail(first + QLatin1String("/clip.gif.thumb"));
        VerifyGifThumbnail(second + QLatin1String("/clip.gif.thumb"));
        QCOMPARE(Entries(tempFolder), QStringList());
    }

    void toolFails_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("missing") << Path(QStringLiteral("no-such-ffmpeg"));
        QTest::newRow("exits non-zero") << Helper("ffmpeg_fails");
    }

    void toolFails()
    {
        QFETCH(QString, program);
        qputenv("PACKAGEMANAGER_FFMPEG", QFile::encodeName(program));
        const QString package = PackageWithVideo(QStringLiteral("CLIP.pkg"), QStringLiteral("clip.mp4"));
        const QString thumbnail = package + QLatin1String("/clip.gif.thumb");
        QVERIFY(TestUtils::WriteFile(thumbnail, "old"));

        QVERIFY(!UpdateVideoThumbnail(QFileInfo(package + QLatin1String("/clip.mp4")), QFileInfo(thumbnail)));
        QCOMPARE(Entries(package), QStringList{QStringLiteral("clip.mp4")});
        QCOMPARE(Entries(tempFolder), QStringList());
        QVERIFY(GenerateVideoThumbnail(QFileInfo(package + QLatin1String("/clip.mp4"))).isNull());

        const QString work = tempFolder + QLatin1String("/work");
        ffmpegInterface converter{QDir(work)};
        QSignalSpy done(&converter, &ffmpegInterface::VideoThumbnailGenerationComplete);
        converter.StartVideoThumbnailGeneration(QFileInfo(package + QLatin1String("/clip.mp4")), QFileInfo(thumbnail));
        QCOMPARE(done.count(), 1);
        QCOMPARE(done.at(0).at(0).toString(), QStringLiteral("clip"));
        QCOMPARE(done.at(0).at(1).toBool(), false);
        QVERIFY(ffmpegInterfaceTestAccess::Queue(converter).isEmpty());
        QVERIFY(Entries(work).isEmpty());
    }

    // A run that outlasts the wait is stopped; the request ends failed, nothing is left.
    void hangingToolIsStopped()
    {
        qputenv("PACKAGEMANAGER_FFMPEG", QFile::encodeName(Helper("ffmpeg_hangs")));
        const QString pidFile = Path(QStringLiteral("hang.pid"));
        qputenv("PM_HANG_PID_FILE", QFile::encodeName(pidFile));
        const QString package = PackageWithVideo(QStringLiteral("CLIP.pkg"), QStringLiteral("clip.mp4"));
        const QString work = tempFolder + QLatin1String("/work");
        {
            ffmpegInterface converter{QDir(work)};
            converter.SetRunTimeout(1000);
            QSignalSpy done(&converter, &ffmpegInterface::VideoThumbnailGenerationComplete);
            converter.StartVideoThumbnailGeneration(QFileInfo(package + QLatin1String("/clip.mp4")),
                                                    QFileInfo(package + QLatin1String("/clip.gif.thumb")));
            QCOMPARE(done.count(), 1);
            QCOMPARE(done.at(0).at(1).toBool(), false);
            QVERIFY(ffmpegInterfaceTestAccess::Queue(converter).isEmpty());
            QVERIFY(Entries(work).isEmpty());
        }
        qunsetenv("PM_HANG_PID_FILE");
        QCOMPARE(Entries(package), QStringList{QStringLiteral("clip.mp4")});
        QCOMPARE(Entries(tempFolder), QStringList());
#ifdef Q_OS_UNIX
        const qint64 pid = TestUtils::ReadFile(pidFile).toLongLong();
        QVERIFY(pid > 0);
        // Killed and reaped: no such process any more.
        QCOMPARE(::kill(pid_t(pid), 0), -1);
        QCOMPARE(errno, ESRCH);
#endif
    }
};

QTEST_GUILESS_MAIN(tst_VideoThumbnails)
#include "tst_videothumbnails.moc"
