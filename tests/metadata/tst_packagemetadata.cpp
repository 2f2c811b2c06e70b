#include "cPackage.h"

#include "MetadataTestUtils.h"
#include "TestUtils.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <limits>
#include <memory>

struct cPackageTestAccess
{
    static std::unique_ptr<cPackage> Make(const QString &packageFolder, const QString &partProgram)
    {
        return std::unique_ptr<cPackage>(new cPackage(QFileInfo(packageFolder), QFileInfo(partProgram)));
    }
    static bool Overview(cPackage &p) { return p.GenerateOverviewFile(); }
    static bool Stats(cPackage &p) { return p.GenerateStatsFile(); }
    static bool Tools(cPackage &p) { return p.GenerateToolsFile(); }
    static bool History(cPackage &p) { return p.GenerateHistoryFile(); }
    static bool Essential(cPackage &p) { return p.GenerateEssentialMetadataFiles(); }
    static bool BindManifest(cPackage &p) { return p.GenerateManifestFile(); }
};

using Access = cPackageTestAccess;

namespace {

const QDateTime longAgo(QDate(2020, 1, 1), QTime(12, 0), Qt::UTC);
const QByteArray placeholder("GIF89a placeholder");

} // namespace

class tst_PackageMetadata : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void essentialPagesAreMadeOnce();
    void touchedProgramRewritesToolsPage();
    void noToolsPageWithoutNCProgram_data();
    void noToolsPageWithoutNCProgram();
    void overviewIsReplacedOnlyWhenMissingOrEmpty_data();
    void overviewIsReplacedOnlyWhenMissingOrEmpty();
    void emptyPagesAreMadeAgain();
    void pagesAreFoundWhateverTheCase();

    void updatesNeedManifestEntries();
    void historyRecordsTextNotNote();
    void statsAndToolsThroughTheManifest();
    void toolInfoNeedsNCProgramEntry();

private:
    // A package "X^<name>.pkg" for the program <parts>/<programFile>, with the package's
    // copy of the program when `withCopy` is set.
    std::unique_ptr<cPackage> MakePackage(const QString &name, const QString &programFile, const QByteArray &program,
                                          bool withCopy = true);
    QString PackagePath(const QString &name, const QString &fileName) const;

    std::unique_ptr<QTemporaryDir> dir;
};

void tst_PackageMetadata::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(dir->isValid(), qPrintable(dir->errorString()));
}

QString tst_PackageMetadata::PackagePath(const QString &name, const QString &fileName) const
{
    return dir->filePath(QStringLiteral("packages/X^%1.pkg/%2").arg(name, fileName));
}

std::unique_ptr<cPackage> tst_PackageMetadata::MakePackage(const QString &name, const QString &programFile,
                                                           const QByteArray &program, bool withCopy)
{
    const QString packageFolder = TestUtils::MakeDir(dir->filePath(QStringLiteral("packages/X^%1.pkg").arg(name)));
    // The packages root holds the placeholder for a missing overview picture.
    if (!TestUtils::WriteFile(dir->filePath(QStringLiteral("packages/undetermined_rendering.gif")), placeholder))
        return nullptr;
    const QString partProgram = dir->filePath(QStringLiteral("parts/") + programFile);
    if (!TestUtils::WriteFile(partProgram, program))
        return nullptr;
    if (withCopy && !TestUtils::WriteFile(PackagePath(name, programFile), program))
        return nullptr;
    return Access::Make(packageFolder, partProgram);
}

void tst_PackageMetadata::essentialPagesAreMadeOnce()
{
    auto package = MakePackage(QStringLiteral("PART1"), QStringLiteral("PART1.NC"),
                               TestUtils::MillingProgram(QStringLiteral("PART1")));
    QVERIFY(package);
    QVERIFY(Access::Essential(*package));

    const QString overview = PackagePath(QStringLiteral("PART1"), QStringLiteral("PART1.gif"));
    QCOMPARE(TestUtils::ReadFile(overview), placeholder);
    const QStringList pages = {PackagePath(QStringLiteral("PART1"), QStringLiteral("PART1.stats.html")),
                               PackagePath(QStringLiteral("PART1"), QStringLiteral("PART1.tools.html")),
                               PackagePath(QStringLiteral("PART1"), QStringLiteral("PART1.history.html"))};
    for (const QString &page : pages) {
        QVERIFY2(QFileInfo::exists(page), qPrintable(page));
        QVERIFY(MetadataTestUtils::ReadPage(TestUtils::ReadFile(page)).wellFormed);
    }
    const auto tools = MetadataTestUtils::ReadPage(TestUtils::ReadFile(pages.at(1)), QStringLiteral("tools"));
    QCOMPARE(tools.rows.size(), 2);
    QCOMPARE(tools.title, QStringLiteral("Tools: PART1"));

    // Pages from long ago, the program older still: a second run must leave every page alone.
    QVERIFY(
        TestUtils::SetModTime(PackagePath(QStringLiteral("PART1"), QStringLiteral("PART1.NC")), longAgo.addDays(-1)));
    for (const QString &file : pages + QStringList{overview})
        QVERIFY(TestUtils::SetModTime(file, longAgo));
    QVERIFY(Access::Essential(*package)); // the pages exist
    for (const QString &file : pages + QStringList{overview})
        QCOMPARE(QFileInfo(file).lastModified(), longAgo.toLocalTime());
}

