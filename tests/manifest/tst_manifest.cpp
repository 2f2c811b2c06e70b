#include "ManifestTestAccess.h"
#include "TestUtils.h"

#include "platform/PlatformFiles.h"

#include <QTemporaryDir>
#include <QTest>

using Access = cPackageTestAccess;

namespace {

const QDateTime kOverviewTime(QDate(2013, 4, 2), QTime(14, 5, 9), Qt::UTC);
const QDateTime kPagesTime(QDate(2013, 4, 2), QTime(14, 5, 10), Qt::UTC);
const QDateTime kPhotoTime(QDate(2013, 3, 28), QTime(8, 41, 57), Qt::UTC);
const QDateTime kProgramTime(QDate(2013, 4, 1), QTime(7, 12, 44), Qt::UTC);

QString FileNames(const QList<cManifestItem *> &items)
{
    QStringList names;
    for (const cManifestItem *item : items)
        names.append(QString::number(int(Access::Kind(item))) + QLatin1Char(':') + item->GetFileNameString());
    return names.join(QLatin1Char(' '));
}

bool MakeFile(const QString &path, qsizetype size, const QDateTime &time)
{
    return TestUtils::WriteFile(path, QByteArray(size, 'x')) && TestUtils::SetModTime(path, time);
}

QByteArray ManifestXml(const QByteArray &entries, const QByteArray &root = "package_name=\"BRACKET\"")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Manifest " + root + ">\n" + entries + "</Manifest>\n";
}

} // namespace

class tst_Manifest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void writesTheDocumentedFormat();
    void roundTripAndUnchangedSave();
    void writeEscapesAndDropsInvalidCharacters();
    void writeFailureIsReported();
    void linkedManifestIsNeitherReadNorWrittenThrough();

    void readerRules();
    void readerSizes_data();
    void readerSizes();
    void readerFailures_data();
    void readerFailures();
    void damagedFilesKeepTheNameAndStayBounded();

    void matchAddsAndRemoves();
    void matchTakesTheFilesRealCase();
    void matchRemovesAdjacentVanishedEntries();
    void matchLeavesOutLinks();

    void regularMode();
    void regularModeKeepsEntriesUnchangedAcrossScans();
    void relabelMovesEntriesAlong();

    void copiesShareEntries();

private:
    QString folder;
    QString manifestPath;
    std::unique_ptr<QTemporaryDir> holder;
};

void tst_Manifest::init()
{
    holder = std::make_unique<QTemporaryDir>();
    QVERIFY2(holder->isValid(), qPrintable(holder->errorString()));
    folder = TestUtils::MakeDir(holder->filePath(QStringLiteral("ABC^BRACKET.pkg")));
    manifestPath = folder + QStringLiteral("/manifest.xml");
}

void tst_Manifest::writesTheDocumentedFormat()
{
    // Files whose sizes add up to the example's 48213 bytes.
    QVERIFY(MakeFile(folder + "/BRACKET.gif", 20000, kOverviewTime));
    QVERIFY(MakeFile(folder + "/BRACKET.stats.html", 9000, kPagesTime));
    QVERIFY(MakeFile(folder + "/BRACKET.tools.html", 6000, kPagesTime));
    QVERIFY(MakeFile(folder + "/BRACKET.history.html", 5000, kPagesTime));
    QVERIFY(MakeFile(folder + "/setup.jpg", 7000, kPhotoTime));
    QVERIFY(MakeFile(folder + "/setup.jpg.thumb", 300, kPhotoTime));
    QVERIFY(MakeFile(folder + "/BRACKET.NC", 1213, kProgramTime));

    auto manifest = Access::NewManifest(QStringLiteral("BRACKET"), manifestPath);
    cManifestItem *program = Access::Add(*manifest, folder + "/BRACKET.NC");
    Access::SetPreview(program, QStringLiteral("BRACKET.gif"));
    cManifestItem *photo = Access::Add(*manifest, folder + "/setup.jpg");
    Access::SetPreview(photo, QStringLiteral("setup.jpg.thumb"));
    for (const char *page : {"BRACKET.history.html", "BRACKET.tools.html", "BRACKET.stats.html", "BRACKET.gif"})
        Access::Add(*manifest, folder + QLatin1Char('/') + QLatin1String(page));
    Access::VerifyMinimal(*manifest);
    QVERIFY(Access::RegularMode(*manifest));

    const QString created =
        Platform::CreationTime(QFileInfo(folder + "/BRACKET.NC")).toLocalTime().toString(Qt::ISODate);
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
}

