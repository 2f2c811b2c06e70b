#include "MetadataGenerator.h"
#include "ProgramPreview.h"
#include "cPackage.h"

#include "TestUtils.h"

#include <QImage>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <limits>

namespace {

// A generated page read back. The pages are XHTML-compatible, so an XML reader checks
// their structure.
struct Page
{
    bool wellFormed = false;
    QString title;
    QList<QStringList> rows; // cell texts of the table's body rows (a page has one table at most)
};

Page ReadPage(const QString &path)
{
    Page page;
    QXmlStreamReader xml(TestUtils::ReadFile(path));
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"title")
            page.title = xml.readElementText();
        else if (xml.isStartElement() && xml.name() == u"tbody") {
            while (xml.readNextStartElement()) { // a row, until </tbody>
                page.rows << QStringList();
                while (xml.readNextStartElement()) // a cell, until </tr>
                    page.rows.last() << xml.readElementText(QXmlStreamReader::IncludeChildElements);
            }
        }
    }
    page.wellFormed = !xml.hasError();
    return page;
}

} // namespace

struct cPackageTestAccess
{
    static cPackage *Make(const QString &dir, const QString &nc) { return new cPackage(QFileInfo(dir), QFileInfo(nc)); }
    static bool Essential(cPackage &p) { return p.GenerateEssentialMetadataFiles(); }
    static bool BindManifest(cPackage &p) { return p.GenerateManifestFile(); }
    static bool Export(cPackage &p) { return p.ExportManifest(); }
    static cPackage *MakeInNewFolder(const QString &dir, const QString &nc)
    {
        return new cPackage(QFileInfo(dir), QFileInfo(nc), cPackage::FolderJustMade());
    }
    static bool FillNewFolder(cPackage &p) { return p.FillNewFolder(); }
};

using Access = cPackageTestAccess;

