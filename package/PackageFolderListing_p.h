#pragma once

#include "platform/FolderListing.h"

#include <QString>

#include <optional>

// One listing of a package folder for the case-blind lookups of one step (the program copy,
// the pages, or all of a new package's files); without one, each lookup lists the folder
// afresh. A step asks for a name as it is written before it asks the listing, so the files
// it writes itself are found; a file that another writer gives another spelling meanwhile
// is seen by the next step that lists.
class PackageFolderListing
{
public:
    // A scope for the folder an enclosing scope already lists adds nothing: the lookups
    // keep that listing.
    explicit PackageFolderListing(const QString &folder) : folder(folder), outer(current)
    {
        if (!For(folder))
            current = this;
    }
    ~PackageFolderListing()
    {
        if (current == this)
            current = outer;
    }
    PackageFolderListing(const PackageFolderListing &) = delete;
    PackageFolderListing &operator=(const PackageFolderListing &) = delete;

    // For a name the caller found missing as it is written: the entry of `folder` that
    // matches it without regard to case, from the step's listing; empty when none.
    static QString OtherSpelling(const QString &folder, const QString &name);

private:
    static PackageFolderListing *For(const QString &folder)
    {
        return current && current->folder == folder ? current : nullptr;
    }
    const Platform::FolderListing &Listing()
    {
        if (!listing)
            listing = Platform::FolderListing::Read(folder);
        return *listing;
    }

    QString folder;
    std::optional<Platform::FolderListing> listing;
    PackageFolderListing *outer;
    static thread_local PackageFolderListing *current;
};
