#include "PackageOperations.h"

#include "Console.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace PackageOperations {

namespace {

// Where the part programs of a package go when its program is given a new path: the NC
// program keeps its own suffix unless the new path names one, the conversational program
// is always "<new name>.<its suffix>".
struct ProgramRename
{
    QString from;
    QString to;
};

QList<ProgramRename> PlanRenames(const cPackage &package, const QFileInfo &newProgram)
{
    QList<ProgramRename> renames;
    const QString folder = newProgram.absolutePath() + QLatin1Char('/');
    const QString newName = newProgram.completeBaseName();
    const bool newIsConv = newProgram.suffix().compare(QLatin1String("CNV"), Qt::CaseInsensitive) == 0;
    const QFileInfo nc = package.GetPgmFileInfo(NCProgram);
    if (!nc.filePath().isEmpty() && nc.exists()) {
        QString target;
        if (!newIsConv && !newProgram.suffix().isEmpty())
            target = newProgram.absoluteFilePath();
        else
            target = folder + newName + (nc.suffix().isEmpty() ? QString() : QLatin1Char('.') + nc.suffix());
        renames.append({nc.absoluteFilePath(), target});
    }
    const QFileInfo conv = package.GetPgmFileInfo(ConvProgram);
    if (!conv.filePath().isEmpty() && conv.exists())
        renames.append({conv.absoluteFilePath(), folder + newName + QLatin1Char('.') + conv.suffix()});
    return renames;
}

bool SamePath(const QString &a, const QString &b)
{
    return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

} // namespace

bool Create(cPackageManager &registry, const QString &programPath, QString &uid)
{
    const QFileInfo program(programPath);
    if (!registry.IsProgramFile(program)) {
        Console::Fail(QStringLiteral("not a part program"), program.absoluteFilePath());
        return false;
    }
    const QString expected = registry.CalculatePackageUID(program);
    if (registry.DoesPackageExist(expected)) {
        Console::Fail(QStringLiteral("a package for this program exists already (") + expected + QLatin1Char(')'),
                      program.absoluteFilePath());
        return false;
    }
    uid = registry.CreatePackage(program);
    if (uid.isEmpty()) {
        Console::Fail(QStringLiteral("could not create a package"), program.absoluteFilePath());
        return false;
    }
    return true;
}

bool Import(cPackageManager &registry, const QString &sourceFolder, const QString &partsFolder, const QString &newName,
            QString &uid)
{
    QString name = newName;
    if (name.isEmpty()) {
        name = QFileInfo(sourceFolder).fileName().split(QLatin1Char('^')).last();
        name.remove(QStringLiteral(".pkg"), Qt::CaseInsensitive);
    }
    // The identifier takes the name whole, dots included.
    const QString expected =
        registry.CalculatePackageUID(QFileInfo(QDir(partsFolder).absoluteFilePath(name + QStringLiteral(".NC"))));
    if (registry.DoesPackageExist(expected)) {
        Console::Fail(QStringLiteral("a package with this identifier exists already (") + expected + QLatin1Char(')'),
                      partsFolder);
        return false;
    }
    uid = registry.ImportPackage(QDir(sourceFolder), QDir(partsFolder), newName);
    if (uid.isEmpty()) {
        Console::Fail(QStringLiteral("could not import the package"), sourceFolder);
        return false;
    }
    return true;
}

bool Move(cPackageManager &registry, const QString &uid, const QString &newProgramPath, QString &newUid)
{
    const QFileInfo newProgram(newProgramPath);
    if (!QFileInfo(newProgram.absolutePath()).isDir()) {
        Console::Fail(QStringLiteral("parts folder does not exist"), newProgram.absolutePath());
        return false;
    }
    cPackage *package = registry.GetPackage(uid);
    if (!package) {
        Console::Fail(QStringLiteral("no package ") + uid);
        return false;
    }
    const QString target = registry.CalculatePackageUID(newProgram);
    if (registry.DoesPackageExist(target)) {
        Console::Fail(QStringLiteral("a package for the new program exists already (") + target + QLatin1Char(')'),
                      newProgram.absoluteFilePath());
        return false;
    }
    const QList<ProgramRename> renames = PlanRenames(*package, newProgram);
    for (const ProgramRename &rename : renames) {
        if (!SamePath(rename.from, rename.to) && QFileInfo::exists(rename.to)) {
            Console::Fail(QStringLiteral("a program of the new name exists already"), rename.to);
            return false;
        }
    }

    cPackage *moved = registry.MovePackage(uid, newProgram);
    if (!moved || moved->GetPackageUID() != target) {
        Console::Fail(QStringLiteral("could not move package ") + uid + QStringLiteral(" to ") + target,
                      newProgram.absoluteFilePath());
        return false;
    }
    // Renaming the program in its parts folder is the host's share of a move.
    QList<ProgramRename> done;
    QString failed;
    for (const ProgramRename &rename : renames) {
        if (SamePath(rename.from, rename.to))
            continue;
        if (!QFile::rename(rename.from, rename.to)) {
            failed = rename.from;
            break;
        }
        done << rename;
    }
    if (!failed.isEmpty()) {
        // A package whose program kept the old name would lose it to a new, empty package at
        // the next scan: the whole move is undone.
        for (const ProgramRename &rename : std::as_const(done))
            QFile::rename(rename.to, rename.from);
        const bool undone = registry.MovePackage(target, QFileInfo(renames.first().from)) != nullptr;
        Console::Fail(QStringLiteral("could not rename the program; ") +
                          (undone ? QStringLiteral("the package stays at ") + uid
                                  : QStringLiteral("the package is now at ") + target),
                      failed);
        newUid = undone ? uid : target;
        return false;
    }
    newUid = target;
    return true;
}

bool Copy(cPackageManager &registry, const QString &uid, const QString &newProgramPath, QString &newUid)
{
    const QFileInfo newProgram(newProgramPath);
    const QString target = registry.CalculatePackageUID(newProgram);
    if (registry.DoesPackageExist(target)) {
        Console::Fail(QStringLiteral("a package for the new program exists already (") + target + QLatin1Char(')'),
                      newProgram.absoluteFilePath());
        return false;
    }
    // The copy puts the programs into the new parts folder and never overwrites one there.
    if (newProgram.exists()) {
        Console::Fail(QStringLiteral("a program of the new name exists already"), newProgram.absoluteFilePath());
        return false;
    }
    cPackage *copy = registry.CopyPackage(uid, newProgram);
    if (!copy) {
        Console::Fail(QStringLiteral("could not copy package ") + uid + QStringLiteral(" to ") + target,
                      newProgram.absoluteFilePath());
        return false;
    }
    newUid = copy->GetPackageUID();
    return true;
}

} // namespace PackageOperations
