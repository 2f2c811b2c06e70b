#pragma once

#include <QHash>
#include <QImage>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

// What the scale benchmark adds to the scan workspace: notes and PDFs beside the
// photographs, edits of a share of the programs, camera-sized pictures, and the process's
// own memory and I/O figures.
namespace ScaleWorkspace {

// Puts a note into every `noteEvery`-th and a small PDF into every `pdfEvery`-th package
// folder below `packagesRoot`. Returns the number of files written.
int AddNotesAndPdfs(const QString &packagesRoot, int noteEvery, int pdfEvery);

// Rewrites every `every`-th NC program of the parts folders (the next one without a
// conversational companion) with other G-code (a new size and time). Returns the package folder names
// ("<identifier>.pkg") they belong to.
QSet<QString> EditPrograms(const QStringList &partsFolders, int every);

// Smooth gradients, shapes and grain: about what a camera picture costs to decode.
QImage Photograph(int width, int height, quint32 seed);

// A field of /proc/self/status ("VmRSS", "VmHWM") in KiB; -1 when unknown.
qint64 StatusKiB(const char *field);
// A field of /proc/self/io ("write_bytes", "wchar"); -1 when unknown.
qint64 IoCounter(const char *field);

// Size and time of every file in the package folders, by folder.
class FolderSnapshot
{
public:
    explicit FolderSnapshot(const QString &packagesRoot);
    // Files added, removed, or with another size or time than in `earlier`.
    int ChangedFiles(const FolderSnapshot &earlier) const;
    // Package folder names with at least one such file.
    QSet<QString> ChangedFolders(const FolderSnapshot &earlier) const;

private:
    // folder name -> (file name -> (size, last-modified ns))
    QHash<QString, QHash<QString, QPair<qint64, qint64>>> folders;
};

} // namespace ScaleWorkspace
