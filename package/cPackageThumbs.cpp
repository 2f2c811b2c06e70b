#include "cPackage.h"

#include "media/Thumbnails.h"

#include <QHash>

// Bringing the thumbnails of a package's images and videos up to date.

bool cPackage::UpdatePackageThumbs()
{
    // One listing serves the images, the videos and their thumbnails. Links are left out:
    // a package never reaches through one to a file outside its folder.
    const QDir folder(packageDirPath);
    const QFileInfoList files = folder.entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::Unsorted);
    QHash<QString, qsizetype> indexByName;
    indexByName.reserve(files.size());
    for (qsizetype i = 0; i < files.size(); ++i)
        indexByName.insert(files.at(i).fileName(), i);

    // Equal times keep a thumbnail; only a strictly older one is remade.
    const auto isStale = [&](const QFileInfo &source, const QString &thumbnailName) {
        const auto found = indexByName.constFind(thumbnailName);
        return found == indexByName.constEnd() || files.at(*found).lastModified() < source.lastModified();
    };
    const auto hasSuffix = [](const QString &name, QLatin1String suffix) {
        return name.endsWith(suffix, Qt::CaseInsensitive);
    };

    for (const QFileInfo &file : files) {
        const QString name = file.fileName();
        if (!hasSuffix(name, QLatin1String(".jpg")) && !hasSuffix(name, QLatin1String(".png")))
            continue;
        const QString thumbnailName = name + QLatin1String(".thumb");
        if (isStale(file, thumbnailName))
            UpdateImageThumbnail(file, QFileInfo(folder.absoluteFilePath(thumbnailName)));
    }
    for (const QFileInfo &file : files) {
        if (!hasSuffix(file.fileName(), QLatin1String(".mp4")))
            continue;
        const QString thumbnailName = file.completeBaseName() + QLatin1String(".gif.thumb");
        if (isStale(file, thumbnailName))
            UpdateVideoThumbnail(file, QFileInfo(folder.absoluteFilePath(thumbnailName)));
    }
    return true;
}
