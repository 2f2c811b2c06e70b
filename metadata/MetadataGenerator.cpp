#include "MetadataGenerator.h"

#include "MetadataLogging_p.h"
#include "PageWriter.h"
#include "ToolUsage.h"
#include "platform/RegularFiles.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>
#include <limits>

Q_LOGGING_CATEGORY(lcMetadata, "packagemanager.metadata", QtWarningMsg)

namespace {

const QString statsSuffix = QStringLiteral(".stats.html");
const QString toolsSuffix = QStringLiteral(".tools.html");
const QString historySuffix = QStringLiteral(".history.html");

// Rows are inserted before this marker, so adding one never parses the page. Escaped text
// cannot contain "<", so no recorded text can forge it.
const QByteArray historyEnd = QByteArrayLiteral("<!--history-end-->");
const QByteArray historyTable = QByteArrayLiteral("<table id=\"history\">");
// The program's figures on the statistics page, kept as they are when the runs change.
const QByteArray factsBegin = QByteArrayLiteral("<!--program-facts-->");
const QByteArray factsEnd = QByteArrayLiteral("<!--program-facts-end-->");

constexpr qint64 maxStatsPageSize = 1024 * 1024;
constexpr qint64 maxHistoryPageSize = 256 * 1024 * 1024;

bool IsMissingOrEmpty(const QFileInfo &page)
{
    const QFileInfo fresh(page.absoluteFilePath());
    return !fresh.exists() || (fresh.isFile() && fresh.size() == 0);
}

// ---- statistics ------------------------------------------------------------------------

struct RunStatistics
{
    qint64 runs = 0;
    QDateTime lastRun;       // invalid when the program has not run
    QDateTime since;         // start of counting
    QByteArray programFacts; // the marked section, markers included; empty when none
};

QString Number(double value, int decimals = 1)
{
    return QString::number(value, 'f', decimals);
}

QString Duration(double seconds)
{
    const qint64 whole = qint64(std::llround(seconds));
    return QStringLiteral("%1:%2:%3")
        .arg(whole / 3600)
        .arg((whole / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(whole % 60, 2, 10, QLatin1Char('0'));
}

QString RangeText(const AxisRange &range)
{
    return range.set ? Number(range.min, 3) % QStringLiteral(" to ") % Number(range.max, 3) : QStringLiteral("not set");
}

QString StoppedText(const ProgramFacts &facts)
{
    return QStringLiteral("The reading stopped at line ") % QString::number(facts.stoppedAtLine) %
           QStringLiteral(" (") % PageWriter::Text(facts.reason) %
           QStringLiteral("); the figures cover the program up to there.");
}

QByteArray ProgramFactsSection(const ProgramFacts &facts)
{
    QString body = QStringLiteral("<table id=\"program-facts\" data-complete=\"") %
                   (facts.complete ? QStringLiteral("true") : QStringLiteral("false")) %
                   QStringLiteral("\">\n<tbody>\n");
    const auto row = [&body](const QString &name, const QString &value) {
        body +=
            QStringLiteral("<tr><th>") % name % QStringLiteral("</th><td>") % value % QStringLiteral("</td></tr>\n");
    };
    const char axes[] = {'X', 'Y', 'Z'};
    for (int axis = 0; axis < 3; ++axis)
        row(QStringLiteral("Extent %1 (mm)").arg(QLatin1Char(axes[axis])), RangeText(facts.extents.axis[axis]));
    row(QStringLiteral("Work offsets"), facts.workOffsets.isEmpty()
                                            ? QStringLiteral("none")
                                            : PageWriter::Text(facts.workOffsets.join(QLatin1String(", "))));
    row(QStringLiteral("Estimated cycle time"), Duration(facts.cycleTimeS));
    row(QStringLiteral("Feed path (mm)"), Number(facts.feedLengthMm));
    row(QStringLiteral("Rapid path (mm)"), Number(facts.rapidLengthMm));
    row(QStringLiteral("Tool changes"), QString::number(facts.toolChanges));
    if (!facts.complete)
        row(QStringLiteral("Note"), StoppedText(facts));
    body += QStringLiteral("</tbody>\n</table>\n");
    return factsBegin + '\n' + body.toUtf8() + factsEnd + '\n';
}

QByteArray StatsPage(const QString &name, const RunStatistics &stats)
{
    QString body;
    body += QStringLiteral("<table id=\"run-statistics\" data-runs=\"") % QString::number(stats.runs) %
            QStringLiteral("\" data-last-run=\"") % PageWriter::RecordTime(stats.lastRun) %
            QStringLiteral("\" data-since=\"") % PageWriter::RecordTime(stats.since) % QStringLiteral("\">\n<tbody>\n");
    body += QStringLiteral("<tr><th>Program</th><td>") % PageWriter::Text(name) % QStringLiteral("</td></tr>\n");
    body += QStringLiteral("<tr><th>Completed runs</th><td>") % QString::number(stats.runs) %
            QStringLiteral("</td></tr>\n");
    const QString lastRun =
        stats.lastRun.isValid() ? PageWriter::LocalTimeText(stats.lastRun) : QStringLiteral("Never");
    body += QStringLiteral("<tr><th>Last run</th><td>") % lastRun % QStringLiteral("</td></tr>\n");
    body += QStringLiteral("<tr><th>Counted since</th><td>") % PageWriter::LocalTimeText(stats.since) %
            QStringLiteral("</td></tr>\n");
    body += QStringLiteral("</tbody>\n</table>\n");
    return PageWriter::Head(QStringLiteral("Statistics: ") + name) + body.toUtf8() + stats.programFacts +
           PageWriter::Tail();
}

// Reads the statistics back from a page written by StatsPage.
bool ParseStatsPage(const QByteArray &page, RunStatistics *stats)
{
    // Escaped text cannot contain "<", so no recorded text can forge the markers.
    const qsizetype begin = page.indexOf(factsBegin);
    const qsizetype end = begin < 0 ? -1 : page.indexOf(factsEnd, begin);
    if (end > begin)
        stats->programFacts = page.mid(begin, end + factsEnd.size() - begin) + '\n';
    QXmlStreamReader reader(page);
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = reader.attributes();
        if (attributes.value(QLatin1String("id")) != QLatin1String("run-statistics"))
            continue;
        bool ok = false;
        stats->runs = attributes.value(QLatin1String("data-runs")).toLongLong(&ok);
        if (!ok || stats->runs < 0)
            return false;
        stats->lastRun = PageWriter::ParseRecordTime(attributes.value(QLatin1String("data-last-run")).toString());
        stats->since = PageWriter::ParseRecordTime(attributes.value(QLatin1String("data-since")).toString());
        if (!stats->since.isValid())
            stats->since = QDateTime::currentDateTimeUtc();
        return true;
    }
    return false;
}

// The page's statistics; a missing or empty page gives fresh ones.
bool LoadStats(const QFileInfo &statsPage, RunStatistics *stats)
{
    if (IsMissingOrEmpty(statsPage)) {
        stats->since = QDateTime::currentDateTimeUtc();
        return true;
    }
    const QString path = statsPage.absoluteFilePath();
    QByteArray page;
    if (!PageWriter::Read(path, maxStatsPageSize, &page))
        return false;
    if (!ParseStatsPage(page, stats)) {
        qCWarning(lcMetadata) << "not a statistics page of this generator:" << path;
        return false;
    }
    return true;
}

// ---- tools -----------------------------------------------------------------------------

QByteArray ToolsPage(const QString &name, const QString &programFileName, const ProgramFacts &facts)
{
    const QList<ToolUse> &tools = facts.toolUsage;
    QHash<int, const ToolFacts *> factsOf;
    for (const ToolFacts &tool : facts.tools)
        factsOf.insert(tool.tool, &tool);
    QString body;
    body += QStringLiteral("<p>Program file: <span id=\"program-file\">") % PageWriter::Text(programFileName) %
            QStringLiteral("</span></p>\n");
    if (tools.isEmpty()) {
        body += QStringLiteral("<p id=\"no-tools\">This program calls no tools.</p>\n");
    } else {
        // The offset column only for programs that give offsets (the lathe form).
        const bool offsets =
            std::any_of(tools.cbegin(), tools.cend(), [](const ToolUse &use) { return use.offset >= 0; });
        body += QStringLiteral("<table id=\"tools\">\n<thead><tr><th>Tool</th>");
        if (offsets)
            body += QStringLiteral("<th>Offset</th>");
        body += QStringLiteral("<th>Description</th><th>First used on line</th><th>Calls</th><th>Lowest Z (mm)</th>"
                               "<th>Path length (mm)</th><th>Share of time</th></tr></thead>\n<tbody>\n");
        for (const ToolUse &use : tools) {
            body += QStringLiteral("<tr><td>") % QString::number(use.tool) % QStringLiteral("</td>");
            if (offsets)
                body += QStringLiteral("<td>") % (use.offset >= 0 ? QString::number(use.offset) : QString()) %
                        QStringLiteral("</td>");
            body += QStringLiteral("<td>") % PageWriter::Text(use.description) % QStringLiteral("</td><td>") %
                    QString::number(use.firstLine) % QStringLiteral("</td><td>") % QString::number(use.calls) %
                    QStringLiteral("</td>");
            const ToolFacts *tool = factsOf.value(use.tool);
            const bool lowest = tool && tool->extents.axis[2].set;
            body += QStringLiteral("<td>") % (lowest ? Number(tool->extents.axis[2].min, 3) : QString()) %
                    QStringLiteral("</td><td>") %
                    (tool ? Number(tool->feedLengthMm + tool->rapidLengthMm) : QString()) %
                    QStringLiteral("</td><td>") %
                    (tool && facts.cycleTimeS > 0 ? Number(100 * tool->timeS / facts.cycleTimeS) + QLatin1Char('%')
                                                  : QString()) %
                    QStringLiteral("</td></tr>\n");
        }
        body += QStringLiteral("</tbody>\n</table>\n");
        if (facts.toolUsageTruncated)
            body += QStringLiteral("<p id=\"tools-truncated\">Only the first ") %
                    QString::number(ToolUsageLimits::maxTools) %
                    QStringLiteral(" tools are listed; the program calls more.</p>\n");
    }
    if (!facts.complete)
        body += QStringLiteral("<p id=\"facts-partial\">") % StoppedText(facts) % QStringLiteral("</p>\n");
    return PageWriter::Head(QStringLiteral("Tools: ") + name) + body.toUtf8() + PageWriter::Tail();
}

// In UTC: local time would look up the time zone for every page. Null for a missing file.
QDateTime ModifiedUtc(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? Platform::ModifiedUtc(info) : QDateTime();
#else
    return QFileInfo(path).lastModified().toUTC();
#endif
}

// A tools page must not look older than its program, or every scan would rebuild it.
void KeepNewerThanProgram(const QString &pagePath, const QFileInfo &program, bool written)
{
    const QDateTime programTime = ModifiedUtc(program.absoluteFilePath());
    const QDateTime pageTime = ModifiedUtc(pagePath);
    if (written && pageTime >= programTime)
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    // ExistingOnly: a page removed meanwhile must not come back as an empty file.
    QFile page(pagePath);
    if (!page.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly) ||
        !page.setFileTime(programTime > now ? programTime : now, QFileDevice::FileModificationTime))
        qCWarning(lcMetadata) << "cannot set the time of" << pagePath;
}

bool ReadFacts(const QFileInfo &ncProgram, ProgramFacts *facts)
{
    // The package's copy: a link could put another file's contents on the page, a FIFO
    // would block.
    QFile program;
    if (!Platform::OpenRegularFile(program, ncProgram.absoluteFilePath(), Platform::LinkPolicy::Refuse)) {
        qCWarning(lcMetadata) << "cannot read" << ncProgram.absoluteFilePath() << "(missing, or not a regular file)";
        return false;
    }
    *facts = ReadProgramFacts(program);
    return true;
}

bool WriteToolsPage(const QString &name, const QFileInfo &toolsPage, const QFileInfo &ncProgram,
                    const ProgramFacts &facts)
{
    const QString path = toolsPage.absoluteFilePath();
    bool written = false;
    // Made from the program again whenever it is missing, empty or older.
    if (!PageWriter::Write(path, ToolsPage(name, ncProgram.fileName(), facts), &written, true))
        return false;
    KeepNewerThanProgram(path, ncProgram, written);
    return true;
}

// ---- history ---------------------------------------------------------------------------

QString EventName(eHistoricalEvent event)
{
    switch (event) {
    case ProgramCreated:
        return QStringLiteral("Program created");
    case ProgramRun:
        return QStringLiteral("Program run");
    case ProgramEdited:
        return QStringLiteral("Program edited");
    case StatisticsReset:
        return QStringLiteral("Statistics reset");
    case ProgramOrigin:
        return QStringLiteral("Program origin");
    case OperatorNote:
        return QStringLiteral("Operator note");
    }
    return QStringLiteral("Event %1").arg(int(event));
}

QByteArray BlankHistoryPage(const QString &name)
{
    QByteArray page = PageWriter::Head(QStringLiteral("History: ") + name);
    page += historyTable;
    page += QByteArrayLiteral("\n<thead><tr><th>Time</th><th>Event</th><th>Details</th></tr></thead>\n"
                              "<tbody>\n");
    page += historyEnd;
    page += QByteArrayLiteral("\n</tbody>\n</table>\n");
    page += PageWriter::Tail();
    return page;
}

QByteArray HistoryRow(eHistoricalEvent event, const QString &text)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QString row = QStringLiteral("<tr data-event=\"") % QString::number(int(event)) %
                        QStringLiteral("\" data-time=\"") % PageWriter::RecordTime(now) % QStringLiteral("\"><td>") %
                        PageWriter::LocalTimeText(now) % QStringLiteral("</td><td>") %
                        PageWriter::Text(EventName(event)) % QStringLiteral("</td><td>") % PageWriter::Text(text) %
                        QStringLiteral("</td></tr>\n");
    return row.toUtf8();
}

} // namespace

