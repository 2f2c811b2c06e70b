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
    void namesMatchByUpperCase_data();
    void namesMatchByUpperCase();
    void resolvesPathsWhateverTheirCase_data();
    void resolvesPathsWhateverTheirCase();
    void plainFileNames_data();
    void plainFileNames();
    void copyKeepsTimeAndNeverOverwrites();
    void atomicWrite_data();
    void atomicWrite();
    void ownTemporaryFiles();
};

void tst_Platform::namesMatchByUpperCase_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("same");
    QTest::addColumn<int>("prefixOfB"); // characters of b that match a, or -1
    QTest::newRow("ASCII") << "Prog.nc"
                           << "PROG.NC" << true << 7;
    QTest::newRow("ASCII, other name") << "PROG1.NC"
                                       << "PROG.NC" << false << -1;
    QTest::newRow("ASCII prefix") << "PROG"
                                  << "prog.nc" << false << 4;
    QTest::newRow("sharp s") << "GRÖSSE"
                             << "Größe" << true << 5;
    QTest::newRow("sharp s before a suffix") << "GRÖSSE"
                                             << "Größe.NC" << false << 5;
    QTest::newRow("sharp s is not one S") << "GRÖSE"
                                          << "Größe" << false << -1;
    QTest::newRow("dotless i") << "KILIÇ"
                               << "kılıç" << true << 5;
    QTest::newRow("dotted capital I is not I") << "IZMIR"
                                               << "İzmir" << false << -1;
    QTest::newRow("dotted capital I") << "İZMIR"
                                      << "İzmir" << true << 5;
    QTest::newRow("ligature") << "FLANGE.CNV"
                              << "ﬂange.cnv" << true << 9;
    QTest::newRow("empty") << QString() << "x" << false << 0;
}

void tst_Platform::namesMatchByUpperCase()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, same);
    QFETCH(int, prefixOfB);
    QCOMPARE(Platform::SameNameNoCase(a, b), same);
    QCOMPARE(Platform::SameNameNoCase(b, a), same);
    // The identifier's own rule: the folded names are what it stores.
    QCOMPARE(Platform::FoldedName(a) == Platform::FoldedName(b), same);
    QCOMPARE(Platform::PrefixLengthNoCase(b, a), qsizetype(prefixOfB));
}

void tst_Platform::resolvesPathsWhateverTheirCase_data()
{
    QTest::addColumn<QStringList>("folders"); // made below the temporary folder
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QString>("resolved"); // empty: none
    QTest::addColumn<bool>("ambiguous");
    QTest::newRow("as written") << QStringList{"Srv/Jobs/Plate"} << "Srv/Jobs/Plate"
                                << "Srv/Jobs/Plate" << false;
    QTest::newRow("upper case") << QStringList{"Srv/Jobs/Plate"} << "SRV/JOBS/PLATE"
                                << "Srv/Jobs/Plate" << false;
    QTest::newRow("missing") << QStringList{"Srv"} << "SRV/NOPE" << QString() << false;
    QTest::newRow("sharp s") << QStringList{"Maße"} << "MASSE"
                             << "Maße" << false;
    QTest::newRow("dotless i") << QStringList{"Kılıç"} << "KILIÇ"
                               << "Kılıç" << false;
    QTest::newRow("ligature") << QStringList{"ﬁles"} << "FILES"
                              << "ﬁles" << false;
    QTest::newRow("twins, one exact") << QStringList{"Parts", "PARTS"} << "PARTS"
                                      << "PARTS" << false;
    QTest::newRow("twins, neither exact") << QStringList{"Parts", "PARTS"} << "parts" << QString() << true;
    QTest::newRow("twins below") << QStringList{"A/Mill", "A/mill"} << "a/MILL" << QString() << true;
}

void tst_Platform::resolvesPathsWhateverTheirCase()
{
    QFETCH(QStringList, folders);
    QFETCH(QString, asked);
    QFETCH(QString, resolved);
    QFETCH(bool, ambiguous);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    for (const QString &folder : folders)
        MakeDir(dir.path() + u'/' + folder);
    const QString path = dir.path() + u'/' + asked;
    QCOMPARE(Platform::ResolvePathNoCase(path), resolved.isEmpty() ? QString() : dir.path() + u'/' + resolved);
    QCOMPARE(Platform::IsAmbiguousNoCase(path), ambiguous);
    // The last component as an entry of its folder: exact first, else any spelling.
    const QString parent = QFileInfo(dir.path() + u'/' + folders.first()).absolutePath();
    const QString last = QFileInfo(asked).fileName();
    QCOMPARE(Platform::FindEntryNoCase(parent, last).isEmpty(), resolved.isEmpty() && !ambiguous);
    QVERIFY(Platform::FindEntryNoCase(parent, QString()).isEmpty());
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

QTEST_GUILESS_MAIN(tst_Platform)
#include "tst_platform.moc"
