// pkgtool as people and scripts use it: the built executable, run as a process; also with
// special files in a packages root: FIFOs where files belong, linked package folders, links
// inside a package, control characters in names.
#include "TestUtils.h"

#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

class tst_pkgtool : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString root, parts, outside;
    QString uid, package; // of PLATE_7
    QString out, err;     // of the last run
    int timeoutMs = 120000;

    static QStringList Names(const QJsonObject &list)
    {
        QStringList names;
        for (const QJsonValue &package : list.value(u"packages"_s).toArray())
            names << package.toObject().value(u"name"_s).toString();
        names.sort();
        return names;
    }

    static QJsonObject EntryNamed(const QJsonObject &package, const QString &file)
    {
        for (const QJsonValue &entry : package.value(u"entries"_s).toArray())
            if (entry[u"file"_s].toString() == file)
                return entry.toObject();
        return {};
    }

    // "@root" and "@parts" stand for this test's folders, "@uidNAME" for the identifier of program NAME in @parts.
    QString Expand(QString text) const
    {
        QString uid = QDir(parts).absolutePath().replace(u':', u'!').replace(u'/', u',').toUpper() + u'^';
        return text.replace(u"@root"_s, root).replace(u"@parts"_s, parts).replace(u"@uid"_s, uid);
    }
    QStringList Args(const QString &line) const { return Expand(line).split(u' ', Qt::SkipEmptyParts); }
    // -1 when the run had to be killed: a command that blocks fails the test instead of hanging it.
    int Run(const QStringList &arguments)
    {
        const TestUtils::ToolRun run = TestUtils::Pkgtool(arguments, timeoutMs);
        out = run.out, err = run.err;
        return run.exitCode;
    }
    int Run(const QString &line) { return Run(Args(line)); }
    QJsonObject Json(const QString &line) { return Run(line), QJsonDocument::fromJson(out.toUtf8()).object(); }

    // The package of PLATE_7, made by a scan; commands that could block are given little time.
    bool Scanned()
    {
        timeoutMs = 20000;
        return Run(u"scan --root @root @parts"_s) == 0 && QFileInfo(package + u"/PLATE_7.NC"_s).isFile();
    }

