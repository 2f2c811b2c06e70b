#include "TestUtils.h"
#include "platform/AtomicFile.h"
#include "platform/PlatformFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace TestUtils;
using namespace Qt::StringLiterals;

class tst_Platform : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void resolvesFoldersWhateverTheirCase();
    void prefersTheExactEntryAndRefusesAmbiguity();
    void findsEntriesWithoutRegardToCase();
    void plainFileNames_data();
    void plainFileNames();
    void copyKeepsTimeAndNeverOverwrites();
    void atomicWrite_data();
    void atomicWrite();
    void ownTemporaryFiles();
    void fixedFoldersComeFromTheEnvironment();
};

void tst_Platform::resolvesFoldersWhateverTheirCase()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString real = MakeDir(dir.path() + QLatin1String("/Srv/Jobs/Plate"));
    const QString upper = dir.path() + QLatin1String("/SRV/JOBS/PLATE");
    QCOMPARE(Platform::ResolvePathNoCase(upper), real);
    QCOMPARE(Platform::ResolvePathNoCase(real), real);
    QVERIFY(Platform::ResolvePathNoCase(dir.path() + QLatin1String("/SRV/NOPE")).isEmpty());
    QVERIFY(Platform::ResolvePathNoCase(QStringLiteral("relative/path")).isEmpty());
}

void tst_Platform::prefersTheExactEntryAndRefusesAmbiguity()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    MakeDir(dir.path() + QLatin1String("/Parts"));
    MakeDir(dir.path() + QLatin1String("/PARTS"));
    // Two entries that differ only in case: the one written exactly wins...
    QCOMPARE(Platform::ResolvePathNoCase(dir.path() + QLatin1String("/PARTS")), dir.path() + QLatin1String("/PARTS"));
    QCOMPARE(Platform::ResolvePathNoCase(dir.path() + QLatin1String("/Parts")), dir.path() + QLatin1String("/Parts"));
    // ...and a third spelling cannot tell them apart.
    QVERIFY(Platform::ResolvePathNoCase(dir.path() + QLatin1String("/parts")).isEmpty());
}

void tst_Platform::findsEntriesWithoutRegardToCase()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    QVERIFY(WriteFile(dir.path() + QLatin1String("/PROG.CNV"), "N1\nN2\n"));
    QCOMPARE(Platform::FindEntryNoCase(dir.path(), QStringLiteral("prog.cnv")), QStringLiteral("PROG.CNV"));
    QCOMPARE(Platform::FindEntryNoCase(dir.path(), QStringLiteral("PROG.CNV")), QStringLiteral("PROG.CNV"));
    QVERIFY(Platform::FindEntryNoCase(dir.path(), QStringLiteral("PROG.NC")).isEmpty());
    QVERIFY(Platform::FindEntryNoCase(dir.path(), QString()).isEmpty());
}

void tst_Platform::plainFileNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("plain");
    QTest::newRow("ordinary") << QStringLiteral("notes.txt") << true;
    QTest::newRow("with blanks and marks") << QStringLiteral("A!,B^C d.nc") << true;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("dot") << QStringLiteral(".") << false;
    QTest::newRow("dot dot") << QStringLiteral("..") << false;
    QTest::newRow("slash") << QStringLiteral("../x.txt") << false;
    QTest::newRow("backslash") << QStringLiteral("..\\x.txt") << false;
    QTest::newRow("absolute") << QStringLiteral("/etc/passwd") << false;
}

void tst_Platform::plainFileNames()
{
    QFETCH(QString, name);
    QFETCH(bool, plain);
    QCOMPARE(Platform::IsPlainFileName(name), plain);
}

void tst_Platform::copyKeepsTimeAndNeverOverwrites()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString source = dir.path() + QLatin1String("/src/PROG.NC");
    const QString destination = dir.path() + QLatin1String("/dst/PROG.NC");
    QVERIFY(WriteFile(source, MillingProgram(QStringLiteral("PROG"))));
    MakeDir(dir.path() + QLatin1String("/dst"));
    const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-3).addMSecs(-123);
    QVERIFY(SetModTime(source, old));

    QVERIFY(Platform::CopyFileKeepTime(source, destination));
    QCOMPARE(ReadFile(destination), ReadFile(source));
    QCOMPARE(QFileInfo(destination).lastModified(), QFileInfo(source).lastModified());

    // A second copy must not replace the file, and leaves no temporary file behind.
    QVERIFY(WriteFile(destination, "changed"));
    QVERIFY(!Platform::CopyFileKeepTime(source, destination));
    QCOMPARE(ReadFile(destination), QByteArray("changed"));
    const QStringList left =
        QDir(dir.path() + QLatin1String("/dst")).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    QCOMPARE(left, QStringList{QStringLiteral("PROG.NC")});

    QVERIFY(!Platform::CopyFileKeepTime(dir.path() + QLatin1String("/missing"), dir.path() + QLatin1String("/x")));
    QVERIFY(!QFile::exists(dir.path() + QLatin1String("/x")));
}

void tst_Platform::atomicWrite_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<bool>("written");
    QTest::newRow("new bytes") << u"new"_s << true << true;
    QTest::newRow("equal bytes are not written again") << u"equal"_s << true << false;
    QTest::newRow("a link is replaced, never written through") << u"link"_s << true << true;
    QTest::newRow("missing folder") << u"no folder"_s << false << false;
    QTest::newRow("write smaller than a buffer fails") << u"size limit"_s << false << false;
}

