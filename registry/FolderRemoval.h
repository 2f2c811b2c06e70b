#pragma once

#include <QFileInfo>
#include <QString>

// Removes a folder and everything in it. Symbolic links inside are removed as links and
// never followed, so nothing outside the folder is touched. False when the folder does not
// exist or something could not be removed.
bool RemoveFolder(const QFileInfo &folder);

// Removes everything inside the folder, depth first; stops at the first failure.
bool EmptyFolder(const QString &path);