private Q_SLOTS:
    // Each test (and row) gets a root and a parts folder with a milling and a conversational
    // program, and a folder outside both.
    void init()
    {
        QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
        QString base = QString::fromLatin1(QTest::currentTestFunction()) + u'/';
        for (const QChar c : QString::fromLatin1(QTest::currentDataTag())) // a name the identifier can carry
            base += c.isLetterOrNumber() ? c : u'_';
        root = TestUtils::MakeDir(dir.filePath(base + u"/packages"_s));
        parts = TestUtils::MakeDir(dir.filePath(base + u"/parts"_s));
        outside = TestUtils::MakeDir(dir.filePath(base + u"/outside"_s));
        uid = Expand(u"@uidPLATE_7"_s);
        package = root + u'/' + uid + u".pkg"_s;
        timeoutMs = 120000;
        QVERIFY(TestUtils::WriteFile(parts + u"/PLATE_7.NC"_s, TestUtils::MillingProgram(u"PLATE_7"_s)));
        QVERIFY(TestUtils::WriteFile(parts + u"/HOUSING.CNV"_s, TestUtils::ConversationalProgram()));
        QVERIFY(TestUtils::WriteFile(parts + u"/readme.txt"_s, "no program here\n"));
        QVERIFY(TestUtils::WriteFile(outside + u"/SECRET.NC"_s, "T77 M6 (SECRET TOOL)\nM30\n"));
    }

    void jsonNamesWhatItShould()
    {
        QJsonObject scan = Json(u"scan --root @root @parts --json"_s);
        QStringList added = scan.value(u"added"_s).toVariant().toStringList();
        added.sort();
        QCOMPARE(added, Args(u"@uidHOUSING @uidPLATE_7"_s));
        QCOMPARE(scan[u"total"_s].toInt(), 2);
        scan = Json(u"scan --root @root @parts --json"_s); // a second pass finds nothing new
        QVERIFY(scan[u"total"_s].toInt() == 2 && scan[u"added"_s].toArray().isEmpty());

        const QJsonObject list = Json(u"list --root @root --json"_s);
        QCOMPARE(Names(list), (QStringList{u"HOUSING"_s, u"PLATE_7"_s}));
        for (const QString &filter : {u"nc PLATE_7"_s, u"conv HOUSING"_s, u"any HOUSING PLATE_7"_s})
            QCOMPARE(Names(Json(u"list --root @root --parts @parts --json --kind "_s + filter.section(u' ', 0, 0))),
                     filter.section(u' ', 1).split(u' '));

        const QJsonObject show = Json(u"show --root @root --json "_s + Expand(u"@uidPLATE_7"_s).toLower());
        QCOMPARE(show.value(u"uid"_s).toString(), Expand(u"@uidPLATE_7"_s));
        const QJsonObject program = EntryNamed(show, u"PLATE_7.NC"_s);
        QCOMPARE(program.value(u"kind"_s).toString(), u"nc"_s);
        QVERIFY(program[u"size"_s].toInt() > 0 && program[u"hidden"_s].toBool() && program[u"readOnly"_s].toBool());
        QCOMPARE(EntryNamed(show, u"PLATE_7.tools.html"_s).value(u"kind"_s).toString(), u"tools"_s);
    }

    void badInput_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message"); // code 2: the usage of this command; code 1: the one line
        const auto row = [](const char *line, int code, const char *message) {
            QTest::newRow(*line ? line : "(none)") << QString::fromLatin1(line) << code << QString::fromLatin1(message);
        };
        row("", 2, "COMMAND");
        row("frobnicate", 2, "COMMAND");
        row("list --root @root --fast", 2, "list");
        row("list --root @root --kind lathe", 2, "list");
        row("scan --root @root", 2, "scan");
        row("scan --root @root @parts --watch --interval 0", 2, "scan");
        row("history --root @root @uidPLATE_7 text --event 9", 2, "history");
        row("stats --root @root @uidPLATE_7 many", 2, "stats");
        row("add-file --root @root @uidPLATE_7 @parts/readme.txt --as ../../evil.txt", 2, "add-file");
        row("import --root @root @root @parts a/b", 2, "import");
        row("list --root @parts/none", 1, "packages root does not exist: @parts/none");
        row("scan --root @root @parts @parts/none", 1, "parts folder does not exist: @parts/none");
        row("show --root @root ,nowhere^x", 1, "no package ,NOWHERE^X in packages root: @root");
        row("create --root @root @parts/readme.txt", 1, "not a part program: @parts/readme.txt");
        row("add-file --root @root @uidPLATE_7 @parts/a.jpg", 1, "file does not exist: @parts/a.jpg");
        // Refusals that keep data: nothing is overwritten, moved or deleted.
        row("create --root @root @parts/PLATE_7.NC", 1,
            "a package for this program exists already (@uidPLATE_7): @parts/PLATE_7.NC");
        row("move --root @root @uidPLATE_7 @parts/HOUSING.CNV", 1,
            "a package for the new program exists already (@uidHOUSING): @parts/HOUSING.CNV");
        row("remove-file --root @root @uidPLATE_7 NOTES.TXT", 1,
            "package @uidPLATE_7 lists no file NOTES.TXT: @root/@uidPLATE_7.pkg");
        row("demo @root", 1, "demo folder exists and is not empty: @root");
    }

    void badInput()
    {
        QFETCH(QString, line);
        QFETCH(int, code);
        QFETCH(QString, message);
        QCOMPARE(Run(u"scan --root @root @parts"_s), 0);
        // What bad input must leave alone: the programs, the package folders and the files of one package.
        const QString package = Expand(u"@root/@uidPLATE_7.pkg"_s);
        const QStringList before = QDir(root).entryList() + QDir(parts).entryList() + QDir(package).entryList();

        QCOMPARE(Run(line), code);
        QStringList lines = err.split(u'\n', Qt::SkipEmptyParts);
        lines.removeIf([](const QString &text) { return text.startsWith(u"QStandardPaths:"_s); }); // Qt's, not ours
        // Bad usage shows the command's usage; an error for people is one line saying what and where.
        QVERIFY2(out.isEmpty() && (code == 2 ? err.contains(u"usage: pkgtool "_s + message)
                                             : lines == QStringList{u"pkgtool: "_s + Expand(message)}),
                 qPrintable(out + err));
        QCOMPARE(QDir(root).entryList() + QDir(parts).entryList() + QDir(package).entryList(), before);
    }

    void watchPicksUpNewProgram()
    {
        QProcess process;
        process.start(QStringLiteral(PM_PKGTOOL), Args(u"scan --root @root @parts --watch --interval 3600"_s));
        out.clear();
        const auto seen = [&](const QString &text) {
            return (out += QString::fromUtf8(process.readAllStandardOutput())).contains(Expand(text));
        };
        QTRY_VERIFY2_WITH_TIMEOUT(seen(u"scan: "_s) && seen(u"@uidPLATE_7"_s), qPrintable(out), 30000);
        // Written after the first pass: only the watcher can see it, the interval is an hour.
        QVERIFY(TestUtils::WriteFile(parts + u"/LATER.NC"_s, TestUtils::MillingProgram(u"LATER"_s)));
        QTRY_VERIFY2_WITH_TIMEOUT(seen(u"added    @uidLATER"_s), qPrintable(out), 30000);
        process.kill();
        process.waitForFinished();
        QVERIFY(QFileInfo(root + u'/' + Expand(u"@uidLATER"_s) + u".pkg"_s).isDir());
        QCOMPARE(Run(u"remove --root @root @uidLATER"_s), 0);
        QVERIFY(!QFileInfo::exists(parts + u"/LATER.NC"_s) && !QFileInfo::exists(Expand(u"@root/@uidLATER.pkg"_s)));
    }

    void demoLeavesTheExpectedPackages()
    {
        const QString workspace = dir.filePath(u"demo"_s);
        QVERIFY2(Run(u"demo "_s + workspace) == 0 && out.contains(u"open these:"_s), qPrintable(out + err));
        root = workspace + u"/packages"_s;
        parts = workspace + u"/parts/mill"_s;
        QCOMPARE(Names(Json(u"list --root @root --json"_s)),
                 u"BRACKET BRACKET_B DRILL_PATTERN DRILL_PATTERN_2 FACE_PLATE POCKET_7B SHAFT_20"_s.split(u' '));
        // The move renamed the program; the copy and the import made programs of their own.
        QVERIFY(!QFileInfo::exists(parts + u"/POCKET_7.NC"_s));
        for (const char *file : {"POCKET_7B.NC", "DRILL_PATTERN_2.NC", "../cell2/BRACKET_B.CNV"})
            QVERIFY2(QFileInfo::exists(parts + u'/' + QLatin1String(file)), file);

        const QJsonObject face = Json(u"show --root @root @uidFACE_PLATE --json"_s);
        const QJsonObject photo = EntryNamed(face, u"fixture_photo.jpg"_s);
        QCOMPARE(photo.value(u"author"_s).toString(), u"Setter, shift 2"_s);
        // The photograph is stored sideways; its thumbnail stands upright (landscape).
        const QImage thumbnail(photo.value(u"thumbnailPath"_s).toString(), "JPEG");
        QVERIFY(!thumbnail.isNull() && thumbnail.width() > thumbnail.height());
        for (const char *file : {"setup_sheet.png", "setup_sheet.pdf", "MACHINING_NOTES.TXT", "FACE_PLATE.stats.html",
                                 "FACE_PLATE.tools.html", "FACE_PLATE.history.html"})
            QVERIFY2(EntryNamed(face, QString::fromLatin1(file)).value(u"exists"_s).toBool(), file);
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
        QVERIFY(Scanned() && QFile::remove(package + u'/' + file));
        QCOMPARE(::mkfifo(QFile::encodeName(package + u'/' + file).constData(), 0600), 0);
        // With the parts folder's program gone nothing replaces the package's copy first.
        QVERIFY(QFile::rename(parts + u"/PLATE_7.NC"_s, outside + u"/PLATE_7.NC"_s));
        for (const char *command : {"show --root @root @uidPLATE_7", "tools --root @root @uidPLATE_7",
                                    "history --root @root @uidPLATE_7 done"})
            QVERIFY2(Run(QString::fromLatin1(command)) != -1, command);
        QCOMPARE(Run(u"list --root @root"_s), 0);
        QVERIFY(out.contains(uid));
        QVERIFY(Run(u"scan --root @root @parts"_s) != -1);
    }

    // Nothing is read, written or deleted through a link leading out of a package: a file of the
    // package, then the package folder itself, which is then no package.
    void linksLeadingOut()
    {
        QVERIFY(Scanned());
        QVERIFY(TestUtils::WriteFile(package + u"/notes.txt"_s, "left jaw\n"));
        QCOMPARE(Run(u"scan --root @root @parts"_s), 0); // now listed
        for (const QString &file : {u"/notes.txt"_s, u"/PLATE_7.NC"_s})
            QVERIFY(QFile::remove(package + file) && QFile::link(outside + u"/SECRET.NC"_s, package + file));
        QVERIFY(TestUtils::WriteFile(outside + u"/PLATE_7.NC"_s, TestUtils::MillingProgram(u"PLATE_7"_s)));
        const auto before = TestUtils::Snapshot(outside);
        Run(u"remove-file --root @root @uidPLATE_7 notes.txt"_s);
        Run(u"tools --root @root @uidPLATE_7"_s);
        QVERIFY(!TestUtils::ReadFile(package + u"/PLATE_7.tools.html"_s).contains("SECRET"));

        QVERIFY(QDir(package).removeRecursively() && QFile::link(outside, package));
        QCOMPARE(Run(u"list --root @root"_s), 0);
        QVERIFY(!out.contains(uid));
        for (const char *command : {"show --root @root @uidPLATE_7", "remove-file --root @root @uidPLATE_7 SECRET.NC",
                                    "tools --root @root @uidPLATE_7"})
            QVERIFY2(Run(QString::fromLatin1(command)) == 1, command);
        QCOMPARE(TestUtils::Snapshot(outside), before);
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
        QVERIFY(Scanned());
        QVERIFY(TestUtils::WriteFile(parts + u'/' + name + u".NC"_s, TestUtils::MillingProgram(u"X"_s)));
        const auto raw = [](const QString &text) {
            return std::any_of(text.cbegin(), text.cend(), [](QChar c) {
                return (c < u' ' && c != u'\n') || (c >= u'\x7f' && c <= u'\x9f') || c == u'\u202e';
            });
        };
        QCOMPARE(Run(QStringList{u"scan"_s, u"--root"_s, root, parts}), 0);
        QVERIFY2(!raw(out) && out.contains(shown), qPrintable(out));
        QCOMPARE(Run(u"list --root @root"_s), 0);
        QVERIFY2(!raw(out) && out.contains(shown) && out.count(u'\n') == 3, qPrintable(out)); // one line each
        QVERIFY2(Names(Json(u"list --root @root --json"_s)).contains(name), qPrintable(out));
        QVERIFY2(!raw(out) && out.contains(shownJson), qPrintable(out));
    }
};

QTEST_GUILESS_MAIN(tst_pkgtool)
#include "tst_pkgtool.moc"
