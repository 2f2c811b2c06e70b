#include "MetadataGenerator.h"
#include "MetadataTestUtils.h"
#include "TestUtils.h"

#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>

using MetadataTestUtils::ReadPage;

class tst_MetadataGenerator : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    MetadataGenerator generator;
    QString Path(const QString &name) const { return dir->filePath(name); }

private Q_SLOTS:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QLoggingCategory::setFilterRules(QStringLiteral("packagemanager.metadata.warning=false")); // refusals warn
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
            const MetadataTestUtils::Page read = ReadPage(page);
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

QTEST_GUILESS_MAIN(tst_MetadataGenerator)
#include "tst_metadatagenerator.moc"
