#include "registry/PackageUID.h"

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

} // namespace PackageUID
