#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QMap>
#include <QString>

// Small file helpers shared by the tests. Every test works in its own QTemporaryDir.
namespace TestUtils {

// Writes the bytes, creating missing parent folders; false on failure.
bool WriteFile(const QString &path, const QByteArray &bytes);
QByteArray ReadFile(const QString &path);
// Sets the last-modified time of a file.
bool SetModTime(const QString &path, const QDateTime &time);
// A short, realistic milling program named `name` (tool changes, comments).
QByteArray MillingProgram(const QString &name);
// A conversational program: numbered blocks "N1", "N2", ...
QByteArray ConversationalProgram();
// Makes the folder and returns its absolute path.
QString MakeDir(const QString &path);

// False (with the reason) when the file cannot be opened or is not well-formed XML.
bool ParsesAsXml(const QString &path, QString *error);
// Every file below `folder` (hidden ones and links included), by path relative to it, with
// the bytes of the regular ones unless `withBytes` is false: to show that nothing changed.
QMap<QString, QByteArray> Snapshot(const QString &folder, bool withBytes = true);

} // namespace TestUtils