MetadataGenerator::MetadataGenerator() = default;
MetadataGenerator::~MetadataGenerator() = default;

bool MetadataGenerator::CreateBlankStatsFile(const QString &packageName, const QFileInfo &statsPage)
{
    if (!IsMissingOrEmpty(statsPage))
        return true;
    RunStatistics stats;
    stats.since = QDateTime::currentDateTimeUtc();
    // Blank pages are made again when missing or empty.
    return PageWriter::Write(statsPage.absoluteFilePath(), StatsPage(packageName, stats), nullptr, true);
}

bool MetadataGenerator::CreateBlankHistoryFile(const QString &packageName, const QFileInfo &historyPage)
{
    if (!IsMissingOrEmpty(historyPage))
        return true;
    return PageWriter::Write(historyPage.absoluteFilePath(), BlankHistoryPage(packageName), nullptr, true);
}

bool MetadataGenerator::UpdateToolsFile(const QString &packageName, const QFileInfo &toolsPage,
                                        const QFileInfo &ncProgram)
{
    ProgramFacts facts;
    return ReadFacts(ncProgram, &facts) && WriteToolsPage(packageName, toolsPage, ncProgram, facts);
}

bool MetadataGenerator::UpdateToolsFile(const QString &packageName, const QFileInfo &toolsPage,
                                        const QFileInfo &ncProgram, const ProgramFacts &facts)
{
    return WriteToolsPage(packageName, toolsPage, ncProgram, facts);
}

