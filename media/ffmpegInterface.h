#pragma once

#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

// Turns a video into a small animated GIF with the external ffmpeg tool: copy the video
// into the work folder, pull its key frames out as numbered PNGs, join them into a GIF of
// 110 x 110 pixels at 2 frames per second, move the GIF to the thumbnail's place.
//
// The steps are queue entries whose fields are joined with "|". A run of the tool is waited
// for on the calling thread; its finished signal drives the next entry, so a request has
// normally run to its end when StartVideoThumbnailGeneration returns. A run that outlasts
// the wait is killed and reaped, and a tool that cannot be started ends the request as
// failed, so a request never stays half done. The wait also ends, killing the run, as soon
// as the calling thread is asked to stop (QThread::requestInterruption).
class ffmpegInterface : public QObject
{
    Q_OBJECT
    friend struct ffmpegInterfaceTestAccess;

public:
    // Work folder of this object; it is created when missing. Requests made at the same
    // time must use different folders, as each completion clears its folder.
    explicit ffmpegInterface(const QDir &tempFolder);
    ~ffmpegInterface() override;

    void StartVideoThumbnailGeneration(const QFileInfo &video, const QFileInfo &thumbnail);
    // Removes every file directly in the work folder.
    void ClearTempFolder();

    // The five queue entries of one request.
    static QStringList VideoThumbnailCommands(const QFileInfo &video, const QFileInfo &thumbnail,
                                              const QString &tempFolderPath);

    // Wait for one run of the tool; 30 s unless set.
    void SetRunTimeout(int msecs) { runTimeout = msecs; }

    // How the last finished request ended. ToolFailed: the tool ran on the video and failed,
    // ran too long or made no picture, which will happen again for the same video. NotRun:
    // the tool could not be started, the video not copied, or the wait was interrupted;
    // that says nothing about the video.
    enum class Outcome { Made, ToolFailed, NotRun };
    Outcome LastOutcome() const { return lastOutcome; }

Q_SIGNALS:
    void VideoThumbnailGenerationComplete(QString videoFileName, bool success);

public Q_SLOTS:
    void ProcessNextCommand(int exitCode, QProcess::ExitStatus exitStatus);

private:
    void RunTool(const QStringList &fields);
    // Drops the rest of the current request and reports it as failed.
    void AbandonRequest();
    // Ends the request: resets the flags, records the outcome, announces it.
    void FinishRequest(const QString &name, bool success);

    QDir tempFolder;
    QProcess *process;
    QStringList commandQueue;
    int runTimeout = 30000;
    bool requestFailed = false;
    bool toolFailed = false;
    bool notRun = false;
    Outcome lastOutcome = Outcome::NotRun;
};
