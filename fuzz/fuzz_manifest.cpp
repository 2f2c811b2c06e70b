// "manifest.xml" reading on arbitrary text, then matching, regular mode and writing: no
// crash, and no entry ever names a file outside the package folder.
#include "FuzzFile.h"
#include "cManifest.h"

#include <QDir>

struct cPackageTestAccess
{
    static void Exercise(const QString &manifestPath)
    {
        const QFileInfo manifestFile(manifestPath);
        cManifest manifest(QStringLiteral("BRACKET"), manifestFile);
        const QString folder = manifestFile.absolutePath();
        for (cManifestItem *item : manifest.GetManifestItems(Unknown)) {
            const QString path = item->GetFileInfo().absoluteFilePath();
            if (!item->GetFileNameString().isEmpty() && QFileInfo(path).absolutePath() != folder)
                __builtin_trap();
        }
        cManifest copy(manifest);
        copy.ImportFromManifestFile(QString());
        manifest.MatchManifestToFiles(QDir(folder));
        manifest.VerifyMinimalManifestExists();
        manifest.SetManifestPropertiesToRegularMode();
    }
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FuzzFile manifest(QStringLiteral("manifest.xml"));
    cPackageTestAccess::Exercise(manifest.Write(data, size));
    return 0;
}
