#include "TestUtils.h"
#include "cPackage.h"
#include "platform/PlatformFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

struct cPackageTestAccess
{
    static std::unique_ptr<cPackage> Open(const QString &folder)
    {
        return std::unique_ptr<cPackage>(new cPackage(QStringLiteral("ABC^BRACKET"), QDir(folder), QDir()));
    }
    static void Generate(cPackage &package) { (void)package.GenerateManifestFile(); }
    // What the scan does to every package.
    static void Maintain(cPackage &package)
    {
        (void)package.GenerateManifestFile();
        (void)package.OpenUpPackageToFullMode();
    }
    static bool Export(cPackage &package) { return package.ExportManifest(); }
    static int Kind(const cManifestItem *item) { return int(item->GetMetadataType()); }
};
using Access = cPackageTestAccess;

// A package maintained again and again leaves "manifest.xml" alone while nothing changes,
// and still sees every change made on either side: in the file by someone else, in memory
// by the host.
class tst_ManifestResync : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void unchangedMaintenanceLeavesTheFileAlone();
    void sameSizeEditOfTheFileIsRead();
    void hostEditInMemoryIsReadOverAsBefore();
    void hostEditIsWrittenByExport();
    void removedFileIsWrittenAgain();
    void maintainedStateEqualsAFreshRead_data();
    void maintainedStateEqualsAFreshRead();

private:
    cManifestItem *NoteEntry() const;

    std::unique_ptr<QTemporaryDir> holder;
    QString folder;
    QString manifestPath;
    std::unique_ptr<cPackage> package;
};

cManifestItem *tst_ManifestResync::NoteEntry() const
{
    for (cManifestItem *item : package->GetManifestItems(Note)) {
        if (item->GetFileNameString() == QLatin1String("notes.txt"))
            return item;
    }
    return nullptr;
}

void tst_ManifestResync::init()
{
    package.reset();
    holder = std::make_unique<QTemporaryDir>();
    QVERIFY2(holder->isValid(), qPrintable(holder->errorString()));
    folder = TestUtils::MakeDir(holder->filePath(QStringLiteral("packages/ABC^BRACKET.pkg")));
    manifestPath = folder + QStringLiteral("/manifest.xml");
    QVERIFY(TestUtils::WriteFile(folder + QStringLiteral("/BRACKET.NC"), TestUtils::MillingProgram("BRACKET")));
    QVERIFY(TestUtils::WriteFile(folder + QStringLiteral("/notes.txt"), "clamp on the left\n"));
    package = Access::Open(folder);
    Access::Maintain(*package);
    QVERIFY(NoteEntry());
    NoteEntry()->SetComment(QStringLiteral("first"));
    QVERIFY(Access::Export(*package));
}

void tst_ManifestResync::unchangedMaintenanceLeavesTheFileAlone()
{
    // The first pass lists the overview picture that the program's entry made.
    Access::Maintain(*package);
    const QByteArray bytes = TestUtils::ReadFile(manifestPath);
    const Platform::FileStamp stamp = Platform::StampOf(manifestPath);
    QVERIFY(stamp.IsValid());
    cManifestItem *note = NoteEntry();
    for (int pass = 0; pass < 3; ++pass)
        Access::Maintain(*package);
    QCOMPARE(Platform::StampOf(manifestPath), stamp);
    QCOMPARE(TestUtils::ReadFile(manifestPath), bytes);
    // The host's pointers stay valid and keep their texts.
    QCOMPARE(NoteEntry(), note);
    QCOMPARE(note->GetCommentString(), QStringLiteral("first"));
}

void tst_ManifestResync::sameSizeEditOfTheFileIsRead()
{
    QByteArray bytes = TestUtils::ReadFile(manifestPath);
    QVERIFY(bytes.contains("comment=\"first\""));
    const QDateTime time = QFileInfo(manifestPath).lastModified();
    // Another program rewrites the file in place: same size, same time.
    bytes.replace("comment=\"first\"", "comment=\"other\"");
    {
        QFile file(manifestPath);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QCOMPARE(file.write(bytes), qint64(bytes.size()));
    }
    QVERIFY(TestUtils::SetModTime(manifestPath, time));

    Access::Generate(*package);
    QVERIFY(NoteEntry());
    QCOMPARE(NoteEntry()->GetCommentString(), QStringLiteral("other"));
}

