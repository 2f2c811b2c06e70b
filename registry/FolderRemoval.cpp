#include "registry/FolderRemoval.h"

bool RemoveFolder(const QFileInfo &) { return false; }
bool EmptyFolder(const QString &) { return false; }
