#include "cPackage.h"

// The overview picture and the statistics, tools and history pages.

bool cPackage::GenerateOverviewFile() { return false; }
bool cPackage::GenerateStatsFile() { return false; }
bool cPackage::GenerateToolsFile() { return false; }
bool cPackage::GenerateHistoryFile() { return false; }
bool cPackage::GenerateEssentialMetadataFiles() { return false; }
bool cPackage::UpdateStatsFile(unsigned int) { return false; }
bool cPackage::UpdateToolInfo() { return false; }
bool cPackage::UpdateHistoryFile(eHistoricalEvent, const QString &, const QString &) { return false; }
bool cPackage::CreateDiffFile() { return false; }