void tst_ManifestResync::hostEditInMemoryIsReadOverAsBefore()
{
    // Generating reads the file first: what the host set without saving gives way to what
    // the file says, whether or not the file changed.
    NoteEntry()->SetComment(QStringLiteral("unsaved"));
    Access::Generate(*package);
    QCOMPARE(NoteEntry()->GetCommentString(), QStringLiteral("first"));
    QVERIFY(TestUtils::ReadFile(manifestPath).contains("comment=\"first\""));
}

void tst_ManifestResync::hostEditIsWrittenByExport()
{
    Access::Maintain(*package);
    NoteEntry()->SetComment(QStringLiteral("saved"));
    QVERIFY(Access::Export(*package));
    QVERIFY(TestUtils::ReadFile(manifestPath).contains("comment=\"saved\""));
    Access::Maintain(*package);
    QCOMPARE(NoteEntry()->GetCommentString(), QStringLiteral("saved"));
}

void tst_ManifestResync::removedFileIsWrittenAgain()
{
    const QByteArray bytes = TestUtils::ReadFile(manifestPath);
    QVERIFY(QFile::remove(manifestPath));
    QVERIFY(Access::Export(*package));
    QCOMPARE(TestUtils::ReadFile(manifestPath), bytes);
    QVERIFY(QFile::remove(manifestPath));
    Access::Maintain(*package);
    QVERIFY(QFileInfo::exists(manifestPath));
    QCOMPARE(NoteEntry()->GetCommentString(), QStringLiteral("first"));
}

void tst_ManifestResync::maintainedStateEqualsAFreshRead_data()
{
    QTest::addColumn<QString>("comment");
    QTest::newRow("plain") << QStringLiteral("clamp on the left");
    QTest::newRow("markup characters") << QStringLiteral("a < b & \"c\" > 'd'");
    QTest::newRow("line breaks and tab") << QStringLiteral("one\ntwo\r\nthree\tfour");
    QTest::newRow("control character") << QStringLiteral("bell\x07here");
    QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + QStringLiteral("x");
    QTest::newRow("beyond the basic plane") << QString::fromUtf8("caf\xC3\xA9 \xF0\x9F\x94\xA7");
    QTest::newRow("empty") << QString();
}

void tst_ManifestResync::maintainedStateEqualsAFreshRead()
{
    QFETCH(QString, comment);
    NoteEntry()->SetComment(comment);
    QVERIFY(Access::Export(*package));
    Access::Maintain(*package);
    Access::Maintain(*package);

    // What a package opened afresh on the same folder makes of the file.
    auto fresh = Access::Open(folder);
    Access::Maintain(*fresh);
    const QList<cManifestItem *> ours = package->GetManifestItems(Unknown);
    const QList<cManifestItem *> theirs = fresh->GetManifestItems(Unknown);
    QCOMPARE(ours.size(), theirs.size());
    for (qsizetype i = 0; i < ours.size(); ++i) {
        QCOMPARE(ours.at(i)->GetFileNameString(), theirs.at(i)->GetFileNameString());
        QCOMPARE(Access::Kind(ours.at(i)), Access::Kind(theirs.at(i)));
        QCOMPARE(ours.at(i)->GetCommentString(), theirs.at(i)->GetCommentString());
        QCOMPARE(ours.at(i)->GetAuthorString(), theirs.at(i)->GetAuthorString());
        QCOMPARE(ours.at(i)->GetPreviewString(), theirs.at(i)->GetPreviewString());
        QCOMPARE(ours.at(i)->IsHidden(), theirs.at(i)->IsHidden());
        QCOMPARE(ours.at(i)->IsReadOnly(), theirs.at(i)->IsReadOnly());
        QCOMPARE(ours.at(i)->GetModTime(), theirs.at(i)->GetModTime());
    }
    QCOMPARE(package->GetPackageSize(), fresh->GetPackageSize());
    QCOMPARE(package->GetPackageName(), fresh->GetPackageName());
}

QTEST_GUILESS_MAIN(tst_ManifestResync)
#include "tst_manifestresync.moc"
