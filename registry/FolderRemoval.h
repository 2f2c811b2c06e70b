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

// Renames a folder to a hidden name beside it, so that it leaves its place in one step
// (another process sees the folder or nothing). The new path, or empty when it could not
// be moved: then nothing has changed.
QString MoveFolderAside(const QString &folder);

// True for the hidden name of a folder set aside by MoveFolderAside; a pass removes such
// folders that an interrupted removal left behind.
bool IsFolderSetAside(const QString &name);

// Moves the folder aside, then removes it. False, with nothing changed, when it cannot be
// moved; true once it has left its place, even if some of it could not be deleted (the
// rest is removed by a later pass).
bool RemoveFolderAside(const QString &folder);
