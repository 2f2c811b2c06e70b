#pragma once

#include "eHistoricalEvent.h"
#include "packagemetadata_export.h"

#include <QFileInfo>
#include <QObject>
#include <QString>

// Writes a package's statistics, tools and history pages (HTML5, UTF-8, written
// atomically, every text escaped).
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
};
