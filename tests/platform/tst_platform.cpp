#include "TestUtils.h"
#include "platform/AtomicFile.h"
#include "platform/PlatformFiles.h"

#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace TestUtils;
using namespace Qt::StringLiterals;

// Names and paths whatever their letters, copies and atomic writes, and the cheap file queries
// that a scan of every package relies on: they must tell exactly what QFileInfo and QDir would,
// and notice every change of a file.
class tst_Platform : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void namesMatchByUpperCase_data();
    void namesMatchByUpperCase();
    void resolvesPathsWhateverTheirCase_data();
    void resolvesPathsWhateverTheirCase();
    void copyKeepsTimeAndNeverOverwrites();
    void atomicWrite_data();
    void atomicWrite();
    void namesOfFilesAndTemporaries();
    void removesOnlyStaleTemporaries();
    void factsAgreeWithFileInfo_data();
    void factsAgreeWithFileInfo();
    void plainFilesAgreeWithDirListing();
    void stampTellsVersionsApart();
    void resolveCacheLastsForItsScopeOnly();

private:
    std::unique_ptr<QTemporaryDir> files; // files, a folder and links of every kind
};

void tst_Platform::init()
{
    files = std::make_unique<QTemporaryDir>();
    QVERIFY2(files->isValid(), qPrintable(files->errorString()));
    QVERIFY(WriteFile(files->filePath(QStringLiteral("PART.NC")), "G0 X0\nM30\n"));
    QVERIFY(SetModTime(files->filePath(QStringLiteral("PART.NC")),
                       QDateTime(QDate(2019, 7, 1), QTime(8, 30, 15, 250), Qt::UTC)));
    QVERIFY(WriteFile(files->filePath(QStringLiteral("empty.txt")), QByteArray()));
    QVERIFY(WriteFile(files->filePath(QStringLiteral(".hidden.txt")), "x"));
    QVERIFY(QDir(files->path()).mkdir(QStringLiteral("folder.pkg")));
    QVERIFY(QFile::link(files->filePath(QStringLiteral("PART.NC")), files->filePath(QStringLiteral("link.NC"))));
    QVERIFY(QFile::link(files->filePath(QStringLiteral("gone")), files->filePath(QStringLiteral("dangling.NC"))));
}

void tst_Platform::namesMatchByUpperCase_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("same");
    QTest::addColumn<int>("prefixOfB"); // characters of b that match a, or -1
    const auto row = [](const char *tag, const char *a, const char *b, bool same, int prefixOfB) {
        QTest::newRow(tag) << QString::fromUtf8(a) << QString::fromUtf8(b) << same << prefixOfB;
    };
    row("ASCII", "Prog.nc", "PROG.NC", true, 7);
    row("ASCII, other name", "PROG1.NC", "PROG.NC", false, -1);
    row("ASCII prefix", "PROG", "prog.nc", false, 4);
    row("sharp s", "GRÖSSE", "Größe", true, 5);
    row("sharp s before a suffix", "GRÖSSE", "Größe.NC", false, 5);
    row("sharp s is not one S", "GRÖSE", "Größe", false, -1);
    row("dotless i", "KILIÇ", "kılıç", true, 5);
    row("dotted capital I is not I", "IZMIR", "İzmir", false, -1);
    row("dotted capital I", "İZMIR", "İzmir", true, 5);
    row("ligature", "FLANGE.CNV", "ﬂange.cnv", true, 9);
    row("empty", "", "x", false, 0);
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
    const auto row = [](const char *tag, const QStringList &folders, const char *asked, const char *resolved,
                        bool ambiguous = false) {
        QTest::newRow(tag) << folders << QString::fromUtf8(asked) << QString::fromUtf8(resolved) << ambiguous;
    };
    row("as written", {"Srv/Jobs/Plate"}, "Srv/Jobs/Plate", "Srv/Jobs/Plate");
    row("upper case", {"Srv/Jobs/Plate"}, "SRV/JOBS/PLATE", "Srv/Jobs/Plate");
    row("missing", {"Srv"}, "SRV/NOPE", "");
    row("sharp s", {"Maße"}, "MASSE", "Maße");
    row("dotless i", {"Kılıç"}, "KILIÇ", "Kılıç");
    row("ligature", {"ﬁles"}, "FILES", "ﬁles");
    row("twins, one exact", {"Parts", "PARTS"}, "PARTS", "PARTS");
    row("twins, neither exact", {"Parts", "PARTS"}, "parts", "", true);
    row("twins below", {"A/Mill", "A/mill"}, "a/MILL", "", true);
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

