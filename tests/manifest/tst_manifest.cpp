#include "cManifest.h"
#include "cManifestItem.h"
#include "cPackage.h"
#include "cPackageManager.h"
#include "platform/PlatformFiles.h"
#include "TestUtils.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using Manifest = std::unique_ptr<cManifest>;
using Package = std::unique_ptr<cPackage>;
const QString kUid = QStringLiteral("ABC^BRACKET");

// Reaches the protected operations of the manifest and the package.
struct cPackageTestAccess
{
    static Manifest New(const QString &p) { return Manifest(new cManifest(QStringLiteral("BRACKET"), QFileInfo(p))); }
    static cManifestItem *Add(cManifest &m, const QString &path) { return m.AddManifestItem(QFileInfo(path), {}, {}); }
    static bool Import(cManifest &m) { return m.ImportFromManifestFile(QString()); }
    static bool Export(cManifest &m) { return m.ExportToManifestFile(); }
    static bool Match(cManifest &m, const QString &folder) { return m.MatchManifestToFiles(QDir(folder)); }
    static void Minimal(cManifest &m) { m.VerifyMinimalManifestExists(); }
    static bool Regular(cManifest &m) { return m.SetManifestPropertiesToRegularMode(); }
    static QList<cManifestItem *> Items(const cManifest &m) { return m.GetManifestItems(Unknown); }
    static cManifestItem *Item(const cManifest &m, eMetadataType type) { return m.GetManifestItem(type); }
    static cManifestItem *Find(const cManifest &m, const QString &name) { return m.LookupManifestItemByFileName(name); }
    static int Kind(const cManifestItem *item) { return int(item->GetMetadataType()); }
    static void SetPreview(cManifestItem *item, const QString &preview) { item->SetPreview(preview); }
    static bool SyncModTime(cManifestItem *item) { return item->SyncModTime(); }

    static Package Open(const QString &folder) { return Package(new cPackage(kUid, QDir(folder), QDir())); }
    static bool Generate(cPackage &p) { return p.GenerateManifestFile(); }
    // What the scan does to every package.
    static void Maintain(cPackage &p) { (void)p.GenerateFullModeManifestFile(); }
    static bool Update(cPackage &p) { return p.UpdateManifest(); }
    static bool ImportManifest(cPackage &p) { return p.ImportManifest(); }
    static bool ExportManifest(cPackage &p) { return p.ExportManifest(); }
    static bool IsTutorial(const cPackage &p) { return p.IsTutorialPackage(); }
};
using Access = cPackageTestAccess;

namespace {

const QDateTime kTime(QDate(2013, 3, 28), QTime(8, 41, 57), Qt::UTC);

// "kind:file" of every entry, in list order.
QString Kinds(const QList<cManifestItem *> &items)
{
    QStringList names;
    for (const cManifestItem *item : items)
        names.append(QString::number(Access::Kind(item)) + QLatin1Char(':') + item->GetFileNameString());
    return names.join(QLatin1Char(' '));
}

// "hidden read-only|author|comment", flags as 0 or 1.
QString Describe(const cManifestItem *item)
{
    return QString::number(item->IsHidden()) + QString::number(item->IsReadOnly()) + QLatin1Char('|') +
           item->GetAuthorString() + QLatin1Char('|') + item->GetCommentString();
}

bool MakeFile(const QString &path, qsizetype size = 4, const QDateTime &time = kTime)
{
    return TestUtils::WriteFile(path, QByteArray(size, 'x')) && TestUtils::SetModTime(path, time);
}

QByteArray Xml(const QByteArray &entries, const QByteArray &root = "package_name=\"BRACKET\"")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Manifest " + root + ">\n" + entries + "</Manifest>\n";
}

} // namespace

class tst_Manifest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void classification_data();
    void classification();
    void writesTheDocumentedFormat();
    void writeSafety();
    void readerRules();
    void readerFailures_data();
    void readerFailures();
    void match();
    void regularMode();
    void copiesShareEntries();
    void packageBinding();
    void packageSizes_data();
    void packageSizes();
    void largeManifest();
    void packageMaintenance();

private:
    QString At(const char *name) const { return folder + QLatin1Char('/') + QLatin1String(name); }

    std::unique_ptr<QTemporaryDir> holder;
    QString folder;
    QString manifestPath;
};

