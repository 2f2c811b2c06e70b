// Special files in a packages root, met through pkgtool as a user meets them: FIFOs where
// files belong, linked package folders, links inside a package, control characters in names.
#include "PkgtoolRun.h"
#include "TestUtils.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

class tst_OddFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString root, parts, outside, package, uid;
    QString out; // of the last run

    // -1 when the run had to be killed: a command that blocks fails the test instead of hanging it.
    int Run(const QStringList &arguments)
    {
        const TestUtils::ToolRun run = TestUtils::Pkgtool(arguments, 20000);
        out = run.out;
        return run.exitCode;
    }
    int Run(const QString &line) { return Run(QString(line).replace(u"@uid"_s, uid).split(u' ')); }
    int RunIn(const QString &line)
    {
        return Run(QStringList{line.section(u' ', 0, 0), u"--root"_s, root} +
                   QString(line.section(u' ', 1)).replace(u"@uid"_s, uid).split(u' ', Qt::SkipEmptyParts));
    }

    static bool MakeFifo(const QString &path)
    {
        QFile::remove(path);
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    }

    // The data tag as a folder name the identifier can carry.
    static QString Tag()
    {
        QString tag = QString::fromLatin1(QTest::currentDataTag());
        for (QChar &c : tag)
            if (!c.isLetterOrNumber())
                c = u'_';
        return tag;
    }