void tst_Manifest::roundTripAndUnchangedSave()
{
    QVERIFY(MakeFile(folder + "/BRACKET.NC", 1213, kProgramTime));
    QVERIFY(MakeFile(folder + "/BRACKET.gif", 100, kOverviewTime));
    QVERIFY(MakeFile(folder + "/setup.jpg", 700, kPhotoTime));
    QVERIFY(MakeFile(folder + "/setup.jpg.thumb", 30, kPhotoTime));
    QVERIFY(MakeFile(folder + "/notes.txt", 5, kPhotoTime));

    auto manifest = Access::NewManifest(QStringLiteral("BRACKET"), manifestPath);
    QVERIFY(Access::Match(*manifest, folder));
    Access::SetPreview(Access::Lookup(*manifest, "setup.jpg"), QStringLiteral("setup.jpg.thumb"));
    Access::SetAuthor(Access::Lookup(*manifest, "notes.txt"), QStringLiteral("Ana <QA> & \"Ops\""));
    Access::Lookup(*manifest, "notes.txt")->SetComment(QStringLiteral("line one\nline two\ttabbed"));
    Access::VerifyMinimal(*manifest);
    QVERIFY(Access::Export(*manifest));
    const QByteArray first = TestUtils::ReadFile(manifestPath);

    // Read back into a fresh manifest and write again: same bytes.
    auto reread = Access::NewManifest(QStringLiteral("BRACKET"), manifestPath);
    QCOMPARE(FileNames(Access::Items(*reread)), FileNames(Access::Items(*manifest)));
    const cManifestItem *note = Access::Lookup(*reread, "notes.txt");
    QVERIFY(note);
    QCOMPARE(note->GetAuthorString(), QStringLiteral("Ana <QA> & \"Ops\""));
    QCOMPARE(note->GetCommentString(), QStringLiteral("line one\nline two\ttabbed"));
    QCOMPARE(Access::Lookup(*reread, "setup.jpg")->GetPreviewString(), QStringLiteral("setup.jpg.thumb"));
    const cManifestItem *video = Access::Item(*reread, Video);
    QVERIFY(video);
    QVERIFY(video->GetFileNameString().isEmpty());
    QVERIFY(video->IsHidden());
    QVERIFY(video->IsReadOnly());

    // An unchanged manifest is not written again: the file keeps its time.
    const QDateTime stamped(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    QVERIFY(TestUtils::SetModTime(manifestPath, stamped));
    QVERIFY(Access::Export(*reread));
    QCOMPARE(TestUtils::ReadFile(manifestPath), first);
    QCOMPARE(QFileInfo(manifestPath).lastModified().toUTC(), stamped);
    QVERIFY(!Access::Match(*reread, folder));
    QVERIFY(Access::Export(*manifest));
    QCOMPARE(QFileInfo(manifestPath).lastModified().toUTC(), stamped);
}

void tst_Manifest::writeEscapesAndDropsInvalidCharacters()
{
    QVERIFY(MakeFile(folder + "/a&b.txt", 1, kPhotoTime));
    QVERIFY(MakeFile(folder + "/c.txt", 1, kPhotoTime));
    auto manifest = Access::NewManifest(QStringLiteral("BRACKET"), manifestPath);
    Access::Add(*manifest, folder + "/a&b.txt", QString(), QStringLiteral("bell\x07here"));
    Access::Add(*manifest, folder + "/c.txt", QStringLiteral("x\x01y"));
    QVERIFY(Access::Export(*manifest));
    QVERIFY(TestUtils::ReadFile(manifestPath).contains(">a&amp;b.txt<"));

    // Every entry survives the round trip although the texts held control characters.
    auto reread = Access::NewManifest(QStringLiteral("BRACKET"), manifestPath);
    QCOMPARE(FileNames(Access::Items(*reread)), QStringLiteral("5:a&b.txt 5:c.txt"));
    QCOMPARE(Access::Lookup(*reread, "a&b.txt")->GetCommentString(), QStringLiteral("bellhere"));
    QCOMPARE(Access::Lookup(*reread, "c.txt")->GetAuthorString(), QStringLiteral("xy"));
}

void tst_Manifest::writeFailureIsReported()
{
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot write")));
    auto manifest = Access::NewManifest(QStringLiteral("BRACKET"), folder + "/missing/manifest.xml");
    Access::VerifyMinimal(*manifest);
    QVERIFY(!Access::Export(*manifest));
    QVERIFY(!QFileInfo::exists(folder + "/missing"));
}

void tst_Manifest::linkedManifestIsNeitherReadNorWrittenThrough()
{
#ifndef Q_OS_UNIX
    QSKIP("Needs symbolic links");
#endif
    const QString outside = holder->filePath(QStringLiteral("outside.xml"));
    const QByteArray outsideBytes = ManifestXml("    <Note tab=\"Notes\" type=\"text\">secret.txt</Note>\n");
    QVERIFY(TestUtils::WriteFile(outside, outsideBytes));
    QVERIFY(QFile::link(outside, manifestPath));

    auto manifest = Access::NewManifest(QStringLiteral("BRACKET"), manifestPath);
    QVERIFY(Access::Items(*manifest).isEmpty());
    QVERIFY(MakeFile(folder + "/notes.txt", 1, kPhotoTime));
    QVERIFY(Access::Match(*manifest, folder));
    QVERIFY(Access::Export(*manifest));
    QCOMPARE(TestUtils::ReadFile(outside), outsideBytes);
    QVERIFY(!QFileInfo(manifestPath).isSymLink());
    QVERIFY(TestUtils::ReadFile(manifestPath).contains("notes.txt"));
}

void tst_Manifest::readerRules()
{
    QVERIFY(MakeFile(folder + "/a.txt", 1, kPhotoTime));
    QVERIFY(TestUtils::WriteFile(
        manifestPath,
        ManifestXml("    <Note tab=\"Notes\" hidden=\"true\" read_only=\"True\" author=\"Jo\" comment=\"c\" "
                    "preview=\"p.thumb\" mod_time=\"1999-01-01T00:00:00Z\" type=\"text\">a.txt</Note>\n"
                    "    <Image hidden=\"1\">b.jpg</Image>\n"
                    "    <Video>c.mp4</Video>\n"
                    "    <Drawing>a.pdf</Drawing>\n"
                    "    <PDF mod_date=\"Mon Apr 1 07:12:44 2013\">d.pdf</PDF>\n"
                    "    <Stats tab=\"Stats\" type=\"html\"></Stats>\n")));
    auto manifest = Access::NewManifest(QStringLiteral("BRACKET"), manifestPath);
    const QList<cManifestItem *> items = Access::Items(*manifest);
    QCOMPARE(FileNames(items), QStringLiteral("5:a.txt 6:b.jpg 7:c.mp4 11:a.pdf 8:d.pdf 1:"));

    const cManifestItem *note = items.at(0);
    QVERIFY(note->IsHidden());
    QVERIFY(!note->IsReadOnly()); // only "true" is true
    QCOMPARE(note->GetAuthorString(), QStringLiteral("Jo"));
    QCOMPARE(note->GetCommentString(), QStringLiteral("c"));
    QCOMPARE(note->GetPreviewString(), QStringLiteral("p.thumb"));
    // The time comes from the file, not from "mod_time".
    QCOMPARE(note->GetModTime(), kPhotoTime);
    QCOMPARE(note->GetFileInfo().absoluteFilePath(), folder + "/a.txt");

    QVERIFY(!items.at(1)->IsHidden());
    QVERIFY(items.at(1)->IsReadOnly()); // absent: true
    QVERIFY(items.at(2)->IsHidden());
    QVERIFY(items.at(2)->GetModTime().isNull()); // no such file
    QCOMPARE(items.at(4)->GetModTime(), QDateTime(QDate(2013, 4, 1), QTime(7, 12, 44)).toUTC());
    QVERIFY(items.at(5)->GetFileInfo().filePath().isEmpty());
    QVERIFY(items.at(5)->GetModTime().isNull());
}

void tst_Manifest::readerSizes_data()
{
    QTest::addColumn<QByteArray>("attributes");
    QTest::addColumn<uint>("size");
    QTest::addColumn<uint>("limit");
    QTest::addColumn<bool>("sizeKnown");

    QTest::newRow("plain") << QByteArray("package_size=\"48213\" package_limit=\"104857600\"") << 48213u << 104857600u
                           << true;
    QTest::newRow("largest int") << QByteArray("package_size=\"2147483647\"") << 2147483647u << 0u << true;
    QTest::newRow("beyond int") << QByteArray("package_size=\"2147483648\" package_limit=\"4294967295\"") << 0u << 0u
                                << true;
    QTest::newRow("not a number") << QByteArray("package_size=\"12kB\" package_limit=\"\"") << 0u << 0u << true;
    QTest::newRow("negative") << QByteArray("package_size=\"-5\" package_limit=\"-1\"") << 0u << 0u << true;
    QTest::newRow("zero: a tutorial") << QByteArray("package_size=\"0\"") << 0u << 0u << true;
    QTest::newRow("absent") << QByteArray("package_name=\"BRACKET\"") << 0u << 0u << false;
}

void tst_Manifest::readerSizes()
{
    QFETCH(QByteArray, attributes);
    QFETCH(uint, size);
    QFETCH(uint, limit);
    QFETCH(bool, sizeKnown);
    QVERIFY(TestUtils::WriteFile(manifestPath, ManifestXml("", attributes)));
    auto manifest = Access::NewManifest(QStringLiteral("BRACKET"), manifestPath);
    QCOMPARE(Access::Size(*manifest), size);
    QCOMPARE(Access::Limit(*manifest), limit);
    QCOMPARE(Access::SizeKnown(*manifest), sizeKnown);
}

void tst_Manifest::readerFailures_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("entries");

    const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Manifest package_name=\"BRACKET\">\n"
                            "    <Note tab=\"Notes\" type=\"text\">a.txt</Note>\n";
    QTest::newRow("truncated in a tag") << head + "    <Image tab=\"Ima" << true << "5:a.txt";
    QTest::newRow("truncated after an entry") << head << true << "5:a.txt";
    QTest::newRow("child element") << head + "    <Image>b.jpg<Extra/></Image>\n    <Video>c.mp4</Video>\n</Manifest>\n"
                                   << false << "5:a.txt 6:b.jpg";
    // The element at which the error arose stays, with the text read before it.
    QTest::newRow("mismatched tag") << head + "    <Image>b.jpg</Video>\n    <PDF>d.pdf</PDF>\n</Manifest>\n"
                                    << false << "5:a.txt 6:b.jpg";
    QTest::newRow("relative path out") << head + "    <Note>../../outside.txt</Note>\n</Manifest>\n"
                                       << true << "5:a.txt";
    QTest::newRow("absolute path") << head + "    <Note>/etc/passwd</Note>\n</Manifest>\n" << true << "5:a.txt";
    QTest::newRow("windows path") << head + "    <Note>C:\\outside.txt</Note>\n</Manifest>\n" << true << "5:a.txt";
    QTest::newRow("dot dot") << head + "    <Note>..</Note>\n    <Note>.</Note>\n</Manifest>\n" << true << "5:a.txt";
    QTest::newRow("not xml") << QByteArray("\x01\x02garbage") << false << "";
    QTest::newRow("empty file") << QByteArray() << true << "";
}

