#pragma once

#include <QFileInfo>
#include <QString>

// Removes a folder and everything in it. Symbolic links inside are removed as links and
// never followed, so nothing outside the folder is touched. A folder that is itself a link
// loses only the link; its target stays. False when the folder does not exist or something
// could not be removed.
bool RemoveFolder(const QFileInfo &folder);

// Removes everything inside the folder, depth first; stops at the first failure.
bool EmptyFolder(const QString &path);
