#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFileInfo>
#include <QString>

// The small layer that gives the control's Windows file-system behaviour everywhere:
// "/" separators, case-insensitive names, copies that keep their time and never overwrite.
namespace Platform {

// "\" -> "/".
QString ToSlashes(const QString &path);

// Resolves an absolute path component by component: an exact match first, else the
// single entry that matches without regard to case. Empty when there is no such path.
QString ResolvePathNoCase(const QString &absolutePath);

// The real name of the entry `name` in `folder` (exact match first, else the first entry
// that matches without regard to case); empty when there is none.
QString FindEntryNoCase(const QString &folder, const QString &name);

// A plain file name: not empty, no "/" or "\", not "." or "..".
bool IsPlainFileName(const QString &name);

// Copies `source` to `destination` under a temporary name in the destination folder and
// renames it into place; never overwrites (false when the destination exists); the copy
// gets the source's last-modified time.
bool CopyFileKeepTime(const QString &source, const QString &destination);

// Writes the bytes atomically; skips the write when the file already holds them.
// `written` (optional) tells whether the file was written.
bool WriteFileAtomically(const QString &path, const QByteArray &bytes, bool *written = nullptr);

// Creation time, falling back to the last-modified time where the file system keeps none.
QDateTime CreationTime(const QFileInfo &file);

// Fixed folders, read from the environment at each use.
QString DefaultsDir();   // PACKAGEMANAGER_DEFAULTS_DIR
QString TempDir();       // PACKAGEMANAGER_TEMP_DIR
QString FfmpegProgram(); // PACKAGEMANAGER_FFMPEG

}  // namespace Platform