void tst_Manifest::readerFailures()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, result);
    QFETCH(QString, entries);

    const QString outside = holder->filePath(QStringLiteral("outside.txt"));
    QVERIFY(MakeFile(outside, 3, kPhotoTime));
    QVERIFY(MakeFile(folder + "/a.txt", 1, kPhotoTime));

    auto manifest = Access::NewManifest(QStringLiteral("BRACKET"), folder + "/other.xml");
    Access::Add(*manifest, folder + "/a.txt");
    QVERIFY(TestUtils::WriteFile(manifestPath, content));
    Access::Relabel(*manifest, QStringLiteral("BRACKET"), manifestPath);
    QCOMPARE(Access::Import(*manifest, QStringLiteral("BRACKET")), result);
    QCOMPARE(FileNames(Access::Items(*manifest)), entries);
    for (const cManifestItem *item : Access::Items(*manifest)) {
        if (!item->GetFileNameString().isEmpty())
            QCOMPARE(item->GetFileInfo().absolutePath(), folder);
    }

    // The usual maintenance afterwards never reaches the outside file.
    Access::Match(*manifest, folder);
    QVERIFY(Access::RegularMode(*manifest));
    QCOMPARE(TestUtils::ReadFile(outside), QByteArray(3, 'x'));
    QCOMPARE(QFileInfo(outside).lastModified().toUTC(), kPhotoTime);
    QVERIFY(!TestUtils::ReadFile(manifestPath).contains("outside"));
}

