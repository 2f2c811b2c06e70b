#pragma once

#include "ToolUsage.h"

#include <QList>

class QIODevice;

// The tools page's reading before the toolpath reading existed, as the reference that the
// reading of everything together is measured against.
namespace ToolsPageBefore {

QList<ToolUse> ParseToolUsage(QIODevice &program);

} // namespace ToolsPageBefore