void tst_Manifest::init()
{
    holder = std::make_unique<QTemporaryDir>();
    QVERIFY2(holder->isValid(), qPrintable(holder->errorString()));
    folder = TestUtils::MakeDir(holder->filePath(QStringLiteral("packages/ABC^BRACKET.pkg")));
    manifestPath = At("manifest.xml");
}

void tst_Manifest::classification_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("type");
    const auto row = [](const char *file, eMetadataType kind, const char *type) {
        QTest::newRow(file) << QString::fromUtf8(file) << int(kind) << QString::fromUtf8(type);
    };
    const char *unknown = "Unkown File Type";
    row("BRACKET", NCProgram, "text");
    row("bracket.nc", NCProgram, "text");
    row("bracket.cnv", ConvProgram, "conversational");
    row("bracket.gif", Overview, "gif");
    row("photo.gif", Unknown, unknown);
    row("bracket.old.txt", Note, "text");
    row("scan.jpeg", Unknown, unknown);
    row("pdf", PDF, "pdf"); // a name without a dot is its own extension
    row("trailing.", Unknown, unknown);
    row("manifest.xml", Unknown, unknown);
}

void tst_Manifest::classification()
{
    QFETCH(QString, file);
    QFETCH(int, kind);
    QVERIFY(MakeFile(folder + QLatin1Char('/') + file));
    auto manifest = Access::New(At("other.xml"));
    const cManifestItem *item = Access::Add(*manifest, folder + QLatin1Char('/') + file);
    QCOMPARE(Access::Kind(item), kind);
    QTEST(item->GetFileTypeString(), "type");
}

void tst_Manifest::writesTheDocumentedFormat()
{
    const QDateTime overview(QDate(2013, 4, 2), QTime(14, 5, 9), Qt::UTC), pages = overview.addSecs(1);
    // Sizes that add up to 48213 bytes.
    QVERIFY(MakeFile(At("BRACKET.stats.html"), 9000, pages) && MakeFile(At("BRACKET.tools.html"), 6000, pages));
    QVERIFY(MakeFile(At("BRACKET.history.html"), 5000, pages) && MakeFile(At("BRACKET.gif"), 20000, overview));
    QVERIFY(MakeFile(At("setup.jpg"), 7000) && MakeFile(At("setup.jpg.thumb"), 300));
    QVERIFY(MakeFile(At("BRACKET.NC"), 1213, QDateTime(QDate(2013, 4, 1), QTime(7, 12, 44), Qt::UTC)));

    auto manifest = Access::New(manifestPath);
    Access::SetPreview(Access::Add(*manifest, At("BRACKET.NC")), QStringLiteral("BRACKET.gif"));
    Access::SetPreview(Access::Add(*manifest, At("setup.jpg")), QStringLiteral("setup.jpg.thumb"));
    for (const char *page : {"BRACKET.history.html", "BRACKET.tools.html", "BRACKET.stats.html", "BRACKET.gif"})
        Access::Add(*manifest, At(page));
    Access::Minimal(*manifest);
    QVERIFY(Access::Regular(*manifest));

    const QString created = Platform::CreationTime(QFileInfo(At("BRACKET.NC"))).toLocalTime().toString(Qt::ISODate);
    const QByteArray expected =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<Manifest package_name=\"BRACKET\" package_size=\"48213\" package_limit=\"104857600\">\n"
        "    <Overview tab=\"Overview\" mod_time=\"2013-04-02T14:05:09Z\" preview=\"\" hidden=\"false\" "
        "read_only=\"false\" author=\"Auto-Generated\" comment=\"Program Overview\" "
        "type=\"gif\">BRACKET.gif</Overview>\n"
        "    <Stats tab=\"Stats\" mod_time=\"2013-04-02T14:05:10Z\" preview=\"\" hidden=\"false\" read_only=\"true\" "
        "author=\"Auto-Generated\" comment=\"Program Statistics\" type=\"html\">BRACKET.stats.html</Stats>\n"
        "    <Tools tab=\"Tool Info\" mod_time=\"2013-04-02T14:05:10Z\" preview=\"\" hidden=\"false\" "
        "read_only=\"true\" author=\"Auto-Generated\" comment=\"Program Tool List\" "
        "type=\"html\">BRACKET.tools.html</Tools>\n"
        "    <History tab=\"History\" mod_time=\"2013-04-02T14:05:10Z\" preview=\"\" hidden=\"false\" "
        "read_only=\"true\" author=\"Auto-Generated\" comment=\"Program Run History\" "
        "type=\"html\">BRACKET.history.html</History>\n"
        "    <Note tab=\"Notes\" type=\"text\"></Note>\n"
        "    <Image tab=\"Images\" mod_time=\"2013-03-28T08:41:57Z\" preview=\"setup.jpg.thumb\" hidden=\"false\" "
        "read_only=\"false\" author=\"Unknown User\" comment=\"\" type=\"image\">setup.jpg</Image>\n"
        "    <Video tab=\"Videos\" type=\"video\"></Video>\n"
        "    <NCProgram tab=\"X\" mod_time=\"2013-04-01T07:12:44Z\" preview=\"BRACKET.gif\" hidden=\"true\" "
        "read_only=\"true\" author=\"Unknown User\" comment=\"Program Created " +
        created.toUtf8() +
        "\" type=\"text\">BRACKET.NC</NCProgram>\n"
        "</Manifest>\n";
    QCOMPARE(TestUtils::ReadFile(manifestPath), expected);

    // Read back and saved again: the same bytes, so nothing is written and the time stays.
    QVERIFY(TestUtils::SetModTime(manifestPath, kTime));
    auto reread = Access::New(manifestPath);
    QCOMPARE(Kinds(Access::Items(*reread)), Kinds(Access::Items(*manifest)));
    QVERIFY(!Access::Match(*reread, folder));
    QVERIFY(Access::Export(*reread));
    QVERIFY(Access::Export(*manifest));
    QCOMPARE(TestUtils::ReadFile(manifestPath), expected);
    QCOMPARE(QFileInfo(manifestPath).lastModified().toUTC(), kTime);
}

