#pragma once

#include "platform/FolderListing.h"

#include <QHash>
#include <QString>

// What one pass knows of the parts folders: each folder is resolved and listed at most once,
// however many packages name it. Valid for one pass only; a decision to delete looks again.
class PartsFolderIndex
{
public:
    // The real folder named by a package identifier's parts-folder key; empty when it does
    // not resolve.
    QString FolderOf(const QString &packageUID);
    // The listing of a folder (absolute path as resolved).
    const Platform::FolderListing &ListingOf(const QString &folder);

private:
    QHash<QString, QString> folderByKey;
    QHash<QString, Platform::FolderListing> listings;
};

// Whether a listing holds the program of that name: "NAME", "NAME.NC" or "NAME.CNV",
// compared as identifiers compare names. Any such file counts, whatever it holds.
bool HoldsProgramNamed(const Platform::FolderListing &listing, const QString &programName);
