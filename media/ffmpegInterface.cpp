#include "media/ffmpegInterface.h"

#include "platform/PlatformFiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QSignalBlocker>
#include <QThread>

Q_LOGGING_CATEGORY(lcFfmpeg, "packagemanager.media.ffmpeg", QtWarningMsg)

namespace {

const QString CopyStep = QStringLiteral("copy");
const QString ToolStep = QStringLiteral("ffmpeg.exe");
const QString MoveStep = QStringLiteral("move");
const QString CompletionStep = QStringLiteral("completionFlag");
const QChar FieldSeparator = QLatin1Char('|');
// How often a run's wait looks whether its thread is asked to stop.
constexpr int InterruptionPollMsecs = 50;

} // namespace

ffmpegInterface::ffmpegInterface(const QDir &tempFolder) : QObject(nullptr), tempFolder(tempFolder), process(nullptr)
{
    // Hidden files too: a failed copy's temporary name must not outlive the request.
    this->tempFolder.setFilter(QDir::Files | QDir::Hidden | QDir::System);
    if (!this->tempFolder.exists())
        QDir().mkpath(this->tempFolder.absolutePath());
    process = new QProcess;
    // Nothing reads the tool's console; an open pipe could fill up and stall it, and an
    // open input could leave it waiting for an answer.
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    connect(process, &QProcess::finished, this, &ffmpegInterface::ProcessNextCommand);
}

ffmpegInterface::~ffmpegInterface()
{
    if (process->state() != QProcess::NotRunning) {
        const QSignalBlocker blocker(process);
        process->kill();
        process->waitForFinished(-1);
    }
    delete process;
    ClearTempFolder();
    QDir().rmdir(tempFolder.absolutePath());
}

QStringList ffmpegInterface::VideoThumbnailCommands(const QFileInfo &video, const QFileInfo &thumbnail,
                                                    const QString &tempFolderPath)
{
    const QString &folder = tempFolderPath;
    const QString videoName = video.fileName();
    const QString base = thumbnail.baseName();
    // ffmpeg reads "%" in a picture-sequence name as a pattern; "%%" is a literal one.
    QString patternFolder = folder;
    patternFolder.replace(QLatin1Char('%'), QLatin1String("%%"));
    QString patternBase = base;
    patternBase.replace(QLatin1Char('%'), QLatin1String("%%"));
    const QString frames = QStringLiteral("%1/%2%3.png").arg(patternFolder, patternBase, QStringLiteral("%02d"));
    const QString gif = QStringLiteral("%1/%2.gif").arg(folder, base);

    QStringList commands;
    commands << QStringList{CopyStep, video.absoluteFilePath(), QStringLiteral("%1/%2").arg(folder, videoName)}.join(
        FieldSeparator);
    commands << QStringList{ToolStep, QStringLiteral("-i \"%1/%2\"").arg(folder, videoName),
                            QStringLiteral("-vf \"select='eq(pict_type,PICT_TYPE_I)'\""), QStringLiteral("-vsync vfr"),
                            QStringLiteral("\"%1\"").arg(frames)}
                    .join(FieldSeparator);
    commands << QStringList{ToolStep, QStringLiteral("-framerate 2"), QStringLiteral("-i \"%1\"").arg(frames),
                            QStringLiteral("-vf scale=110:110"), QStringLiteral("\"%1\"").arg(gif)}
                    .join(FieldSeparator);
    commands << QStringList{MoveStep, gif, thumbnail.absoluteFilePath()}.join(FieldSeparator);
    commands << QStringList{CompletionStep, base}.join(FieldSeparator);
    return commands;
}

void ffmpegInterface::StartVideoThumbnailGeneration(const QFileInfo &video, const QFileInfo &thumbnail)
{
    commandQueue << VideoThumbnailCommands(video, thumbnail, tempFolder.absolutePath());
    if (process->state() == QProcess::NotRunning)
        ProcessNextCommand(0, QProcess::NormalExit);
}

void ffmpegInterface::ClearTempFolder()
{
    const QStringList names = tempFolder.entryList();
    for (const QString &name : names)
        tempFolder.remove(name);
}

