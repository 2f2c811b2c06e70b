// Host operations on packages: create, add a file, copy, move, remove.
// Usage: bench_operations [N]   (N packages, default 200). Prints microseconds per operation.

#include "cPackageManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

QByteArray Program(int index)
{
    QByteArray text = "%\nO" + QByteArray::number(1000 + index) + " (BENCH)\nG90 G54 G17\n";
    for (int line = 0; line < 150; ++line)
        text += "G1 X" + QByteArray::number(line % 97) + ". Y" + QByteArray::number(line % 53) + ". F400\n";
    text += "T2 M6\nM30\n%\n";
    return text;
}

bool Write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

void Report(const char *what, qint64 nanoseconds, int count)
{
    std::printf("%-28s %10.1f us/op  (%d ops)\n", what, count ? double(nanoseconds) / 1000.0 / count : 0.0, count);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 200;

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString root = dir.path() + QLatin1String("/packages");
    const QString parts = dir.path() + QLatin1String("/parts/MILL");
    const QString copies = dir.path() + QLatin1String("/parts/COPIES");
    QDir().mkpath(root);
    QDir().mkpath(parts);
    QDir().mkpath(copies);
    const QString note = dir.path() + QLatin1String("/setup.txt");
    Write(note, "check the clamps before the first cut\n");

    QStringList programs;
    for (int i = 0; i < count; ++i) {
        programs << parts + QStringLiteral("/P%1.NC").arg(i, 5, 10, QLatin1Char('0'));
        Write(programs.last(), Program(i));
    }

    cPackageManager registry{QDir(root)};
    QElapsedTimer timer;
    QStringList uids;

    timer.start();
    for (const QString &program : std::as_const(programs))
        uids << registry.CreatePackage(QFileInfo(program));
    Report("CreatePackage", timer.nsecsElapsed(), count);

    timer.restart();
    for (const QString &uid : std::as_const(uids))
        registry.GetPackage(uid)->AddFileToPackage(QFileInfo(note), QString(), QString(), QString());
    Report("AddFileToPackage", timer.nsecsElapsed(), count);

    QStringList copyUids;
    timer.restart();
    for (int i = 0; i < count; ++i) {
        const QFileInfo target(copies + QStringLiteral("/C%1.NC").arg(i, 5, 10, QLatin1Char('0')));
        if (cPackage *copy = registry.CopyPackage(uids.at(i), target))
            copyUids << copy->GetPackageUID();
    }
    Report("CopyPackage", timer.nsecsElapsed(), copyUids.size());

    QStringList movedUids;
    timer.restart();
    for (int i = 0; i < copyUids.size(); ++i) {
        const QString from = copies + QStringLiteral("/C%1.NC").arg(i, 5, 10, QLatin1Char('0'));
        const QString to = copies + QStringLiteral("/M%1.NC").arg(i, 5, 10, QLatin1Char('0'));
        QFile::rename(from, to);
        if (cPackage *moved = registry.MovePackage(copyUids.at(i), QFileInfo(to)))
            movedUids << moved->GetPackageUID();
    }
    Report("MovePackage", timer.nsecsElapsed(), movedUids.size());

    timer.restart();
    int removed = 0;
    for (const QString &uid : std::as_const(movedUids))
        removed += registry.RemovePackage(uid, true) ? 1 : 0;
    Report("RemovePackage (with folder)", timer.nsecsElapsed(), removed);

    const QString source = root + QLatin1Char('/') + uids.first() + QLatin1String(".pkg");
    QStringList imported;
    timer.restart();
    for (int i = 0; i < qMin(count, 100); ++i) {
        const QString uid = registry.ImportPackage(QDir(source), QDir(copies), QStringLiteral("I%1").arg(i));
        if (!uid.isEmpty())
            imported << uid;
    }
    Report("ImportPackage (new name)", timer.nsecsElapsed(), imported.size());
    return 0;
}