void tst_Manifest::writeSafety()
{
    // A manifest that links out of the package is neither read nor written through.
    const QString outside = holder->filePath(QStringLiteral("outside.xml"));
    const QByteArray outsideBytes = Xml("    <Note tab=\"Notes\" type=\"text\">secret.txt</Note>\n");
    QVERIFY(TestUtils::WriteFile(outside, outsideBytes) && QFile::link(outside, manifestPath));
    auto linked = Access::New(manifestPath);
    QVERIFY(Access::Items(*linked).isEmpty());
    QVERIFY(Access::Export(*linked));
    QCOMPARE(TestUtils::ReadFile(outside), outsideBytes);
    QVERIFY(!QFileInfo(manifestPath).isSymLink());

    // XML cannot carry control characters or lone surrogates: they are dropped, the rest kept.
    const QString kept = QString::fromUtf8("Ana <QA> & \"Ops\"\none\r\ntwo\tcaf\xC3\xA9 \xF0\x9F\x94\xA7");
    QVERIFY(MakeFile(At("a&b.txt")));
    auto manifest = Access::New(manifestPath);
    Access::Add(*manifest, At("a&b.txt"))->SetComment(kept + QChar(0xD800) + QLatin1Char('\x07'));
    QVERIFY(Access::Export(*manifest));
    QVERIFY(TestUtils::ReadFile(manifestPath).contains(">a&amp;b.txt<"));
    QCOMPARE(Access::Find(*Access::New(manifestPath), "a&b.txt")->GetCommentString(), kept);
    // The writer's memory agrees with the file.
    QVERIFY(Access::Import(*manifest));
    QCOMPARE(Access::Find(*manifest, "a&b.txt")->GetCommentString(), kept);
}

