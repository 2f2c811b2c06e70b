#include "cPackageManager.h"
#include "package/PackageLock.h"
#include "platform/PlatformFiles.h"
#include "programs/PartPrograms.h"

#include "TestUtils.h"

#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <sys/mount.h>
#include <unistd.h>

using namespace TestUtils;
using namespace Qt::StringLiterals;

// AddressSanitizer's redzones and quarantine (up to 256 MB of freed memory kept back) inflate
// the process's memory: a reader that allocates and frees per element grows to that size.
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 MemoryFactor = 8;
#else
constexpr qint64 MemoryFactor = 1;
#endif

namespace {

// Peak resident memory in KiB, first reset to the current size if asked; -1 where /proc
// does not tell.
qint64 PeakRssKiB(bool reset = false)
{
    QFile clearRefs(u"/proc/self/clear_refs"_s), status(u"/proc/self/status"_s);
    const bool cleared =
        !reset || (clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1 && clearRefs.flush());
    const QByteArray text = cleared && status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const qsizetype at = text.indexOf("VmHWM:");
    return at < 0 ? -1 : text.mid(at + 6, 24).trimmed().split(' ').value(0).toLongLong();
}

// Appends `size` bytes made of `line` repeated, without holding them in memory.
bool AppendRepeated(const QString &path, const QByteArray &line, qint64 size)
{
    QFile file(path);
    const QByteArray block = line.repeated(qMax<qsizetype>(1, (1 << 20) / qMax<qsizetype>(1, line.size())));
    bool ok = file.open(QIODevice::Append);
    for (qint64 left = size; ok && left > 0; left -= block.size())
        ok = file.write(block.constData(), qMin<qint64>(left, block.size())) > 0;
    return ok;
}

// A packages root with its registry, a parts folder named as the test asks, and a package
// for one program made on request.
struct Workspace
{
    QTemporaryDir dir;
    QString root = MakeDir(dir.path() + u"/packages"_s), parts, program, folder;
    std::unique_ptr<cPackageManager> registry = std::make_unique<cPackageManager>(QDir(root));
    cPackage *package = nullptr;

    explicit Workspace(const QString &partsName = u"Mill"_s) : parts(MakeDir(dir.path() + u"/parts/"_s + partsName)) {}
    static QString Put(const QString &p, const QByteArray &b) { return WriteFile(p, b) ? p : QString(); }
    static QString Folder(const cPackage *p) { return p->GetManifestFile().absolutePath(); }
    QFileInfo Note(const QString &name) const { return QFileInfo(Put(dir.path() + u"/outside/"_s + name, "note\n")); }
    // A full background scan of the parts folder, waited for.
    bool Scan(cPackageManager *other = nullptr)
    {
        QSignalSpy done(other ? other : registry.get(), &cPackageManager::PackageScanCompleted);
        // Generous: a 100 MB manifest under a sanitizer on a loaded machine takes minutes.
        return (other ? other : registry.get())->DoBackgroundScanForPackageUpdates({parts}) && done.wait(400000);
    }
    cPackage *Owner(QString p, cPackageManager *r) { return r->GetPackage(r->CalculatePackageUID(QFileInfo(p))); }
    bool Prog(const QByteArray &bytes, const QString &name = u"PROG.NC"_s)
    {
        program = Put(parts + u'/' + name, bytes);
        package = registry->GetPackage(registry->CreatePackage(QFileInfo(program)));
        folder = package ? Folder(package) : QString();
        return package && package->AddFileToPackage(Note(u"setup.txt"_s), {}, {}, {});
    }
};

// A real program of about `size` bytes, ending in "M30".
QByteArray LongProgram(const QString &name, int size)
{
    return MillingProgram(name).chopped(6) + QByteArray("G1 X10. Y20.\n").repeated(size / 13) + "M30\n%\n";
}

// Every "manifest.xml" and page parses, and no staged (hidden) file is left behind; the
// package's lock file stays.
void VerifyTidy(const Workspace &ws)
{
    for (const QString &file : Snapshot(ws.dir.path(), false).keys()) {
        QString error;
        const QString name = QFileInfo(file).fileName();
        QVERIFY2(!name.startsWith(u'.') || name == PackageLock::FileName(), qPrintable(file));
        if (file.endsWith(u"manifest.xml"_s) || file.endsWith(u".html"_s))
            QVERIFY2(ParsesAsXml(ws.dir.path() + u'/' + file, &error), qPrintable(file + u' ' + error));
    }
}

// After a full scan every program of the parts folder has a package holding its bytes.
void VerifyRepaired(Workspace &ws, cPackageManager *registry)
{
    QVERIFY(ws.Scan(registry));
    for (const QString &name : QDir(ws.parts).entryList(QDir::Files)) {
        const cPackage *package = ws.Owner(ws.parts + u'/' + name, registry);
        QVERIFY2(package && ReadFile(ws.Folder(package) + u'/' + name) == ReadFile(ws.parts + u'/' + name),
                 qPrintable(name));
    }
    VerifyTidy(ws);
}

// A package for PLATE.NC with a note by "Ann", made by pkgtool as a host or a script would.
struct ToolPackage
{
    QString root, parts, uid, folder;