void tst_Platform::atomicWrite()
{
    QFETCH(QString, situation);
    QFETCH(bool, succeeds);
    QFETCH(bool, written);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString folder = MakeDir(dir.path() + u"/pkg"_s);
    QString path = folder + u"/page.html"_s;
    const QByteArray old = "<p>old</p>";
    const QByteArray bytes = situation == u"equal"_s ? old : QByteArray("<p>") + QByteArray(300, 'n') + "</p>";
    QVERIFY(WriteFile(path, old));
    const QDateTime oldTime = QDateTime::currentDateTime().addSecs(-100);
    QVERIFY(SetModTime(path, oldTime));
    const QString outside = dir.path() + u"/outside.html"_s;
    if (situation == u"link"_s)
        QVERIFY(WriteFile(outside, old) && QFile::remove(path) && QFile::link(outside, path));
    if (situation == u"no folder"_s)
        path = dir.path() + u"/none/page.html"_s;

    bool wasWritten = !written;
    bool ok = false;
    if (situation == u"size limit"_s) {
        // As a full disk would: the write fails, not the process.
        struct rlimit saved;
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const auto previous = ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {64, saved.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        ok = Platform::WriteFileAtomically(path, bytes, &wasWritten);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::signal(SIGXFSZ, previous);
    } else {
        ok = Platform::WriteFileAtomically(path, bytes, &wasWritten);
    }
    QCOMPARE(ok, succeeds);
    QCOMPARE(wasWritten, written);
    if (situation != u"no folder"_s)
        QCOMPARE(ReadFile(path), succeeds ? bytes : old);
    if (situation == u"equal"_s)
        QCOMPARE(QFileInfo(path).lastModified().toSecsSinceEpoch(), oldTime.toSecsSinceEpoch());
    if (situation == u"link"_s)
        QVERIFY(!QFileInfo(path).isSymLink() && ReadFile(outside) == old);
    // Nothing but the page is left in the folder.
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList{u"page.html"_s});
}

void tst_Platform::ownTemporaryFiles()
{
    for (const char *name : {".page.html.aZ09xy.pmtmp", ".PLATE.NC.abcdef.pmtmp"})
        QVERIFY2(Platform::IsOwnTemporaryName(QString::fromLatin1(name)), name);
    for (const char *name : {"page.html.aZ09xy.pmtmp", ".page.html.aZ0-xy.pmtmp", ".page.html.aZ09x.pmtmp",
                             ".package.lock", ".x.pmtmp", ".page.html.aZ09xy.tmp"})
        QVERIFY2(!Platform::IsOwnTemporaryName(QString::fromLatin1(name)), name);
    QVERIFY(Platform::IsOwnTemporaryName(QFileInfo(Platform::OwnTemporaryPathFor(u"/a/b/manifest.xml"_s)).fileName()));

    // A clean-up removes our old temporaries only: no fresh one (a write under way), no file of
    // another name, nothing through a link.
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString folder = MakeDir(dir.path() + u"/pkg"_s);
    const QString outside = MakeDir(dir.path() + u"/outside"_s) + u"/.x.abcdef.pmtmp"_s;
    const QDateTime old = QDateTime::currentDateTime().addSecs(-7200);
    for (const QString &name : {u".a.abcdef.pmtmp"_s, u".b.ghijkl.pmtmp"_s, u".c.lock"_s, u"d.txt"_s})
        QVERIFY(WriteFile(folder + u'/' + name, "x") && SetModTime(folder + u'/' + name, old));
    QVERIFY(WriteFile(folder + u"/.fresh.abcdef.pmtmp"_s, "x"));
    QVERIFY(WriteFile(outside, "x") && SetModTime(outside, old));
    QVERIFY(QFile::link(outside, folder + u"/.link.abcdef.pmtmp"_s));
    QCOMPARE(Platform::RemoveStaleTemporaryFiles(folder, 3600), 2);
    QStringList left = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    left.sort();
    QCOMPARE(left, (QStringList{u".c.lock"_s, u".fresh.abcdef.pmtmp"_s, u".link.abcdef.pmtmp"_s, u"d.txt"_s}));
    QVERIFY(QFileInfo::exists(outside));
}

void tst_Platform::fixedFoldersComeFromTheEnvironment()
{
    const QByteArray savedTemp = qgetenv("PACKAGEMANAGER_TEMP_DIR");
    const QByteArray savedTool = qgetenv("PACKAGEMANAGER_FFMPEG");
    qputenv("PACKAGEMANAGER_TEMP_DIR", "/tmp/elsewhere");
    qputenv("PACKAGEMANAGER_FFMPEG", "/opt/tool");
    QCOMPARE(Platform::TempDir(), QStringLiteral("/tmp/elsewhere"));
    QCOMPARE(Platform::FfmpegProgram(), QStringLiteral("/opt/tool"));
    qunsetenv("PACKAGEMANAGER_TEMP_DIR");
    qunsetenv("PACKAGEMANAGER_FFMPEG");
    QCOMPARE(Platform::TempDir(), QDir::tempPath() + QLatin1String("/TempQuarvington"));
    QCOMPARE(Platform::FfmpegProgram(), QStringLiteral("ffmpeg"));
    // The tests point the defaults folder at the project's data/.
    QVERIFY(QFile::exists(Platform::DefaultsDir()));
    if (!savedTemp.isEmpty())
        qputenv("PACKAGEMANAGER_TEMP_DIR", savedTemp);
    if (!savedTool.isEmpty())
        qputenv("PACKAGEMANAGER_FFMPEG", savedTool);
}

QTEST_GUILESS_MAIN(tst_Platform)
#include "tst_platform.moc"
