#include "MetadataGenerator.h"
#include "MetadataTestUtils.h"
#include "TestUtils.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using MetadataTestUtils::ReadPage;

namespace {

QFileInfo PageIn(const QTemporaryDir &dir, const QString &fileName)
{
    return QFileInfo(dir.filePath(fileName));
}

QString Cell(const MetadataTestUtils::PageSummary &page, int row, int column)
{
    if (row >= page.rows.size() || column >= page.rows.at(row).size())
        return QStringLiteral("<missing>");
    return page.rows.at(row).at(column);
}

// The statistics table as "name|runs|last run|since", with times reduced to set/unset.
QString StatsOf(const QString &path)
{
    const auto page = ReadPage(TestUtils::ReadFile(path), QStringLiteral("run-statistics"));
    if (!page.wellFormed || page.rows.size() != 4)
        return QStringLiteral("<unreadable>");
    const QString lastRun =
        Cell(page, 2, 1) == QLatin1String("Never") ? QStringLiteral("never") : QStringLiteral("set");
    return Cell(page, 0, 1) + QLatin1Char('|') + Cell(page, 1, 1) + QLatin1Char('|') + lastRun;
}

} // namespace

class tst_MetadataGenerator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void pagesAreWellFormedAndEscaped_data();
    void pagesAreWellFormedAndEscaped();

    void statsCounting();
    void statsPageMissingIsCreated();
    void nameFollowsTheFileName();

    void historyKeepsEventsInOrder();

    void foreignPagesAreNotOverwritten_data();
    void foreignPagesAreNotOverwritten();

    void toolsPageListsTools();
    void toolsPageOfProgramWithoutTools();
    void toolsPageOfLatheProgramShowsOffsets();
    void toolsPageNeedsReadableProgram();
    void toolsPageNotOlderThanProgram();

    void symlinkedPageIsNotWrittenThrough();

private:
    std::unique_ptr<QTemporaryDir> dir;
    MetadataGenerator generator;
};

void tst_MetadataGenerator::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(dir->isValid(), qPrintable(dir->errorString()));
}

void tst_MetadataGenerator::pagesAreWellFormedAndEscaped_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("name");

    const QStringList names = {QStringLiteral("<b>x</b>"), QStringLiteral("A&B \"Q\" 'S'"),
                               QString::fromUtf8("WELLE \xC3\x98"
                                                 "20 \xE2\x80\x93 \xF0\x9F\x94\xA7"),
                               QStringLiteral("CTRL\x01\x1F") + QChar(0xD800) + QStringLiteral("END")};
    for (const QString &kind :
         {QStringLiteral("stats"), QStringLiteral("history"), QStringLiteral("tools"), QStringLiteral("no-tools")}) {
        for (int i = 0; i < names.size(); ++i)
            QTest::addRow("%s %d", qPrintable(kind), i) << kind << names.at(i);
    }
}