bool MetadataGenerator::UpdateProgramFacts(const QFileInfo &statsPage, const ProgramFacts &facts)
{
    RunStatistics stats;
    if (!LoadStats(statsPage, &stats))
        return false;
    stats.programFacts = ProgramFactsSection(facts);
    // A page that has counted no run yet holds nothing that cannot be made again.
    const bool recordsRuns = stats.runs != 0 || stats.lastRun.isValid();
    return PageWriter::Write(statsPage.absoluteFilePath(),
                             StatsPage(PageWriter::NameFromPage(statsPage.fileName(), statsSuffix), stats), nullptr,
                             !recordsRuns);
}

bool MetadataGenerator::UpdateStatsFile(const QFileInfo &statsPage, int count)
{
    if (count < 0)
        return false;
    const QString path = statsPage.absoluteFilePath();
    RunStatistics stats;
    if (!LoadStats(statsPage, &stats))
        return false;

    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (count == 0) {
        const QByteArray programFacts = stats.programFacts;
        stats = RunStatistics();
        stats.since = now;
        stats.programFacts = programFacts;
    } else {
        stats.runs = stats.runs > std::numeric_limits<qint64>::max() - count ? std::numeric_limits<qint64>::max()
                                                                             : stats.runs + count;
        stats.lastRun = now;
    }
    return PageWriter::Write(path, StatsPage(PageWriter::NameFromPage(statsPage.fileName(), statsSuffix), stats));
}

