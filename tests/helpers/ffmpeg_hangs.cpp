// Stands in for an ffmpeg that never ends. Writes its process id into the file named by
// PM_HANG_PID_FILE, so that a test can check it was stopped, then sleeps.
#include <QCoreApplication>
#include <QFile>
#include <QThread>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString pidFile = qEnvironmentVariable("PM_HANG_PID_FILE");
    if (!pidFile.isEmpty()) {
        QFile file(pidFile);
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray::number(QCoreApplication::applicationPid()));
    }
    QThread::sleep(600);
    return 0;
}