void tst_PackageMetadata::touchedProgramRewritesToolsPage()
{
    auto package = MakePackage(QStringLiteral("PART1"), QStringLiteral("PART1.NC"), "T1 M6 (ROUGH)\n");
    QVERIFY(package);
    QVERIFY(Access::Tools(*package));
    const QString page = PackagePath(QStringLiteral("PART1"), QStringLiteral("PART1.tools.html"));
    const QString copy = PackagePath(QStringLiteral("PART1"), QStringLiteral("PART1.NC"));

    QVERIFY(TestUtils::SetModTime(page, longAgo));
    QVERIFY(TestUtils::WriteFile(copy, "T1 M6 (ROUGH)\nT4 M6 (FINISH)\n"));
    QVERIFY(TestUtils::SetModTime(copy, longAgo.addDays(1)));
    QVERIFY(Access::Tools(*package));

    QVERIFY(QFileInfo(page).lastModified() >= QFileInfo(copy).lastModified());
    const auto tools = MetadataTestUtils::ReadPage(TestUtils::ReadFile(page), QStringLiteral("tools"));
    QCOMPARE(tools.rows, (QList<QStringList>{{"1", "ROUGH", "1", "1"}, {"4", "FINISH", "2", "1"}}));
}

void tst_PackageMetadata::noToolsPageWithoutNCProgram_data()
{
    QTest::addColumn<QString>("programFile");
    QTest::addColumn<bool>("withCopy");
    QTest::newRow("conversational program only") << QStringLiteral("PART2.CNV") << true;
    QTest::newRow("NC program not copied into the package") << QStringLiteral("PART2.NC") << false;
    QTest::newRow("no part program known") << QString() << false;
}

void tst_PackageMetadata::noToolsPageWithoutNCProgram()
{
    QFETCH(QString, programFile);
    QFETCH(bool, withCopy);
    std::unique_ptr<cPackage> package;
    if (programFile.isEmpty()) {
        const QString folder = TestUtils::MakeDir(dir->filePath(QStringLiteral("packages/X^PART2.pkg")));
        package = Access::Make(folder, dir->filePath(QStringLiteral("parts/PART2.NC")));
    } else {
        package = MakePackage(QStringLiteral("PART2"), programFile, TestUtils::ConversationalProgram(), withCopy);
    }
    QVERIFY(package);
    QVERIFY(!Access::Tools(*package));
    QVERIFY(!QFileInfo::exists(PackagePath(QStringLiteral("PART2"), QStringLiteral("PART2.tools.html"))));
    // The other pages do not depend on a program.
    QVERIFY(Access::Stats(*package));
    QVERIFY(Access::History(*package));
}

void tst_PackageMetadata::overviewIsReplacedOnlyWhenMissingOrEmpty_data()
{
    QTest::addColumn<QByteArray>("existing"); // null: no file
    QTest::addColumn<bool>("replaced");
    QTest::newRow("missing") << QByteArray() << true;
    QTest::newRow("empty") << QByteArray("") << true;
    QTest::newRow("present") << QByteArray("GIF89a-not-really") << false;
}

void tst_PackageMetadata::overviewIsReplacedOnlyWhenMissingOrEmpty()
{
    QFETCH(QByteArray, existing);
    QFETCH(bool, replaced);
    auto package = MakePackage(QStringLiteral("P"), QStringLiteral("P.NC"), "T1 M6\n");
    QVERIFY(package);
    const QString overview = PackagePath(QStringLiteral("P"), QStringLiteral("P.gif"));
    if (!existing.isNull())
        QVERIFY(TestUtils::WriteFile(overview, existing));

    QCOMPARE(Access::Overview(*package), replaced);
    if (replaced) {
        QCOMPARE(TestUtils::ReadFile(overview), placeholder);
    } else {
        QCOMPARE(TestUtils::ReadFile(overview), existing);
    }
}

void tst_PackageMetadata::emptyPagesAreMadeAgain()
{
    auto package = MakePackage(QStringLiteral("P"), QStringLiteral("P.NC"), "T1 M6\n");
    QVERIFY(package);
    const QStringList pages = {PackagePath(QStringLiteral("P"), QStringLiteral("P.stats.html")),
                               PackagePath(QStringLiteral("P"), QStringLiteral("P.tools.html")),
                               PackagePath(QStringLiteral("P"), QStringLiteral("P.history.html"))};
    for (const QString &page : pages) {
        QVERIFY(TestUtils::WriteFile(page, QByteArray()));
        QVERIFY(TestUtils::SetModTime(page, QDateTime::currentDateTime().addSecs(3600)));
    }
    QVERIFY(Access::Essential(*package));
    for (const QString &page : pages)
        QVERIFY2(MetadataTestUtils::ReadPage(TestUtils::ReadFile(page)).wellFormed, qPrintable(page));
}

