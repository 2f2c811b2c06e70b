#pragma once

#include <cPackageManager.h>

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QObject>
#include <QStringList>
#include <QTimer>

class QEventLoop;

// Runs background scans of a registry and reports them: each package added or dropped as it
// happens, a progress line on a terminal, and a summary per pass. With watching on, it keeps
// rescanning when a parts folder changes and at a fixed interval.
class ScanSession
{
public:
    struct Options
    {
        bool watch = false;
        int intervalSeconds = 60;
        bool json = false;
        int progressDelayMs = 1000; // short scans draw no progress line
    };

    ScanSession(cPackageManager &registry, const QStringList &folders, const Options &options);
    ~ScanSession();

    // One pass; false when the registry refused to start it.
    [[nodiscard]] bool RunOnce();
    // Watches until the process is stopped; returns the exit code when the scan cannot start.
    int Watch();

    QStringList Added() const { return added; }
    QStringList Dropped() const { return dropped; }
    int Total() const { return total; }
    double Seconds() const { return seconds; }

private:
    bool StartScan();
    void RequestScan();
    void FoldersChanged();
    void WatchFolders();
    void ShowProgress();
    void ScanFinished();

    cPackageManager &registry;
    const QStringList folders;
    const Options options;
    QObject context;
    QTimer progressTimer;
    QTimer changeDelay;
    QTimer periodic;
    QFileSystemWatcher watcher;
    QElapsedTimer clock;
    QEventLoop *passLoop = nullptr;
    QStringList added;
    QStringList dropped;
    QByteArray lastFingerprint;
    int fileCount = 0;
    int total = 0;
    double seconds = 0;
    bool rescanPending = false;
};
