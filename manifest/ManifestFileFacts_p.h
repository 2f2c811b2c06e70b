#pragma once

#include <QDateTime>
#include <QFileInfo>
#include <QtGlobal>

#include "platform/PlatformFiles.h"

#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
#include <QTimeZone>
#endif

// What an entry keeps of its file, read from a QFileInfo's cached stat.
namespace ManifestFileFacts {

// The last-modified time in UTC; null when the file is missing.
inline QDateTime ModTimeUtc(const QFileInfo &file)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
    // Straight to UTC from the cached stat: no detour through the local time zone.
    const QDateTime time = file.lastModified(QTimeZone::UTC);
    return time.isValid() ? time.toUTC() : QDateTime();
#else
    // QFileInfo answers in local time only, and turning that back into UTC costs more than
    // a stat of our own on a scan of every file.
    return Platform::FactsOf(file.absoluteFilePath()).modifiedUtc;
#endif
}

// The file's size; 0 for no file.
inline quint64 Size(const QFileInfo &file)
{
    return file.isFile() ? static_cast<quint64>(file.size()) : 0u;
}

} // namespace ManifestFileFacts
