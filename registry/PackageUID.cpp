#include "registry/PackageUID.h"

#include "platform/PlatformFiles.h"

namespace PackageUID {

static QString EncodeFolder(QString folder)
{
    folder.replace(QLatin1Char(':'), QLatin1Char('!'));
    folder.replace(QLatin1Char('/'), QLatin1Char(','));
    return folder;
}

QString ForProgramFile(const QFileInfo &programFile)
{
    return ForProgramInFolder(programFile.absolutePath(), programFile.completeBaseName());
}

QString ForProgramInFolder(const QString &folderAbsolutePath, const QString &programName)
{
    return (EncodeFolder(folderAbsolutePath) + QLatin1Char('^') + programName).toUpper();
}

bool RoundTrips(const QString &folderAbsolutePath, const QString &programName)
{
    return !programName.contains(QLatin1Char('^')) && !folderAbsolutePath.contains(QLatin1Char('^')) &&
           !folderAbsolutePath.contains(QLatin1Char(',')) && !folderAbsolutePath.contains(QLatin1Char('!'));
}

QString PartsFolderKey(const QString &packageUID)
{
    QString key = packageUID.toUpper();
    const int caret = key.indexOf(QLatin1Char('^'));
    if (caret >= 0)
        key.truncate(caret);
    key.replace(QLatin1Char('!'), QLatin1Char(':'));
    key.replace(QLatin1Char(','), QLatin1Char('/'));
    return key;
}

QString ResolvedPartsFolder(const QString &packageUID)
{
    QString folder = PartsFolderKey(packageUID);
    if (folder.isEmpty())
        return QString();
    if (folder.endsWith(QLatin1Char(':')))
        folder += QLatin1Char('/'); // a drive root
    const QString resolved = Platform::ResolvePathNoCase(folder);
    return !resolved.isEmpty() && QFileInfo(resolved).isDir() ? resolved : QString();
}

QString ProgramName(const QString &packageUID)
{
    const int caret = packageUID.lastIndexOf(QLatin1Char('^'));
    return caret < 0 ? QString() : packageUID.mid(caret + 1);
}

} // namespace PackageUID
