#pragma once

#include <QByteArray>
#include <QHash>
#include <QPair>
#include <QString>
#include <QStringList>

// A generated workshop: parts folders full of realistic programs and, after a first pass,
// package folders with photographs. Shared by the benchmarks that scan.
namespace ScanWorkspace {

// G-code of about `approxBytes` (header, tool changes, contours, drilling cycles, footer);
// the same name and size always give the same text.
QByteArray MillingProgram(const QString &name, int approxBytes);

// Writes `count` programs of 2 to 6 KB, spread over `folderCount` parts folders below
// `partsRoot`; every eighth has a conversational companion. Returns the parts folders.
QStringList GeneratePrograms(const QString &partsRoot, int count, int folderCount);

// Puts a JPEG photograph into every `every`-th package folder below `packagesRoot`.
// Returns the number of images written.
int AddImages(const QString &packagesRoot, int every);

// The floor of a pass: lists each folder once and reads the size and time of every entry.
// The package folders are found by listing `packagesRoot`. Returns the number of files.
qint64 ListAndStat(const QStringList &partsFolders, const QString &packagesRoot);

// Bytes this process has handed to write() so far (/proc/self/io "wchar"); -1 when unknown.
qint64 BytesWritten();

// Size and time of every file in the package folders, to count what a pass touched.
class FileSnapshot
{
public:
    explicit FileSnapshot(const QString &packagesRoot);
    // Files added, removed, or with another size or time than in `earlier`.
    int ChangedSince(const FileSnapshot &earlier) const;

private:
    QHash<QString, QPair<qint64, qint64>> files; // path -> (size, last-modified ms)
};

} // namespace ScanWorkspace
