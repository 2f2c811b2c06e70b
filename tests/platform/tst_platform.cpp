#include "TestUtils.h"
#include "platform/AtomicFile.h"
#include "platform/FolderListing.h"
#include "platform/PlatformFiles.h"

#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <thread>

using namespace TestUtils;
using namespace Qt::StringLiterals;

// Names and paths whatever their letters, copies and atomic writes, and the cheap file queries
// and folder listings that a scan of every package relies on: they must tell exactly what
// QFileInfo and QDir would, and notice every change of a file.
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
    void removesOnlyStaleTemporaries();
    void factsAgreeWithFileInfo_data();
    void factsAgreeWithFileInfo();
    void stampTellsVersionsApart();
    void resolveCacheLastsForItsScopeOnly();
    void laterLookupSeesChange_data();
    void laterLookupSeesChange();
    void helperThreadSharesThePassListing();

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

// A clean-up removes our old temporaries only (hidden, the target's name, six letters or
// digits, ".pmtmp"): no fresh one (a write under way), no file of another name, nothing
// through a link.
void tst_Platform::removesOnlyStaleTemporaries()
{
    QTemporaryDir dir;
    const QString folder = MakeDir(dir.path() + u"/pkg"_s);
    const QString outside = MakeDir(dir.path() + u"/outside"_s) + u"/.x.abcdef.pmtmp"_s;
    const QDateTime old = QDateTime::currentDateTime().addSecs(-7200);
    const QStringList stale{QFileInfo(Platform::OwnTemporaryPathFor(folder + u"/manifest.xml"_s)).fileName(),
                            u".PLATE.NC.aZ09xy.pmtmp"_s};
    for (const QString &name :
         stale + QStringList{u".c.lock"_s, u"d.txt"_s, u"page.html.aZ09xy.pmtmp"_s, u".page.html.aZ0-xy.pmtmp"_s,
                             u".page.html.aZ09x.pmtmp"_s, u".x.pmtmp"_s, u".page.html.aZ09xy.tmp"_s})
        QVERIFY(WriteFile(folder + u'/' + name, "x") && SetModTime(folder + u'/' + name, old));
    QVERIFY(WriteFile(folder + u"/.fresh.abcdef.pmtmp"_s, "x"));
    QVERIFY(WriteFile(outside, "x") && SetModTime(outside, old));
    QVERIFY(QFile::link(outside, folder + u"/.link.abcdef.pmtmp"_s));
    QStringList kept = Entries(folder);
    kept.removeIf([&](const QString &name) { return stale.contains(name); });
    QCOMPARE(Platform::RemoveStaleTemporaryFiles(folder, 3600), 2);
    QCOMPARE(Entries(folder), kept);
    QVERIFY(QFileInfo::exists(outside));
}

void tst_Platform::factsAgreeWithFileInfo_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("stamped"); // a stamp is for a regular file reached without a link
    QTest::addColumn<int>("listed");   // by FilesIn (links to files too) 1, by PlainFilesIn as well 2
    QTest::newRow("file with milliseconds") << u"PART.NC"_s << true << 2;
    QTest::newRow("empty file") << u"empty.txt"_s << true << 2;
    QTest::newRow("hidden file") << u".hidden.txt"_s << true << 0;
    QTest::newRow("folder") << u"folder.pkg"_s << false << 0;
    QTest::newRow("link to a file is followed") << u"link.NC"_s << false << 1;
    QTest::newRow("dangling link") << u"dangling.NC"_s << false << 0;
    QTest::newRow("missing") << u"nothing.NC"_s << false << 0;
}

