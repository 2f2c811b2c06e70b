#include "cPackage.h"

// Keeping the package's program copies in step with the parts folder.

bool cPackage::SynchronizePartFiles(ePartFilePriority) { return true; }
bool cPackage::SearchForPartProgramsInPackageFolder()
{
    SynchronizePartFiles(PartsFilePriority);
    return true;
}
bool cPackage::AddPartProgramsToPackageFolder(const QFileInfo &) { return false; }
bool cPackage::CopyPackageNCProgramToParts(const QFileInfo &) { return false; }
bool cPackage::CopyPackageConvProgramToParts(const QFileInfo &) { return false; }