void tst_Manifest::damagedFilesKeepTheNameAndStayBounded()
{
    // A file without a package name leaves the name the manifest had: else nothing would be
    // classified and the program entry would be lost.
    QVERIFY(MakeFile(folder + "/BRACKET.NC", 4, kProgramTime));
    auto manifest = Access::NewManifest(QStringLiteral("BRACKET"), manifestPath);
    for (const QByteArray &content : {QByteArray(), QByteArray("\x89PNG\r\n"), ManifestXml("", "package_size=\"5\"")}) {
        QVERIFY(TestUtils::WriteFile(manifestPath, content));
        Access::Import(*manifest, QString());
        QCOMPARE(Access::Name(*manifest), QStringLiteral("BRACKET"));
        Access::Match(*manifest, folder);
        QVERIFY(Access::Item(*manifest, NCProgram));
    }

    // Many thousands of entries are handled in one pass each.
    const int count = 60000;
    QVERIFY(TestUtils::WriteFile(manifestPath, ManifestXml(QByteArray("<Note>gone.txt</Note>\n").repeated(count))));
    QVERIFY(Access::Import(*manifest, QString()));
    QCOMPARE(Access::Items(*manifest).size(), count);
    const QList<cManifestItem *> first = Access::Items(*manifest);
    QVERIFY(Access::Import(*manifest, QString()));
    QCOMPARE(Access::Items(*manifest), first);
    QVERIFY(Access::Match(*manifest, folder));
    QVERIFY(Access::Items(*manifest, Note).isEmpty());
    const QString matched = FileNames(Access::Items(*manifest));
    QVERIFY(Access::Item(*manifest, NCProgram));

    // A runaway file is not read at all; the next save replaces it.
    QVERIFY(TestUtils::WriteFile(manifestPath, ManifestXml(QByteArray(3 * 1024 * 1024, ' '))));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not reading")));
    QVERIFY(Access::Import(*manifest, QStringLiteral("OTHER")));
    QCOMPARE(FileNames(Access::Items(*manifest)), matched);
    QVERIFY(Access::Export(*manifest));
    QVERIFY(QFileInfo(manifestPath).size() < 4096);
}