void ffmpegInterface::ProcessNextCommand(int exitCode, QProcess::ExitStatus exitStatus)
{
    // Only a run of the tool reports anything but a clean exit.
    if (exitCode != 0 || exitStatus != QProcess::NormalExit)
        toolFailed = true;
    if (commandQueue.isEmpty())
        return;
    const QStringList fields = commandQueue.takeFirst().split(FieldSeparator, Qt::KeepEmptyParts, Qt::CaseSensitive);
    const QString &step = fields.first();

    if (fields.size() == 3 && step == CopyStep) {
        if (!Platform::CopyFileKeepTime(fields.at(1), fields.at(2))) {
            qCInfo(lcFfmpeg) << "cannot copy" << fields.at(1) << "to" << fields.at(2);
            requestFailed = true;
            notRun = true;
        }
        ProcessNextCommand(0, QProcess::NormalExit);
        return;
    }
    if (fields.size() == 3 && step == MoveStep) {
        // A copy under a temporary name, then the rename, so the thumbnail never appears
        // half written even when the work folder lies on another file system.
        if (Platform::CopyFileKeepTime(fields.at(1), fields.at(2))) {
            QFile::remove(fields.at(1));
        } else {
            qCInfo(lcFfmpeg) << "no picture to move from" << fields.at(1);
            requestFailed = true;
            toolFailed = true;
        }
        ProcessNextCommand(0, QProcess::NormalExit);
        return;
    }
    if (step == CompletionStep) {
        FinishRequest(fields.last(), exitStatus == QProcess::NormalExit && !requestFailed);
        return;
    }
    if (step == ToolStep) {
        RunTool(fields);
        return;
    }
    FinishRequest(QString(), false);
}

void ffmpegInterface::RunTool(const QStringList &fields)
{
    // The fields joined form the command line; splitting it again keeps the quoted paths
    // and the filter expression whole on every platform.
    const QStringList arguments = QProcess::splitCommand(fields.mid(1).join(QLatin1Char(' ')));
    const QThread *caller = QThread::currentThread();
    if (caller->isInterruptionRequested()) {
        notRun = true;
        AbandonRequest();
        return;
    }
    process->start(Platform::FfmpegProgram(), arguments, QIODevice::ReadWrite);
    if (!process->waitForStarted()) {
        qCInfo(lcFfmpeg) << "cannot start" << Platform::FfmpegProgram() << process->errorString();
        notRun = true;
        AbandonRequest();
        return;
    }
    // The finished signal arrives inside the wait and works the next entries. The wait is cut
    // in short slices so that a registry going away does not wait for the tool.
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (process->waitForFinished(InterruptionPollMsecs))
            return;
        if (process->state() == QProcess::NotRunning)
            return;
        if (caller->isInterruptionRequested()) {
            qCInfo(lcFfmpeg) << Platform::FfmpegProgram() << "stopped: its thread is asked to stop";
            notRun = true;
            break;
        }
        if (clock.elapsed() >= runTimeout) {
            qCInfo(lcFfmpeg) << Platform::FfmpegProgram() << "ran longer than" << runTimeout << "ms; stopped";
            toolFailed = true;
            break;
        }
    }
    {
        // The killed run must not drive the queue on.
        const QSignalBlocker blocker(process);
        process->kill();
        process->waitForFinished(-1);
    }
    AbandonRequest();
}

void ffmpegInterface::AbandonRequest()
{
    QString name;
    while (!commandQueue.isEmpty()) {
        const QStringList fields = commandQueue.takeFirst().split(FieldSeparator);
        if (fields.first() == CompletionStep) {
            name = fields.last();
            break;
        }
    }
    FinishRequest(name, false);
}

void ffmpegInterface::FinishRequest(const QString &name, bool success)
{
    ClearTempFolder();
    lastOutcome = success ? Outcome::Made : notRun ? Outcome::NotRun : Outcome::ToolFailed;
    if (!success && !notRun && !toolFailed)
        lastOutcome = Outcome::NotRun;
    requestFailed = false;
    toolFailed = false;
    notRun = false;
    Q_EMIT VideoThumbnailGenerationComplete(name, success);
}