void tst_Platform::copyKeepsTimeAndNeverOverwrites()
{
    QTemporaryDir dir;
    const QString source = dir.path() + u"/src/PROG.NC"_s,
                  destination = MakeDir(dir.path() + u"/dst"_s) + u"/PROG.NC"_s;
    QVERIFY(WriteFile(source, MillingProgram(u"PROG"_s)));
    const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-3).addMSecs(-123);
    QVERIFY(SetModTime(source, old));

    QVERIFY(Platform::CopyFileKeepTime(source, destination));
    QCOMPARE(ReadFile(destination), ReadFile(source));
    QCOMPARE(QFileInfo(destination).lastModified(), QFileInfo(source).lastModified());

    // A second copy must not replace the file, and leaves no temporary file behind.
    QVERIFY(WriteFile(destination, "changed"));
    QVERIFY(!Platform::CopyFileKeepTime(source, destination));
    QCOMPARE(ReadFile(destination), QByteArray("changed"));
    QCOMPARE(Entries(dir.path() + u"/dst"_s), QStringList{u"PROG.NC"_s});
    QVERIFY(!Platform::CopyFileKeepTime(dir.path() + u"/missing"_s, dir.path() + u"/x"_s));
    QVERIFY(!QFile::exists(dir.path() + u"/x"_s));
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
    {
        std::optional<FileSizeLimit> limit; // as a full disk would: the write fails, not the process
        if (situation == u"size limit"_s)
            QVERIFY(limit.emplace(64).active);
        QCOMPARE(Platform::WriteFileAtomically(path, bytes, &wasWritten), succeeds);
    }
    QCOMPARE(wasWritten, written);
    if (situation != u"no folder"_s)
        QCOMPARE(ReadFile(path), succeeds ? bytes : old);
    if (situation == u"equal"_s)
        QCOMPARE(QFileInfo(path).lastModified().toSecsSinceEpoch(), oldTime.toSecsSinceEpoch());
    if (situation == u"link"_s)
        QVERIFY(!QFileInfo(path).isSymLink() && ReadFile(outside) == old);
    // Nothing but the page is left in the folder.
    QCOMPARE(Entries(folder), QStringList{u"page.html"_s});
}

void tst_Platform::namesOfFilesAndTemporaries()
{
    // A plain file name stays in its folder.
    for (const char *name : {"notes.txt", "A!,B^C d.nc"})
        QVERIFY2(Platform::IsPlainFileName(QString::fromUtf8(name)), name);
    for (const char *name : {"", ".", "..", "../x.txt", "..\\x.txt", "/etc/passwd"})
        QVERIFY2(!Platform::IsPlainFileName(QString::fromUtf8(name)), name);
    // Our temporaries: hidden, the target's name, six letters or digits, ".pmtmp".
    for (const char *name : {".page.html.aZ09xy.pmtmp", ".PLATE.NC.abcdef.pmtmp"})
        QVERIFY2(Platform::IsOwnTemporaryName(QString::fromLatin1(name)), name);
    for (const char *name : {"page.html.aZ09xy.pmtmp", ".page.html.aZ0-xy.pmtmp", ".page.html.aZ09x.pmtmp",
                             ".package.lock", ".x.pmtmp", ".page.html.aZ09xy.tmp"})
        QVERIFY2(!Platform::IsOwnTemporaryName(QString::fromLatin1(name)), name);
    QVERIFY(Platform::IsOwnTemporaryName(QFileInfo(Platform::OwnTemporaryPathFor(u"/a/b/manifest.xml"_s)).fileName()));
}

// A clean-up removes our old temporaries only: no fresh one (a write under way), no file of
// another name, nothing through a link.
void tst_Platform::removesOnlyStaleTemporaries()
{
    QTemporaryDir dir;
    const QString folder = MakeDir(dir.path() + u"/pkg"_s);
    const QString outside = MakeDir(dir.path() + u"/outside"_s) + u"/.x.abcdef.pmtmp"_s;
    const QDateTime old = QDateTime::currentDateTime().addSecs(-7200);
    for (const QString &name : {u".a.abcdef.pmtmp"_s, u".b.ghijkl.pmtmp"_s, u".c.lock"_s, u"d.txt"_s})
        QVERIFY(WriteFile(folder + u'/' + name, "x") && SetModTime(folder + u'/' + name, old));
    QVERIFY(WriteFile(folder + u"/.fresh.abcdef.pmtmp"_s, "x"));
    QVERIFY(WriteFile(outside, "x") && SetModTime(outside, old));
    QVERIFY(QFile::link(outside, folder + u"/.link.abcdef.pmtmp"_s));
    QCOMPARE(Platform::RemoveStaleTemporaryFiles(folder, 3600), 2);
    QCOMPARE(Entries(folder),
             (QStringList{u".c.lock"_s, u".fresh.abcdef.pmtmp"_s, u".link.abcdef.pmtmp"_s, u"d.txt"_s}));
    QVERIFY(QFileInfo::exists(outside));
}