void tst_Manifest::readerRules()
{
    QVERIFY(MakeFile(At("a.txt")));
    QVERIFY(TestUtils::WriteFile(
        manifestPath, Xml("    <Note tab=\"Notes\" hidden=\"true\" read_only=\"True\" author=\"Jo\" comment=\"c\" "
                          "preview=\"p.thumb\" mod_time=\"1999-01-01T00:00:00Z\" type=\"text\">a.txt</Note>\n"
                          "    <Image hidden=\"1\">b.jpg</Image>\n"
                          "    <Drawing>a.pdf</Drawing>\n"
                          "    <PDF mod_date=\"Mon Apr 1 07:12:44 2013\">d.pdf</PDF>\n"
                          "    <Stats tab=\"Stats\" type=\"html\"></Stats>\n")));
    auto manifest = Access::New(manifestPath);
    const QList<cManifestItem *> items = Access::Items(*manifest);
    QCOMPARE(Kinds(items), QStringLiteral("5:a.txt 6:b.jpg 11:a.pdf 8:d.pdf 1:"));
    QCOMPARE(Describe(items.at(0)), QStringLiteral("10|Jo|c"));    // only "true" is true
    QCOMPARE(items.at(0)->GetModTime(), kTime);                    // from the file, not from "mod_time"
    QCOMPARE(Describe(items.at(1)).left(2), QStringLiteral("01")); // absent: true
    QCOMPARE(items.at(3)->GetModTime(), QDateTime(QDate(2013, 4, 1), QTime(7, 12, 44)).toUTC());
}

void tst_Manifest::readerFailures_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("entries");

    const QByteArray head = Xml("    <Note tab=\"Notes\" type=\"text\">a.txt</Note>\n").chopped(12);
    const QByteArray tail = "</Manifest>\n";
    QTest::newRow("truncated in a tag") << head + "    <Image tab=\"Ima" << true << "5:a.txt";
    // The element at which the error arose stays, with the text read before it.
    QTest::newRow("child element") << head + "    <Image>b.jpg<Extra/></Image>\n    <Video>c.mp4</Video>\n" + tail
                                   << false << "5:a.txt 6:b.jpg";
    QTest::newRow("paths out") << head + "<Note>../../outside.txt</Note><Note>/etc/passwd</Note><Note>..</Note>\n" +
                                      "<Image preview=\"../../outside.txt\">b.jpg</Image>\n" + tail
                               << true << "5:a.txt 6:b.jpg";
    QTest::newRow("no package name") << Xml("<Note>a.txt</Note>\n", "package_size=\"5\"") << true << "5:a.txt";
    QTest::newRow("runaway size") << Xml(QByteArray(3 * 1024 * 1024, ' ')) << true << "";
    QTest::newRow("not xml") << QByteArray("\x89PNG\r\n") << false << "";
}

void tst_Manifest::readerFailures()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, result);
    const QString outside = holder->filePath(QStringLiteral("outside.txt"));
    QVERIFY(MakeFile(outside, 3));
    QVERIFY(MakeFile(At("a.txt")) && MakeFile(At("BRACKET.NC")));
    QVERIFY(TestUtils::WriteFile(manifestPath, content));

    if (content.size() > 1024 * 1024) // not read at all
        for (int i = 0; i < 2; ++i)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not reading")));
    auto manifest = Access::New(manifestPath);
    QCOMPARE(Access::Import(*manifest), result);
    QTEST(Kinds(Access::Items(*manifest)), "entries");
    for (const cManifestItem *item : Access::Items(*manifest)) {
        QCOMPARE(item->GetFileInfo().absolutePath(), folder);
        QVERIFY(item->GetThumbnailInfo().filePath().isEmpty());
    }
    // A file without a name keeps the manifest's: else the program would not be recognised.
    Access::Match(*manifest, folder);
    QVERIFY(Access::Item(*manifest, NCProgram));
    // The usual maintenance afterwards never reaches the outside file.
    QVERIFY(Access::Regular(*manifest));
    QCOMPARE(TestUtils::ReadFile(outside), QByteArray(3, 'x'));
    QVERIFY(!TestUtils::ReadFile(manifestPath).contains("outside"));
    QVERIFY(QFileInfo(manifestPath).size() < 4096);
}

