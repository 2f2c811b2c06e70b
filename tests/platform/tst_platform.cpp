#include "TestUtils.h"
#include "platform/PlatformFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace TestUtils;

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
    void atomicWriteSkipsEqualBytes();
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

void tst_Platform::atomicWriteSkipsEqualBytes()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.path() + QLatin1String("/page.html");
    bool written = false;
    QVERIFY(Platform::WriteFileAtomically(path, "<p>one</p>", &written));
    QVERIFY(written);
    const QDateTime old = QDateTime::currentDateTime().addSecs(-100);
    QVERIFY(SetModTime(path, old));

    QVERIFY(Platform::WriteFileAtomically(path, "<p>one</p>", &written));
    QVERIFY(!written);
    QCOMPARE(QFileInfo(path).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());

    QVERIFY(Platform::WriteFileAtomically(path, "<p>two</p>", &written));
    QVERIFY(written);
    QCOMPARE(ReadFile(path), QByteArray("<p>two</p>"));

    // A folder that does not exist cannot be written: reported, nothing made.
    QVERIFY(!Platform::WriteFileAtomically(dir.path() + QLatin1String("/none/page.html"), "x"));
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
