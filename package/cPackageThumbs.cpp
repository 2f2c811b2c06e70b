#include "cPackage.h"

#include "media/Thumbnails.h"
#include "platform/PlatformFiles.h"

#include <QSet>

// Bringing the thumbnails of a package's images and videos up to date.

bool cPackage::UpdatePackageThumbs()
{
    // One listing of names serves the images, the videos and their thumbnails; only the
    // few pictures and videos are stat-ed. Links are left out: a package never reaches
    // through one to a file outside its folder.
    const QStringList names = Platform::PlainFilesIn(packageDirPath);
    const QSet<QString> listed(names.cbegin(), names.cend());
    const auto pathOf = [this](const QString &name) -> QString { return packageDirPath + QLatin1Char('/') + name; };

    // Equal times keep a thumbnail; only a strictly older one is remade.
    const auto isStale = [&](const QString &sourcePath, const QString &thumbnailName) {
        if (!listed.contains(thumbnailName))
            return true;
        const QDateTime thumbnailTime = Platform::FactsOf(pathOf(thumbnailName)).modifiedUtc;
        const QDateTime sourceTime = Platform::FactsOf(sourcePath).modifiedUtc;
        return thumbnailTime < sourceTime;
    };
    const auto hasSuffix = [](const QString &name, QLatin1String suffix) {
        return Platform::EndsWithNoCase(name, suffix);
    };

    for (const QString &name : names) {
        if (!hasSuffix(name, QLatin1String(".jpg")) && !hasSuffix(name, QLatin1String(".png")))
            continue;
        const QString path = pathOf(name);
        const QString thumbnailName = name + QLatin1String(".thumb");
        if (isStale(path, thumbnailName))
            UpdateImageThumbnail(QFileInfo(path), QFileInfo(pathOf(thumbnailName)));
    }
    for (const QString &name : names) {
        if (!hasSuffix(name, QLatin1String(".mp4")))
            continue;
        const QString path = pathOf(name);
        const QString thumbnailName = QFileInfo(name).completeBaseName() + QLatin1String(".gif.thumb");
        if (isStale(path, thumbnailName))
            UpdateVideoThumbnail(QFileInfo(path), QFileInfo(pathOf(thumbnailName)));
    }
    return true;
}
