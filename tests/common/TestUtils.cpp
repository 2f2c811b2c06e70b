#include "TestUtils.h"

#include <QXmlStreamReader>

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <csignal>
#include <sys/resource.h>
#include <sys/time.h>

namespace TestUtils {

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool SetModTime(const QString &path, const QDateTime &time)
{
    if (QFileInfo(path).isDir()) {
        const qint64 seconds = time.toSecsSinceEpoch();
        const struct timeval times[2] = {{time_t(seconds), 0}, {time_t(seconds), 0}};
        return ::utimes(QFile::encodeName(path).constData(), times) == 0;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    return file.setFileTime(time, QFileDevice::FileModificationTime);
}

QByteArray MillingProgram(const QString &name)
{
    return QByteArray("%\n") + "O1000 (" + name.toUtf8() +
           ")\n"
           "G90 G54 G17\n"
           "T1 M6 (12MM END MILL)\n"
           "S3000 M3\n"
           "G0 X0 Y0 Z5.\n"
           "G1 Z-2. F300\n"
           "G1 X50.\n"
           "T2 M6 (6MM DRILL)\n"
           "G81 X10. Y10. Z-8. R2. F120\n"
           "G80\n"
           "M30\n"
           "%\n";
}

QByteArray ConversationalProgram()
{
    return QByteArray("N1\nFACE X0 Y0 W100 L50 D1\nN2\nPOCKET X10 Y10 W20 L20 D5\nN3\nEND\n");
}

QString MakeDir(const QString &path)
{
    QDir().mkpath(path);
    return QDir(path).absolutePath();
}

QMap<QString, QByteArray> Snapshot(const QString &folder, bool withBytes)
{
    QMap<QString, QByteArray> files;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString path = it.next();
        // A FIFO would block the read.
        files.insert(QDir(folder).relativeFilePath(path),
                     withBytes && QFileInfo(path).isFile() ? ReadFile(path) : QByteArray());
    }
    return files;
}

QStringList Entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

ToolRun Pkgtool(const QStringList &arguments, int timeoutMs)
{
    QProcess process; // its destructor kills one that hangs
    process.start(QStringLiteral(PM_PKGTOOL), arguments);
    ToolRun run;
    if (process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

FileSizeLimit::FileSizeLimit(qint64 bytes) : savedHandler(std::signal(SIGXFSZ, SIG_IGN))
{
    struct rlimit limit = {};
    active = ::getrlimit(RLIMIT_FSIZE, &limit) == 0;
    saved = limit.rlim_cur;
    limit.rlim_cur = rlim_t(bytes);
    active = active && ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    struct rlimit limit = {};
    if (active && ::getrlimit(RLIMIT_FSIZE, &limit) == 0) {
        limit.rlim_cur = rlim_t(saved);
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::signal(SIGXFSZ, savedHandler);
}

bool ParsesAsXml(const QString &path, QString *error)
{
    QFile file(path);
    const bool opened = file.open(QIODevice::ReadOnly);
    QXmlStreamReader xml(&file);
    while (opened && !xml.atEnd())
        xml.readNext();
    *error = opened ? xml.errorString() : file.errorString();
    return opened && !xml.hasError();
}

} // namespace TestUtils