    bool Make(const QString &base)
    {
        root = MakeDir(base + u"/packages"_s);
        parts = MakeDir(base + u"/parts"_s);
        if (!WriteFile(parts + u"/PLATE.NC"_s, MillingProgram(u"PLATE"_s)) ||
            !WriteFile(base + u"/note.txt"_s, "G54 set on the left jaw\n") ||
            Pkgtool({u"create"_s, u"--root"_s, root, parts + u"/PLATE.NC"_s}).exitCode != 0)
            return false;
        const QStringList folders = QDir(root).entryList({u"*.pkg"_s}, QDir::Dirs);
        folder = root + u'/' + folders.value(0);
        uid = QFileInfo(folder).completeBaseName();
        return folders.size() == 1 &&
               Pkgtool({u"add-file"_s, u"--root"_s, root, uid, base + u"/note.txt"_s, u"--author"_s, u"Ann"_s})
                       .exitCode == 0;
    }
    QByteArray Page(const char *suffix) const { return ReadFile(folder + u"/PLATE"_s + QLatin1String(suffix)); }
};

} // namespace

class tst_Faults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readOnlyFolders_data();
    void readOnlyFolders();
    void writeFailsMidway_data();
    void writeFailsMidway();
    void filesVanish();
    void brokenManifest_data();
    void brokenManifest();
    void hugeTextIsStreamed();
    // Several pkgtool processes on one package, and pkgtool on a full disk.
    void parallelWritersKeepEveryUpdate_data();
    void parallelWritersKeepEveryUpdate();
    void killedLockHolderBlocksNoOne();
    void fullDiskLeavesPackagesWhole();
};

void tst_Faults::readOnlyFolders_data()
{
    QTest::addColumn<QString>("place");
    for (const char *place : {"package", "root", "parts"})
        QTest::newRow(place) << QString::fromLatin1(place);
}

