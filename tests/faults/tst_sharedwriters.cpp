// Several processes writing to one package, and writes on a full disk: real pkgtool
// processes, as a host and a script beside it would run them.
#include "TestUtils.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace TestUtils;

namespace {

struct Run
{
    int exitCode = -1;
    QString out, err;
};

// pkgtool with `arguments`; `fileSizeLimit` > 0 caps the size of any file it writes, as a
// full disk would (the signal that would kill it is ignored, so that writes fail instead).
Run Pkgtool(const QStringList &arguments, rlim_t fileSizeLimit = 0)
{
    QProcess process;
    if (fileSizeLimit > 0) {
        process.setChildProcessModifier([fileSizeLimit] {
            ::signal(SIGXFSZ, SIG_IGN);
            const struct rlimit limit = {fileSizeLimit, fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
    }
    process.start(QStringLiteral(PM_PKGTOOL), arguments);
    Run run;
    if (process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// pkgtool's own lines on standard error (the library's warnings may come before them).
int ToolLines(const Run &run)
{
    return int(run.err.split(u'\n').filter(QRegularExpression(u"^pkgtool: "_s)).size());
}

int Count(const QByteArray &bytes, const char *pattern)
{
    return int(QString::fromUtf8(bytes).count(QRegularExpression(QString::fromLatin1(pattern))));
}

// A tmpfs of `size` mounted on a folder, unmounted at the end (root only).
struct SmallDisk
{
    QString path;
    bool mounted = false;
    SmallDisk(const QString &folder, const char *size) : path(MakeDir(folder))
    {
        const QByteArray options = QByteArray("size=") + size;
        mounted = ::geteuid() == 0 &&
                  ::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
    }
    // Takes the rest of the space, so that the next write of any size fails.
    bool Fill() const
    {
        QFile filler(path + u"/filler"_s);
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return false;
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size()) {
        }
        // Whatever a smaller write could still take.
        while (filler.write("x", 1) == 1) {
        }
        return true;
    }
};

} // namespace

class tst_SharedWriters : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QString root, parts, uid, folder;

    // A packages root and a package for PLATE.NC with a note by "Ann", under `base`.
    bool MakePackage(const QString &base)
    {
        root = MakeDir(base + u"/packages"_s);
        parts = MakeDir(base + u"/parts"_s);
        if (!WriteFile(parts + u"/PLATE.NC"_s, MillingProgram(u"PLATE"_s)) ||
            !WriteFile(base + u"/note.txt"_s, "G54 set on the left jaw\n"))
            return false;
        if (Pkgtool({u"create"_s, u"--root"_s, root, parts + u"/PLATE.NC"_s}).exitCode != 0)
            return false;
        const QStringList folders = QDir(root).entryList({u"*.pkg"_s}, QDir::Dirs);
        if (folders.size() != 1)
            return false;
        folder = root + u'/' + folders.first();
        uid = QFileInfo(folder).completeBaseName();
        return Pkgtool({u"add-file"_s, u"--root"_s, root, uid, base + u"/note.txt"_s, u"--author"_s, u"Ann"_s})
                   .exitCode == 0;
    }
    QByteArray Page(const char *suffix) const { return ReadFile(folder + u"/PLATE"_s + QLatin1String(suffix)); }

private Q_SLOTS:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY2(dir->isValid(), qPrintable(dir->errorString()));
    }

    void parallelWritersKeepEveryUpdate_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("add-file") << u"add-file"_s;
        QTest::newRow("history") << u"history"_s;
        QTest::newRow("stats") << u"stats"_s;
    }

    void parallelWritersKeepEveryUpdate()
    {
        QFETCH(QString, command);
        QVERIFY(MakePackage(dir->path()));
        const int writers = 20;
        std::vector<std::unique_ptr<QProcess>> processes;
        for (int i = 0; i < writers; ++i) {
            QStringList arguments{command, u"--root"_s, root, uid};
            if (command == u"add-file"_s) {
                const QString file = dir->path() + u"/sheet"_s + QString::number(i) + u".txt"_s;
                QVERIFY(WriteFile(file, "sheet\n"));
                arguments << file << u"--author"_s << u"Writer"_s + QString::number(i);
            } else if (command == u"history"_s) {
                arguments << u"row"_s + QString::number(i);
            } else {
                arguments << u"1"_s;
            }
            processes.push_back(std::make_unique<QProcess>());
            processes.back()->start(QStringLiteral(PM_PKGTOOL), arguments);
        }
        for (auto &process : processes) {
            QVERIFY(process->waitForFinished(300000));
            QCOMPARE(process->exitCode(), 0);
        }
        if (command == u"add-file"_s)
            QCOMPARE(Count(ReadFile(folder + u"/manifest.xml"_s), "author=\"Writer\\d+\""), writers);
        else if (command == u"history"_s)
            QCOMPARE(Count(Page(".history.html"), "<td>row\\d+</td>"), writers);
        else
            QVERIFY2(Page(".stats.html").contains("data-runs=\"20\""), Page(".stats.html").constData());
        // Ann's note survived all of them; no temporary is left, and the lock file is no entry.
        QVERIFY(ReadFile(folder + u"/manifest.xml"_s).contains("author=\"Ann\""));
        QVERIFY(!ReadFile(folder + u"/manifest.xml"_s).contains(".package.lock"));
        QCOMPARE(QDir(folder).entryList({u"*.pmtmp"_s}, QDir::Files | QDir::Hidden), QStringList());
        const Run show = Pkgtool({u"show"_s, u"--root"_s, root, uid});
        QVERIFY(show.exitCode == 0 && !show.out.contains(u".package"_s));
    }

    void killedLockHolderBlocksNoOne()
    {
        QVERIFY(MakePackage(dir->path()));
        QProcess holder;
        holder.start(QStringLiteral(PM_TEST_HELPER_DIR "/lock_holder"), {folder + u"/.package.lock"_s});
        QVERIFY(holder.waitForReadyRead(30000) && holder.readAll().startsWith("locked"));
        QProcess writer;
        writer.start(QStringLiteral(PM_PKGTOOL), {u"history"_s, u"--root"_s, root, uid, u"after the kill"_s});
        // It waits while the lock is held ...
        QVERIFY(!writer.waitForFinished(1500));
        QVERIFY(!Page(".history.html").contains("after the kill"));
        // ... and goes on once its holder is killed.
        holder.kill();
        QVERIFY(holder.waitForFinished(30000));
        QVERIFY(writer.waitForFinished(120000));
        QCOMPARE(writer.exitCode(), 0);
        QVERIFY(Page(".history.html").contains("after the kill"));
    }

    void fullDisk()
    {
        SmallDisk disk(dir->path() + u"/disk"_s, "2m");
        if (!disk.mounted)
            QSKIP("mounting a small tmpfs needs root; the full-disk cases were skipped");
        QVERIFY(MakePackage(disk.path));
        // A photo too large for what is left once the disk is nearly full.
        QVERIFY(WriteFile(parts + u"/photo.jpg"_s, QByteArray(300 * 1024, 'p')));
        QVERIFY(Pkgtool({u"add-file"_s, u"--root"_s, root, uid, parts + u"/photo.jpg"_s}).exitCode == 0);
        QVERIFY(QFile::remove(parts + u"/photo.jpg"_s));
        const QByteArray history = Page(".history.html");
        const QString before = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot).join(u' ');
        QVERIFY(disk.Fill());
        {
            QFile filler(disk.path + u"/filler"_s); // room for small files, not for the photo
            QVERIFY(filler.resize(filler.size() - 200 * 1024));
        }

        // A copy that cannot copy the photo is undone; nothing is filed.
        const Run copy = Pkgtool({u"copy"_s, u"--root"_s, root, uid, parts + u"/COPY.NC"_s});
        QCOMPARE(copy.exitCode, 1);
        QCOMPARE(QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot).join(u' '), before);
        QVERIFY(!QFileInfo::exists(parts + u"/COPY.NC"_s));

