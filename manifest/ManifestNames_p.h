#pragma once

#include "platform/PlatformFiles.h"

#include <QString>

namespace ManifestNames {

// Whether a file of this name in a package folder can be an entry of its manifest: not
// "manifest.xml" itself, not a thumbnail (thumbnails belong to their entries), and not a
// hidden file (the cross-process lock and the temporaries of atomic writes and copies).
inline bool CanBeListed(const QString &fileName)
{
    return !fileName.isEmpty() && !fileName.startsWith(QLatin1Char('.')) &&
           !Platform::SameNameNoCase(fileName, QStringLiteral("manifest.xml")) &&
           !Platform::EndsWithNoCase(fileName, QLatin1String(".thumb"));
}

} // namespace ManifestNames
