// pkgtool as people and scripts use it: the built executable, run as a process.
#include "TestUtils.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Result
{
    int code = -1;
    QString out;
    QString err;
};

Result RunTool(const QStringList &arguments, int timeoutMs = 120000)
{
    QProcess process;
    process.start(QStringLiteral(PM_PKGTOOL), arguments);
    Result result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        result.err = QStringLiteral("pkgtool did not finish");
        return result;
    }
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

QJsonObject ParseJson(const QString &text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return QJsonObject();
    return document.object();
}

// Lines that Qt itself may print on standard error and that are no message of pkgtool.
QStringList ToolErrorLines(const QString &err)
{
    QStringList lines;
    const QStringList all = err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : all) {
        if (!line.startsWith(QLatin1String("QStandardPaths:")))
            lines << line;
    }
    return lines;
}

QStringList Names(const QJsonArray &packages)
{
    QStringList names;
    for (const QJsonValue &package : packages)
        names << package.toObject().value(QStringLiteral("name")).toString();
    names.sort();
    return names;
}

QJsonObject EntryNamed(const QJsonObject &package, const QString &file)
{
    const QJsonArray entries = package.value(QStringLiteral("entries")).toArray();
    for (const QJsonValue &entry : entries) {
        if (entry.toObject().value(QStringLiteral("file")).toString() == file)
            return entry.toObject();
    }
    return QJsonObject();
}

} // namespace

