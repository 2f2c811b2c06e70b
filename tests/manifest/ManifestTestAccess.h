#pragma once

#include "cManifest.h"
#include "cManifestItem.h"
#include "cPackage.h"

#include <QByteArray>
#include <QDateTime>
#include <QFileInfo>
#include <QString>

#include <memory>

// Reaches the protected operations of the manifest classes for the tests.
struct cPackageTestAccess
{
    static std::unique_ptr<cManifest> NewManifest(const QString &name, const QString &manifestPath)
    {
        return std::unique_ptr<cManifest>(new cManifest(name, QFileInfo(manifestPath)));
    }
    static cManifestItem NewItem(eMetadataType type = Unknown) { return cManifestItem(type); }

    static eMetadataType Classify(const QString &fileName, const QString &packageName)
    {
        return cManifestItem().AutoDetermineFileType(fileName, packageName);
    }

    // Item
    static eMetadataType Kind(const cManifestItem *item) { return item->GetMetadataType(); }
    static void SetFile(cManifestItem &item, const QString &path) { item.SetFileInfo(QFileInfo(path)); }
    static void SetModTime(cManifestItem &item, const QString &text) { item.SetModTime(text); }
    static void SetAuthor(cManifestItem *item, const QString &author) { item->SetAuthor(author); }
    static void SetPreview(cManifestItem *item, const QString &preview) { item->SetPreview(preview); }
    static bool AutoPopulate(cManifestItem &item, const QString &name) { return item.AutoPopulateAttributes(name); }
    static bool SyncModTime(cManifestItem &item) { return item.SyncModTime(); }
    static bool SyncThumbnail(cManifestItem &item) { return item.SyncThumbnail(); }
    static QString Tab(const cManifestItem &item) { return item.GetTabString(); }

    // Manifest
    static bool Import(cManifest &manifest, const QString &name) { return manifest.ImportFromManifestFile(name); }
    static bool Export(cManifest &manifest) { return manifest.ExportToManifestFile(); }
    static bool Match(cManifest &manifest, const QString &folder)
    {
        return manifest.MatchManifestToFiles(QDir(folder));
    }
    static void VerifyMinimal(cManifest &manifest) { manifest.VerifyMinimalManifestExists(); }
    static bool RegularMode(cManifest &manifest) { return manifest.SetManifestPropertiesToRegularMode(); }
    static void Relabel(cManifest &manifest, const QString &name, const QString &manifestPath)
    {
        manifest.RelabelManifest(name, QFileInfo(manifestPath));
    }
    static cManifestItem *Add(cManifest &manifest, const QString &path, const QString &author = QString(),
                              const QString &comment = QString())
    {
        return manifest.AddManifestItem(QFileInfo(path), author, comment);
    }
    static QList<cManifestItem *> Items(const cManifest &manifest, eMetadataType type = Unknown)
    {
        return manifest.GetManifestItems(type);
    }
    static cManifestItem *Item(const cManifest &manifest, eMetadataType type) { return manifest.GetManifestItem(type); }
    static cManifestItem *Lookup(const cManifest &manifest, const QString &fileName)
    {
        return manifest.LookupManifestItemByFileName(fileName);
    }
    static QString Name(const cManifest &manifest) { return manifest.GetName(); }
    static unsigned int Size(const cManifest &manifest) { return manifest.GetPackageSize(); }
    static unsigned int Limit(const cManifest &manifest) { return manifest.GetPackageLimit(); }
    static bool SizeKnown(const cManifest &manifest) { return manifest.HasKnownPackageSize(); }

    // Package
    static std::unique_ptr<cPackage> OpenPackage(const QString &uid, const QString &packageFolder)
    {
        return std::unique_ptr<cPackage>(new cPackage(uid, QDir(packageFolder), QDir(QString())));
    }
    static bool ImportManifest(cPackage &package) { return package.ImportManifest(); }
    static bool UpdateManifest(cPackage &package) { return package.UpdateManifest(); }
    static bool ExportManifest(cPackage &package) { return package.ExportManifest(); }
    static bool GenerateManifestFile(cPackage &package) { return package.GenerateManifestFile(); }
    static bool OpenUp(cPackage &package) { return package.OpenUpPackageToFullMode(); }
    static bool IsTutorial(const cPackage &package) { return package.IsTutorialPackage(); }
    static QString ManifestName(const cPackage &package)
    {
        return package.manifest ? package.manifest->GetName() : QString();
    }
};
