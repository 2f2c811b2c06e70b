#pragma once

#include <QString>
#include <QStringList>

// What a pass of the background scan left alone and why, for a host that tells the user.
struct tPackageScanReport
{
    // Packages kept because a folder that decides their fate could not be read: the packages
    // root, a package folder or a parts folder (a share that dropped, a mount not yet made).
    unsigned int keptUnreachable = 0;
    QStringList unreachableFolders;
    // Files of the scanned folders that got no package, each as "path: reason".
    QStringList skippedFiles;
};
