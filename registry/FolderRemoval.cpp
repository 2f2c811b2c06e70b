#include "registry/FolderRemoval.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QRandomGenerator>

Q_LOGGING_CATEGORY(lcFolderRemoval, "packagemanager.registry.removal", QtWarningMsg)

namespace {

// Removes a symbolic link (or a Windows junction) itself, never what it points to.
bool RemoveLink(const QString &path)
{
    if (QFile::remove(path))
        return true;
    // Windows removes a link to a folder with rmdir; elsewhere this fails harmlessly.
    return QDir().rmdir(path);
}

bool IsLink(const QFileInfo &entry)
{
#ifdef Q_OS_WIN
    if (entry.isJunction())
        return true;
#endif
    return entry.isSymLink();
}

} // namespace

bool RemoveFolder(const QFileInfo &folder)
{
    const QString path = folder.absoluteFilePath();
    const QFileInfo entry(path);
    if (IsLink(entry)) {
        // The folder is itself a link: remove the link and leave its target alone.
        const bool removed = RemoveLink(path);
        if (!removed)
            qCWarning(lcFolderRemoval) << "could not remove link" << path;
        return removed;
    }

    const QString canonical = QDir(path).canonicalPath();
    if (canonical.isEmpty())
        return false;
    EmptyFolder(canonical);
    const bool removed = QDir().rmdir(canonical);
    if (!removed)
        qCWarning(lcFolderRemoval) << "could not remove folder" << canonical;
    return removed;
}

bool EmptyFolder(const QString &path)
{
    // One listing serves both steps; subfolders go first, then files and links.
    const QFileInfoList entries =
        QDir(path).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);

    for (const QFileInfo &entry : entries) {
        if (IsLink(entry) || !entry.isDir())
            continue;
        const QString subfolder = entry.absoluteFilePath();
        if (!EmptyFolder(subfolder))
            return false;
        if (!QDir().rmdir(subfolder)) {
            qCWarning(lcFolderRemoval) << "could not remove folder" << subfolder;
            return false;
        }
    }

    for (const QFileInfo &entry : entries) {
        const bool link = IsLink(entry);
        if (!link && entry.isDir())
            continue;
        const QString file = entry.absoluteFilePath();
        if (!(link ? RemoveLink(file) : QFile::remove(file))) {
            qCWarning(lcFolderRemoval) << "could not remove" << file;
            return false;
        }
    }
    return true;
}

namespace {
const QLatin1String asideSuffix(".removing");
} // namespace

QString MoveFolderAside(const QString &folder)
{
    const QFileInfo info(folder);
    const QString parent = info.absolutePath();
    for (int attempt = 0; attempt < 10; ++attempt) {
        const QString aside = parent + QLatin1String("/.") + info.fileName() + QLatin1Char('.') +
                              QString::number(QRandomGenerator::global()->generate(), 36) + asideSuffix;
        if (QFileInfo::exists(aside) || QFileInfo(aside).isSymLink())
            continue;
        if (QDir().rename(info.absoluteFilePath(), aside))
            return aside;
        qCWarning(lcFolderRemoval) << "could not move" << folder << "aside";
        return QString();
    }
    return QString();
}

bool IsFolderSetAside(const QString &name)
{
    return name.startsWith(QLatin1Char('.')) && name.endsWith(asideSuffix);
}

bool RemoveFolderAside(const QString &folder)
{
    const QString aside = MoveFolderAside(folder);
    if (aside.isEmpty())
        return false;
    if (!RemoveFolder(QFileInfo(aside)))
        qCWarning(lcFolderRemoval) << "left part of" << aside << "for a later pass";
    return true;
}