void tst_MetadataGenerator::pagesAreWellFormedAndEscaped()
{
    QFETCH(QString, kind);
    QFETCH(QString, name);

    const QFileInfo page = PageIn(*dir, QStringLiteral("page.html"));
    const QString program = dir->filePath(QStringLiteral("prog.nc"));
    if (kind == QLatin1String("stats")) {
        QVERIFY(generator.CreateBlankStatsFile(name, page));
    } else if (kind == QLatin1String("history")) {
        QVERIFY(generator.CreateBlankHistoryFile(name, page));
        QVERIFY(generator.UpdateHistoryFile(page, OperatorNote, name));
    } else {
        QVERIFY(TestUtils::WriteFile(program, kind == QLatin1String("tools") ? "T1 M6 (" + name.toUtf8() + ")\n"
                                                                             : QByteArray("G0 X0\n")));
        QVERIFY(generator.UpdateToolsFile(name, page, QFileInfo(program)));
    }

    const QByteArray bytes = TestUtils::ReadFile(page.absoluteFilePath());
    QVERIFY(bytes.startsWith("<!DOCTYPE html>\n"));
    QVERIFY(bytes.contains("<meta charset=\"utf-8\"/>"));
    const auto summary = ReadPage(bytes, QStringLiteral("history"));
    QVERIFY2(summary.wellFormed, qPrintable(summary.error));
    QCOMPARE(summary.rootElement, QStringLiteral("html"));
    QVERIFY(!bytes.contains("<b>x</b>"));

    // Characters that neither HTML nor XML allow are dropped; the rest shows as text.
    QString shown = name;
    shown.remove(QChar(0x01)).remove(QChar(0x1F)).remove(QChar(0xD800));
    // A history row names its page after the file, like a moved package's page.
    const QString titleName = kind == QLatin1String("history") ? QStringLiteral("page") : shown;
    QVERIFY2(summary.title.endsWith(QLatin1String(": ") + titleName), qPrintable(summary.title));
    QCOMPARE(summary.heading, summary.title);
    if (kind == QLatin1String("history"))
        QCOMPARE(Cell(summary, 0, 2), shown);
    if (kind == QLatin1String("no-tools"))
        QVERIFY(summary.idsFound.contains(QStringLiteral("no-tools")));
    if (kind == QLatin1String("tools")) {
        // The description went through the program's bytes.
        QString described = QString::fromUtf8(name.toUtf8());
        described.remove(QChar(0x01)).remove(QChar(0x1F));
        QCOMPARE(ReadPage(bytes, QStringLiteral("tools")).rows.value(0).value(1), described);
    }
}

void tst_MetadataGenerator::statsCounting()
{
    const QFileInfo page = PageIn(*dir, QStringLiteral("PART1.stats.html"));
    QVERIFY(generator.CreateBlankStatsFile(QStringLiteral("PART1"), page));
    QCOMPARE(StatsOf(page.absoluteFilePath()), QStringLiteral("PART1|0|never"));

    QVERIFY(generator.UpdateStatsFile(page, 3));
    QCOMPARE(StatsOf(page.absoluteFilePath()), QStringLiteral("PART1|3|set"));
    QVERIFY(generator.UpdateStatsFile(page, 2));
    QCOMPARE(StatsOf(page.absoluteFilePath()), QStringLiteral("PART1|5|set"));

    // A negative count is refused and leaves the page as it was.
    const QByteArray before = TestUtils::ReadFile(page.absoluteFilePath());
    QVERIFY(!generator.UpdateStatsFile(page, -1));
    QCOMPARE(TestUtils::ReadFile(page.absoluteFilePath()), before);

    // 0 starts afresh: nothing has run under this name yet.
    QVERIFY(generator.UpdateStatsFile(page, 0));
    QCOMPARE(StatsOf(page.absoluteFilePath()), QStringLiteral("PART1|0|never"));
}

void tst_MetadataGenerator::statsPageMissingIsCreated()
{
    const QFileInfo page = PageIn(*dir, QStringLiteral("P2.stats.html"));
    QVERIFY(generator.UpdateStatsFile(page, 1));
    QCOMPARE(StatsOf(page.absoluteFilePath()), QStringLiteral("P2|1|set"));

    const QFileInfo empty = PageIn(*dir, QStringLiteral("P3.stats.html"));
    QVERIFY(TestUtils::WriteFile(empty.absoluteFilePath(), QByteArray()));
    QVERIFY(generator.UpdateStatsFile(empty, 4));
    QCOMPARE(StatsOf(empty.absoluteFilePath()), QStringLiteral("P3|4|set"));
}