private Q_SLOTS:
    // A packages root with the package of PLATE_7 made by a scan, and a folder outside it.
    void init()
    {
        QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
        const QString base = dir.filePath(QString::fromLatin1(QTest::currentTestFunction()) + u'/' + Tag());
        root = TestUtils::MakeDir(base + u"/packages"_s);
        parts = TestUtils::MakeDir(base + u"/parts"_s);
        outside = TestUtils::MakeDir(base + u"/outside"_s);
        QVERIFY(TestUtils::WriteFile(parts + u"/PLATE_7.NC"_s, TestUtils::MillingProgram(u"PLATE_7"_s)));
        QVERIFY(TestUtils::WriteFile(outside + u"/SECRET.NC"_s, "T77 M6 (SECRET TOOL)\nM30\n"));
        QCOMPARE(Run(QStringList{u"scan"_s, u"--root"_s, root, parts}), 0);
        uid = QDir(parts).absolutePath().replace(u'/', u',').toUpper() + u"^PLATE_7"_s;
        package = root + u'/' + uid + u".pkg"_s;
        QVERIFY(QFileInfo(package + u"/PLATE_7.NC"_s).isFile());
    }

    // Every command returns, whatever it answers, with a FIFO where a package file belongs.
    void fifoInPlaceOfAFile_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("manifest") << u"manifest.xml"_s;
        QTest::newRow("program copy") << u"PLATE_7.NC"_s;
        QTest::newRow("history page") << u"PLATE_7.history.html"_s;
    }
    void fifoInPlaceOfAFile()
    {
        QFETCH(QString, file);
        QVERIFY(MakeFifo(package + u'/' + file));
        // With the parts folder's program gone nothing replaces the package's copy first.
        QVERIFY(QFile::rename(parts + u"/PLATE_7.NC"_s, outside + u"/PLATE_7.NC"_s));
        for (const QString &command : {u"list"_s, u"show @uid"_s, u"tools @uid"_s, u"history @uid done"_s})
            QVERIFY2(RunIn(command) != -1, qPrintable(command));
        QCOMPARE(RunIn(u"list"_s), 0);
        QVERIFY(out.contains(uid));
        QVERIFY(Run(QStringList{u"scan"_s, u"--root"_s, root, parts}) != -1);
    }

    // A package folder that links outside the root is not a package: nothing is read or written there.
    void linkedPackageFolder()
    {
        QVERIFY(QDir(package).removeRecursively());
        QVERIFY(TestUtils::WriteFile(outside + u"/PLATE_7.NC"_s, TestUtils::MillingProgram(u"PLATE_7"_s)));
        QVERIFY(QFile::link(outside, package));
        const auto before = TestUtils::Snapshot(outside);
        QCOMPARE(RunIn(u"list"_s), 0);
        QVERIFY(!out.contains(uid));
        QCOMPARE(RunIn(u"show @uid"_s), 1);
        QCOMPARE(RunIn(u"remove-file @uid SECRET.NC"_s), 1);
        QCOMPARE(RunIn(u"tools @uid"_s), 1);
        QCOMPARE(TestUtils::Snapshot(outside), before);
    }

    // A file in a package that links out of it is neither read nor deleted through.
    void linkInsidePackage()
    {
        QVERIFY(TestUtils::WriteFile(package + u"/notes.txt"_s, "left jaw\n"));
        QCOMPARE(Run(QStringList{u"scan"_s, u"--root"_s, root, parts}), 0); // now listed
        QVERIFY(QFile::remove(package + u"/notes.txt"_s) &&
                QFile::link(outside + u"/SECRET.NC"_s, package + u"/notes.txt"_s));
        QVERIFY(QFile::remove(package + u"/PLATE_7.NC"_s) &&
                QFile::link(outside + u"/SECRET.NC"_s, package + u"/PLATE_7.NC"_s));
        const auto before = TestUtils::Snapshot(outside);

        RunIn(u"remove-file @uid notes.txt"_s);
        RunIn(u"tools @uid"_s);
        QCOMPARE(TestUtils::Snapshot(outside), before);
        QVERIFY(!TestUtils::ReadFile(package + u"/PLATE_7.tools.html"_s).contains("SECRET"));
    }

    // Names reach the terminal escaped; JSON escapes them and gives them back whole.
    void controlCharactersEscaped_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");     // in text
        QTest::addColumn<QString>("shownJson"); // in JSON
        QTest::newRow("escape sequence") << u"A\x1b[2JB"_s << u"A\\x1b[2JB"_s << u"A\\u001b[2JB"_s;
        QTest::newRow("line break") << u"A\nB"_s << u"A\\x0aB"_s << u"A\\u000aB"_s;
        QTest::newRow("carriage return, tab") << u"A\r\tB"_s << u"A\\x0d\\x09B"_s << u"A\\u000d\\u0009B"_s;
        QTest::newRow("bell, delete") << u"A\x07\x7f"_s << u"A\\x07\\x7f"_s << u"A\\u0007\\u007f"_s;
        QTest::newRow("C1 control sequence introducer") << u"A\u009b2J"_s << u"A\\x9b2J"_s << u"A\\u009b2J"_s;
        QTest::newRow("right-to-left override") << u"A\u202eB"_s << u"A\\u202eB"_s << u"A\\u202eB"_s;
    }
    void controlCharactersEscaped()
    {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        QFETCH(QString, shownJson);
        QVERIFY(TestUtils::WriteFile(parts + u'/' + name + u".NC"_s, TestUtils::MillingProgram(u"X"_s)));
        const auto raw = [](const QString &text) {
            return std::any_of(text.cbegin(), text.cend(), [](QChar c) {
                return (c < u' ' && c != u'\n') || (c >= u'\x7f' && c <= u'\x9f') || c == u'\u202e';
            });
        };
        QCOMPARE(Run(QStringList{u"scan"_s, u"--root"_s, root, parts}), 0);
        QVERIFY2(!raw(out) && out.contains(shown), qPrintable(out));
        QCOMPARE(RunIn(u"list"_s), 0);
        QVERIFY2(!raw(out) && out.contains(shown) && out.count(u'\n') == 2, qPrintable(out));
        QCOMPARE(RunIn(u"list --json"_s), 0);
        QVERIFY2(!raw(out) && out.contains(shownJson), qPrintable(out));
        QStringList names;
        for (const QJsonValue &entry : QJsonDocument::fromJson(out.toUtf8())[u"packages"_s].toArray())
            names << entry[u"name"_s].toString();
        QVERIFY2(names.contains(name), qPrintable(names.join(u", "_s)));
    }
};

QTEST_GUILESS_MAIN(tst_OddFiles)
#include "tst_oddfiles.moc"