bool MetadataGenerator::UpdateToolInfo(const QFileInfo &toolsPage, const QFileInfo &ncProgram)
{
    ProgramFacts facts;
    return ReadFacts(ncProgram, &facts) &&
           WriteToolsPage(PageWriter::NameFromPage(toolsPage.fileName(), toolsSuffix), toolsPage, ncProgram, facts);
}

bool MetadataGenerator::CanRecordHistory(const QFileInfo &historyPage) const
{
    if (IsMissingOrEmpty(historyPage))
        return true;
    QByteArray page;
    if (!PageWriter::Read(historyPage.absoluteFilePath(), maxHistoryPageSize, &page))
        return false;
    const qsizetype table = page.indexOf(historyTable);
    return table >= 0 && page.lastIndexOf(historyEnd) >= table;
}

bool MetadataGenerator::UpdateHistoryFile(const QFileInfo &historyPage, eHistoricalEvent event, const QString &text)
{
    const QString path = historyPage.absoluteFilePath();
    QByteArray page;
    if (IsMissingOrEmpty(historyPage))
        page = BlankHistoryPage(PageWriter::NameFromPage(historyPage.fileName(), historySuffix));
    else if (!PageWriter::Read(path, maxHistoryPageSize, &page))
        return false;

    const qsizetype table = page.indexOf(historyTable);
    const qsizetype end = page.lastIndexOf(historyEnd);
    if (table < 0 || end < table) {
        qCWarning(lcMetadata) << "not a history page of this generator:" << path;
        return false;
    }
    page.insert(end, HistoryRow(event, text));
    // The heading follows the file's name, which changes when the package is moved.
    const QByteArray head =
        PageWriter::Head(QStringLiteral("History: ") + PageWriter::NameFromPage(historyPage.fileName(), historySuffix));
    if (table != head.size() || !page.startsWith(head))
        page.replace(0, table, head);
    return PageWriter::Write(path, page);
}
