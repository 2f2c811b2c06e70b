#include "PkgtoolRun.h"

#include <QProcess>

namespace TestUtils {

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

} // namespace TestUtils