void tst_Faults::readOnlyFolders()
{
    QFETCH(QString, place);
    Workspace ws;
    QVERIFY(ws.Prog(MillingProgram(u"PROG"_s)));
    // In a folder the scans do not cover, so that only the host packages it.
    const QString newProgram = ws.Put(ws.dir.path() + u"/parts/Other/NEW.NC"_s, MillingProgram(u"NEW"_s));
    const QString uid = ws.package->GetPackageUID();
    // An edit the next scan would copy into the package.
    QVERIFY(WriteFile(ws.program, LongProgram(u"PROG"_s, 4000)));
    QVERIFY(SetModTime(ws.program, QDateTime::currentDateTime().addSecs(-3600)));
    const bool packageRW = place != u"package"_s, rootRW = place != u"root"_s, partsRW = place != u"parts"_s;
    const auto before = Snapshot(ws.folder);
    // Immutable when running as root, where permissions are ignored.
    const QString locked = !packageRW ? ws.folder : !rootRW ? ws.root : ws.parts;
    const auto setWritable = [&locked](bool on) {
        const auto permissions = QFile::permissions(locked);
        return ::geteuid() == 0 ? QProcess::execute(u"chattr"_s, {on ? u"-i"_s : u"+i"_s, locked}) == 0
                                : QFile::setPermissions(locked, on ? permissions | QFileDevice::WriteOwner
                                                                   : permissions & ~QFileDevice::WriteOwner);
    };
    if (!setWritable(false))
        QSKIP("this system cannot make a folder read-only");
    const auto writableAgain = qScopeGuard([&setWritable] { setWritable(true); }); // also after a failed check

    cPackageManager &registry = *ws.registry;
    QVERIFY(ws.Scan() && registry.GetPackage(uid) == ws.package);
    QCOMPARE(ReadFile(ws.folder + u"/PROG.NC"_s), packageRW ? ReadFile(ws.program) : MillingProgram(u"PROG"_s));
    QCOMPARE(ws.package->AddFileToPackage(ws.Note(u"later.txt"_s), {}, {}, {}), packageRW);
    QCOMPARE(ws.package->UpdateHistoryFile(OperatorNote, u"checked"_s, QString()), packageRW);
    QCOMPARE(!registry.CreatePackage(QFileInfo(newProgram)).isEmpty(), rootRW);
    // A package copy that cannot complete is undone.
    QVERIFY(rootRW || !registry.CopyPackage(uid, QFileInfo(ws.parts + u"/COPY.NC"_s)));
    // A move either completes or leaves everything where it was.
    cPackage *moved = registry.MovePackage(uid, QFileInfo(ws.parts + u"/MOVED.NC"_s));
    QVERIFY(!moved || (rootRW && packageRW && moved == ws.package));
    QCOMPARE(QFileInfo::exists(ws.folder + u"/PROG.NC"_s), !moved);
    QVERIFY(QFileInfo::exists(ws.Folder(ws.package) + (moved ? u"/MOVED.NC"_s : u"/PROG.NC"_s)));
    // A moved package's program keeps its old name in the parts folder: nothing to delete there.
    QCOMPARE(registry.RemovePackage(ws.package->GetPackageUID(), true), packageRW && rootRW && (partsRW || moved));
    // Nothing could be deleted: the package stays whole.
    QVERIFY(partsRW || moved || (registry.GetPackage(uid) == ws.package && QFileInfo::exists(ws.folder)));

    QVERIFY(setWritable(true));
    QVERIFY(packageRW || Snapshot(ws.folder) == before);
    QVERIFY(rootRW || QDir(ws.root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size() == 1);
    // Writable again, a new registry and a scan bring everything in step.
    cPackageManager reopened{QDir(ws.root)};
    VerifyRepaired(ws, &reopened);
}

void tst_Faults::writeFailsMidway_data()
{
    QTest::addColumn<QString>("operation");
    for (const char *operation : {"manifest", "history", "sync", "create", "copy", "import"})
        QTest::newRow(operation) << QString::fromLatin1(operation);
}

void tst_Faults::writeFailsMidway()
{
    QFETCH(QString, operation);
    Workspace ws;
    QVERIFY(ws.Prog(LongProgram(u"PROG"_s, 2000)));
    const auto before = Snapshot(ws.folder);
    // Every file this process writes is cut at the limit: the failure comes midway.
    QVERIFY(before.value(u"manifest.xml"_s).size() < 32 * 1024 && before.contains(u"PROG.history.html"_s));
    const QByteArray big = LongProgram(u"BIG"_s, 256 * 1024);
    const QString source = ws.Put(ws.dir.path() + u"/import/X!,A^BIG.pkg/BIG.NC"_s, big);
    const QString copy = ws.parts + u"/COPY.NC"_s, imported = MakeDir(ws.dir.path() + u"/parts/Lathe"_s);
    if (operation == u"sync"_s || operation == u"copy"_s)
        QVERIFY(WriteFile(ws.program, big) && SetModTime(ws.program, QDateTime::currentDateTime().addSecs(-600)));
    QVERIFY(operation != u"copy"_s || ws.Scan());
    const QByteArray copyBefore = ReadFile(ws.folder + u"/PROG.NC"_s);
    {
        FileSizeLimit fileSizeLimit(32 * 1024);
        QVERIFY(fileSizeLimit.active);
        const QString longText(40 * 1024, u'x');
        if (operation == u"manifest"_s)
            QVERIFY(!ws.package->AddFileToPackage(ws.Note(u"s.txt"_s), {}, longText, {}));
        else if (operation == u"history"_s)
            QVERIFY(!ws.package->UpdateHistoryFile(OperatorNote, longText, QString()));
        else if (operation == u"sync"_s)
            QVERIFY(ws.Scan());
        else if (operation == u"create"_s)
            (void)ws.registry->CreatePackage(QFileInfo(ws.Put(ws.parts + u"/BIG.NC"_s, big)));
        else if (operation == u"copy"_s)
            QVERIFY(!ws.registry->CopyPackage(ws.package->GetPackageUID(), QFileInfo(copy)));
        else
            (void)ws.registry->ImportPackage(QFileInfo(source).dir(), QDir(imported), QString());
    }
    // The old manifest, page and program copy are whole: the write failed before the swap.
    const auto after = Snapshot(ws.folder);
    for (const QString &name : {u"manifest.xml"_s, u"PROG.history.html"_s})
        QVERIFY(operation == u"sync"_s || operation == u"copy"_s || after.value(name) == before.value(name));
    QCOMPARE(after.value(u"PROG.NC"_s), copyBefore);
    QVERIFY(!QFileInfo::exists(copy) || ReadFile(copy) == big);
    QVERIFY(!QFileInfo::exists(imported + u"/BIG.NC"_s) || ReadFile(imported + u"/BIG.NC"_s) == big);
    for (const QString &file : Snapshot(ws.root, false).keys()) // no package holds a cut program
        QVERIFY2(!file.endsWith(u".NC"_s) || ReadFile(ws.root + u'/' + file).endsWith("M30\n%\n"), qPrintable(file));
    // With room again, the next scan repairs what could not be written.
    VerifyRepaired(ws, ws.registry.get());
}

void tst_Faults::filesVanish()
{
    Workspace ws;
    // Every third program is conversational, with its NC program beside it without suffix.
    const auto programFile = [](int i) -> QString { return u"P%1"_s.arg(i) + (i % 3 ? u".NC"_s : QString()); };
    for (int i = 0; i < 12; ++i)
        QVERIFY(WriteFile(ws.parts + u'/' + programFile(i), MillingProgram(u"P%1"_s.arg(i))) &&
                (i % 3 || WriteFile(ws.parts + u"/P%1.CNV"_s.arg(i), ConversationalProgram())));
    QVERIFY(ws.Prog(MillingProgram(u"P0"_s), u"P0"_s));
    // Everything the manifest lists goes behind the package's back.
    for (const QString &name : QDir(ws.folder).entryList(QDir::Files))
        QVERIFY(name == u"manifest.xml"_s || QFile::remove(ws.folder + u'/' + name));
    QVERIFY(!ws.package->RemoveFileFromPackage(u"setup.txt"_s) && ws.package->GetPgmLines(5, NCProgram).isEmpty());
    (void)ws.package->UpdateToolInfo();
    (void)ws.package->CreateDiffFile();
    (void)ws.package->UpdateStatsFile(1);
    VerifyTidy(ws);

    // Programs, notes and package files come and go while passes run.
    std::atomic<bool> stop{false};
    std::thread churn([&stop, &programFile, &ws] {
        for (int round = 0; !stop; ++round) {
            const QString path = ws.parts + u'/' + programFile(round % 12);
            // Two writes of one file within a clock tick must differ in size to be told apart:
            // every write is longer than the one before.
            const QByteArray program = MillingProgram(QString::number(round)) + '(' + QByteArray(round, 'x') + ")\n";
            (void)(round % 2 ? QFile::remove(path) : WriteFile(path, program));
            WriteFile(ws.parts + u"/NOTE%1.NC"_s.arg(round % 5), "G0 X1\n");
            QFile::remove(ws.parts + u"/NOTE%1.NC"_s.arg((round + 2) % 5));
            const QStringList packages = QDir(ws.root).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
            const QString folder = ws.root + u'/' + packages.value(round % qMax(1, int(packages.size())));
            const QString file = QDir(folder).entryList(QDir::Files).value(round % 7);
            if (!file.isEmpty() && file != u"manifest.xml"_s)
                QFile::remove(folder + u'/' + file);
        }
    });
    for (int pass = 0; pass < 6; ++pass)
        QVERIFY(ws.Scan());
    stop = true;
    churn.join();
    // Once the files hold still, one more pass gives every program a whole package.
    VerifyRepaired(ws, ws.registry.get());
}

void tst_Faults::brokenManifest_data()
{
    QTest::addColumn<QByteArrayList>("content"); // head, filler repeated to the size, tail
    QTest::addColumn<qint64>("fillerSize");
    const QByteArray open = "<?xml version=\"1.0\"?>\n<Manifest package_name=\"PROG\" package_size=\"10\"";
    const QByteArray close = "<NCProgram>PROG.NC</NCProgram>\n</Manifest>\n";
    const qint64 huge = 100 * 1024 * 1024;
    // keptAside: a file that holds texts but cannot be read is set aside, never overwritten.
    QTest::addColumn<bool>("keptAside");
    QTest::newRow("empty") << QByteArrayList{{}, {}, {}} << qint64(0) << false;
    QTest::newRow("not XML") << QByteArrayList{"\x89PNG\r\n", QByteArray("\0\xff\x10<", 4), {}} << qint64(4096) << true;
    QTest::newRow("cut short") << QByteArrayList{open + ">\n", {}, "<NCProgram>PROG."} << qint64(0) << false;
    QTest::newRow("huge, not XML") << QByteArrayList{{}, QByteArray("binary\0\xfe\xff", 9), {}} << huge << true;
    QTest::newRow("huge, one comment") << QByteArrayList{open + " comment=\"", "abcdefgh", "\">\n" + close} << huge
                                       << true;
    // Cut inside an entry by the filling.
    QTest::newRow("huge, many entries") << QByteArrayList{open + ">\n", "<Notes>missing.txt</Notes>\n", close} << huge
                                        << true;
    QTest::newRow("huge, deep nesting") << QByteArrayList{open + ">\n", "<a>", {}} << huge / 4 << true;
}

void tst_Faults::brokenManifest()
{
    QFETCH(QByteArrayList, content);
    QFETCH(qint64, fillerSize);
    QFETCH(bool, keptAside);
    Workspace ws;
    QVERIFY(ws.Prog(MillingProgram(u"PROG"_s)));
    const QString uid = ws.package->GetPackageUID(), manifest = ws.folder + u"/manifest.xml"_s;
    ws.registry.reset();
    QVERIFY(WriteFile(manifest, content.at(0)) && AppendRepeated(manifest, content.at(1), fillerSize));
    QVERIFY(AppendRepeated(manifest, content.at(2), content.at(2).size()));
    const qint64 startKiB = PeakRssKiB(true);
    // Start-up reads the manifest, the scan rebuilds it.
    cPackageManager registry{QDir(ws.root)};
    cPackage *package = registry.GetPackage(uid);
    QVERIFY(startKiB > 0 && package);
    (void)package->GetManifestItems(Unknown);
    QVERIFY(ws.Scan(&registry) && registry.GetPackage(uid) == package && package->HasNCProgram());
    QCOMPARE(package->GetPgmLines(2, NCProgram).size(), 2);
    QVERIFY2(PeakRssKiB() - startKiB < 64 * 1024 * MemoryFactor, "the manifest was held in memory");
    VerifyTidy(ws);
    QVERIFY(QFileInfo(manifest).size() < 64 * 1024 && ReadFile(manifest).contains(">PROG.NC<"));
    const QFileInfo aside(manifest + u".unreadable"_s);
    QCOMPARE(aside.exists(), keptAside);
    QVERIFY(!keptAside || aside.size() == fillerSize + content.at(0).size() + content.at(2).size());
}

void tst_Faults::hugeTextIsStreamed()
{
    Workspace ws;
    // 200 MB of text without a G or M word, opening with a 32 MB line. Without a suffix and
    // with a conversational companion it is a part program all the same, with pages made from it.
    const QString text = ws.parts + u"/BIG"_s;
    QVERIFY(AppendRepeated(text, "abcdefgh", 32 << 20));
    QVERIFY(AppendRepeated(text, "\nlorem ipsum dolor sit amet, consectetur adipiscing", (200 - 32) << 20));
    const qint64 startKiB = PeakRssKiB(true);
    QVERIFY(startKiB > 0 && !IsNCProgramText(QFileInfo(text)));
    QVERIFY(WriteFile(ws.parts + u"/BIG.CNV"_s, ConversationalProgram()));
    QVERIFY(ws.Scan());
    cPackage *package = ws.Owner(text, ws.registry.get());
    QVERIFY(package);
    QVERIFY(package->GetPgmLines(3, NCProgram).value(1).startsWith(u"lorem"_s));
    QVERIFY2(PeakRssKiB() - startKiB < 50 * 1024 * MemoryFactor, "the program was held in memory");
    QCOMPARE(QFileInfo(ws.Folder(package) + u"/BIG"_s).size(), QFileInfo(text).size());
    VerifyTidy(ws);
}

void tst_Faults::parallelWritersKeepEveryUpdate_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("file");    // where the updates show
    QTest::addColumn<QByteArray>("mark"); // once per writer, or once for all of them
    QTest::addColumn<int>("count");
    QTest::newRow("add-file") << u"add-file"_s << u"manifest.xml"_s << QByteArray("author=\"Writer") << 20;
    QTest::newRow("history") << u"history"_s << u"PLATE.history.html"_s << QByteArray("<td>row") << 20;
    QTest::newRow("stats") << u"stats"_s << u"PLATE.stats.html"_s << QByteArray("data-runs=\"20\"") << 1;
}

