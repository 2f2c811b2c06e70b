#include "cPackageManager.h"

#include "TestUtils.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstring>

// A child process works on a workspace as a host would, with background scans running all
// the time; the test kills it at random moments and checks after every kill that nothing
// on disk is torn and that a new registry over the packages root still works.

using namespace TestUtils;
using namespace Qt::StringLiterals;

namespace {

const char *const ChildFlag = "--crash-child";

// A program that proves it is whole: its last lines are a checksum of everything before.
QByteArray ProgramVersion(const QString &name, int version, int size)
{
    QByteArray program = "%\nO1000 (" + name.toUtf8() + " V" + QByteArray::number(version) + ")\nG90 G54 G17\n";
    for (int line = 0; program.size() < size; ++line)
        program += "G1 X" + QByteArray::number((line * 7 + version) % 500) + ". Y10.\n";
    return program + "(SUM " + QCryptographicHash::hash(program, QCryptographicHash::Md5).toHex() + ")\nM30\n%\n";
}

bool IsWholeProgram(const QByteArray &bytes)
{
    const qsizetype sumLine = bytes.lastIndexOf("(SUM ");
    return sumLine >= 0 && bytes.endsWith(")\nM30\n%\n") &&
           QCryptographicHash::hash(bytes.left(sumLine), QCryptographicHash::Md5).toHex() == bytes.mid(sumLine + 5, 32);
}

// The child: a busy host. Scans run back to back; host operations go on in between and
// during them.
struct BusyHost
{
    QRandomGenerator random;
    QString tag, root;
    QStringList folders;
    cPackageManager registry;
    quint32 counter = 0;

    BusyHost(const QString &workspace, quint32 seed)
        : random(seed), tag(QString::number(seed % 9999)),
          root(workspace + u"/packages"_s), folders{workspace + u"/parts/Mill"_s, workspace + u"/parts/Lathe"_s},
          registry(QDir(root))
    {}

    QStringList Programs() const
    {
        QStringList programs;
        for (const QString &folder : folders)
            for (const QString &name : QDir(folder).entryList({u"*.NC"_s}, QDir::Files))
                programs << folder + u'/' + name;
        return programs;
    }
    // The editor saves under a hidden name and renames over the program, so the parts
    // folder only ever holds whole versions.
    void WriteVersion(const QString &path)
    {
        const QString temporary = QFileInfo(path).absolutePath() + u"/."_s + QFileInfo(path).fileName() + u".edit"_s;
        const int size = 8 * 1024 + int(random.bounded(160 * 1024));
        if (WriteFile(temporary, ProgramVersion(QFileInfo(path).completeBaseName(), int(++counter), size)))
            std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData());
    }

    void Step()
    {
        if (!registry.IsCurrentlyScanningForPackages())
            registry.DoBackgroundScanForPackageUpdates(folders);
        const QStringList programs = Programs();
        const QString program = programs.value(int(random.bounded(qMax(1, int(programs.size())))));
        cPackage *package =
            program.isEmpty() ? nullptr : registry.GetPackage(registry.CalculatePackageUID(QFileInfo(program)));
        const bool room = programs.size() <= 40;
        const QString fresh =
            folders.at(int(random.bounded(2))) + u'/' + tag + u'_' + QString::number(++counter) + u".NC"_s;
        const int action = int(random.bounded(100));
        if (action < 30 && !program.isEmpty()) {
            WriteVersion(program);
        } else if (action < 40 && room) {
            WriteVersion(fresh);
            registry.CreatePackage(QFileInfo(fresh));
        } else if (package && action < 48 && room) {
            registry.CopyPackage(package->GetPackageUID(), QFileInfo(fresh));
        } else if (package && action < 56) {
            // The host renames its program, then has the package follow.
            const QString target = QFileInfo(program).absolutePath() + u"/M"_s + QFileInfo(fresh).fileName();
            if (QFile::rename(program, target))
                registry.MovePackage(package->GetPackageUID(), QFileInfo(target));
        } else if (package && action < 62 && programs.size() >= 12) {
            registry.RemovePackage(package->GetPackageUID(), random.bounded(2) == 0);
        } else if (package && action < 72) {
            const QString note = QFileInfo(root).path() + u"/outside/note"_s + QString::number(++counter) + u".txt"_s;
            WriteFile(note, QByteArray(int(random.bounded(64 * 1024)), 'n'));
            package->AddFileToPackage(QFileInfo(note), u"Operator"_s, u"see this"_s, QString());
            if (random.bounded(3) == 0)
                package->RemoveFileFromPackage(QFileInfo(note).fileName());
        } else if (package && action < 84) {
            package->UpdateHistoryFile(OperatorNote, u"checked <ok> & fine"_s, u"note"_s);
            package->UpdateStatsFile(1);
            package->UpdateToolInfo();
            package->CreateDiffFile();
        } else if (package && action < 89 && room) {
            registry.ImportPackage(QDir(package->GetManifestFile().absolutePath()), QDir(folders.at(0)),
                                   u"I"_s + QFileInfo(fresh).completeBaseName());
        } // else: let the scan run alone for a moment
        QTimer::singleShot(int(random.bounded(3)), [this] { Step(); });
    }
};

} // namespace

