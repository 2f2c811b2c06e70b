#pragma once

#include <QHash>
#include <QList>
#include <QMutex>
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
    // The entries matching any of `names` that way, in listing order.
    QList<Entry> MatchingAny(const QStringList &names) const;
    bool Contains(const QString &name) const { return !Matching(name).isEmpty(); }

private:
    bool readable = false;
    QList<Entry> entries;
    QHash<QString, QList<int>> byFoldedName;
};

// While one lives on a thread, ListingInScope on that thread lists each folder once and
// answers from that listing after: for a start-up or a pass over many packages that share a
// few parts folders, whose cost per package must not grow with the folder. Only for folders
// the holder does not write to itself; without a scope every call lists again, so lookups
// outside a start-up or pass see every change.
class FolderIndexScope
{
public:
    FolderIndexScope();
    // On a helper thread of the pass that holds `shared`: answers from its listings, so that
    // each folder is still listed once. `shared` outlives this scope.
    explicit FolderIndexScope(FolderIndexScope &shared);
    ~FolderIndexScope();
    FolderIndexScope(const FolderIndexScope &) = delete;
    FolderIndexScope &operator=(const FolderIndexScope &) = delete;

private:
    friend FolderListing ListingInScope(const QString &folder);
    FolderIndexScope *outer;
    FolderIndexScope *owner; // the scope whose listings answer: this one or the one joined
    QMutex mutex;
    QHash<QString, FolderListing> listings;
};

// The listing of `folder` (an absolute, clean path) as the scope on this thread holds it, or
// read now when there is none.
FolderListing ListingInScope(const QString &folder);
// As FindEntryNoCase: the name itself when it exists, else the first entry in the folder's
// listing (ListingInScope) that matches it without regard to case; empty when none does.
QString FindEntryInScope(const QString &folder, const QString &name);

} // namespace Platform