void tst_MetadataGenerator::nameFollowsTheFileName()
{
    // A moved package renames its pages, then resets the statistics under the new name.
    const QFileInfo oldPage = PageIn(*dir, QStringLiteral("OLD.stats.html"));
    QVERIFY(generator.CreateBlankStatsFile(QStringLiteral("OLD"), oldPage));
    QVERIFY(generator.UpdateStatsFile(oldPage, 7));
    const QFileInfo newPage = PageIn(*dir, QStringLiteral("NEW.stats.html"));
    QVERIFY(QFile::rename(oldPage.absoluteFilePath(), newPage.absoluteFilePath()));
    QVERIFY(generator.UpdateStatsFile(newPage, 0));
    QCOMPARE(StatsOf(newPage.absoluteFilePath()), QStringLiteral("NEW|0|never"));

    // The history keeps its rows and takes the new name with its next row.
    const QFileInfo oldHistory = PageIn(*dir, QStringLiteral("OLD.history.html"));
    QVERIFY(generator.UpdateHistoryFile(oldHistory, ProgramRun, QStringLiteral("run")));
    const QFileInfo newHistory = PageIn(*dir, QStringLiteral("NEW.history.html"));
    QVERIFY(QFile::rename(oldHistory.absoluteFilePath(), newHistory.absoluteFilePath()));
    QVERIFY(generator.UpdateHistoryFile(newHistory, ProgramOrigin, QStringLiteral("Previous Program Name = OLD")));
    const auto history = ReadPage(TestUtils::ReadFile(newHistory.absoluteFilePath()), QStringLiteral("history"));
    QVERIFY(history.wellFormed);
    QCOMPARE(history.title, QStringLiteral("History: NEW"));
    QCOMPARE(history.heading, QStringLiteral("History: NEW"));
    QCOMPARE(history.rows.size(), 2);
}

void tst_MetadataGenerator::historyKeepsEventsInOrder()
{
    const QFileInfo page = PageIn(*dir, QStringLiteral("PART1.history.html"));
    QVERIFY(generator.CreateBlankHistoryFile(QStringLiteral("PART1"), page));
    QCOMPARE(ReadPage(TestUtils::ReadFile(page.absoluteFilePath()), QStringLiteral("history")).rows.size(), 0);

    QVERIFY(generator.UpdateHistoryFile(page, ProgramOrigin, QStringLiteral("Previous Program Name = OLD")));
    QVERIFY(generator.UpdateHistoryFile(page, ProgramRun, QStringLiteral("first run")));
    QVERIFY(generator.UpdateHistoryFile(page, eHistoricalEvent(42), QStringLiteral("<script>x</script>")));

    const QByteArray bytes = TestUtils::ReadFile(page.absoluteFilePath());
    const auto summary = ReadPage(bytes, QStringLiteral("history"), QStringLiteral("data-event"));
    QVERIFY2(summary.wellFormed, qPrintable(summary.error));
    QCOMPARE(summary.rows.size(), 3);
    QCOMPARE(summary.rowAttributes, (QStringList{"4", "1", "42"}));
    QCOMPARE(Cell(summary, 0, 1), QStringLiteral("Program origin"));
    QCOMPARE(Cell(summary, 0, 2), QStringLiteral("Previous Program Name = OLD"));
    QCOMPARE(Cell(summary, 1, 1), QStringLiteral("Program run"));
    QCOMPARE(Cell(summary, 1, 2), QStringLiteral("first run"));
    QCOMPARE(Cell(summary, 2, 1), QStringLiteral("Event 42"));
    QCOMPARE(Cell(summary, 2, 2), QStringLiteral("<script>x</script>"));
    QVERIFY(!bytes.contains("<script>"));
    // Local time, to the second.
    QVERIFY(QDateTime::fromString(Cell(summary, 0, 0), QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid());
}

void tst_MetadataGenerator::foreignPagesAreNotOverwritten_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::newRow("statistics") << QStringLiteral("X.stats.html");
    QTest::newRow("history") << QStringLiteral("X.history.html");
}