void tst_Manifest::matchAddsAndRemoves()
{
    for (const char *name : {"BRACKET.NC", "BRACKET.gif", "notes.txt", "notes.txt.thumb"})
        QVERIFY(MakeFile(folder + QLatin1Char('/') + QLatin1String(name), 4, kPhotoTime));
    QVERIFY(TestUtils::WriteFile(manifestPath, ManifestXml("")));
    QVERIFY(QDir(folder).mkdir(QStringLiteral("sub")));

    auto manifest = Access::NewManifest(QStringLiteral("BRACKET"), manifestPath);
    QVERIFY(Access::Match(*manifest, folder));
    const QList<cManifestItem *> items = Access::Items(*manifest);
    QCOMPARE(items.size(), 3);
    QVERIFY(Access::Item(*manifest, NCProgram));
    QVERIFY(Access::Item(*manifest, Overview));
    QVERIFY(Access::Item(*manifest, Note));
    QVERIFY(!Access::Match(*manifest, folder));
    QCOMPARE(Access::Items(*manifest), items);

    // A rewritten file is a change, and the next save counts its new size; so is a file
    // that vanished.
    QVERIFY(MakeFile(folder + "/notes.txt", 40, kPhotoTime.addSecs(1)));
    QVERIFY(Access::Match(*manifest, folder));
    QCOMPARE(Access::Item(*manifest, Note)->GetModTime(), kPhotoTime.addSecs(1));
    QVERIFY(Access::Export(*manifest));
    QCOMPARE(Access::Size(*manifest), 44u + QFileInfo(folder + "/BRACKET.gif").size());
    QVERIFY(QFile::remove(folder + "/notes.txt"));
    QVERIFY(Access::Match(*manifest, folder));
    QVERIFY(!Access::Item(*manifest, Note));

    // A folder that does not exist drops every entry with a file, keeps placeholders.
    Access::VerifyMinimal(*manifest);
    QVERIFY(Access::Match(*manifest, folder + "/gone"));
    QCOMPARE(FileNames(Access::Items(*manifest)), QStringLiteral("5: 6: 7:"));
}

