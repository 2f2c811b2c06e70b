#include "ScanSession.h"

#include "Console.h"
#include "PackageViews.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonObject>

namespace {

// A cheap picture of the parts folders (names, sizes, times of their files), so that change
// notices for nothing a scan would see do not start another pass.
QByteArray FolderFingerprint(const QStringList &folders, int *fileCount)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    int count = 0;
    for (const QString &folder : folders) {
        const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files, QDir::Name);
        count += int(files.size());
        for (const QFileInfo &file : files) {
            hash.addData(file.fileName().toUtf8());
            hash.addData(QByteArray::number(file.size()));
            hash.addData(QByteArray::number(file.lastModified().toMSecsSinceEpoch()));
        }
        hash.addData(QByteArrayLiteral("\n"));
    }
    if (fileCount)
        *fileCount = count;
    return hash.result();
}

} // namespace

ScanSession::ScanSession(cPackageManager &registry, const QStringList &folders, const Options &options)
    : registry(registry), folders(folders), options(options)
{
    QObject::connect(&registry, &cPackageManager::PackageAdded, &context, [this](const tPackageUID &uid) {
        added << uid;
        if (!this->options.json)
            Console::Out(QStringLiteral("added    ") + uid);
    });
    QObject::connect(&registry, &cPackageManager::PackageDeleted, &context, [this](const tPackageUID &uid) {
        dropped << uid;
        if (!this->options.json)
            Console::Out(QStringLiteral("dropped  ") + uid);
    });
    QObject::connect(&registry, &cPackageManager::PackageScanCompleted, &context, [this](uint) { ScanFinished(); });

    progressTimer.setInterval(200);
    QObject::connect(&progressTimer, &QTimer::timeout, &context, [this] { ShowProgress(); });

    changeDelay.setSingleShot(true);
    changeDelay.setInterval(300);
    QObject::connect(&changeDelay, &QTimer::timeout, &context, [this] { FoldersChanged(); });
    QObject::connect(&watcher, &QFileSystemWatcher::directoryChanged, &context,
                     [this](const QString &) { changeDelay.start(); });
    periodic.setInterval(options.intervalSeconds * 1000);
    QObject::connect(&periodic, &QTimer::timeout, &context, [this] { RequestScan(); });
}

ScanSession::~ScanSession() = default;

bool ScanSession::RunOnce()
{
    if (!StartScan())
        return false;
    QEventLoop loop;
    passLoop = &loop;
    loop.exec();
    passLoop = nullptr;
    return true;
}

int ScanSession::Watch()
{
    WatchFolders();
    periodic.start();
    if (!options.json)
        Console::Out(QStringLiteral("watching ") + folders.join(QStringLiteral(", ")) +
                     QStringLiteral(" (rescan every ") + QString::number(options.intervalSeconds) +
                     QStringLiteral(" s); stop with Ctrl+C"));
    if (!StartScan())
        return Console::Fail(QStringLiteral("could not start a scan"), folders.join(QStringLiteral(", ")));
    return QCoreApplication::exec();
}

bool ScanSession::StartScan()
{
    lastFingerprint = FolderFingerprint(folders, &fileCount);
    added.clear();
    dropped.clear();
    clock.start();
    if (!registry.DoBackgroundScanForPackageUpdates(folders))
        return false;
    if (!options.json)
        progressTimer.start();
    return true;
}

void ScanSession::RequestScan()
{
    if (registry.IsCurrentlyScanningForPackages() || !StartScan())
        rescanPending = true;
}

void ScanSession::FoldersChanged()
{
    WatchFolders();
    if (registry.IsCurrentlyScanningForPackages()) {
        rescanPending = true;
        return;
    }
    if (FolderFingerprint(folders, nullptr) != lastFingerprint)
        RequestScan();
}

void ScanSession::WatchFolders()
{
    // A folder that was removed and made again drops out of the watcher.
    const QStringList watched = watcher.directories();
    for (const QString &folder : folders) {
        if (!watched.contains(folder) && QFileInfo(folder).isDir())
            watcher.addPath(folder);
    }
}

void ScanSession::ShowProgress()
{
    if (clock.elapsed() < options.progressDelayMs)
        return;
    Console::Progress(QStringLiteral("scanning ") + QString::number(fileCount) + QStringLiteral(" files in ") +
                      QString::number(folders.size()) +
                      (folders.size() == 1 ? QStringLiteral(" folder: ") : QStringLiteral(" folders: ")) +
                      QString::number(added.size()) + QStringLiteral(" added, ") + QString::number(dropped.size()) +
                      QStringLiteral(" dropped, ") + QString::number(clock.elapsed() / 1000.0, 'f', 1) +
                      QStringLiteral(" s"));
}

void ScanSession::ScanFinished()
{
    progressTimer.stop();
    Console::Progress(QString());
    seconds = clock.elapsed() / 1000.0;
    // The registry's lookup maps have seen every event of the pass by now: they are queued
    // ahead of the completion.
    total = int(registry.GetPackageMap(QString(), true).size());
    const tPackageScanReport report = registry.GetLastScanReport();
    if (options.json) {
        const QJsonObject summary{
            {QStringLiteral("folders"), QJsonArray::fromStringList(folders)},
            {QStringLiteral("added"), QJsonArray::fromStringList(added)},
            {QStringLiteral("dropped"), QJsonArray::fromStringList(dropped)},
            {QStringLiteral("kept_unreachable"), int(report.keptUnreachable)},
            {QStringLiteral("unreachable_folders"), QJsonArray::fromStringList(report.unreachableFolders)},
            {QStringLiteral("skipped"), QJsonArray::fromStringList(report.skippedFiles)},
            {QStringLiteral("total"), total},
            {QStringLiteral("seconds"), seconds}};
        Console::OutLines(PackageViews::JsonText(summary, options.watch));
    } else {
        for (const QString &skipped : report.skippedFiles)
            Console::Out(QStringLiteral("skipped  ") + skipped);
        for (const QString &folder : report.unreachableFolders)
            Console::Out(QStringLiteral("unreachable ") + folder);
        QString line = QStringLiteral("scan: ") + QString::number(added.size()) + QStringLiteral(" added, ") +
                       QString::number(dropped.size()) + QStringLiteral(" dropped, ") + QString::number(total) +
                       QStringLiteral(" packages, ");
        if (report.keptUnreachable)
            line += QString::number(report.keptUnreachable) + QStringLiteral(" kept (folder unreachable), ");
        if (!report.skippedFiles.isEmpty())
            line += QString::number(report.skippedFiles.size()) + QStringLiteral(" files skipped, ");
        Console::Out(line + QString::number(seconds, 'f', 2) + QStringLiteral(" s"));
    }
    if (passLoop) {
        passLoop->quit();
        return;
    }
    if (rescanPending) {
        rescanPending = false;
        // Changes seen while the pass ran may have come after its listing.
        QTimer::singleShot(0, &context, [this] { RequestScan(); });
    }
}