void tst_Platform::factsAgreeWithFileInfo()
{
    QFETCH(QString, name);
    const QString path = files->filePath(name);
    const QFileInfo info(path);
    const Platform::FileFacts facts = Platform::FactsOf(path);
    QTEST(Platform::StampOf(path).IsValid(), "stamped");
    QVERIFY(!Platform::StampOf(QString()).IsValid());
    QTEST(int(Platform::FilesIn(files->path()).contains(name) + Platform::PlainFilesIn(files->path()).contains(name)),
          "listed");
    QCOMPARE(Platform::FilesIn(files->path()).size(), 3);
    QVERIFY(Platform::PlainFilesIn(path).isEmpty()); // not a folder, or an empty one
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

// A parts folder is listed once per start-up or pass; a lookup made after that must see
// what changed in the folder meanwhile, whether no scope or a new one is in force.
void tst_Platform::laterLookupSeesChange_data()
{
    QTest::addColumn<bool>("inScopes");
    QTest::addColumn<QString>("before"); // the file there first; empty: none
    QTest::addColumn<QString>("after");  // the file there next; empty: none

    for (const bool inScopes : {false, true}) {
        const char *where = inScopes ? "each lookup in its own scope" : "no scope";
        QTest::addRow("added, %s", where) << inScopes << QString() << QStringLiteral("PLATE.NC");
        QTest::addRow("removed, %s", where) << inScopes << QStringLiteral("PLATE.NC") << QString();
        QTest::addRow("renamed, %s", where) << inScopes << QStringLiteral("PLATE.NC") << QStringLiteral("BRACKET.NC");
        QTest::addRow("case only, %s", where) << inScopes << QStringLiteral("PLATE.NC") << QStringLiteral("plate.nc");
    }
}

void tst_Platform::laterLookupSeesChange()
{
    QFETCH(bool, inScopes);
    QFETCH(QString, before);
    QFETCH(QString, after);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.path();
    // Many neighbours, as in a shop's flat parts folder.
    for (int i = 0; i < 50; ++i)
        QVERIFY(WriteFile(dir.filePath(QStringLiteral("PART%1.NC").arg(i)), "G0 X0\nM30\n"));
    if (!before.isEmpty())
        QVERIFY(WriteFile(dir.filePath(before), "G0 X0\nM30\n"));

    const auto names = [&](const QString &name) {
        std::optional<Platform::FolderIndexScope> scope;
        if (inScopes)
            scope.emplace();
        // Asked twice in a scope: the second answer comes from its index.
        (void)Platform::ListingInScope(folder).Matching(name);
        QStringList found;
        for (const auto &entry : Platform::ListingInScope(folder).Matching(name))
            found << entry.name;
        return found;
    };
    const QStringList none;
    QCOMPARE(names(QStringLiteral("plate.NC")), before.isEmpty() ? none : QStringList{before});

    if (before.isEmpty())
        QVERIFY(WriteFile(dir.filePath(after), "G0 X0\nM30\n"));
    else if (after.isEmpty())
        QVERIFY(QFile::remove(dir.filePath(before)));
    else
        QVERIFY(QFile::rename(dir.filePath(before), dir.filePath(after)));

    const bool sameProgram = !after.isEmpty() && after.compare(QStringLiteral("PLATE.NC"), Qt::CaseInsensitive) == 0;
    QCOMPARE(names(QStringLiteral("plate.NC")), sameProgram ? QStringList{after} : none);
    if (!after.isEmpty())
        QCOMPARE(names(after), QStringList{after});
    QCOMPARE(Platform::ListingInScope(folder).Entries().size(), 50 + (after.isEmpty() ? 0 : 1));
}

// A pass's helper thread answers from the listing the pass already holds (the folder is
// listed once); a thread with a scope of its own lists again.
void tst_Platform::helperThreadSharesThePassListing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("PLATE.NC")), "G0 X0\nM30\n"));
    Platform::FolderIndexScope pass;
    QCOMPARE(Platform::ListingInScope(dir.path()).Entries().size(), 1);
    QVERIFY(WriteFile(dir.filePath(QStringLiteral("BRACKET.NC")), "G0 X0\nM30\n"));

    qsizetype joined = -1;
    qsizetype own = -1;
    std::thread helper([&] {
        {
            const Platform::FolderIndexScope shared(pass);
            joined = Platform::ListingInScope(dir.path()).Entries().size();
        }
        const Platform::FolderIndexScope separate;
        own = Platform::ListingInScope(dir.path()).Entries().size();
    });
    helper.join();
    QCOMPARE(joined, 1);
    QCOMPARE(own, 2);
}

QTEST_GUILESS_MAIN(tst_Platform)
#include "tst_platform.moc"
