#pragma once

#include "ProgramFacts.h"
#include "eHistoricalEvent.h"
#include "packagemetadata_export.h"

#include <QFileInfo>
#include <QObject>
#include <QString>

// Writes a package's statistics, tools and history pages (HTML5, UTF-8, written
// atomically, every text escaped). The generator keeps no state: what a page must remember
// is recorded in the page itself, so one generator may serve any number of pages.
//
// Statistics page: the program's name, the number of completed runs, the time of the last
// run and the time since when runs are counted. UpdateStatsFile(page, count) with count > 0
// adds count completed runs and sets the last run to now; count 0 starts the statistics
// afresh (no runs, never run, counted from now), as after a copy or a move, where nothing has
// run under the new name yet; a negative count changes nothing and fails.
//
// The statistics page also shows the program's figures (extents, work offsets, estimated
// cycle time); UpdateProgramFacts replaces them and keeps the run counts.
//
// Tools page: the tools of the NC program in order of first use (see ParseToolUsage), with
// each tool's lowest Z, path length and share of the estimated cycle time. The overloads
// without facts read the program themselves.
//
// History page: one row per event (local time, event, text), newest last.
//
// The tools page holds nothing but what the program gives, so an update rebuilds it whatever
// it held. A statistics or history page that exists but was not written by this generator is
// never overwritten by an update (the update fails); the Create operations keep an existing
// non-empty page.
class PACKAGEMETADATA_EXPORT MetadataGenerator : public QObject
{
    Q_OBJECT

public:
    MetadataGenerator();
    ~MetadataGenerator() override;

    bool CreateBlankStatsFile(const QString &packageName, const QFileInfo &statsPage);
    bool CreateBlankHistoryFile(const QString &packageName, const QFileInfo &historyPage);
    bool UpdateToolsFile(const QString &packageName, const QFileInfo &toolsPage, const QFileInfo &ncProgram);
    bool UpdateStatsFile(const QFileInfo &statsPage, int count);
    bool UpdateToolInfo(const QFileInfo &toolsPage, const QFileInfo &ncProgram);
    bool UpdateHistoryFile(const QFileInfo &historyPage, eHistoricalEvent event, const QString &text);
    // Whether UpdateHistoryFile may add a row to this page: it is missing, empty or a
    // readable history page of this generator. When it may and the update fails, the write
    // failed.
    bool CanRecordHistory(const QFileInfo &historyPage) const;

    bool UpdateToolsFile(const QString &packageName, const QFileInfo &toolsPage, const QFileInfo &ncProgram,
                         const ProgramFacts &facts);
    bool UpdateProgramFacts(const QFileInfo &statsPage, const ProgramFacts &facts);
};
