#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

namespace Platform {

// One listing of a folder, taken once and asked many times. Unlike QDir it tells a folder
// that could not be read from one that is empty, which is what decides whether a missing
// file is evidence that it is gone.
class FolderListing
{
public:
    enum eKind { File, Folder, Link, Other };
    struct Entry
    {
        QString name;
        eKind kind = Other;
    };

    // Lists every entry, hidden ones included; not readable when the folder cannot be opened
    // or read to its end.
    static FolderListing Read(const QString &folder);

    bool IsReadable() const { return readable; }
    bool IsEmpty() const { return entries.isEmpty(); }
    const QList<Entry> &Entries() const { return entries; }
    // The entries whose names match `name` without regard to case (upper-cased forms equal).
    QList<Entry> Matching(const QString &name) const;
    bool Contains(const QString &name) const { return !Matching(name).isEmpty(); }

private:
    bool readable = false;
    QList<Entry> entries;
    QHash<QString, QList<int>> byFoldedName;
};

} // namespace Platform