void tst_Platform::factsAgreeWithFileInfo_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("stamped"); // a stamp is for a regular file reached without a link
    QTest::newRow("file with milliseconds") << QStringLiteral("PART.NC") << true;
    QTest::newRow("empty file") << QStringLiteral("empty.txt") << true;
    QTest::newRow("folder") << QStringLiteral("folder.pkg") << false;
    QTest::newRow("link to a file is followed") << QStringLiteral("link.NC") << false;
    QTest::newRow("dangling link") << QStringLiteral("dangling.NC") << false;
    QTest::newRow("missing") << QStringLiteral("nothing.NC") << false;
}

void tst_Platform::factsAgreeWithFileInfo()
{
    QFETCH(QString, name);
    const QString path = files->filePath(name);
    const QFileInfo info(path);
    const Platform::FileFacts facts = Platform::FactsOf(path);
    QTEST(Platform::StampOf(path).IsValid(), "stamped");
    QVERIFY(!Platform::StampOf(QString()).IsValid());
    QCOMPARE(facts.exists, info.exists());
    QCOMPARE(facts.isFile, info.isFile());
    if (info.isFile())
        QCOMPARE(facts.size, info.size());
    QCOMPARE(facts.modifiedUtc.isValid(), info.exists());
    if (info.exists()) {
        QCOMPARE(facts.modifiedUtc, info.lastModified());
        QCOMPARE(facts.modifiedUtc.timeSpec(), Qt::UTC);
    }
}

void tst_Platform::plainFilesAgreeWithDirListing()
{
    QStringList listed = Platform::PlainFilesIn(files->path());
    listed.sort();
    QCOMPARE(listed, QStringList({QStringLiteral("PART.NC"), QStringLiteral("empty.txt")}));
    QVERIFY(Platform::PlainFilesIn(files->filePath(QStringLiteral("missing"))).isEmpty());
    // With links to files, and still without dangling links, folders and hidden files.
    listed = Platform::FilesIn(files->path());
    listed.sort();
    QCOMPARE(listed, QStringList({QStringLiteral("PART.NC"), QStringLiteral("empty.txt"), QStringLiteral("link.NC")}));
}

// Rewritten in place, then replaced by a rename, each time with the size and the old time
// kept: the stamp shows another version of the file.
void tst_Platform::stampTellsVersionsApart()
{
    const QString path = files->filePath(QStringLiteral("manifest.xml"));
    const QDateTime time(QDate(2020, 1, 1), QTime(0, 0), Qt::UTC);
    QVERIFY(WriteFile(path, "<Manifest a=\"1\"/>") && SetModTime(path, time));
    Platform::FileStamp before = Platform::StampOf(path);
    QVERIFY(before.IsValid() && Platform::StampOf(path) == before);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(13) && file.write("2") == 1);
    file.close();
    QVERIFY(SetModTime(path, time) && Platform::StampOf(path) != before);

    before = Platform::StampOf(path);
    QSaveFile replacement(path);
    QVERIFY(replacement.open(QIODevice::WriteOnly) && replacement.write("<Manifest a=\"3\"/>") == 17);
    QVERIFY(replacement.commit() && SetModTime(path, time) && Platform::StampOf(path) != before);
}

void tst_Platform::resolveCacheLastsForItsScopeOnly()
{
    const QString real = MakeDir(files->filePath(QStringLiteral("srv/Parts")));
    const QString upper = files->path() + QStringLiteral("/SRV/PARTS");
    const QString later = files->path() + QStringLiteral("/SRV/LATER");
    {
        const Platform::ResolveCacheScope scope;
        QCOMPARE(Platform::ResolvePathNoCase(upper), real);
        QVERIFY(Platform::ResolvePathNoCase(later).isEmpty());
        // Within the scope the first answers stand.
        QVERIFY(QDir().mkpath(files->filePath(QStringLiteral("srv/Later"))));
        QVERIFY(Platform::ResolvePathNoCase(later).isEmpty());
        QCOMPARE(Platform::ResolvePathNoCase(upper), real);
    }
    // Outside it the file system is asked again.
    QCOMPARE(Platform::ResolvePathNoCase(later), files->filePath(QStringLiteral("srv/Later")));
}

QTEST_GUILESS_MAIN(tst_Platform)
#include "tst_platform.moc"