class tst_pkgtool : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString root;
    QString parts;

    QString Uid(const QString &folder, const QString &name) const
    {
        // The identifier of a program "name" in "folder", as the library encodes it.
        return (QDir(folder)
                    .absolutePath()
                    .replace(QLatin1Char(':'), QLatin1Char('!'))
                    .replace(QLatin1Char('/'), QLatin1Char(',')) +
                QLatin1Char('^') + name)
            .toUpper();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
        QVERIFY2(QFileInfo(QStringLiteral(PM_PKGTOOL)).isExecutable(), PM_PKGTOOL);
    }

    void init()
    {
        root = TestUtils::MakeDir(dir.filePath(QStringLiteral("%1/packages").arg(QTest::currentTestFunction())));
        parts = TestUtils::MakeDir(dir.filePath(QStringLiteral("%1/parts").arg(QTest::currentTestFunction())));
    }

    void versionAndHelp()
    {
        Result result = RunTool({QStringLiteral("--version")});
        QCOMPARE(result.code, 0);
        QVERIFY2(result.out.startsWith(QLatin1String("pkgtool ")), qPrintable(result.out));

        result = RunTool({QStringLiteral("--help")});
        QCOMPARE(result.code, 0);
        for (const char *command : {"list", "scan", "show", "history", "stats", "tools", "create", "import", "add-file",
                                    "remove-file", "render", "move", "copy", "remove", "demo"})
            QVERIFY2(result.out.contains(QLatin1String("  ") + QLatin1String(command) + QLatin1Char(' ')), command);
    }

    void commandHelp_data()
    {
        QTest::addColumn<QString>("command");
        for (const char *command : {"list", "scan", "show", "history", "stats", "tools", "create", "import", "add-file",
                                    "remove-file", "render", "move", "copy", "remove", "demo"})
            QTest::newRow(command) << QString::fromLatin1(command);
    }

    void commandHelp()
    {
        QFETCH(QString, command);
        // --help wins over everything else on the line, even a missing --root.
        const Result result = RunTool({command, QStringLiteral("--help")});
        QCOMPARE(result.code, 0);
        QVERIFY2(result.out.startsWith(QStringLiteral("usage: pkgtool ") + command), qPrintable(result.out));
        QVERIFY(result.out.contains(QLatin1String("--help")));
    }

    void badUsage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("usage");
        const QString r = QStringLiteral("--root");
        const QString someRoot = QDir::tempPath();
        QTest::newRow("nothing") << QStringList() << QStringLiteral("usage: pkgtool COMMAND");
        QTest::newRow("unknown command") << QStringList{QStringLiteral("frobnicate")}
                                         << QStringLiteral("usage: pkgtool COMMAND");
        QTest::newRow("no root") << QStringList{QStringLiteral("list")} << QStringLiteral("usage: pkgtool list");
        QTest::newRow("root without value")
            << QStringList{QStringLiteral("list"), r} << QStringLiteral("usage: pkgtool list");
        QTest::newRow("unknown option") << QStringList{QStringLiteral("list"), r, someRoot, QStringLiteral("--fast")}
                                        << QStringLiteral("usage: pkgtool list");
        QTest::newRow("bad kind") << QStringList{QStringLiteral("list"), r, someRoot, QStringLiteral("--kind"),
                                                 QStringLiteral("lathe")}
                                  << QStringLiteral("usage: pkgtool list");
        QTest::newRow("flag with value") << QStringList{QStringLiteral("list"), r, someRoot, QStringLiteral("--json=1")}
                                         << QStringLiteral("usage: pkgtool list");
        QTest::newRow("scan without folders")
            << QStringList{QStringLiteral("scan"), r, someRoot} << QStringLiteral("usage: pkgtool scan");
        QTest::newRow("zero interval") << QStringList{QStringLiteral("scan"),
                                                      r,
                                                      someRoot,
                                                      someRoot,
                                                      QStringLiteral("--watch"),
                                                      QStringLiteral("--interval"),
                                                      QStringLiteral("0")}
                                       << QStringLiteral("usage: pkgtool scan");
        QTest::newRow("show two") << QStringList{QStringLiteral("show"), r, someRoot, QStringLiteral("A"),
                                                 QStringLiteral("B")}
                                  << QStringLiteral("usage: pkgtool show");
        QTest::newRow("count not a number")
            << QStringList{QStringLiteral("stats"), r, someRoot, QStringLiteral("X^Y"), QStringLiteral("many")}
            << QStringLiteral("usage: pkgtool stats");
        QTest::newRow("negative count") << QStringList{QStringLiteral("stats"), r, someRoot, QStringLiteral("X^Y"),
                                                       QStringLiteral("-3")}
                                        << QStringLiteral("usage: pkgtool stats");
        QTest::newRow("event out of range") << QStringList{QStringLiteral("history"),
                                                           r,
                                                           someRoot,
                                                           QStringLiteral("X^Y"),
                                                           QStringLiteral("text"),
                                                           QStringLiteral("--event"),
                                                           QStringLiteral("9")}
                                            << QStringLiteral("usage: pkgtool history");
        QTest::newRow("target name escapes") << QStringList{QStringLiteral("add-file"),
                                                            r,
                                                            someRoot,
                                                            QStringLiteral("X^Y"),
                                                            QStringLiteral("f"),
                                                            QStringLiteral("--as"),
                                                            QStringLiteral("../../evil.txt")}
                                             << QStringLiteral("usage: pkgtool add-file");
        QTest::newRow("import name with folder")
            << QStringList{QStringLiteral("import"), r, someRoot, someRoot, someRoot, QStringLiteral("a/b")}
            << QStringLiteral("usage: pkgtool import");
        QTest::newRow("demo two folders")
            << QStringList{QStringLiteral("demo"), QStringLiteral("a"), QStringLiteral("b")}
            << QStringLiteral("usage: pkgtool demo");
    }

    void badUsage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, usage);
        const Result result = RunTool(arguments);
        QCOMPARE(result.code, 2);
        QVERIFY2(result.err.contains(usage), qPrintable(result.err));
        QVERIFY2(result.out.isEmpty(), qPrintable(result.out));
    }

    void errorsForPeople_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString r = QStringLiteral("--root");
        const QString missing = QDir(dir.path()).absoluteFilePath(QStringLiteral("no/such/folder"));
        const QString aFolder = dir.path();
        QTest::newRow("root missing") << QStringList{QStringLiteral("list"), r, missing}
                                      << QStringLiteral("pkgtool: packages root does not exist: ") + missing;
        QTest::newRow("parts missing (list)")
            << QStringList{QStringLiteral("list"), r, QStringLiteral("@root"), QStringLiteral("--parts"), missing}
            << QStringLiteral("pkgtool: parts folder does not exist: ") + missing;
        QTest::newRow("parts missing (scan)")
            << QStringList{QStringLiteral("scan"), r, QStringLiteral("@root"), QStringLiteral("@parts"), missing}
            << QStringLiteral("pkgtool: parts folder does not exist: ") + missing;
        QTest::newRow("unknown identifier")
            << QStringList{QStringLiteral("show"), r, QStringLiteral("@root"), QStringLiteral(",nowhere^x")}
            << QStringLiteral("pkgtool: no package ,NOWHERE^X in packages root: @root");
        QTest::newRow("program missing") << QStringList{QStringLiteral("create"), r, QStringLiteral("@root"),
                                                        missing + QStringLiteral("/P.NC")}
                                         << QStringLiteral("pkgtool: program does not exist: ") + missing +
                                                QStringLiteral("/P.NC");
        QTest::newRow("program is a folder")
            << QStringList{QStringLiteral("create"), r, QStringLiteral("@root"), aFolder}
            << QStringLiteral("pkgtool: cannot read program: ") + aFolder;
        QTest::newRow("not a program") << QStringList{QStringLiteral("create"), r, QStringLiteral("@root"),
                                                      QStringLiteral("@parts/readme.txt")}
                                       << QStringLiteral("pkgtool: not a part program: @parts/readme.txt");
        QTest::newRow("file to add missing")
            << QStringList{QStringLiteral("add-file"), r, QStringLiteral("@root"), QStringLiteral("x^y"),
                           missing + QStringLiteral("/photo.jpg")}
            << QStringLiteral("pkgtool: file does not exist: ") + missing + QStringLiteral("/photo.jpg");
        QTest::newRow("import source missing")
            << QStringList{QStringLiteral("import"), r, QStringLiteral("@root"), missing, QStringLiteral("@parts")}
            << QStringLiteral("pkgtool: source package folder does not exist: ") + missing;
    }

    void errorsForPeople()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QVERIFY(TestUtils::WriteFile(parts + QStringLiteral("/readme.txt"), "just words, no code\n"));
        for (QString &argument : arguments)
            argument.replace(QLatin1String("@root"), root).replace(QLatin1String("@parts"), parts);
        message.replace(QLatin1String("@root"), root).replace(QLatin1String("@parts"), parts);

        const Result result = RunTool(arguments);
        QCOMPARE(result.code, 1);
        // One line that says what and where.
        QCOMPARE(ToolErrorLines(result.err), QStringList{message});
    }

    void scanListShowJson()
    {
        QVERIFY(TestUtils::WriteFile(parts + QStringLiteral("/PLATE_7.NC"), TestUtils::MillingProgram("PLATE_7")));
        QVERIFY(TestUtils::WriteFile(parts + QStringLiteral("/HOUSING.CNV"), TestUtils::ConversationalProgram()));
        QVERIFY(TestUtils::WriteFile(parts + QStringLiteral("/readme.txt"), "no program here\n"));
        const QString plate = Uid(parts, QStringLiteral("PLATE_7"));
        const QString housing = Uid(parts, QStringLiteral("HOUSING"));

        Result result =
            RunTool({QStringLiteral("scan"), QStringLiteral("--root"), root, parts, QStringLiteral("--json")});
        QCOMPARE(result.code, 0);
        QJsonObject scan = ParseJson(result.out);
        QVERIFY2(!scan.isEmpty(), qPrintable(result.out));
        QJsonArray added = scan.value(QStringLiteral("added")).toArray();
        QCOMPARE(added.size(), 2);
        QVERIFY(added.contains(plate));
        QVERIFY(added.contains(housing));
        QCOMPARE(scan.value(QStringLiteral("total")).toInt(), 2);
        QVERIFY(scan.value(QStringLiteral("seconds")).isDouble());

        // A second pass finds nothing new.
        result = RunTool({QStringLiteral("scan"), QStringLiteral("--root"), root, parts, QStringLiteral("--json")});
        QCOMPARE(result.code, 0);
        QVERIFY(ParseJson(result.out).value(QStringLiteral("added")).toArray().isEmpty());

        result = RunTool({QStringLiteral("list"), QStringLiteral("--root"), root, QStringLiteral("--json")});
        QCOMPARE(result.code, 0);
        QJsonObject list = ParseJson(result.out);
        QCOMPARE(Names(list.value(QStringLiteral("packages")).toArray()),
                 (QStringList{QStringLiteral("HOUSING"), QStringLiteral("PLATE_7")}));
        for (const QJsonValue &value : list.value(QStringLiteral("packages")).toArray()) {
            const QJsonObject package = value.toObject();
            QVERIFY(QFileInfo(package.value(QStringLiteral("folder")).toString()).isDir());
            QVERIFY(package.value(QStringLiteral("folder"))
                        .toString()
                        .endsWith(package.value(QStringLiteral("uid")).toString() + QStringLiteral(".pkg")));
        }

        const QList<QPair<QString, QStringList>> filters{
            {QStringLiteral("nc"), {QStringLiteral("PLATE_7")}},
            {QStringLiteral("conv"), {QStringLiteral("HOUSING")}},
            {QStringLiteral("any"), {QStringLiteral("HOUSING"), QStringLiteral("PLATE_7")}}};
        for (const auto &filter : filters) {
            result = RunTool({QStringLiteral("list"), QStringLiteral("--root"), root, QStringLiteral("--parts"), parts,
                              QStringLiteral("--kind"), filter.first, QStringLiteral("--json")});
            QCOMPARE(result.code, 0);
            QCOMPARE(Names(ParseJson(result.out).value(QStringLiteral("packages")).toArray()), filter.second);
        }

        // Plain listing: one line per package with identifier, name and folder.
        result = RunTool({QStringLiteral("list"), QStringLiteral("--root"), root});
        QCOMPARE(result.code, 0);
        const QStringList lines = result.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.at(1).startsWith(plate));
        QVERIFY(lines.at(1).contains(QStringLiteral("  PLATE_7  ")));
        QVERIFY(lines.at(1).endsWith(QStringLiteral(".pkg")));

        result = RunTool(
            {QStringLiteral("show"), QStringLiteral("--root"), root, plate.toLower(), QStringLiteral("--json")});
        QCOMPARE(result.code, 0);
        const QJsonObject show = ParseJson(result.out);
        QCOMPARE(show.value(QStringLiteral("uid")).toString(), plate);
        const QJsonObject program = EntryNamed(show, QStringLiteral("PLATE_7.NC"));
        QCOMPARE(program.value(QStringLiteral("kind")).toString(), QStringLiteral("nc"));
        QVERIFY(program.value(QStringLiteral("size")).toInt() > 0);
        QVERIFY(program.value(QStringLiteral("hidden")).toBool());
        QVERIFY(program.value(QStringLiteral("readOnly")).toBool());
        QVERIFY(!program.value(QStringLiteral("modified")).toString().isEmpty());
        QCOMPARE(EntryNamed(show, QStringLiteral("PLATE_7.tools.html")).value(QStringLiteral("kind")).toString(),
                 QStringLiteral("tools"));
    }

    void operationsFollowThePrograms()
    {
        const QString program = parts + QStringLiteral("/BRACKET.NC");
        QVERIFY(TestUtils::WriteFile(program, TestUtils::MillingProgram("BRACKET")));
        const QString note = dir.filePath(QStringLiteral("setup.txt"));
        QVERIFY(TestUtils::WriteFile(note, "clamp on the long sides\n"));
        const QString r = QStringLiteral("--root");

        Result result = RunTool({QStringLiteral("create"), r, root, program});
        QCOMPARE(result.code, 0);
        const QString uid = result.out.trimmed();
        QCOMPARE(uid, Uid(parts, QStringLiteral("BRACKET")));
        // A second package for the same program is refused.
        QCOMPARE(RunTool({QStringLiteral("create"), r, root, program}).code, 1);

        result = RunTool({QStringLiteral("add-file"), r, root, uid, note, QStringLiteral("--author"),
                          QStringLiteral("Setter"), QStringLiteral("--comment"), QStringLiteral("first shift"),
                          QStringLiteral("--as"), QStringLiteral("NOTES.TXT")});
        QCOMPARE(result.code, 0);
        QJsonObject show = ParseJson(RunTool({QStringLiteral("show"), r, root, uid, QStringLiteral("--json")}).out);
        const QJsonObject added = EntryNamed(show, QStringLiteral("NOTES.TXT"));
        QCOMPARE(added.value(QStringLiteral("kind")).toString(), QStringLiteral("note"));
        QCOMPARE(added.value(QStringLiteral("author")).toString(), QStringLiteral("Setter"));
        QCOMPARE(added.value(QStringLiteral("comment")).toString(), QStringLiteral("first shift"));

        const QString rendering = dir.filePath(QStringLiteral("BRACKET_render.png"));
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(Qt::darkGray);
        QVERIFY(picture.save(rendering, "PNG"));
        QCOMPARE(RunTool({QStringLiteral("render"), r, root, uid.toLower(), rendering}).code, 0);
        show = ParseJson(RunTool({QStringLiteral("show"), r, root, uid, QStringLiteral("--json")}).out);
        QCOMPARE(EntryNamed(show, QStringLiteral("BRACKET_render.png")).value(QStringLiteral("author")).toString(),
                 QStringLiteral("Auto-Generated"));

        QCOMPARE(RunTool({QStringLiteral("stats"), r, root, uid, QStringLiteral("3")}).code, 0);
        QCOMPARE(RunTool({QStringLiteral("history"), r, root, uid, QStringLiteral("operator <note> & more")}).code, 0);
        QCOMPARE(RunTool({QStringLiteral("tools"), r, root, uid}).code, 0);

        result = RunTool({QStringLiteral("remove-file"), r, root, uid, QStringLiteral("NOTES.TXT")});
        QCOMPARE(result.code, 0);
        show = ParseJson(RunTool({QStringLiteral("show"), r, root, uid, QStringLiteral("--json")}).out);
        QVERIFY(EntryNamed(show, QStringLiteral("NOTES.TXT")).isEmpty());
        result = RunTool({QStringLiteral("remove-file"), r, root, uid, QStringLiteral("NOTES.TXT")});
        QCOMPARE(result.code, 1);
        QVERIFY2(result.err.contains(QLatin1String("lists no file NOTES.TXT")), qPrintable(result.err));

        // Copy: a second package and a second program.
        result = RunTool({QStringLiteral("copy"), r, root, uid, parts + QStringLiteral("/BRACKET_2.NC")});
        QCOMPARE(result.code, 0);
        QCOMPARE(result.out.trimmed(), Uid(parts, QStringLiteral("BRACKET_2")));
        QVERIFY(QFileInfo::exists(parts + QStringLiteral("/BRACKET_2.NC")));

        // Move: the package follows and pkgtool renames the program in its parts folder.
        result = RunTool({QStringLiteral("move"), r, root, uid, parts + QStringLiteral("/BRACKET_B.NC")});
        QCOMPARE(result.code, 0);
        const QString moved = Uid(parts, QStringLiteral("BRACKET_B"));
        QCOMPARE(result.out.trimmed(), moved);
        QVERIFY(!QFileInfo::exists(program));
        QVERIFY(QFileInfo::exists(parts + QStringLiteral("/BRACKET_B.NC")));
        // Moving onto a program that has a package already changes nothing.
        result = RunTool({QStringLiteral("move"), r, root, moved, parts + QStringLiteral("/BRACKET_2.NC")});
        QCOMPARE(result.code, 1);
        QVERIFY(QFileInfo::exists(parts + QStringLiteral("/BRACKET_B.NC")));

        // Import the copy for another parts folder under a new name.
        const QString cell = TestUtils::MakeDir(dir.filePath(QStringLiteral("operations/cell")));
        const QString copyFolder =
            root + QLatin1Char('/') + Uid(parts, QStringLiteral("BRACKET_2")) + QStringLiteral(".pkg");
        result = RunTool({QStringLiteral("import"), r, root, copyFolder, cell, QStringLiteral("HOLDER")});
        QCOMPARE(result.code, 0);
        QCOMPARE(result.out.trimmed(), Uid(cell, QStringLiteral("HOLDER")));

        // Remove deletes the program and, unless told otherwise, the package folder.
        const QString movedFolder = root + QLatin1Char('/') + moved + QStringLiteral(".pkg");
        QVERIFY(QFileInfo(movedFolder).isDir());
        QCOMPARE(RunTool({QStringLiteral("remove"), r, root, moved}).code, 0);
        QVERIFY(!QFileInfo::exists(parts + QStringLiteral("/BRACKET_B.NC")));
        QVERIFY(!QFileInfo::exists(movedFolder));
        QCOMPARE(RunTool({QStringLiteral("remove"), r, root, Uid(parts, QStringLiteral("BRACKET_2")),
                          QStringLiteral("--keep-folder")})
                     .code,
                 0);
        QVERIFY(QFileInfo(copyFolder).isDir());

        // A kept folder is a package folder still: the next registry finds it again.
        const QJsonObject list = ParseJson(RunTool({QStringLiteral("list"), r, root, QStringLiteral("--json")}).out);
        QCOMPARE(Names(list.value(QStringLiteral("packages")).toArray()),
                 (QStringList{QStringLiteral("BRACKET_2"), QStringLiteral("HOLDER")}));
    }

    void watchPicksUpNewProgram()
    {
        QVERIFY(TestUtils::WriteFile(parts + QStringLiteral("/FIRST.NC"), TestUtils::MillingProgram("FIRST")));
        QProcess process;
        process.start(QStringLiteral(PM_PKGTOOL),
                      {QStringLiteral("scan"), QStringLiteral("--root"), root, parts, QStringLiteral("--watch"),
                       QStringLiteral("--interval"), QStringLiteral("3600")});
        QVERIFY(process.waitForStarted());
        QString out;
        auto readUntil = [&](const QString &text) {
            QElapsedTimer clock;
            clock.start();
            while (!out.contains(text) && clock.elapsed() < 30000 && process.state() == QProcess::Running) {
                process.waitForReadyRead(200);
                out += QString::fromUtf8(process.readAllStandardOutput());
            }
            return out.contains(text);
        };
        QVERIFY2(readUntil(QStringLiteral("scan: ")), qPrintable(out));
        QVERIFY(out.contains(Uid(parts, QStringLiteral("FIRST"))));

        // Written after the first pass: only the watcher can see it, the interval is an hour.
        QVERIFY(TestUtils::WriteFile(parts + QStringLiteral("/LATER.NC"), TestUtils::MillingProgram("LATER")));
        const bool seen = readUntil(QStringLiteral("added    ") + Uid(parts, QStringLiteral("LATER")));
        process.kill();
        process.waitForFinished();
        QVERIFY2(seen, qPrintable(out + QString::fromUtf8(process.readAllStandardError())));
        QVERIFY(
            QFileInfo(root + QLatin1Char('/') + Uid(parts, QStringLiteral("LATER")) + QStringLiteral(".pkg")).isDir());
    }

    void demoLeavesTheExpectedPackages()
    {
        const QString workspace = dir.filePath(QStringLiteral("demo"));
        const Result result = RunTool({QStringLiteral("demo"), workspace});
        QVERIFY2(result.code == 0, qPrintable(result.out + result.err));
        QVERIFY(result.out.contains(QLatin1String("open these:")));

        const QString packages = workspace + QStringLiteral("/packages");
        const QString mill = workspace + QStringLiteral("/parts/mill");
        const QJsonObject list = ParseJson(
            RunTool({QStringLiteral("list"), QStringLiteral("--root"), packages, QStringLiteral("--json")}).out);
        QCOMPARE(Names(list.value(QStringLiteral("packages")).toArray()),
                 (QStringList{QStringLiteral("BRACKET"), QStringLiteral("BRACKET_B"), QStringLiteral("DRILL_PATTERN"),
                              QStringLiteral("DRILL_PATTERN_2"), QStringLiteral("FACE_PLATE"),
                              QStringLiteral("POCKET_7B"), QStringLiteral("SHAFT_20")}));
        // The move renamed the program; the copy and the import made programs of their own.
        QVERIFY(!QFileInfo::exists(mill + QStringLiteral("/POCKET_7.NC")));
        QVERIFY(QFileInfo::exists(mill + QStringLiteral("/POCKET_7B.NC")));
        QVERIFY(QFileInfo::exists(mill + QStringLiteral("/DRILL_PATTERN_2.NC")));
        QVERIFY(QFileInfo::exists(workspace + QStringLiteral("/parts/cell2/BRACKET_B.CNV")));

        const QJsonObject face = ParseJson(RunTool({QStringLiteral("show"), QStringLiteral("--root"), packages,
                                                    Uid(mill, QStringLiteral("FACE_PLATE")), QStringLiteral("--json")})
                                               .out);
        const QJsonObject photo = EntryNamed(face, QStringLiteral("fixture_photo.jpg"));
        QCOMPARE(photo.value(QStringLiteral("kind")).toString(), QStringLiteral("image"));
        QCOMPARE(photo.value(QStringLiteral("author")).toString(), QStringLiteral("Setter, shift 2"));
        // The photograph is stored sideways; its thumbnail stands upright (landscape).
        const QImage thumbnail(photo.value(QStringLiteral("thumbnailPath")).toString(), "JPEG");
        QVERIFY(!thumbnail.isNull());
        QVERIFY2(thumbnail.width() > thumbnail.height(),
                 qPrintable(QStringLiteral("%1x%2").arg(thumbnail.width()).arg(thumbnail.height())));
        for (const char *file : {"setup_sheet.png", "setup_sheet.pdf", "MACHINING_NOTES.TXT", "FACE_PLATE.stats.html",
                                 "FACE_PLATE.tools.html", "FACE_PLATE.history.html"})
            QVERIFY2(EntryNamed(face, QString::fromLatin1(file)).value(QStringLiteral("exists")).toBool(), file);

        // The demo never writes into a folder that holds something.
        const Result again = RunTool({QStringLiteral("demo"), workspace});
        QCOMPARE(again.code, 1);
        QVERIFY2(again.err.contains(QLatin1String("not empty: ") + workspace), qPrintable(again.err));
    }
};

QTEST_GUILESS_MAIN(tst_pkgtool)
#include "tst_pkgtool.moc"
