#include "MetadataGenerator.h"

MetadataGenerator::MetadataGenerator() = default;
MetadataGenerator::~MetadataGenerator() = default;
bool MetadataGenerator::CreateBlankStatsFile(const QString &, const QFileInfo &) { return false; }
bool MetadataGenerator::CreateBlankHistoryFile(const QString &, const QFileInfo &) { return false; }
bool MetadataGenerator::UpdateToolsFile(const QString &, const QFileInfo &, const QFileInfo &) { return false; }
bool MetadataGenerator::UpdateStatsFile(const QFileInfo &, int) { return false; }
bool MetadataGenerator::UpdateToolInfo(const QFileInfo &, const QFileInfo &) { return false; }
bool MetadataGenerator::UpdateHistoryFile(const QFileInfo &, eHistoricalEvent, const QString &) { return false; }