void tst_Manifest::matchTakesTheFilesRealCase()
{
    QVERIFY(MakeFile(folder + "/photo.JPG", 4, kPhotoTime));
    auto manifest = Access::NewManifest(QStringLiteral("BRACKET"), manifestPath);
    cManifestItem *photo = Access::Add(*manifest, folder + "/photo.JPG");
    QVERIFY(QFile::rename(folder + "/photo.JPG", folder + "/photo.jpg"));

    Access::Match(*manifest, folder);
    QCOMPARE(Access::Items(*manifest), QList<cManifestItem *>{photo});
    QCOMPARE(photo->GetFileNameString(), QStringLiteral("photo.jpg"));
    QVERIFY(photo->GetFileInfo().exists());
    QCOMPARE(photo->GetModTime(), kPhotoTime);
    QVERIFY(!Access::Match(*manifest, folder));
}

void tst_Manifest::matchRemovesAdjacentVanishedEntries()
{
    auto manifest = Access::NewManifest(QStringLiteral("BRACKET"), manifestPath);
    for (const char *name : {"a.txt", "b.txt", "c.txt", "d.jpg", "e.jpg"}) {
        QVERIFY(MakeFile(folder + QLatin1Char('/') + QLatin1String(name), 1, kPhotoTime));
        Access::Add(*manifest, folder + QLatin1Char('/') + QLatin1String(name));
    }
    QVERIFY(QFile::remove(folder + "/b.txt"));
    QVERIFY(QFile::remove(folder + "/c.txt"));
    QVERIFY(Access::Match(*manifest, folder));
    QCOMPARE(FileNames(Access::Items(*manifest)), QStringLiteral("5:a.txt 6:d.jpg 6:e.jpg"));
    // Several entries of one kind keep their relative order when written.
    QVERIFY(Access::Export(*manifest));
    auto reread = Access::NewManifest(QStringLiteral("BRACKET"), manifestPath);
    QCOMPARE(FileNames(Access::Items(*reread)), QStringLiteral("5:a.txt 6:d.jpg 6:e.jpg"));
}

void tst_Manifest::matchLeavesOutLinks()
{
#ifndef Q_OS_UNIX
    QSKIP("Needs symbolic links");
#endif
    const QString outside = holder->filePath(QStringLiteral("outside.jpg"));
    QVERIFY(MakeFile(outside, 3, kPhotoTime));
    QVERIFY(QFile::link(outside, folder + "/linked.jpg"));
    QVERIFY(MakeFile(folder + "/own.jpg", 3, kPhotoTime));
    auto manifest = Access::NewManifest(QStringLiteral("BRACKET"), manifestPath);
    QVERIFY(Access::Match(*manifest, folder));
    QCOMPARE(FileNames(Access::Items(*manifest)), QStringLiteral("6:own.jpg"));
}