void tst_Faults::parallelWritersKeepEveryUpdate()
{
    QFETCH(QString, command);
    QFETCH(QString, file);
    QFETCH(QByteArray, mark);
    QTemporaryDir dir;
    ToolPackage tp;
    QVERIFY(tp.Make(dir.path()));
    const int writers = 20;
    std::vector<std::unique_ptr<QProcess>> processes;
    for (int i = 0; i < writers; ++i) {
        QStringList arguments{command, u"--root"_s, tp.root, tp.uid};
        if (command == u"add-file"_s) {
            const QString file = dir.path() + u"/sheet%1.txt"_s.arg(i);
            QVERIFY(WriteFile(file, "sheet\n"));
            arguments << file << u"--author"_s << u"Writer%1"_s.arg(i);
        } else {
            arguments << (command == u"history"_s ? u"row%1"_s.arg(i) : u"1"_s);
        }
        processes.push_back(std::make_unique<QProcess>());
        processes.back()->start(QStringLiteral(PM_PKGTOOL), arguments);
    }
    for (auto &process : processes) {
        QVERIFY(process->waitForFinished(300000));
        QCOMPARE(process->exitCode(), 0);
    }
    QTEST(int(ReadFile(tp.folder + u'/' + file).count(mark)), "count");
    const QByteArray manifest = ReadFile(tp.folder + u"/manifest.xml"_s);
    // Ann's note survived all of them; no temporary is left, and the lock file is no entry.
    QVERIFY(manifest.contains("author=\"Ann\"") && !manifest.contains(".package.lock"));
    QCOMPARE(QDir(tp.folder).entryList({u"*.pmtmp"_s}, QDir::Files | QDir::Hidden), QStringList());
    const ToolRun show = Pkgtool({u"show"_s, u"--root"_s, tp.root, tp.uid});
    QVERIFY(show.exitCode == 0 && !show.out.contains(u".package"_s));
}

