#pragma once

#include <QString>
#include <QStringList>

namespace TestUtils {

struct ToolRun
{
    int exitCode = -1; // -1: it crashed, or was killed for taking longer than allowed
    QString out, err;
};

// pkgtool, the built executable, run as people and scripts run it. One that blocks is
// killed after `timeoutMs`: the test fails instead of hanging.
ToolRun Pkgtool(const QStringList &arguments, int timeoutMs = 120000);

} // namespace TestUtils