void tst_Manifest::regularMode()
{
    for (const char *name : {"BRACKET.NC", "BRACKET.stats.html", "photo.jpg", "scan.jpeg", "clip.mp4"})
        QVERIFY(MakeFile(folder + QLatin1Char('/') + QLatin1String(name), 10, kPhotoTime));
    QVERIFY(TestUtils::WriteFile(
        manifestPath,
        ManifestXml(
            "    <NCProgram hidden=\"false\" author=\"Unknown User\" comment=\"Program Created "
            "1999-01-01T00:00:00\">BRACKET.NC</NCProgram>\n"
            "    <Stats hidden=\"true\" author=\"Jo\" comment=\"Program Statistics\">BRACKET.stats.html</Stats>\n"
            "    <Image author=\"Ana\" comment=\"Clamp on the left\">photo.jpg</Image>\n"
            "    <Note author=\"Ana\" comment=\"was a note\">clip.mp4</Note>\n"
            "    <Unknown>scan.jpeg</Unknown>\n"
            "    <Note hidden=\"false\" author=\"x\"></Note>\n"
            "    <Video></Video>\n",
            "package_name=\"BRACKET\" package_size=\"7\" package_limit=\"5\"")));
    auto manifest = Access::NewManifest(QStringLiteral("BRACKET"), manifestPath);
    QCOMPARE(Access::Limit(*manifest), 5u);
    cManifestItem *notePlaceholder = Access::Items(*manifest).at(5);
    QVERIFY(Access::RegularMode(*manifest));

    QCOMPARE(Access::Limit(*manifest), 104857600u);
    QCOMPARE(FileNames(Access::Items(*manifest)),
             QStringLiteral("1:BRACKET.stats.html 5: 6:photo.jpg 7:clip.mp4 9:BRACKET.NC"));
    const cManifestItem *program = Access::Item(*manifest, NCProgram);
    QVERIFY(program->IsHidden());
    QVERIFY(program->GetCommentString().startsWith(QLatin1String("Program Created ")));
    QVERIFY(!program->GetCommentString().contains(QLatin1String("1999")));
    const cManifestItem *stats = Access::Item(*manifest, Stats);
    QVERIFY(!stats->IsHidden());
    QCOMPARE(stats->GetAuthorString(), QStringLiteral("Jo")); // given by someone: kept
    const cManifestItem *photo = Access::Item(*manifest, Image);
    QCOMPARE(photo->GetAuthorString(), QStringLiteral("Ana"));
    QCOMPARE(photo->GetCommentString(), QStringLiteral("Clamp on the left"));
    QCOMPARE(photo->GetModTime(), kPhotoTime);
    const cManifestItem *clip = Access::Item(*manifest, Video);
    QCOMPARE(clip->GetAuthorString(), QStringLiteral("Unknown User")); // its kind changed
    QVERIFY(clip->GetCommentString().isEmpty());
    // The note placeholder is renewed in place.
    const cManifestItem *note = Access::Item(*manifest, Note);
    QCOMPARE(note, notePlaceholder);
    QVERIFY(note->IsHidden());
    QVERIFY(note->GetAuthorString().isEmpty());

    const QByteArray written = TestUtils::ReadFile(manifestPath);
    QVERIFY(written.contains("package_limit=\"104857600\""));
    QVERIFY(written.contains("package_size=\"50\""));
    QVERIFY(written.contains("comment=\"Clamp on the left\""));
    QVERIFY(!written.contains("scan.jpeg"));
    QVERIFY(!written.contains("<Video tab=\"Videos\" type=\"video\"></Video>"));
}