class tst_CrashConsistency : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killedAtRandomMoments();
    void killedWhileReplacingTheCopy_data();
    void killedWhileReplacingTheCopy();

private:
    // Checks everything on disk, after a new registry over the root completed a full scan if
    // asked; the first problem found, or empty.
    QString Check(bool newRegistry) const;

    QString workspace, root;
    QStringList partsFolders;
};

QString tst_CrashConsistency::Check(bool newRegistry) const
{
    if (newRegistry) {
        cPackageManager registry{QDir(root)};
        QSignalSpy done(&registry, &cPackageManager::PackageScanCompleted);
        if (!registry.DoBackgroundScanForPackageUpdates(partsFolders) || !done.wait(120000))
            return u"the full scan did not complete"_s;
        for (const QString &folder : partsFolders)
            for (const QString &name : QDir(folder).entryList(QDir::Files)) {
                cPackage *package = registry.GetPackage(registry.CalculatePackageUID(QFileInfo(folder + u'/' + name)));
                if (!package || !package->HasNCProgram())
                    return u"no package with a program for "_s + name;
                if (ReadFile(package->GetManifestFile().absolutePath() + u'/' + name) != ReadFile(folder + u'/' + name))
                    return u"the copy of "_s + name + u" differs from its program"_s;
            }
        // A package may outlive its parts-folder program (it keeps the copy), but every package
        // lists a whole program and no folder is left without a package.
        const QMap<QString, cPackage *> all = registry.GetPackageMap(QString(), true);
        for (cPackage *package : all) {
            const cManifestItem *program = package->GetManifestItem(NCProgram);
            if (!program || !IsWholeProgram(ReadFile(program->GetFileInfo().absoluteFilePath())))
                return u"no whole program in "_s + package->GetPackageUID();
        }
        for (const QString &folder : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            if (!all.contains(QFileInfo(folder).completeBaseName()))
                return u"a package folder without a package: "_s + folder;
    }
    // Programs in the parts folders and in the packages, pages and manifests; hidden files
    // are unfinished writes that nothing lists.
    for (const QString &file : Snapshot(workspace, false).keys()) {
        const QString path = workspace + u'/' + file;
        QString error;
        if (QFileInfo(file).fileName().startsWith(u'.'))
            continue;
        if ((file.endsWith(u"manifest.xml"_s) || file.endsWith(u".html"_s)) && !ParsesAsXml(path, &error))
            return file + u": "_s + error;
        if (file.endsWith(u".NC"_s, Qt::CaseInsensitive) && !IsWholeProgram(ReadFile(path)))
            return u"torn program: "_s + file;
    }
    return QString();
}

void tst_CrashConsistency::killedAtRandomMoments()
{
    QTemporaryDir dir;
    workspace = dir.path();
    root = MakeDir(dir.path() + u"/packages"_s);
    partsFolders = {MakeDir(dir.path() + u"/parts/Mill"_s), MakeDir(dir.path() + u"/parts/Lathe"_s)};
    for (int i = 0; i < 16; ++i)
        QVERIFY(WriteFile(partsFolders.at(i % 2) + u"/P%1.NC"_s.arg(i), ProgramVersion(u"P"_s, i, 4096 + 8192 * i)));

    QRandomGenerator random(QRandomGenerator::global()->generate());
    const QDeadlineTimer deadline(75000);
    int kills = 0;
    for (bool last = false; !last;) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QString::fromLatin1(ChildFlag), dir.path(), QString::number(random.generate())});
        QVERIFY2(child.waitForStarted(10000), qPrintable(child.errorString()));
        // Anywhere from start-up to well into the loop.
        QVERIFY2(!child.waitForFinished(20 + int(random.bounded(1500))), "the child stopped by itself");
        child.kill(); // SIGKILL
        QVERIFY(child.waitForFinished(10000));
        last = ++kills == 80 || deadline.hasExpired();
        // Every tenth kill and after the last, a new registry must bring everything in step.
        const QString problem = Check(kills % 10 == 0 || last);
        QVERIFY2(problem.isEmpty(), qPrintable(u"after kill %1: "_s.arg(kills) + problem));
    }
    QVERIFY(kills >= 20);
    qInfo("survived %d kills in %lld s", kills, (75000 - deadline.remainingTime()) / 1000);
}