void tst_MetadataGenerator::foreignPagesAreNotOverwritten()
{
    QFETCH(QString, fileName);
    const QFileInfo page = PageIn(*dir, fileName);
    const QByteArray foreign("<html><body><p>kept by hand: 12 runs</p></body></html>\n");
    QVERIFY(TestUtils::WriteFile(page.absoluteFilePath(), foreign));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("not a .* page of this generator")));
    const bool updated = fileName.contains(QLatin1String("stats"))
                             ? generator.UpdateStatsFile(page, 1)
                             : generator.UpdateHistoryFile(page, ProgramRun, QStringLiteral("run"));
    QVERIFY(!updated);
    QVERIFY(generator.CreateBlankStatsFile(QStringLiteral("X"), page));
    QVERIFY(generator.CreateBlankHistoryFile(QStringLiteral("X"), page));
    QCOMPARE(TestUtils::ReadFile(page.absoluteFilePath()), foreign);
}

void tst_MetadataGenerator::toolsPageListsTools()
{
    const QString program = dir->filePath(QStringLiteral("PART1.NC"));
    QVERIFY(TestUtils::WriteFile(program, TestUtils::MillingProgram(QStringLiteral("PART1")) +
                                              "T1 M6 (AGAIN)\n(T9 IS A SPARE)\n"));
    const QFileInfo page = PageIn(*dir, QStringLiteral("PART1.tools.html"));
    QVERIFY(generator.UpdateToolsFile(QStringLiteral("PART1"), page, QFileInfo(program)));

    const auto summary = ReadPage(TestUtils::ReadFile(page.absoluteFilePath()), QStringLiteral("tools"));
    QVERIFY2(summary.wellFormed, qPrintable(summary.error));
    QCOMPARE(summary.title, QStringLiteral("Tools: PART1"));
    // tool, description, first line, calls
    const QList<QStringList> expected = {{"1", "12MM END MILL", "4", "2"}, {"2", "6MM DRILL", "9", "1"}};
    QCOMPARE(summary.rows, expected);

    // UpdateToolInfo takes the name from the page's file name and gives the same page.
    const QByteArray first = TestUtils::ReadFile(page.absoluteFilePath());
    QVERIFY(generator.UpdateToolInfo(page, QFileInfo(program)));
    QCOMPARE(TestUtils::ReadFile(page.absoluteFilePath()), first);
}

void tst_MetadataGenerator::toolsPageOfProgramWithoutTools()
{
    const QString program = dir->filePath(QStringLiteral("P.NC"));
    QVERIFY(TestUtils::WriteFile(program, "G0 X0 Y0\n(T5 M6 WAS REMOVED)\nM30\n"));
    const QFileInfo page = PageIn(*dir, QStringLiteral("P.tools.html"));
    QVERIFY(generator.UpdateToolsFile(QStringLiteral("P"), page, QFileInfo(program)));
    const auto summary = ReadPage(TestUtils::ReadFile(page.absoluteFilePath()), QStringLiteral("tools"));
    QVERIFY(summary.wellFormed);
    QVERIFY(summary.idsFound.contains(QStringLiteral("no-tools")));
    QVERIFY(summary.rows.isEmpty());
}

void tst_MetadataGenerator::toolsPageOfLatheProgramShowsOffsets()
{
    const QString program = dir->filePath(QStringLiteral("L"));
    QVERIFY(TestUtils::WriteFile(program, "T0303 (GROOVE)\nG0 X20.\nT7\n"));
    const QFileInfo page = PageIn(*dir, QStringLiteral("L.tools.html"));
    QVERIFY(generator.UpdateToolsFile(QStringLiteral("L"), page, QFileInfo(program)));
    const auto summary = ReadPage(TestUtils::ReadFile(page.absoluteFilePath()), QStringLiteral("tools"));
    const QList<QStringList> expected = {{"3", "3", "GROOVE", "1", "1"}, {"7", "", "", "3", "1"}};
    QCOMPARE(summary.rows, expected);
}

