#include "registry/FolderRemoval.h"

#include "TestUtils.h"

#include <QTemporaryDir>
#include <QTest>

using namespace TestUtils;

class tst_FolderRemoval : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void removeFolder_data();
    void removeFolder();
};

void tst_FolderRemoval::removeFolder_data()
{
    QTest::addColumn<QString>("link");   // a link to `target` at this place below L.pkg; ".": L.pkg is the link
    QTest::addColumn<QString>("target"); // below the temporary folder
    QTest::newRow("tree without links") << QString() << QString();
    QTest::newRow("link to a folder") << "escape" << QString("outside");
    QTest::newRow("nested link to a folder") << "sub/escape" << QString("outside");
    QTest::newRow("link to a file") << "file" << QString("outside/a");
    QTest::newRow("link to the parent") << "up" << QString(".");
    QTest::newRow("dangling link") << "sub/gone" << QString("gone");
    QTest::newRow("folder that is a link") << "." << QString("outside");
}

void tst_FolderRemoval::removeFolder()
{
    QFETCH(QString, link);
    QFETCH(QString, target);
    QTemporaryDir dir;
    QVERIFY(WriteFile(dir.filePath("outside/a"), "a") && WriteFile(dir.filePath("outside/in/b"), "b"));
    const QString folder = dir.filePath("L.pkg");
    for (const char *file : {"own.txt", ".hidden", "sub/a/b.bin", ".dir/.x"})
        QVERIFY(link == "." || WriteFile(folder + '/' + file, "data"));
    if (!link.isEmpty())
        QVERIFY(QFile::link(dir.filePath(target), link == "." ? folder : folder + '/' + link));
    // Emptying keeps the folder itself.
    QVERIFY(!link.isEmpty() ||
            (EmptyFolder(folder) && QDir(folder).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)));

    QVERIFY(RemoveFolder(QFileInfo(folder)));

    QVERIFY(!QFileInfo::exists(folder) && !QFileInfo(folder).isSymLink());
    QVERIFY(ReadFile(dir.filePath("outside/a")) == "a" && ReadFile(dir.filePath("outside/in/b")) == "b");
    QVERIFY(!RemoveFolder(QFileInfo(folder))); // nothing left to remove
}

QTEST_GUILESS_MAIN(tst_FolderRemoval)
#include "tst_folderremoval.moc"