void tst_Faults::killedLockHolderBlocksNoOne()
{
    QTemporaryDir dir;
    ToolPackage tp;
    QVERIFY(tp.Make(dir.path()));
    QProcess holder;
    holder.start(QStringLiteral(PM_TEST_HELPER_DIR "/lock_holder"), {tp.folder + u"/.package.lock"_s});
    QVERIFY(holder.waitForReadyRead(30000) && holder.readAll().startsWith("locked"));
    QProcess writer;
    writer.start(QStringLiteral(PM_PKGTOOL), {u"history"_s, u"--root"_s, tp.root, tp.uid, u"after the kill"_s});
    // It waits while the lock is held ...
    QVERIFY(!writer.waitForFinished(1500));
    QVERIFY(!tp.Page(".history.html").contains("after the kill"));
    // ... and goes on once its holder is killed.
    holder.kill();
    QVERIFY(holder.waitForFinished(30000));
    QVERIFY(writer.waitForFinished(120000));
    QCOMPARE(writer.exitCode(), 0);
    QVERIFY(tp.Page(".history.html").contains("after the kill"));
}

void tst_Faults::fullDiskLeavesPackagesWhole()
{
    QTemporaryDir dir;
    const QString disk = MakeDir(dir.path() + u"/disk"_s);
    if (::geteuid() != 0 || ::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, "size=2m") != 0)
        QSKIP("mounting a small tmpfs needs root");
    const auto unmount = qScopeGuard([&disk] { ::umount2(QFile::encodeName(disk).constData(), MNT_DETACH); });
    // Takes the rest of the space but `keep` bytes, so that a larger write fails.
    const auto fill = [&disk](qint64 keep) {
        QFile filler(disk + u"/filler"_s);
        bool ok = filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        while (ok && filler.write(QByteArray(4096, 'x')) == 4096) {
        }
        while (ok && filler.write("x", 1) == 1) { // whatever a smaller write could still take
        }
        return ok && filler.resize(filler.size() - keep);
    };
    ToolPackage tp;
    QVERIFY(tp.Make(disk));
    const QString root = tp.root, parts = tp.parts;
    // A photo too large for what is left once the disk is nearly full.
    QVERIFY(WriteFile(parts + u"/photo.jpg"_s, QByteArray(300 * 1024, 'p')));
    QVERIFY(Pkgtool({u"add-file"_s, u"--root"_s, root, tp.uid, parts + u"/photo.jpg"_s}).exitCode == 0);
    QVERIFY(QFile::remove(parts + u"/photo.jpg"_s));
    const QByteArray history = tp.Page(".history.html");
    const QStringList before = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QVERIFY(fill(200 * 1024)); // room for small files, not for the photo

    // A copy that cannot copy the photo is undone; nothing is filed.
    QCOMPARE(Pkgtool({u"copy"_s, u"--root"_s, root, tp.uid, parts + u"/COPY.NC"_s}).exitCode, 1);
    QCOMPARE(QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot), before);
    QVERIFY(!QFileInfo::exists(parts + u"/COPY.NC"_s));

    QVERIFY(fill(0));
    const ToolRun run = Pkgtool({u"history"_s, u"--root"_s, root, tp.uid, u"on a full disk"_s});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err.split(u'\n').filter(QRegularExpression(u"^pkgtool: "_s)).size(), 1); // one line, no flood
    QCOMPARE(tp.Page(".history.html"), history);

    // A move that cannot write its manifest and history row is undone and says so; it never
    // leaves an empty manifest behind.
    const ToolRun move = Pkgtool({u"move"_s, u"--root"_s, root, tp.uid, parts + u"/MOVED.NC"_s});
    QCOMPARE(move.exitCode, 1);
    QCOMPARE(QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot), before);
    QVERIFY(QFileInfo::exists(parts + u"/PLATE.NC"_s) && !QFileInfo::exists(parts + u"/MOVED.NC"_s));
    QCOMPARE(tp.Page(".history.html"), history);
    for (const QString &name : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QVERIFY2(ReadFile(root + u'/' + name + u"/manifest.xml"_s).contains("author=\"Ann\""), qPrintable(name));
        QCOMPARE(QDir(root + u'/' + name).entryList({u"*.pmtmp"_s}, QDir::Files | QDir::Hidden), QStringList());
    }
}

QTEST_GUILESS_MAIN(tst_Faults)
#include "tst_faults.moc"
