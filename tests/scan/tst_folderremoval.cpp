#include "registry/FolderRemoval.h"

#include "TestUtils.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace TestUtils;

class tst_FolderRemoval : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void removesWholeTree_data();
    void removesWholeTree();
    void missingFolderFails();
    void emptyFolderKeepsTheFolder();
    void linksInsideAreNotFollowed_data();
    void linksInsideAreNotFollowed();
    void folderThatIsALinkKeepsItsTarget();
    void firstFailureStopsTheWalk();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString Path(const QString &relative) const { return dir->filePath(relative); }
    // A folder outside the one being removed, with two files, that must survive.
    QString MakeOutside();
    void VerifyOutsideIntact(const QString &outside);
};

void tst_FolderRemoval::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(dir->isValid(), qPrintable(dir->errorString()));
}

QString tst_FolderRemoval::MakeOutside()
{
    const QString outside = MakeDir(Path(QStringLiteral("outside/deeper")));
    WriteFile(Path(QStringLiteral("outside/keep.txt")), "keep");
    WriteFile(outside + QStringLiteral("/keep2.txt"), "keep too");
    return Path(QStringLiteral("outside"));
}

void tst_FolderRemoval::VerifyOutsideIntact(const QString &outside)
{
    QCOMPARE(ReadFile(outside + QStringLiteral("/keep.txt")), QByteArray("keep"));
    QCOMPARE(ReadFile(outside + QStringLiteral("/deeper/keep2.txt")), QByteArray("keep too"));
}

void tst_FolderRemoval::removesWholeTree_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::newRow("empty") << QStringList();
    QTest::newRow("flat") << QStringList{QStringLiteral("a.txt"), QStringLiteral("manifest.xml")};
    QTest::newRow("hidden") << QStringList{QStringLiteral(".hidden"), QStringLiteral(".dir/.x")};
    QTest::newRow("nested") << QStringList{QStringLiteral("a/b/c/d.bin"), QStringLiteral("a/e.txt"),
                                           QStringLiteral("f/g.txt")};
}

void tst_FolderRemoval::removesWholeTree()
{
    QFETCH(QStringList, files);
    const QString folder = MakeDir(Path(QStringLiteral("X.pkg")));
    for (const QString &file : files)
        QVERIFY(WriteFile(folder + QLatin1Char('/') + file, "data"));

    QVERIFY(RemoveFolder(QFileInfo(folder)));
    QVERIFY(!QFileInfo::exists(folder));
}

void tst_FolderRemoval::missingFolderFails()
{
    QVERIFY(!RemoveFolder(QFileInfo(Path(QStringLiteral("nothing.pkg")))));
}

void tst_FolderRemoval::emptyFolderKeepsTheFolder()
{
    MakeDir(Path(QStringLiteral("E.pkg/sub")));
    WriteFile(Path(QStringLiteral("E.pkg/sub/x")), "x");
    WriteFile(Path(QStringLiteral("E.pkg/.y")), "y");

    QVERIFY(EmptyFolder(Path(QStringLiteral("E.pkg"))));
    QVERIFY(QFileInfo(Path(QStringLiteral("E.pkg"))).isDir());
    QVERIFY(QDir(Path(QStringLiteral("E.pkg")))
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                .isEmpty());
}

void tst_FolderRemoval::linksInsideAreNotFollowed_data()
{
    QTest::addColumn<QString>("target"); // relative to the temporary folder
    QTest::addColumn<bool>("nested");    // the link sits in a subfolder
    QTest::newRow("link to folder") << QStringLiteral("outside") << false;
    QTest::newRow("link to folder, nested") << QStringLiteral("outside") << true;
    QTest::newRow("link to file") << QStringLiteral("outside/keep.txt") << false;
    QTest::newRow("link to parent") << QString() << false;
    QTest::newRow("dangling link") << QStringLiteral("gone") << true;
}

void tst_FolderRemoval::linksInsideAreNotFollowed()
{
#ifdef Q_OS_WIN
    QSKIP("QFile::link makes shortcuts on Windows");
#endif
    QFETCH(QString, target);
    QFETCH(bool, nested);
    const QString outside = MakeOutside();
    const QString folder = MakeDir(Path(QStringLiteral("L.pkg/sub")));
    WriteFile(Path(QStringLiteral("L.pkg/own.txt")), "own");
    const QString linkFolder = nested ? folder : Path(QStringLiteral("L.pkg"));
    const QString targetPath = target.isEmpty() ? dir->path() : Path(target);
    QVERIFY(QFile::link(targetPath, linkFolder + QStringLiteral("/link")));

    QVERIFY(RemoveFolder(QFileInfo(Path(QStringLiteral("L.pkg")))));
    QVERIFY(!QFileInfo::exists(Path(QStringLiteral("L.pkg"))));
    VerifyOutsideIntact(outside);
}

void tst_FolderRemoval::folderThatIsALinkKeepsItsTarget()
{
#ifdef Q_OS_WIN
    QSKIP("QFile::link makes shortcuts on Windows");
#endif
    const QString outside = MakeOutside();
    const QString link = Path(QStringLiteral("Link.pkg"));
    QVERIFY(QFile::link(outside, link));

    QVERIFY(RemoveFolder(QFileInfo(link)));
    QVERIFY(!QFileInfo(link).isSymLink());
    QVERIFY(!QFileInfo::exists(link));
    VerifyOutsideIntact(outside);
}

void tst_FolderRemoval::firstFailureStopsTheWalk()
{
#ifdef Q_OS_UNIX
    if (geteuid() == 0)
        QSKIP("permissions do not stop the superuser");
#else
    QSKIP("needs POSIX permissions");
#endif
    const QString locked = MakeDir(Path(QStringLiteral("F.pkg/locked")));
    WriteFile(locked + QStringLiteral("/inside.txt"), "x");
    WriteFile(Path(QStringLiteral("F.pkg/top.txt")), "y");
    QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));

    const bool removed = RemoveFolder(QFileInfo(Path(QStringLiteral("F.pkg"))));
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QVERIFY(!removed);
    QVERIFY(QFileInfo::exists(locked + QStringLiteral("/inside.txt")));
    // Files of the folder itself come after its subfolders, so the walk never got to them.
    QVERIFY(QFileInfo::exists(Path(QStringLiteral("F.pkg/top.txt"))));
}

QTEST_GUILESS_MAIN(tst_FolderRemoval)
#include "tst_folderremoval.moc"