void tst_Manifest::regularModeKeepsEntriesUnchangedAcrossScans()
{
    for (const char *name : {"BRACKET.NC", "BRACKET.gif", "photo.jpg"})
        QVERIFY(MakeFile(folder + QLatin1Char('/') + QLatin1String(name), 10, kPhotoTime));
    auto manifest = Access::NewManifest(QStringLiteral("BRACKET"), manifestPath);
    Access::Match(*manifest, folder);
    Access::Lookup(*manifest, "photo.jpg")->SetComment(QStringLiteral("Fixture B"));
    Access::VerifyMinimal(*manifest);
    QVERIFY(Access::Export(*manifest));
    QVERIFY(Access::RegularMode(*manifest));
    const QByteArray first = TestUtils::ReadFile(manifestPath);
    const QList<cManifestItem *> items = Access::Items(*manifest);

    // What a scan does to an unchanged package, several times over.
    for (int pass = 0; pass < 3; ++pass) {
        Access::Import(*manifest, QString());
        Access::Match(*manifest, folder);
        Access::VerifyMinimal(*manifest);
        QVERIFY(Access::Export(*manifest));
        QVERIFY(Access::RegularMode(*manifest));
        QCOMPARE(TestUtils::ReadFile(manifestPath), first);
        QCOMPARE(Access::Items(*manifest), items);
    }
    QCOMPARE(Access::Lookup(*manifest, "photo.jpg")->GetCommentString(), QStringLiteral("Fixture B"));
}

void tst_Manifest::relabelMovesEntriesAlong()
{
    QVERIFY(MakeFile(folder + "/photo.jpg", 10, kPhotoTime));
    auto manifest = Access::NewManifest(QStringLiteral("BRACKET"), manifestPath);
    Access::Match(*manifest, folder);
    cManifestItem *photo = Access::Item(*manifest, Image);
    Access::Export(*manifest);
    const QString moved = holder->filePath(QStringLiteral("ABC^NEW.pkg"));
    QVERIFY(QDir().rename(folder, moved));
    Access::Relabel(*manifest, QStringLiteral("NEW"), moved + "/manifest.xml");
    QCOMPARE(Access::Name(*manifest), QStringLiteral("NEW"));
    QCOMPARE(photo->GetFileInfo().absoluteFilePath(), moved + "/photo.jpg");
    QVERIFY(!Access::Match(*manifest, moved));
    QCOMPARE(Access::Item(*manifest, Image), photo);
}

void tst_Manifest::copiesShareEntries()
{
    for (const char *name : {"a.txt", "b.txt"})
        QVERIFY(MakeFile(folder + QLatin1Char('/') + QLatin1String(name), 1, kPhotoTime));
    auto manifest = Access::NewManifest(QStringLiteral("BRACKET"), manifestPath);
    Access::Match(*manifest, folder);
    cManifestItem *a = Access::Lookup(*manifest, "a.txt");

    auto copy = std::make_unique<cManifest>(*manifest);
    QCOMPARE(Access::Items(*copy), Access::Items(*manifest));

    // The original drops a.txt; the copy still lists it, so it stays usable.
    QVERIFY(QFile::remove(folder + "/a.txt"));
    QVERIFY(Access::Match(*manifest, folder));
    QVERIFY(!Access::Lookup(*manifest, "a.txt"));
    QCOMPARE(Access::Lookup(*copy, "a.txt"), a);
    QCOMPARE(a->GetFileNameString(), QStringLiteral("a.txt"));

    // Assignment joins the other's group and lets go of its own entries.
    auto assigned = Access::NewManifest(QStringLiteral("OTHER"), folder + "/other.xml");
    Access::VerifyMinimal(*assigned);
    *assigned = *copy;
    manifest.reset();
    copy.reset();
    QCOMPARE(Access::Lookup(*assigned, "a.txt"), a);
    QCOMPARE(a->GetFileNameString(), QStringLiteral("a.txt"));
    const cManifest &same = *assigned;
    *assigned = same;
    QCOMPARE(Access::Items(*assigned).size(), 2);

    // Re-reading keeps memory flat: entries are reused, not piled up.
    QVERIFY(Access::Export(*assigned));
    const QList<cManifestItem *> before = Access::Items(*assigned);
    for (int i = 0; i < 5; ++i)
        QVERIFY(Access::Import(*assigned, QString()));
    QCOMPARE(Access::Items(*assigned), before);
}

QTEST_GUILESS_MAIN(tst_Manifest)
#include "tst_manifest.moc"
