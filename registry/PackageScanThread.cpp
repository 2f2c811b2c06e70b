#include "registry/PackageScanThread.h"

PackageScanThread::PackageScanThread(const QDir &root, QObject *parent) : QThread(parent), packageRoot(root) {}
PackageScanThread::~PackageScanThread() { wait(); }
bool PackageScanThread::StartScan(const QStringList &, cSharedPackageMap *) { return false; }
void PackageScanThread::run() {}
QList<QFileInfo> PackageScanThread::CollectProgramFiles(const QStringList &) const { return {}; }
void PackageScanThread::RemoveStalePackages(cSharedPackageMap *) {}
