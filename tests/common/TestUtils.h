#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QMap>
#include <QString>
#include <QStringList>

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
// Every entry of the folder, hidden ones and links included, sorted by name.
QStringList Entries(const QString &folder);

struct ToolRun
{
    int exitCode = -1; // -1: it crashed, or was killed for taking longer than allowed
    QString out, err;
};
// pkgtool, the built executable, run as people and scripts run it. One that blocks is
// killed after `timeoutMs`: the test fails instead of hanging.
ToolRun Pkgtool(const QStringList &arguments, int timeoutMs = 120000);

// Lowers this process's file size limit (started processes inherit it), with SIGXFSZ ignored
// so that a write past it fails as on a full disk instead of killing the process; `active`
// tells whether that worked. Restored on destruction.
struct FileSizeLimit
{
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    bool active = false;
    quint64 saved = 0;
    void (*savedHandler)(int) = nullptr;
};

} // namespace TestUtils
