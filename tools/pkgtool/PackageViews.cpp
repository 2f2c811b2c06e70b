#include "PackageViews.h"

#include "CommandLine.h"
#include "Console.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

namespace PackageViews {

QString KindName(eMetadataType kind)
{
    switch (kind) {
    case Overview:
        return QStringLiteral("overview");
    case Stats:
        return QStringLiteral("stats");
    case Tools:
        return QStringLiteral("tools");
    case History:
        return QStringLiteral("history");
    case GraphData:
        return QStringLiteral("graph");
    case Note:
        return QStringLiteral("note");
    case Image:
        return QStringLiteral("image");
    case Video:
        return QStringLiteral("video");
    case PDF:
        return QStringLiteral("pdf");
    case NCProgram:
        return QStringLiteral("nc");
    case ConvProgram:
        return QStringLiteral("conv");
    case Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QList<eMetadataType> AllKinds()
{
    return {Overview, Stats, Tools, History, GraphData, Note, Image, Video, PDF, NCProgram, ConvProgram};
}

QString PackageFolder(const cPackage &package)
{
    return package.GetManifestFile().absolutePath();
}

QJsonObject PackageSummaryJson(const cPackage &package)
{
    return QJsonObject{{QStringLiteral("uid"), package.GetPackageUID()},
                       {QStringLiteral("name"), package.GetPackageName()},
                       {QStringLiteral("folder"), PackageFolder(package)},
                       {QStringLiteral("hasNCProgram"), package.HasNCProgram()},
                       {QStringLiteral("hasConvProgram"), package.HasCONVProgram()},
                       {QStringLiteral("size"), double(package.GetPackageSize())},
                       {QStringLiteral("sizeLimit"), double(package.GetPackageSizeLimit())}};
}

QList<KindedEntry> EntriesWithKinds(const cPackage &package)
{
    QHash<const cManifestItem *, eMetadataType> kinds;
    for (eMetadataType kind : AllKinds()) {
        const QList<cManifestItem *> entries = package.GetManifestItems(kind);
        for (const cManifestItem *entry : entries)
            kinds.insert(entry, kind);
    }
    QList<KindedEntry> result;
    const QList<cManifestItem *> all = package.GetManifestItems(Unknown);
    for (const cManifestItem *entry : all)
        result.append({kinds.value(entry, Unknown), entry});
    return result;
}

QJsonObject EntryJson(const cManifestItem &entry, eMetadataType kind)
{
    const QFileInfo file(entry.GetFileInfo());
    const bool exists = !entry.GetFileNameString().isEmpty() && file.exists();
    const QFileInfo thumbnail = entry.GetThumbnailInfo();
    return QJsonObject{
        {QStringLiteral("kind"), KindName(kind)},
        {QStringLiteral("file"), entry.GetFileNameString()},
        {QStringLiteral("path"), entry.GetFileNameString().isEmpty() ? QString() : file.absoluteFilePath()},
        {QStringLiteral("exists"), exists},
        {QStringLiteral("size"), exists ? double(file.size()) : -1.0},
        {QStringLiteral("modified"), entry.GetModTimeString()},
        {QStringLiteral("thumbnail"), entry.GetPreviewString()},
        {QStringLiteral("thumbnailPath"),
         entry.GetPreviewString().isEmpty() ? QString() : thumbnail.absoluteFilePath()},
        {QStringLiteral("author"), entry.GetAuthorString()},
        {QStringLiteral("comment"), entry.GetCommentString()},
        {QStringLiteral("hidden"), entry.IsHidden()},
        {QStringLiteral("readOnly"), entry.IsReadOnly()}};
}

void PrintTable(const QList<QStringList> &rows)
{
    QList<int> widths;
    for (const QStringList &row : rows) {
        for (int column = 0; column < row.size(); ++column) {
            if (column >= widths.size())
                widths << 0;
            widths[column] = qMax(widths[column], int(Console::Escaped(row.at(column)).size()));
        }
    }
    for (const QStringList &row : rows) {
        QString line;
        for (int column = 0; column < row.size(); ++column) {
            // Measured as shown: an escaped name is wider than its characters.
            const QString cell = Console::Escaped(row.at(column));
            if (column + 1 < row.size())
                line += cell.leftJustified(widths.at(column)) + QStringLiteral("  ");
            else
                line += cell;
        }
        Console::Out(line);
    }
}

QString JsonText(const QJsonObject &object, bool compact)
{
    const QByteArray text = QJsonDocument(object).toJson(compact ? QJsonDocument::Compact : QJsonDocument::Indented);
    return Console::EscapedJson(QString::fromUtf8(text).trimmed());
}

std::unique_ptr<cPackageManager> OpenRegistry(const Invocation &invocation)
{
    if (!QFileInfo(invocation.root).isDir()) {
        Console::Fail(QStringLiteral("packages root does not exist"), invocation.root);
        return nullptr;
    }
    return std::make_unique<cPackageManager>(QDir(invocation.root));
}

cPackage *FindPackage(const cPackageManager &registry, const Invocation &invocation, const QString &uid)
{
    cPackage *package = registry.GetPackage(uid.toUpper());
    if (!package)
        Console::Fail(QStringLiteral("no package ") + uid.toUpper() + QStringLiteral(" in packages root"),
                      invocation.root);
    return package;
}

QString ExistingFolder(const QString &path, const QString &what)
{
    const QFileInfo info(path);
    if (!info.isDir()) {
        Console::Fail(what + QStringLiteral(" does not exist"), info.absoluteFilePath());
        return QString();
    }
    return info.absoluteFilePath();
}

QString ReadableFile(const QString &path, const QString &what)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        Console::Fail(what + QStringLiteral(" does not exist"), info.absoluteFilePath());
        return QString();
    }
    QFile file(info.absoluteFilePath());
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        Console::Fail(QStringLiteral("cannot read ") + what, info.absoluteFilePath());
        return QString();
    }
    return info.absoluteFilePath();
}

} // namespace PackageViews