void tst_Manifest::match()
{
    for (const char *name : {"BRACKET.NC", "BRACKET.gif", "notes.txt", "notes.txt.thumb", "photo.JPG"})
        QVERIFY(MakeFile(At(name)));
    QVERIFY(TestUtils::WriteFile(manifestPath, Xml("")));
    const QString outside = holder->filePath(QStringLiteral("outside.jpg"));
    QVERIFY(MakeFile(outside) && QFile::link(outside, At("linked.jpg")));

    auto manifest = Access::New(manifestPath);
    cManifestItem *photo = Access::Add(*manifest, At("photo.JPG"));
    QVERIFY(QFile::rename(At("photo.JPG"), At("photo.jpg")));
    QVERIFY(Access::Match(*manifest, folder) && Access::Export(*manifest)); // the save puts the kinds in order
    QCOMPARE(Kinds(Access::Items(*manifest)), QStringLiteral("0:BRACKET.gif 5:notes.txt 6:photo.jpg 9:BRACKET.NC"));
    QCOMPARE(Access::Item(*manifest, Image), photo); // the entry takes its file's real case
    QVERIFY(!Access::Match(*manifest, folder));

    // A replaced file shows at once and only once; two adjacent vanished ones both go.
    QVERIFY(QFile::remove(At("photo.jpg")));
    QVERIFY(MakeFile(At("photo.jpg"), 40, kTime.addSecs(1)));
    QVERIFY(Access::SyncModTime(photo));
    QCOMPARE(photo->GetModTime(), kTime.addSecs(1));
    QVERIFY(!Access::SyncModTime(photo));
    QVERIFY(QFile::remove(At("BRACKET.gif")));
    QVERIFY(QFile::remove(At("notes.txt")));
    QVERIFY(Access::Match(*manifest, folder));
    QCOMPARE(Kinds(Access::Items(*manifest)), QStringLiteral("6:photo.jpg 9:BRACKET.NC"));
}

void tst_Manifest::regularMode()
{
    for (const char *name : {"BRACKET.NC", "BRACKET.stats.html", "photo.jpg", "scan.jpeg", "clip.mp4"})
        QVERIFY(MakeFile(At(name), 10));
    QVERIFY(TestUtils::WriteFile(
        manifestPath,
        Xml("    <NCProgram hidden=\"false\" comment=\"Program Created 1999\">BRACKET.NC</NCProgram>\n"
            "    <Stats hidden=\"true\" author=\"Jo\" comment=\"Program Statistics\">BRACKET.stats.html</Stats>\n"
            "    <Image author=\"Ana\" comment=\"Clamp on the left\">photo.jpg</Image>\n"
            "    <Note author=\"Ana\" comment=\"was a note\">clip.mp4</Note>\n"
            "    <Unknown>scan.jpeg</Unknown>\n"
            "    <Note hidden=\"false\" author=\"x\"></Note>\n"
            "    <Video></Video>\n",
            "package_name=\"BRACKET\" package_size=\"7\" package_limit=\"5\"")));
    auto manifest = Access::New(manifestPath);
    cManifestItem *notePlaceholder = Access::Items(*manifest).at(5);
    QVERIFY(Access::Regular(*manifest));

    QCOMPARE(Kinds(Access::Items(*manifest)),
             QStringLiteral("1:BRACKET.stats.html 5: 6:photo.jpg 7:clip.mp4 9:BRACKET.NC"));
    // Automatic texts and flags are reset; what someone set is kept unless the kind changed.
    QVERIFY(
        Describe(Access::Item(*manifest, NCProgram)).startsWith(QLatin1String("11|Unknown User|Program Created 2")));
    QCOMPARE(Describe(Access::Item(*manifest, Stats)), QStringLiteral("01|Jo|Program Statistics"));
    QCOMPARE(Describe(Access::Item(*manifest, Image)), QStringLiteral("00|Ana|Clamp on the left"));
    QCOMPARE(Describe(Access::Item(*manifest, Video)), QStringLiteral("00|Unknown User|"));
    QCOMPARE(Access::Item(*manifest, Note), notePlaceholder); // renewed in place
    QCOMPARE(Describe(notePlaceholder), QStringLiteral("11||"));

    const QByteArray written = TestUtils::ReadFile(manifestPath);
    QVERIFY(written.contains("package_size=\"50\" package_limit=\"104857600\""));
    QVERIFY(!written.contains("scan.jpeg"));
}

void tst_Manifest::copiesShareEntries()
{
    QVERIFY(MakeFile(At("a.txt")));
    auto manifest = Access::New(manifestPath);
    cManifestItem *a = Access::Add(*manifest, At("a.txt"));
    auto copy = std::make_unique<cManifest>(*manifest);

    // The original drops a.txt; the copy still lists it, so it stays usable.
    QVERIFY(QFile::remove(At("a.txt")));
    QVERIFY(Access::Match(*manifest, folder));
    QCOMPARE(Access::Find(*copy, "a.txt"), a);
    manifest.reset();
    QCOMPARE(a->GetFileNameString(), QStringLiteral("a.txt"));
    // Re-reading reuses the entries instead of piling them up.
    QVERIFY(Access::Export(*copy) && Access::Import(*copy));
    QCOMPARE(Access::Items(*copy), QList<cManifestItem *>{a});
}

