#include "TestUtils.h"
#include "platform/FolderListing.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <thread>

// A parts folder is listed once per start-up or pass; a lookup made after that must see
// what changed in the folder meanwhile, whether no scope or a new one is in force.
class tst_FolderIndex : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void laterLookupSeesChange_data();
    void laterLookupSeesChange();
    void helperThreadSharesThePassListing();
};

void tst_FolderIndex::laterLookupSeesChange_data()
{
    QTest::addColumn<bool>("inScopes");
    QTest::addColumn<QString>("before"); // the file there first; empty: none
    QTest::addColumn<QString>("after");  // the file there next; empty: none

    for (const bool inScopes : {false, true}) {
        const char *where = inScopes ? "each lookup in its own scope" : "no scope";
        QTest::addRow("added, %s", where) << inScopes << QString() << QStringLiteral("PLATE.NC");
        QTest::addRow("removed, %s", where) << inScopes << QStringLiteral("PLATE.NC") << QString();
        QTest::addRow("renamed, %s", where) << inScopes << QStringLiteral("PLATE.NC") << QStringLiteral("BRACKET.NC");
        QTest::addRow("case only, %s", where) << inScopes << QStringLiteral("PLATE.NC") << QStringLiteral("plate.nc");
    }
}

void tst_FolderIndex::laterLookupSeesChange()
{
    QFETCH(bool, inScopes);
    QFETCH(QString, before);
    QFETCH(QString, after);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.path();
    // Many neighbours, as in a shop's flat parts folder.
    for (int i = 0; i < 50; ++i)
        QVERIFY(TestUtils::WriteFile(dir.filePath(QStringLiteral("PART%1.NC").arg(i)), "G0 X0\nM30\n"));
    if (!before.isEmpty())
        QVERIFY(TestUtils::WriteFile(dir.filePath(before), "G0 X0\nM30\n"));

    const auto names = [&](const QString &name) {
        std::optional<Platform::FolderIndexScope> scope;
        if (inScopes)
            scope.emplace();
        // Asked twice in a scope: the second answer comes from its index.
        (void)Platform::ListingInScope(folder).Matching(name);
        QStringList found;
        for (const auto &entry : Platform::ListingInScope(folder).Matching(name))
            found << entry.name;
        return found;
    };
    const QStringList none;
    QCOMPARE(names(QStringLiteral("plate.NC")), before.isEmpty() ? none : QStringList{before});

    if (before.isEmpty())
        QVERIFY(TestUtils::WriteFile(dir.filePath(after), "G0 X0\nM30\n"));
    else if (after.isEmpty())
        QVERIFY(QFile::remove(dir.filePath(before)));
    else
        QVERIFY(QFile::rename(dir.filePath(before), dir.filePath(after)));

    const bool sameProgram = !after.isEmpty() && after.compare(QStringLiteral("PLATE.NC"), Qt::CaseInsensitive) == 0;
    QCOMPARE(names(QStringLiteral("plate.NC")), sameProgram ? QStringList{after} : none);
    if (!after.isEmpty())
        QCOMPARE(names(after), QStringList{after});
    QCOMPARE(Platform::ListingInScope(folder).Entries().size(), 50 + (after.isEmpty() ? 0 : 1));
}

// A pass's helper thread answers from the listing the pass already holds (the folder is
// listed once); a thread with a scope of its own lists again.
void tst_FolderIndex::helperThreadSharesThePassListing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(TestUtils::WriteFile(dir.filePath(QStringLiteral("PLATE.NC")), "G0 X0\nM30\n"));
    Platform::FolderIndexScope pass;
    QCOMPARE(Platform::ListingInScope(dir.path()).Entries().size(), 1);
    QVERIFY(TestUtils::WriteFile(dir.filePath(QStringLiteral("BRACKET.NC")), "G0 X0\nM30\n"));

    qsizetype joined = -1;
    qsizetype own = -1;
    std::thread helper([&] {
        {
            const Platform::FolderIndexScope shared(pass);
            joined = Platform::ListingInScope(dir.path()).Entries().size();
        }
        const Platform::FolderIndexScope separate;
        own = Platform::ListingInScope(dir.path()).Entries().size();
    });
    helper.join();
    QCOMPARE(joined, 1);
    QCOMPARE(own, 2);
}

QTEST_GUILESS_MAIN(tst_FolderIndex)
#include "tst_folderindex.moc"