void tst_MetadataGenerator::toolsPageNeedsReadableProgram()
{
    const QFileInfo page = PageIn(*dir, QStringLiteral("P.tools.html"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot read")));
    QVERIFY(!generator.UpdateToolsFile(QStringLiteral("P"), page, QFileInfo(dir->filePath(QStringLiteral("P.NC")))));
    QVERIFY(!page.exists());
}

void tst_MetadataGenerator::toolsPageNotOlderThanProgram()
{
    // Otherwise every scan would find the page out of date and read the program again.
    const QString program = dir->filePath(QStringLiteral("P.NC"));
    QVERIFY(TestUtils::WriteFile(program, "T1 M6\n"));
    const QFileInfo page = PageIn(*dir, QStringLiteral("P.tools.html"));
    QVERIFY(generator.UpdateToolsFile(QStringLiteral("P"), page, QFileInfo(program)));

    const QDateTime future = QDateTime::currentDateTime().addSecs(3600);
    QVERIFY(TestUtils::SetModTime(program, future));
    QVERIFY(generator.UpdateToolsFile(QStringLiteral("P"), page, QFileInfo(program)));
    QVERIFY(QFileInfo(page.absoluteFilePath()).lastModified() >= QFileInfo(program).lastModified());

    // Same bytes, page older than the program: only its time moves.
    const QByteArray bytes = TestUtils::ReadFile(page.absoluteFilePath());
    QVERIFY(TestUtils::SetModTime(page.absoluteFilePath(), future.addSecs(-7200)));
    QVERIFY(generator.UpdateToolInfo(page, QFileInfo(program)));
    QCOMPARE(TestUtils::ReadFile(page.absoluteFilePath()), bytes);
    QVERIFY(QFileInfo(page.absoluteFilePath()).lastModified() >= QFileInfo(program).lastModified());
}

void tst_MetadataGenerator::symlinkedPageIsNotWrittenThrough()
{
    // Pages that are links to genuine pages elsewhere: nothing outside the folder changes.
    QTemporaryDir outside;
    QVERIFY2(outside.isValid(), qPrintable(outside.errorString()));
    const QFileInfo stats(outside.filePath(QStringLiteral("S.stats.html")));
    const QFileInfo history(outside.filePath(QStringLiteral("S.history.html")));
    const QFileInfo tools(outside.filePath(QStringLiteral("S.tools.html")));
    QVERIFY(generator.CreateBlankStatsFile(QStringLiteral("S"), stats));
    QVERIFY(generator.CreateBlankHistoryFile(QStringLiteral("S"), history));
    QVERIFY(TestUtils::WriteFile(tools.absoluteFilePath(), "keep"));
    const QString program = dir->filePath(QStringLiteral("S.NC"));
    QVERIFY(TestUtils::WriteFile(program, "T1 M6\n"));

    QList<QByteArray> before;
    for (const QFileInfo &target : {stats, history, tools}) {
        before << TestUtils::ReadFile(target.absoluteFilePath());
        if (!QFile::link(target.absoluteFilePath(), dir->filePath(target.fileName())))
            QSKIP("no symbolic links here");
    }

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("symbolic link")));
    QVERIFY(!generator.UpdateStatsFile(PageIn(*dir, stats.fileName()), 1));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("symbolic link")));
    QVERIFY(!generator.UpdateHistoryFile(PageIn(*dir, history.fileName()), ProgramRun, QStringLiteral("run")));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("symbolic link")));
    QVERIFY(!generator.UpdateToolsFile(QStringLiteral("S"), PageIn(*dir, tools.fileName()), QFileInfo(program)));

    QCOMPARE(TestUtils::ReadFile(stats.absoluteFilePath()), before.at(0));
    QCOMPARE(TestUtils::ReadFile(history.absoluteFilePath()), before.at(1));
    QCOMPARE(TestUtils::ReadFile(tools.absoluteFilePath()), before.at(2));
}

QTEST_GUILESS_MAIN(tst_MetadataGenerator)
#include "tst_metadatagenerator.moc"
