#pragma once

// Shared by the tests of package files, creation, import, copy, move and removal.

#include "TestUtils.h"
#include "cPackageManager.h"
#include "registry/PackageUID.h"

#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

struct cPackageTestAccess
{
    static QFileInfo PartNC(const cPackage &package) { return package.GetPartNCProgram(); }
    static eMetadataType Kind(const cManifestItem *entry) { return entry->GetMetadataType(); }
    static bool Scan(cPackageManager &registry, const QStringList &partsFolders)
    {
        QSignalSpy done(&registry, &cPackageManager::PackageScanCompleted);
        return registry.DoBackgroundScanForPackageUpdates(partsFolders) && done.wait(60000);
    }
};

namespace OperationsTest {
using namespace TestUtils;

// A packages root and a parts folder in one temporary folder.
struct Workspace
{
    QTemporaryDir dir;
    QString root = MakeDir(dir.path() + QLatin1String("/packages"));
    QString parts = MakeDir(dir.path() + QLatin1String("/parts/Mill"));

    QString Path(const QString &relative) const { return dir.path() + u'/' + relative; }
    QString WriteProgram(const QString &name) const // into the parts folder; its path
    {
        WriteFile(parts + u'/' + name, MillingProgram(QFileInfo(name).completeBaseName()));
        return parts + u'/' + name;
    }
    QString Uid(const QString &programPath) const { return PackageUID::ForProgramFile(QFileInfo(programPath)); }
    QString PackageFolder(const QString &uid) const { return root + u'/' + uid + QLatin1String(".pkg"); }
};

// Records the registry's signals as "+UID" and "-UID", in order.
struct SignalLog
{
    QStringList events;
    explicit SignalLog(cPackageManager &registry)
    {
        QObject::connect(&registry, &cPackageManager::PackageAdded, &registry,
                         [this](const tPackageUID &uid) { events << u'+' + uid; });
        QObject::connect(&registry, &cPackageManager::PackageDeleted, &registry,
                         [this](const tPackageUID &uid) { events << u'-' + uid; });
    }
};

inline bool WriteImage(const QString &path, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkBlue);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && image.save(path, "JPEG");
}

inline QStringList FileNames(const QString &folder) // sorted
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// Whether "manifest.xml" lists a file of that name (as element text).
inline bool ManifestLists(const QString &folder, const QString &fileName)
{
    return ReadFile(folder + QLatin1String("/manifest.xml")).contains(QByteArray('>' + fileName.toUtf8() + '<'));
}

} // namespace OperationsTest