void tst_Manifest::packageBinding()
{
    for (const char *name : {"BRACKET.NC", "BRACKET.gif", "notes.txt", "notes.txt.thumb", "photo.jpg"})
        QVERIFY(MakeFile(At(name), 8));
    auto package = Access::Open(folder);
    QVERIFY(!Access::IsTutorial(*package)); // no size read or computed yet
    QVERIFY(Access::Generate(*package));
    QCOMPARE(Kinds(package->GetManifestItems(Unknown)),
             QStringLiteral("0:BRACKET.gif 5:notes.txt 6:photo.jpg 7: 9:BRACKET.NC"));
    QCOMPARE(package->GetPackageSize(), 32u);
    const QByteArray saved = TestUtils::ReadFile(manifestPath);

    // Updating matches the files without saving; the image placeholder comes back.
    QVERIFY(QFile::remove(At("photo.jpg")));
    QVERIFY(Access::Update(*package));
    QCOMPARE(TestUtils::ReadFile(manifestPath), saved);
    QVERIFY(package->GetManifestItem(Image)->GetFileNameString().isEmpty());
    QVERIFY(!Access::Update(*package));

    // Importing forces the package's own name over the one recorded in the file.
    QVERIFY(TestUtils::WriteFile(manifestPath, Xml("", "package_name=\"OLDNAME\"")));
    QVERIFY(Access::ImportManifest(*package));
    QVERIFY(Access::ExportManifest(*package));
    QVERIFY(TestUtils::ReadFile(manifestPath).contains("package_name=\"BRACKET\""));
}

void tst_Manifest::packageSizes_data()
{
    QTest::addColumn<QByteArray>("recorded"); // empty: written from a 5 GiB file
    QTest::addColumn<uint>("size");
    QTest::addColumn<bool>("tutorial");
    // Only an explicit zero makes a tutorial package.
    QTest::newRow("zero") << QByteArray("0") << 0u << true;
    QTest::newRow("above 2 GiB") << QByteArray("2147483649") << 2147483649u << false;
    QTest::newRow("above 4 GiB, saturated") << QByteArray("6000000000") << 4294967295u << false;
    QTest::newRow("beyond 64 bits") << QByteArray("99999999999999999999999") << 4294967295u << false;
    QTest::newRow("negative") << QByteArray("-1") << 0u << false;
    QTest::newRow("not a number") << QByteArray("12kB") << 0u << false;
    QTest::newRow("written from a 5 GiB file") << QByteArray() << 4294967295u << false;
}

void tst_Manifest::packageSizes()
{
    QFETCH(QByteArray, recorded);
    QFETCH(uint, size);
    QFETCH(bool, tutorial);
    if (recorded.isEmpty()) {
        QFile video(At("run.mp4"));
        QVERIFY(video.open(QIODevice::WriteOnly) && video.resize(qint64(5) << 30)); // sparse
        video.close();
        QVERIFY(TestUtils::WriteFile(manifestPath, Xml("<Video>run.mp4</Video>\n")));
        QVERIFY(Access::Export(*Access::New(manifestPath)));
        QVERIFY(TestUtils::ReadFile(manifestPath).contains("package_size=\"5368709120\""));
    } else {
        QVERIFY(
            TestUtils::WriteFile(manifestPath, Xml("", "package_name=\"BRACKET\" package_size=\"" + recorded + '"')));
    }
    // As after a restart.
    const auto package = Access::Open(folder);
    QCOMPARE(package->GetPackageSize(), size);
    QCOMPARE(Access::IsTutorial(*package), tutorial);
}