class tst_PackageMetadata : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<cPackage> package;
    MetadataGenerator generator;
    QString Path(const QString &name) const { return dir->filePath(name); }
    QString In(const QString &name) const { return dir->filePath("packages/X^P.pkg/" + name); }
    // The package X^P.pkg of the program parts/<file>, holding its copy; the packages root
    // holds the placeholder for a missing overview picture.
    bool Make(const QString &file, const QByteArray &program)
    {
        const bool made =
            TestUtils::WriteFile(dir->filePath("packages/undetermined_rendering.gif"), "GIF89a placeholder") &&
            TestUtils::WriteFile(dir->filePath("parts/" + file), program) && TestUtils::WriteFile(In(file), program);
        package.reset(Access::Make(dir->filePath("packages/X^P.pkg"), dir->filePath("parts/" + file)));
        return made;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("packagemanager.metadata.warning=false")); // refusals warn
    }
    void init() { dir = std::make_unique<QTemporaryDir>(); }

    void essentialPagesAreMadeOnceAndFollowTheProgram()
    {
        QVERIFY(Make("P.NC", "T1 M6 (ROUGH)\n") && Access::Essential(*package));
        const QStringList files = {In("P.stats.html"), In("P.tools.html"), In("P.history.html"), In("P.gif")};
        QCOMPARE(TestUtils::ReadFile(In("P.gif")), QByteArray("GIF89a placeholder"));
        const QDateTime longAgo(QDate(2020, 1, 1), QTime(12, 0));
        QVERIFY(TestUtils::SetModTime(In("P.NC"), longAgo.addDays(-1)));
        for (const QString &file : files)
            QVERIFY(TestUtils::SetModTime(file, longAgo) && (file.endsWith(u".gif") || ReadPage(file).wellFormed));
        QVERIFY(Access::Essential(*package)); // writes nothing
        for (const QString &file : files)
            QCOMPARE(QFileInfo(file).lastModified(), longAgo);

        QVERIFY(TestUtils::WriteFile(In("P.NC"), "T1 M6 (ROUGH)\nT4 M6 (FINISH)\n"));
        QVERIFY(TestUtils::SetModTime(In("P.NC"), longAgo.addDays(1)));
        QVERIFY(TestUtils::WriteFile(In("P.stats.html"), QByteArray()) && Access::Essential(*package));
        QCOMPARE(ReadPage(In("P.tools.html")).rows, (QList<QStringList>{{"1", "ROUGH", "1", "1", "", "0.0", "0.0%"},
                                                                        {"4", "FINISH", "2", "1", "", "0.0", "0.0%"}}));
        QCOMPARE(ReadPage(In("P.stats.html")).rows.value(4), // an emptied page is made again, with the figures
                 (QStringList{"Extent X (mm)", "not set"}));
    }

    // The toolpath replaces the placeholder, scaled to fit with its dimensions written below;
    // a rendering put there afterwards (the host's) stays until the program changes.
    void overviewShowsTheToolpathAndKeepsTheHostsRendering()
    {
        const QByteArray pocket = "T1 M6\nG0 X0 Y0 Z5\nG1 Z-2 F100\nX80\nY40\nX0\nY0\nG0 Z5\nM30\n";
        QVERIFY(Make("P.NC", pocket) && Access::Essential(*package));
        QImage picture;
        QVERIFY(picture.load(In("P.gif"), "GIF"));
        QCOMPARE(picture.size(), QSize(160, 120));
        QRect drawn;
        bool textBelow = false;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x) {
                const QColor c = picture.pixelColor(x, y);
                if (c.saturation() > 100) // the tool's colour
                    drawn |= QRect(x, y, 1, 1);
                else if (c.lightness() < 100 && y > drawn.bottom())
                    textBelow = true;
            }
        QVERIFY2(drawn.width() > 140 && std::abs(drawn.width() - 2 * drawn.height()) < 4,
                 qPrintable(QStringLiteral("%1 x %2").arg(drawn.width()).arg(drawn.height())));
        QVERIFY(textBelow);
        // The GIF holds the drawing exactly: every pixel in its palette colour.
        const QImage expected = ProgramPreview::Draw(ReadProgramFacts(In("P.NC")));
        QCOMPARE(picture.convertToFormat(QImage::Format_RGB32), expected.convertToFormat(QImage::Format_RGB32));
        QCOMPARE(ReadPage(In("P.tools.html")).rows,
                 (QList<QStringList>{{"1", "", "1", "1", "-2.000", "254.0", "96.7%"}}));

        const QDateTime later = QDateTime::currentDateTime().addSecs(60);
        QVERIFY(TestUtils::WriteFile(In("P.gif"), "host") && TestUtils::SetModTime(In("P.gif"), later));
        (void)Access::Essential(*package);
        QCOMPARE(TestUtils::ReadFile(In("P.gif")), QByteArray("host"));
        QVERIFY(TestUtils::WriteFile(In("P.NC"), pocket) && TestUtils::SetModTime(In("P.NC"), later.addSecs(60)));
        QVERIFY(Access::Essential(*package));
        QVERIFY(picture.load(In("P.gif"), "GIF"));
    }

    // A package from before overviews were drawn: the placeholder's bytes, pages newer than
    // the program. A pass draws the toolpath once; for a program without motion it marks the
    // placeholder (with the tools page's time) so that later passes leave it alone.
    void placeholderOverviewIsDrawnOnce_data()
    {
        QTest::addColumn<QByteArray>("program");
        QTest::addColumn<bool>("drawn");
        QTest::newRow("motion") << QByteArray("T1 M6\nG0 X0 Y0 Z5\nG1 Z-1 F100\nX40 Y20\n") << true;
        QTest::newRow("no motion") << QByteArray("T1 M6 (ROUGH)\n") << false;
    }

    void placeholderOverviewIsDrawnOnce()
    {
        QFETCH(QByteArray, program);
        QFETCH(bool, drawn);
        QVERIFY(Make("P.NC", program) && Access::Essential(*package));
        const QDateTime longAgo(QDate(2020, 1, 1), QTime(12, 0));
        QVERIFY(TestUtils::WriteFile(In("P.gif"), "GIF89a placeholder") &&
                TestUtils::SetModTime(In("P.gif"), longAgo.addSecs(-60)) &&
                TestUtils::SetModTime(In("P.NC"), longAgo.addDays(-1)));
        for (const char *page : {"P.stats.html", "P.tools.html", "P.history.html"})
            QVERIFY(TestUtils::SetModTime(In(page), longAgo));
        QVERIFY(Access::Essential(*package));
        QImage picture;
        QCOMPARE(picture.load(In("P.gif"), "GIF"), drawn);
        QCOMPARE(QFileInfo(In("P.gif")).lastModified() == longAgo, !drawn);
        const QByteArray overview = TestUtils::ReadFile(In("P.gif"));
        const QDateTime overviewTime = QFileInfo(In("P.gif")).lastModified();
        QVERIFY(Access::Essential(*package)); // writes nothing
        QCOMPARE(TestUtils::ReadFile(In("P.gif")), overview);
        QCOMPARE(QFileInfo(In("P.gif")).lastModified(), overviewTime);
        QCOMPARE(QFileInfo(In("P.tools.html")).lastModified(), longAgo);
    }

    // No tools page without an NC program. A page written with other letter case is the
    // package's page: no second one appears.
    void conversationalPackage()
    {
        QVERIFY(Make("P.CNV", TestUtils::ConversationalProgram()) && TestUtils::WriteFile(In("p.STATS.html"), "kept"));
        QVERIFY(Access::Essential(*package) && ReadPage(In("P.history.html")).wellFormed);
        QVERIFY(!QFileInfo::exists(In("P.tools.html")) && !QFileInfo::exists(In("P.stats.html")));
        QCOMPARE(TestUtils::ReadFile(In("p.STATS.html")), QByteArray("kept"));
    }

    // The scan makes a folder, then takes its lock; another process may fill the folder in
    // between. What that writer recorded stays.
    void newFolderFilledMeanwhileKeepsTheOtherWritersTexts()
    {
        QVERIFY(Make("P.NC", "T1 M6\n") && Access::Essential(*package) && Access::BindManifest(*package));
        package->GetManifestItem(NCProgram)->SetComment("set up by the other control");
        QVERIFY(Access::Export(*package));

        const std::unique_ptr<cPackage> fresh(
            Access::MakeInNewFolder(dir->filePath("packages/X^P.pkg"), dir->filePath("parts/P.NC")));
        QVERIFY(Access::FillNewFolder(*fresh));
        QCOMPARE(fresh->GetManifestItem(NCProgram)->GetCommentString(), QString("set up by the other control"));
        QVERIFY(TestUtils::ReadFile(In("manifest.xml")).contains("set up by the other control"));
    }

    void updatesThroughTheManifest()
    {
        QVERIFY(Make("P.NC", "T1 M6\n") && Access::Essential(*package) && Access::BindManifest(*package));
        // The second argument is recorded, the third ignored.
        QVERIFY(package->UpdateHistoryFile(ProgramOrigin, "OLD", "NOTE-1"));
        QVERIFY(package->UpdateHistoryFile(ProgramRun, "run <1>", "NOTE-2"));
        QVERIFY(package->UpdateHistoryFile(OperatorNote, "chips", "NOTE-3"));
        QStringList rows;
        for (const QStringList &row : ReadPage(In("P.history.html")).rows)
            rows << row.mid(1).join(u'|');
        QCOMPARE(rows, (QStringList{"Program origin|OLD", "Program run|run <1>", "Operator note|chips"}));
        QVERIFY(!TestUtils::ReadFile(In("P.history.html")).contains("NOTE-"));

        // A count adds completed runs; 0 starts afresh (as after a copy or a move); a count the
        // generator cannot take must not turn into a negative one.
        QVERIFY(package->UpdateStatsFile(2) && package->UpdateStatsFile(1));
        QCOMPARE(ReadPage(In("P.stats.html")).rows.value(1), (QStringList{"Completed runs", "3"}));
        const QByteArray before = TestUtils::ReadFile(In("P.stats.html"));
        QVERIFY(!package->UpdateStatsFile(unsigned(std::numeric_limits<int>::max()) + 1u));
        QCOMPARE(TestUtils::ReadFile(In("P.stats.html")), before);
        QVERIFY(package->UpdateStatsFile(0));
        QCOMPARE(ReadPage(In("P.stats.html")).rows.mid(1, 2),
                 (QList<QStringList>{{"Completed runs", "0"}, {"Last run", "Never"}}));
    }
    // A name with markup, a control character and a lone surrogate shows as text on every page.
    void pagesAreWellFormedAndEscaped()
    {
        const QString shown = QString::fromUtf8("<b>x</b> & \"Q\" \xC3\x98"), name = shown + u'\x01' + QChar(0xD800);
        QVERIFY(!generator.UpdateToolsFile(name, QFileInfo(Path("P.tools.html")), QFileInfo(Path("P.NC"))) &&
                !QFileInfo::exists(Path("P.tools.html"))); // no program to read, no page
        // A program dated ahead: the page must not be older, or every scan would remake it.
        QVERIFY(TestUtils::WriteFile(Path("P.NC"), "G0 X0\n(T5 M6 WAS REMOVED)\n"));
        QVERIFY(TestUtils::SetModTime(Path("P.NC"), QDateTime::currentDateTime().addSecs(3600)));
        QVERIFY(generator.UpdateToolsFile(name, QFileInfo(Path("P.tools.html")), QFileInfo(Path("P.NC"))));
        QVERIFY(generator.CreateBlankStatsFile(name, QFileInfo(Path("P.stats.html"))));
        QVERIFY(generator.UpdateHistoryFile(QFileInfo(Path("P.history.html")), OperatorNote, name));
        QVERIFY(QFileInfo(Path("P.tools.html")).lastModified() >= QFileInfo(Path("P.NC")).lastModified());
        for (const QString &page : {Path("P.stats.html"), Path("P.history.html"), Path("P.tools.html")}) {
            const QByteArray bytes = TestUtils::ReadFile(page);
            const Page read = ReadPage(page);
            QVERIFY2(read.wellFormed && bytes.startsWith("<!DOCTYPE html>\n") &&
                         bytes.contains("<meta charset=\"utf-8\"/>") && !bytes.contains("<b>"),
                     qPrintable(page));
            // A history page is named after its file, as a moved package's page is.
            QCOMPARE(read.title.section(QLatin1String(": "), 1),
                     page.contains(u"history") ? QStringLiteral("P") : shown);
            // The tools page of a program whose only T is in a comment says it calls none.
            QVERIFY(page.contains(u"tools") ? bytes.contains("id=\"no-tools\"") && read.rows.isEmpty()
                                            : read.rows.value(0).contains(shown));
        }
    }

    void pagesNotOursAreLeftAlone_data()
    {
        QTest::addColumn<bool>("history");
        QTest::addColumn<bool>("linked"); // a link to a genuine page outside the folder, or a page of someone else
        for (const bool history : {false, true}) {
            QTest::addRow("link to %s page", history ? "history" : "stats") << history << true;
            QTest::addRow("foreign %s page", history ? "history" : "stats") << history << false;
        }
    }

    void pagesNotOursAreLeftAlone()
    {
        QFETCH(bool, history);
        QFETCH(bool, linked);
        QTemporaryDir outside;
        const QString page = Path("X.html"), target = linked ? outside.filePath("X.html") : page;
        const auto update = [&](const QString &at) {
            return history ? generator.UpdateHistoryFile(QFileInfo(at), ProgramRun, "run")
                           : generator.UpdateStatsFile(QFileInfo(at), 1);
        };
        QVERIFY(linked ? update(target) && QFile::link(target, page)
                       : TestUtils::WriteFile(page, "<p>kept by hand</p>"));
        const QByteArray before = TestUtils::ReadFile(target);
        QVERIFY(!update(page));
        QVERIFY(linked || (generator.CreateBlankStatsFile("X", QFileInfo(page)) &&
                           generator.CreateBlankHistoryFile("X", QFileInfo(page))));
        QCOMPARE(TestUtils::ReadFile(target), before);
    }
};

QTEST_GUILESS_MAIN(tst_PackageMetadata)
#include "tst_packagemetadata.moc"
