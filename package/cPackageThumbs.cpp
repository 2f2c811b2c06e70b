#include "cPackage.h"

#include "media/Thumbnails.h"
#include "platform/PlatformFiles.h"

#include <QSet>

// Bringing the thumbnails of a package's images and videos up to date.

bool cPackage::UpdatePackageThumbs()
{
    return UpdateThumbsIn(packageDirPath);
}

bool cPackage::UpdateThumbsIn(const QString &packageDirPath)
{
    // Links are left out: a package never reaches through one to a file outside its folder.
    return UpdateThumbsIn(packageDirPath, Platform::PlainFilesIn(packageDirPath));
}

bool cPackage::UpdateThumbsIn(const QString &packageDirPath, const QStringList &plainFiles)
{
    // One listing of names serves the images, the videos and their thumbnails; only the
    // few pictures and videos are stat-ed. Hidden files are none of them.
    QStringList names;
    for (const QString &name : plainFiles) {
        if (!name.startsWith(QLatin1Char('.')))
            names.append(name);
    }
    const QSet<QString> listed(names.cbegin(), names.cend());
    const auto pathOf = [&packageDirPath](const QString &name) -> QString {
        return packageDirPath + QLatin1Char('/') + name;
    };

    // Equal times keep a thumbnail; only a strictly older one is remade.
    const auto refresh = [&](const QString &name, const QString &thumbnailName,
                             bool (*update)(const QFileInfo &, const QFileInfo &)) {
        const QString path = pathOf(name);
        const QString thumbnailPath = pathOf(thumbnailName);
        const QDateTime sourceTime = Platform::FactsOf(path).modifiedUtc;
        if (listed.contains(thumbnailName) && !(Platform::FactsOf(thumbnailPath).modifiedUtc < sourceTime))
            return;
        update(QFileInfo(path), QFileInfo(thumbnailPath));
        // A source dated in the future (a camera with a wrong clock) would leave the fresh
        // thumbnail older than itself, to be remade at every pass.
        Platform::KeepModTimeNotBefore(thumbnailPath, sourceTime);
    };
    const auto hasSuffix = [](const QString &name, QLatin1String suffix) {
        return Platform::EndsWithNoCase(name, suffix);
    };

    for (const QString &name : names) {
        if (!hasSuffix(name, QLatin1String(".jpg")) && !hasSuffix(name, QLatin1String(".png")))
            continue;
        refresh(name, name + QLatin1String(".thumb"), UpdateImageThumbnail);
    }
    for (const QString &name : names) {
        if (!hasSuffix(name, QLatin1String(".mp4")))
            continue;
        refresh(name, QFileInfo(name).completeBaseName() + QLatin1String(".gif.thumb"), UpdateVideoThumbnail);
    }
    return true;
}