void tst_PackageMetadata::pagesAreFoundWhateverTheCase()
{
    // A page written with other letter case is the package's page; no second one appears.
    auto package = MakePackage(QStringLiteral("P"), QStringLiteral("P.NC"), "T1 M6\n");
    QVERIFY(package);
    const QString odd = PackagePath(QStringLiteral("P"), QStringLiteral("p.STATS.html"));
    QVERIFY(TestUtils::WriteFile(odd, "kept"));
    QVERIFY(Access::Stats(*package));
    QCOMPARE(TestUtils::ReadFile(odd), QByteArray("kept"));
    QVERIFY(!QFileInfo::exists(PackagePath(QStringLiteral("P"), QStringLiteral("P.stats.html"))));
}

void tst_PackageMetadata::updatesNeedManifestEntries()
{
    // The pages exist, but the manifest has not been bound to the folder: no entries.
    auto package = MakePackage(QStringLiteral("P"), QStringLiteral("P.NC"), "T1 M6\n");
    QVERIFY(package);
    Access::Essential(*package);
    QVERIFY(!package->UpdateStatsFile(1));
    QVERIFY(!package->UpdateToolInfo());
    QVERIFY(!package->UpdateHistoryFile(ProgramRun, QStringLiteral("run"), QString()));
}

void tst_PackageMetadata::historyRecordsTextNotNote()
{
    auto package = MakePackage(QStringLiteral("PART1"), QStringLiteral("PART1.NC"), "T1 M6\n");
    QVERIFY(package);
    Access::Essential(*package);
    QVERIFY(Access::BindManifest(*package));

    QVERIFY(package->UpdateHistoryFile(ProgramOrigin, QStringLiteral("Copied From Program Name = OLD"),
                                       QStringLiteral("NOTE-1")));
    QVERIFY(package->UpdateHistoryFile(ProgramRun, QStringLiteral("run <1>"), QStringLiteral("NOTE-2")));
    QVERIFY(package->UpdateHistoryFile(OperatorNote, QStringLiteral("chips everywhere"), QStringLiteral("NOTE-3")));

    const QByteArray bytes =
        TestUtils::ReadFile(PackagePath(QStringLiteral("PART1"), QStringLiteral("PART1.history.html")));
    QVERIFY(!bytes.contains("NOTE-"));
    const auto history = MetadataTestUtils::ReadPage(bytes, QStringLiteral("history"), QStringLiteral("data-event"));
    QVERIFY2(history.wellFormed, qPrintable(history.error));
    QCOMPARE(history.rowAttributes, (QStringList{"4", "1", "5"}));
    QStringList texts;
    for (const QStringList &row : history.rows)
        texts << row.value(2);
    QCOMPARE(texts, (QStringList{"Copied From Program Name = OLD", "run <1>", "chips everywhere"}));
}

void tst_PackageMetadata::statsAndToolsThroughTheManifest()
{
    auto package = MakePackage(QStringLiteral("PART1"), QStringLiteral("PART1.NC"), "T1 M6\n");
    QVERIFY(package);
    Access::Essential(*package);
    QVERIFY(Access::BindManifest(*package));

    const QString stats = PackagePath(QStringLiteral("PART1"), QStringLiteral("PART1.stats.html"));
    QVERIFY(package->UpdateStatsFile(2));
    QVERIFY(package->UpdateStatsFile(1));
    auto page = MetadataTestUtils::ReadPage(TestUtils::ReadFile(stats), QStringLiteral("run-statistics"));
    QCOMPARE(page.rows.value(1).value(1), QStringLiteral("3"));

    // A count the generator cannot take must not turn into a negative one.
    const QByteArray before = TestUtils::ReadFile(stats);
    QVERIFY(!package->UpdateStatsFile(unsigned(std::numeric_limits<int>::max()) + 1u));
    QCOMPARE(TestUtils::ReadFile(stats), before);

    const QString copy = PackagePath(QStringLiteral("PART1"), QStringLiteral("PART1.NC"));
    QVERIFY(TestUtils::WriteFile(copy, "T8 M6 (BORE)\n"));
    QVERIFY(package->UpdateToolInfo());
    page = MetadataTestUtils::ReadPage(
        TestUtils::ReadFile(PackagePath(QStringLiteral("PART1"), QStringLiteral("PART1.tools.html"))),
        QStringLiteral("tools"));
    QCOMPARE(page.rows, (QList<QStringList>{{"8", "BORE", "1", "1"}}));
}

void tst_PackageMetadata::toolInfoNeedsNCProgramEntry()
{
    auto package = MakePackage(QStringLiteral("C"), QStringLiteral("C.CNV"), TestUtils::ConversationalProgram());
    QVERIFY(package);
    Access::Essential(*package);
    QVERIFY(Access::BindManifest(*package));
    QVERIFY(!package->UpdateToolInfo());
    QVERIFY(package->UpdateStatsFile(1));
}

QTEST_GUILESS_MAIN(tst_PackageMetadata)
#include "tst_packagemetadata.moc"
