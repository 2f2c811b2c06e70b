#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// Building blocks of the generated pages: XHTML-compatible HTML5 in UTF-8, so that the pages
// open in any browser and parse with an XML reader.
namespace PageWriter {

// Text fit for an element or a double-quoted attribute: characters that neither HTML nor
// XML allow are dropped, markup characters are escaped.
QString Text(const QString &text);

// Everything up to and including the page's <h1>; `title` is plain text.
QByteArray Head(const QString &title);
QByteArray Tail();

// A time for people (local time) and for the page's own records (UTC, ISO 8601).
QString LocalTimeText(const QDateTime &time);
QString RecordTime(const QDateTime &time);
QDateTime ParseRecordTime(const QString &text);

// The program name of a page called "<name><suffix>", e.g. "PART1" of "PART1.stats.html".
QString NameFromPage(const QString &fileName, const QString &suffix);

// Reads a page of at most maxSize bytes; false when it cannot be read or is larger.
[[nodiscard]] bool Read(const QString &path, qint64 maxSize, QByteArray *bytes);

// Writes the page atomically. Bytes equal to the file's are not written again (`written`
// tells which happened). A symbolic link is never written through. A page that records
// something reaches the disk before it replaces the old one; a `rebuildable` page (one that
// the next pass makes again when it is missing or empty) is not forced to disk.
[[nodiscard]] bool Write(const QString &path, const QByteArray &bytes, bool *written = nullptr,
                         bool rebuildable = false);

} // namespace PageWriter
