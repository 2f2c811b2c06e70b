#include "programs/PartPrograms.h"

int ReadNumberAt(const QString &, int) { return -1; }
bool IsNCProgramText(const QFileInfo &) { return false; }
bool IsCONVProgramFile(const QFileInfo &) { return false; }
bool IsPartProgramFile(const QFileInfo &) { return false; }
