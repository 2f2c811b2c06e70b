// A minimal host: constructs a registry on an empty packages root and asks it a few things.
#include <cPackageManager.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir root;
    if (!root.isValid()) {
        std::fprintf(stderr, "consumer: no temporary folder\n");
        return 1;
    }
    cPackageManager registry{QDir(root.path())};
    const bool empty = registry.GetPackageMap(QString(), true).isEmpty() && !registry.IsCurrentlyScanningForPackages();
    const QString uid = registry.CalculatePackageUID(QFileInfo(QStringLiteral("/srv/Jobs/plate_7.nc")));
    const bool encoded = uid == QStringLiteral(",SRV,JOBS^PLATE_7");
    std::printf("consumer: %s (%s)\n", empty && encoded ? "ok" : "FAILED", qPrintable(uid));
    return empty && encoded ? 0 : 1;
}