void tst_Manifest::largeManifest()
{
    // 100,000 entries (about 25 MB), read and written whole with their texts.
    const int count = 100000;
    QByteArray entries;
    entries.reserve(count * 64);
    for (int i = 0; i < count; ++i)
        entries += "<Note author=\"A" + QByteArray::number(i) + "\">n" + QByteArray::number(i) + ".txt</Note>\n";
    QVERIFY(TestUtils::WriteFile(manifestPath, Xml(entries)));
    auto manifest = Access::New(manifestPath);
    QCOMPARE(Access::Items(*manifest).size(), count);
    Access::Find(*manifest, QStringLiteral("n99999.txt"))->SetComment(QStringLiteral("last"));
    QVERIFY(Access::Export(*manifest));
    auto reread = Access::New(manifestPath);
    QCOMPARE(Access::Items(*reread).size(), count);
    QCOMPARE(Access::Find(*reread, QStringLiteral("n0.txt"))->GetAuthorString(), QStringLiteral("A0"));
    QCOMPARE(Access::Find(*reread, QStringLiteral("n99999.txt"))->GetCommentString(), QStringLiteral("last"));
}

void tst_Manifest::packageMaintenance()
{
    QVERIFY(TestUtils::WriteFile(At("BRACKET.NC"), TestUtils::MillingProgram(QStringLiteral("BRACKET"))));
    QVERIFY(MakeFile(At("notes.txt")));
    auto package = Access::Open(folder);
    Access::Maintain(*package);
    cManifestItem *note = package->GetManifestItem(Note);
    note->SetComment(QStringLiteral("first"));
    QVERIFY(Access::ExportManifest(*package));
    Access::Maintain(*package); // lists the overview picture made for the program

    // Unchanged maintenance leaves the file alone and the host's pointers valid.
    const Platform::FileStamp stamp = Platform::StampOf(manifestPath);
    Access::Maintain(*package);
    QCOMPARE(Platform::StampOf(manifestPath), stamp);
    QCOMPARE(package->GetManifestItem(Note), note);
    QCOMPARE(note->GetCommentString(), QStringLiteral("first"));

    // Another program rewrites the file in place, same size and time: still read.
    QByteArray bytes = TestUtils::ReadFile(manifestPath).replace("comment=\"first\"", "comment=\"other\"");
    const QDateTime time = QFileInfo(manifestPath).lastModified();
    QFile file(manifestPath);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
    file.close();
    QVERIFY(TestUtils::SetModTime(manifestPath, time));
    Access::Maintain(*package);
    QCOMPARE(package->GetManifestItem(Note)->GetCommentString(), QStringLiteral("other"));

    // A removed file is written again although the manifest did not change, by a save or by maintenance.
    QVERIFY(QFile::remove(manifestPath));
    QVERIFY(Access::ExportManifest(*package));
    QCOMPARE(TestUtils::ReadFile(manifestPath), bytes);
    QVERIFY(QFile::remove(manifestPath));
    Access::Maintain(*package);
    QCOMPARE(TestUtils::ReadFile(manifestPath), bytes);

    // What the host set without saving gives way to the file; what it saved stays.
    note = package->GetManifestItem(Note);
    note->SetComment(QStringLiteral("unsaved"));
    Access::Maintain(*package);
    QCOMPARE(package->GetManifestItem(Note)->GetCommentString(), QStringLiteral("other"));
    // Maintained over and over, the package agrees with one opened afresh, whatever the texts.
    package->GetManifestItem(Note)->SetComment(QString::fromUtf8("a < b & \"c\"\r\n\tcaf\xC3\xA9 \xF0\x9F\x94\xA7"));
    QVERIFY(Access::ExportManifest(*package));
    Access::Maintain(*package);
    Access::Maintain(*package);
    auto fresh = Access::Open(folder);
    Access::Maintain(*fresh);
    const auto state = [](const cPackage &p) {
        QStringList all{QString::number(p.GetPackageSize()), p.GetPackageName()};
        for (cManifestItem *item : p.GetManifestItems(Unknown))
            all << Kinds({item}) + Describe(item) + item->GetPreviewString() +
                       item->GetModTime().toString(Qt::ISODateWithMs);
        return all;
    };
    QCOMPARE(state(*package), state(*fresh));
    QVERIFY(state(*fresh).join(QString()).contains(QString::fromUtf8("caf\xC3\xA9 \xF0\x9F\x94\xA7")));
}

QTEST_GUILESS_MAIN(tst_Manifest)
#include "tst_manifest.moc"