        QVERIFY(disk.Fill());
        const Run run = Pkgtool({u"history"_s, u"--root"_s, root, uid, u"on a full disk"_s});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(ToolLines(run), 1);
        QCOMPARE(Page(".history.html"), history);

        // A move that cannot write its manifest and history row is undone and says so; it
        // never leaves an empty manifest behind.
        const Run move = Pkgtool({u"move"_s, u"--root"_s, root, uid, parts + u"/MOVED.NC"_s});
        QCOMPARE(move.exitCode, 1);
        QCOMPARE(ToolLines(move), 1);
        QCOMPARE(QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot).join(u' '), before);
        QVERIFY(QFileInfo::exists(parts + u"/PLATE.NC"_s) && !QFileInfo::exists(parts + u"/MOVED.NC"_s));
        QCOMPARE(Page(".history.html"), history);
        for (const QString &name : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QByteArray manifest = ReadFile(root + u'/' + name + u"/manifest.xml"_s);
            QVERIFY2(manifest.contains("author=\"Ann\""), qPrintable(name));
            QCOMPARE(QDir(root + u'/' + name).entryList({u"*.pmtmp"_s}, QDir::Files | QDir::Hidden), QStringList());
        }
    }
};

QTEST_GUILESS_MAIN(tst_SharedWriters)
#include "tst_sharedwriters.moc"