void tst_CrashConsistency::killedWhileReplacingTheCopy_data()
{
    QTest::addColumn<bool>("moving");
    // Between setting the old program copy aside and renaming the new one into place, the
    // package holds only hidden files for its program.
    QTest::newRow("replacing the program copy") << false;
    // A move renames the folder and the files first and saves the manifest last: the
    // manifest still records the old name.
    QTest::newRow("moving the package") << true;
}

// Killed at such a moment, the next start-up must keep the package and its notes, not take
// it for an orphan and delete its folder.
void tst_CrashConsistency::killedWhileReplacingTheCopy()
{
    QFETCH(bool, moving);
    QTemporaryDir dir;
    workspace = dir.path();
    root = MakeDir(workspace + u"/packages"_s);
    partsFolders = {MakeDir(workspace + u"/parts/Mill"_s)};
    const QString program = partsFolders.at(0) + u"/OLD.NC"_s, note = workspace + u"/setup.txt"_s;
    QVERIFY(WriteFile(program, ProgramVersion(u"OLD"_s, 1, 4096)) && WriteFile(note, "clamp on the left\n"));
    QString folder, moved;
    {
        cPackageManager registry{QDir(root)};
        cPackage *package = registry.GetPackage(registry.CreatePackage(QFileInfo(program)));
        QVERIFY(package && package->AddFileToPackage(QFileInfo(note), u"Operator"_s, u"left"_s, QString()));
        folder = package->GetManifestFile().absolutePath();
        moved = root + u'/' + registry.CalculatePackageUID(QFileInfo(partsFolders.at(0) + u"/NEW.NC"_s)) + u".pkg"_s;
    }
    if (moving) { // where the kill left it: program, folder and files renamed, "manifest.xml" not yet
        QVERIFY(QFile::rename(program, partsFolders.at(0) + u"/NEW.NC"_s) && QDir().rename(folder, moved));
        for (const QString &file : QDir(moved).entryList({u"OLD*"_s}, QDir::Files))
            QVERIFY(QFile::rename(moved + u'/' + file, moved + u"/NEW"_s + file.mid(3)));
        folder = moved;
    } else {
        QVERIFY(WriteFile(program, ProgramVersion(u"OLD"_s, 2, 4096)));
        QVERIFY(QFile::rename(folder + u"/OLD.NC"_s, folder + u"/.OLD.NC.old"_s));
        QVERIFY(QFile::copy(program, folder + u"/.OLD.NC.sync"_s));
    }
    // The new registry's scan finds every program's package with an up-to-date copy.
    const QString problem = Check(true);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY(QFileInfo::exists(folder + u"/setup.txt"_s));
    QVERIFY(ReadFile(folder + u"/manifest.xml"_s).contains(moving ? "package_name=\"NEW\"" : "package_name=\"OLD\""));
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], ChildFlag) == 0) {
        BusyHost host(QString::fromLocal8Bit(argv[2]), quint32(QByteArray(argv[3]).toULong()));
        QTimer::singleShot(0, [&host] { host.Step(); });
        return QCoreApplication::exec();
    }
    tst_CrashConsistency test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crashconsistency.moc"
