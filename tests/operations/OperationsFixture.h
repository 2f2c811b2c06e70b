#pragma once

// Shared by the tests of package files, creation, import, copy, move and removal.

#include "TestUtils.h"
#include "cPackageManager.h"
#include "registry/PackageUID.h"

#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

struct cPackageTestAccess
{
    // A package for an existing folder whose identifier names no real parts folder.
    static std::unique_ptr<cPackage> MakePackage(const QString &uid, const QString &folder)
    {
        return std::unique_ptr<cPackage>(new cPackage(uid, QDir(folder), QDir(QString())));
    }
    static QDir PackageDir(const cPackage &package) { return package.GetPackageDir(); }
    static QFileInfo PartNC(const cPackage &package) { return package.GetPartNCProgram(); }
    static QFileInfo PartCONV(const cPackage &package) { return package.GetPartCONVProgram(); }
    static eMetadataType Kind(const cManifestItem *entry) { return entry->GetMetadataType(); }
    static cPackage *Move(cPackage &package, const QString &uid) { return package.MovePackage(uid); }
    static cPackage *Copy(cPackage &package, const QString &uid) { return package.CopyPackage(uid); }
    static cSharedPackageMap *SharedMap(const cPackageManager &registry) { return registry.sharedMap; }
    static bool Scan(cPackageManager &registry, const QStringList &partsFolders)
    {
        QSignalSpy done(&registry, &cPackageManager::PackageScanCompleted);
        if (!registry.DoBackgroundScanForPackageUpdates(partsFolders))
            return false;
        return done.wait(60000);
    }
};

namespace OperationsTest {

// A packages root and a parts folder in one temporary folder.
struct Workspace
{
    QTemporaryDir dir;
    QString root;
    QString parts;

    Workspace()
    {
        root = TestUtils::MakeDir(dir.path() + QLatin1String("/packages"));
        parts = TestUtils::MakeDir(dir.path() + QLatin1String("/parts/Mill"));
    }
    bool IsValid() const { return dir.isValid(); }

    QString Path(const QString &relative) const { return dir.path() + QLatin1Char('/') + relative; }

    // Writes a milling program into `folder` (the parts folder by default); its path.
    QString WriteProgram(const QString &fileName, const QString &folder = QString()) const
    {
        const QString path = (folder.isEmpty() ? parts : folder) + QLatin1Char('/') + fileName;
        TestUtils::WriteFile(path, TestUtils::MillingProgram(QFileInfo(fileName).completeBaseName()));
        return path;
    }
    QString WriteConversational(const QString &fileName, const QString &folder = QString()) const
    {
        const QString path = (folder.isEmpty() ? parts : folder) + QLatin1Char('/') + fileName;
        TestUtils::WriteFile(path, TestUtils::ConversationalProgram());
        return path;
    }

    QString Uid(const QString &programPath) const { return PackageUID::ForProgramFile(QFileInfo(programPath)); }
    QString PackageFolder(const QString &uid) const { return root + QLatin1Char('/') + uid + QLatin1String(".pkg"); }
};

// A JPEG picture of the given size with a diagonal, so that a thumbnail has content.
inline bool WriteImage(const QString &path, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(40, 90, 160));
    for (int i = 0; i < qMin(width, height); ++i)
        image.setPixel(i, i, qRgb(250, 250, 250));
    QDir().mkpath(QFileInfo(path).absolutePath());
    return image.save(path, "JPEG");
}

// Sorted names of the plain files of a folder.
inline QStringList FileNames(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

inline QString ReadText(const QString &path)
{
    return QString::fromUtf8(TestUtils::ReadFile(path));
}

// Whether "manifest.xml" lists a file of that name (as element text).
inline bool ManifestLists(const QString &packageFolder, const QString &fileName)
{
    const QString xml = ReadText(packageFolder + QLatin1String("/manifest.xml"));
    return xml.contains(QLatin1Char('>') + fileName + QLatin1Char('<'));
}

// The entries of a package whose file has the given name.
inline QList<cManifestItem *> EntriesNamed(const cPackage &package, const QString &fileName)
{
    QList<cManifestItem *> found;
    const QList<cManifestItem *> all = package.GetManifestItems(Unknown);
    for (cManifestItem *entry : all) {
        if (entry->GetFileNameString() == fileName)
            found.append(entry);
    }
    return found;
}

} // namespace OperationsTest
