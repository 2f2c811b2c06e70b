#include "TestUtils.h"
#include "cPackageManager.h"
#include "platform/PlatformFiles.h"
#include "registry/PackageUID.h"

#include <QImage>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace TestUtils;
using namespace Qt::StringLiterals;

struct cPackageTestAccess
{
    static QFileInfo PartNC(const cPackage &package) { return package.GetPartNCProgram(); }
    static eMetadataType Kind(const cManifestItem *entry) { return entry->GetMetadataType(); }
    static bool Scan(cPackageManager &registry, const QStringList &partsFolders)
    {
        QSignalSpy done(&registry, &cPackageManager::PackageScanCompleted);
        return registry.DoBackgroundScanForPackageUpdates(partsFolders) && done.wait(60000);
    }
};

namespace {

// A packages root and a parts folder in one temporary folder.
struct Workspace
{
    QTemporaryDir dir;
    QString root = MakeDir(dir.path() + QLatin1String("/packages"));
    QString parts = MakeDir(dir.path() + QLatin1String("/parts/Mill"));

    QString Path(const QString &relative) const { return dir.path() + u'/' + relative; }
    QString WriteProgram(const QString &name) const // into the parts folder; its path
    {
        WriteFile(parts + u'/' + name, MillingProgram(QFileInfo(name).completeBaseName()));
        return parts + u'/' + name;
    }
    QString Uid(const QString &programPath) const { return PackageUID::ForProgramFile(QFileInfo(programPath)); }
    QString PackageFolder(const QString &uid) const { return root + u'/' + uid + QLatin1String(".pkg"); }
};

// Records the registry's signals as "+UID" and "-UID", in order.
struct SignalLog
{
    QStringList events;
    explicit SignalLog(cPackageManager &registry)
    {
        QObject::connect(&registry, &cPackageManager::PackageAdded, &registry,
                         [this](const tPackageUID &uid) { events << u'+' + uid; });
        QObject::connect(&registry, &cPackageManager::PackageDeleted, &registry,
                         [this](const tPackageUID &uid) { events << u'-' + uid; });
    }
};

inline bool WriteImage(const QString &path, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkBlue);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && image.save(path, "JPEG");
}

// Whether "manifest.xml" lists a file of that name (as element text).
inline bool ManifestLists(const QString &folder, const QString &fileName)
{
    return ReadFile(folder + QLatin1String("/manifest.xml")).contains(QByteArray('>' + fileName.toUtf8() + '<'));
}

// A package for BRACKET.NC with a picture (and its thumbnail) and a note by Ann, listed in a
// saved manifest.
struct PackageWithFiles : Workspace
{
    cPackageManager registry{QDir(root)};
    cPackage *package = registry.GetPackage(registry.CreatePackage(QFileInfo(WriteProgram("BRACKET.NC"))));
    QString folder = package ? PackageFolder(package->GetPackageUID()) : QString();
    bool Made()
    {
        return package && WriteImage(Path("outside/photo.jpg"), 200, 100) &&
               WriteFile(Path("outside/setup.txt"), "1") &&
               package->AddFileToPackage(QFileInfo(Path("outside/photo.jpg")), {}, {}, {}) &&
               package->AddFileToPackage(QFileInfo(Path("outside/setup.txt")), "Ann", "clamp left", {});
    }
};

} // namespace

// Creating, importing, moving, copying and removing packages through the registry, and adding
// files to a package and removing them. Names compared without regard to case follow the
// identifier's upper-casing, and what would be one file on the control is never made two here.
class tst_RegistryOperations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void create();
    void import_data();
    void import();
    void moveAndCopy_data();
    void moveAndCopy();
    void programWhateverItsLetters_data();
    void programWhateverItsLetters();
    // What the control's file system would take for one file is refused, changing nothing.
    void otherSpellingsRefused_data();
    void otherSpellingsRefused();
    void addFile_data();
    void addFile();
    void fileRefusalsReplacementAndRemoval();
};

void tst_RegistryOperations::create()
{
    Workspace space;
    const QString program = space.WriteProgram("BRACKET.NC");
    cPackageManager registry{QDir(space.root)};
    SignalLog log(registry);
    bool foundInHandler = false;
    connect(&registry, &cPackageManager::PackageAdded, this, [&](const QString &uid) {
        foundInHandler = registry.GetPackage(uid) && registry.GetPackageMap(QString(), true).contains(uid) &&
                         registry.GetPackageMap(cPackageManager::PartsFolderKey(uid), false).contains(uid);
    });

    const QString uid = registry.CreatePackage(QFileInfo(program));

    QCOMPARE(uid, space.Uid(program));
    QCOMPARE(log.events, QStringList{u'+' + uid});
    QVERIFY2(foundInHandler, "the maps are up to date inside the host's handler");
    const QString folder = space.PackageFolder(uid);
    QVERIFY(ManifestLists(folder, "BRACKET.NC") && QFileInfo::exists(folder + "/BRACKET.history.html"));
    const QFileInfo rendering(space.Path("render/BRACKET.GRAPH"));
    QVERIFY(WriteFile(rendering.filePath(), "graphics\n"));

    // Refused, writing nothing: a program that has a package (also through its conversational twin), names
    // that are no plain file name, names an identifier cannot carry ("^" in the name; "^", "," or "!" in the
    // folder, which would decode to another place), a rendering for an identifier in other case, and a
    // registry without root.
    const QStringList refused{"BRACKET.CNV",    ".NC",          "   .NC", "..\\..\\EVIL.NC", "A^B.NC", "../Mill^2/P.NC",
                              "../Mill,2/P.NC", "../Mill!/P.NC"};
    for (const QString &name : refused)
        QVERIFY(WriteFile(QDir::cleanPath(space.parts + u'/' + name),
                          name.startsWith(u'B') ? ConversationalProgram() : MillingProgram("X")));
    const auto before = Snapshot(space.dir.path());
    for (const QString &name : QStringList{"BRACKET.NC"} + refused)
        QVERIFY2(registry.CreatePackage(QFileInfo(QDir::cleanPath(space.parts + u'/' + name))).isEmpty(),
                 qPrintable(name));
    QVERIFY(!registry.UpdateProgramRendering(uid.toLower(), rendering));
    cPackageManager rootless{QDir(space.Path("no-such-root"))};
    QVERIFY(rootless.CreatePackage(QFileInfo(program)).isEmpty() && !rootless.DoesPackageExist(uid));
    QCOMPARE(Snapshot(space.dir.path()), before);
    QVERIFY(!QFileInfo::exists(space.Path("no-such-root")));

    QVERIFY(registry.UpdateProgramRendering(uid, rendering));
    QCOMPARE(ReadFile(folder + "/BRACKET.GRAPH"), "graphics\n");
    QVERIFY(ManifestLists(folder, "BRACKET.GRAPH"));

    // Removing: not by an identifier in other case; a kept folder is a package still, which the
    // next pass registers again rather than deleting what it holds.
    QVERIFY(!registry.RemovePackage(uid.toLower(), true) && registry.GetPackage(uid));
    QVERIFY(registry.RemovePackage(uid, false) && !registry.GetPackage(uid));
    QCOMPARE(log.events, (QStringList{u'+' + uid, u'-' + uid}));
    QVERIFY(!QFileInfo::exists(program) && !QFileInfo::exists(space.parts + "/BRACKET.CNV"));
    QVERIFY(QFileInfo::exists(folder + "/BRACKET.NC") && cPackageTestAccess::Scan(registry, {space.parts}));
    QVERIFY(QFileInfo::exists(folder + "/BRACKET.GRAPH") && registry.GetPackage(uid));
}

void tst_RegistryOperations::import_data()
{
    QTest::addColumn<QString>("newName");
    QTest::addColumn<QString>("expectedProgram");
    QTest::newRow("under a new name") << "BRACKET" << QString("BRACKET.nc");
    QTest::newRow("keeping the name") << QString() << QString("plate_7.nc");
}

void tst_RegistryOperations::import()
{
    QFETCH(QString, newName);
    QFETCH(QString, expectedProgram);
    Workspace space;
    // A package PLATE_7 made by another registry, whose program copy is "plate_7.nc".
    QVERIFY(WriteFile(space.Path("elsewhere/parts/plate_7.nc"), MillingProgram("plate_7")));
    cPackageManager other{QDir(MakeDir(space.Path("elsewhere/packages")))};
    const QString source = space.Path("elsewhere/packages/") +
                           other.CreatePackage(QFileInfo(space.Path("elsewhere/parts/plate_7.nc"))) + ".pkg";
    cPackageManager registry{QDir(space.root)};
    SignalLog log(registry);
    // Refused, writing nothing: new names that are no plain file name.
    auto before = Snapshot(space.dir.path());
    for (const char *name : {"../../EVIL", "SUB/EVIL", "..\\EVIL", "..", ".", "   "})
        QVERIFY2(registry.ImportPackage(QDir(source), QDir(space.parts), name).isEmpty(), name);
    QCOMPARE(Snapshot(space.dir.path()), before);

    const QString uid = registry.ImportPackage(QDir(source), QDir(space.parts), newName);

    const QString name = newName.isEmpty() ? QString("PLATE_7") : newName;
    const bool renamed = !newName.isEmpty();
    QCOMPARE(uid, space.Uid(space.parts + u'/' + name));
    QCOMPARE(log.events, QStringList{u'+' + uid});
    const QString folder = space.PackageFolder(uid);
    const QStringList files = Entries(folder);
    QVERIFY2(files.contains(name + ".gif") && files.contains(expectedProgram), qPrintable(files.join(u' ')));
    // Renamed: the old statistics go, and no file keeps the old name in any case.
    QCOMPARE(files.contains(name + ".stats.html") || ManifestLists(folder, name + ".stats.html"), !renamed);
    QCOMPARE(files.filter("plate_7", Qt::CaseInsensitive).isEmpty(), renamed);
    const QByteArray history = ReadFile(folder + u'/' + name + ".history.html");
    QCOMPARE(history.contains("Renamed During Import (old name = PLATE_7)"), renamed);
    QCOMPARE(ReadFile(space.parts + u'/' + expectedProgram), ReadFile(source + "/plate_7.nc"));
    // A second import onto the now registered identifier changes nothing, not even the source.
    before = Snapshot(space.dir.path());
    QVERIFY(registry.ImportPackage(QDir(source), QDir(space.parts), newName).isEmpty());
    QCOMPARE(Snapshot(space.dir.path()), before);
    QCOMPARE(log.events.size(), 1);
    // The program is still recognised as the package's: the next scan keeps it.
    cPackage *package = registry.GetPackage(uid);
    QVERIFY(package && cPackageTestAccess::Scan(registry, {space.parts}));
    QCOMPARE(registry.GetPackage(uid), package);
}

void tst_RegistryOperations::moveAndCopy_data()
{
    QTest::addColumn<bool>("copy");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("newProgram"); // below the temporary folder
    QTest::addColumn<QByteArray>("theirs");  // a program of the new name already there
    QTest::newRow("move, no extension") << false << "PROG" << QString("parts/Mill/NEW") << QByteArray();
    QTest::newRow("move, NC suffix") << false << "PROG.NC" << QString("parts/Mill/NEW.NC") << QByteArray();
    QTest::newRow("move, lower-case suffix") << false << "PROG.nc" << QString("parts/Mill/NEW.nc") << QByteArray();
    QTest::newRow("copy to a new parts folder") << true << "PROG.NC" << QString("parts/LATHE/NEW.NC") << QByteArray();
    QTest::newRow("copy onto a program") << true << "PROG.NC" << QString("parts/LATHE/NEW.NC")
                                         << MillingProgram("THEIRS");
    QTest::newRow("copy of a name with a dot") << true << "part.1.nc" << QString("parts/Mill/NEW.nc") << QByteArray();
}

void tst_RegistryOperations::moveAndCopy()
{
    QFETCH(bool, copy);
    QFETCH(QString, program);
    QFETCH(QString, newProgram);
    QFETCH(QByteArray, theirs);
    Workspace space;
    cPackageManager registry{QDir(space.root)};
    QVERIFY(WriteFile(space.parts + u'/' + QFileInfo(program).completeBaseName() + ".CNV", ConversationalProgram()));
    const QString uid = registry.CreatePackage(QFileInfo(space.WriteProgram(program)));
    cPackage *package = registry.GetPackage(uid);
    // With a hand-written note and a picture.
    QVERIFY(package && WriteFile(space.Path("docs/notes.txt"), "check\n") &&
            WriteImage(space.Path("docs/photo.jpg"), 120, 80));
    QVERIFY(package->AddFileToPackage(QFileInfo(space.Path("docs/notes.txt")), "Ann", "by hand", {}) &&
            package->AddFileToPackage(QFileInfo(space.Path("docs/photo.jpg")), {}, {}, {}));
    const QString oldName = package->GetPackageName();
    const QString oldFolder = space.PackageFolder(uid);
    // Every file named after the package is renamed, whatever the case; the others keep their names.
    QStringList expectedFiles = Entries(oldFolder).replaceInStrings(
        QRegularExpression("(?i)^" + QRegularExpression::escape(oldName) + "(?=\\.|$)"), "NEW");
    expectedFiles.sort();
    const QByteArray programBytes = ReadFile(space.parts + u'/' + program);
    newProgram = space.Path(newProgram);
    const QString newParts = QFileInfo(newProgram).absolutePath();
    QMap<QString, QByteArray> sourceBefore;
    if (copy) {
        // Neither a subfolder nor a link to a file outside is copied.
        QVERIFY(WriteFile(oldFolder + "/sub/inner.txt", "x") && WriteFile(space.Path("secret.txt"), "secret\n") &&
                QFile::link(space.Path("secret.txt"), oldFolder + "/linked.txt"));
        sourceBefore = Snapshot(oldFolder);
        if (!theirs.isEmpty())
            QVERIFY(WriteFile(newProgram, theirs));
    } else { // the host renames the programs first
        QVERIFY(QFile::rename(space.parts + u'/' + program, newProgram) &&
                QFile::rename(space.parts + "/PROG.CNV", space.parts + "/NEW.CNV"));
    }
    QVERIFY(!registry.CreatePackage(QFileInfo(space.WriteProgram("OTHER.NC"))).isEmpty());
    const QString newUid = space.Uid(newProgram);
    SignalLog log(registry);
    auto moveOrCopy = [&](const QString &id, const QString &target) {
        return copy ? registry.CopyPackage(id, QFileInfo(target)) : registry.MovePackage(id, QFileInfo(target));
    };
    // Refused, changing nothing: an identifier in other case, a registered target, and (a move) a target
    // whose folder is already there; a failed folder rename must not re-file the package.
    const QString blocker = space.PackageFolder(newUid) + "/keep.txt";
    QVERIFY(copy || WriteFile(blocker, "x"));
    const auto before = Snapshot(space.dir.path());
    QVERIFY(!moveOrCopy(uid.toLower(), newProgram) && !moveOrCopy(uid, space.parts + "/OTHER.NC"));
    QVERIFY(copy || !moveOrCopy(uid, newProgram));
    QCOMPARE(Snapshot(space.dir.path()), before);
    QVERIFY(registry.GetPackage(uid) == package && !registry.GetPackage(newUid) && package->GetPackageUID() == uid);
    QVERIFY(copy || (QFile::remove(blocker) && QDir().rmdir(space.PackageFolder(newUid))));

    cPackage *result = moveOrCopy(uid, newProgram);

    QVERIFY(result && (result == package) != copy);
    QCOMPARE(log.events, (copy ? QStringList{u'+' + newUid} : QStringList{u'-' + uid, u'+' + newUid}));
    QCOMPARE(registry.GetPackage(uid) == package, copy);
    const QString folder = space.PackageFolder(newUid);
    QCOMPARE(Entries(folder), expectedFiles);
    const QByteArray history = (copy ? "Copied From Program Name = " : "Previous Program Name = ") + oldName.toUtf8();
    QVERIFY(ReadFile(folder + "/NEW.history.html").contains(history));
    // The package follows the programs of the new name; a copy never overwrites a program.
    QCOMPARE(cPackageTestAccess::PartNC(*result).absoluteFilePath(), newProgram);
    QCOMPARE(ReadFile(newProgram), theirs.isEmpty() ? programBytes : theirs);
    QCOMPARE(QFileInfo::exists(newParts + "/NEW.CNV"), theirs.isEmpty());
    if (copy) {
        QCOMPARE(Snapshot(oldFolder), sourceBefore);
        // A fresh manifest: the hand-written author and comment stay with the source.
        QVERIFY(!ReadFile(folder + "/manifest.xml").contains("by hand") &&
                ReadFile(folder + "/manifest.xml").contains("Unknown User"));
    }
    QVERIFY(cPackageTestAccess::Scan(registry, {space.parts, newParts}));
    QCOMPARE(registry.GetPackage(newUid), result);
    // Removing deletes the folder and the programs in the parts folder, and no other program.
    QVERIFY(registry.RemovePackage(newUid, true) && !registry.GetPackage(newUid) && log.events.last() == u'-' + newUid);
    QVERIFY(!QFileInfo::exists(newProgram) && !QFileInfo::exists(newParts + "/NEW.CNV") && !QFileInfo::exists(folder));
    QVERIFY(QFileInfo::exists(space.parts + "/OTHER.NC"));
}

void tst_RegistryOperations::programWhateverItsLetters_data()
{
    QTest::addColumn<QString>("partsFolder"); // below parts/
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("companion");    // a conversational program beside it, or none
    QTest::addColumn<QString>("manifestName"); // the spelling another tool left
    const auto row = [](const char *tag, const char *folder, const char *program, const char *companion,
                        const char *manifestName) {
        QTest::newRow(tag) << QString::fromUtf8(folder) << QString::fromUtf8(program) << QString::fromUtf8(companion)
                           << QString::fromUtf8(manifestName);
    };
    row("plain letters", "Mill", "PROG.NC", "", "manifest.xml");
    row("spaces and marks", "Mill Shop", "Bracket 7, rev B!.nc", "", "manifest.xml");
    row("sharp s", "Maße", "Größe.nc", "", "Manifest.xml");
    row("dotless i", "Kılıç", "Kılavuz.nc", "", "MANIFEST.XML");
    row("dotted capital I", "İzmir", "İnce.nc", "", "manifest.xml");
    row("ligatures", "ﬁles", "ﬂange.nc", "ﬂange.cnv", "manifest.xml");
    row("lower-case conversational", "lathe", "plate.nc", "plate.cnv", "Manifest.Xml");
}

void tst_RegistryOperations::programWhateverItsLetters()
{
    QFETCH(QString, partsFolder);
    QFETCH(QString, program);
    QFETCH(QString, companion);
    QFETCH(QString, manifestName);
    Workspace space;
    const QString parts = MakeDir(space.Path("parts/" + partsFolder));
    const QString programPath = parts + u'/' + program;
    // A note named as the program, in other letters: removal must not take it for the program.
    const QString note = parts + u'/' + QFileInfo(program).completeBaseName().toUpper() + ".txt";
    QVERIFY(WriteFile(programPath, MillingProgram("A")) && WriteFile(note, "left jaw\n"));
    if (!companion.isEmpty())
        QVERIFY(WriteFile(parts + u'/' + companion, ConversationalProgram()));
    QString uid;
    {
        cPackageManager registry{QDir(space.root)};
        uid = registry.CreatePackage(QFileInfo(programPath));
        QVERIFY(!uid.isEmpty());
        cPackage *package = registry.GetPackage(uid);
        QVERIFY(package && WriteFile(space.Path("docs/n ä^,!.txt"), "check\n"));
        QVERIFY(package->AddFileToPackage(QFileInfo(space.Path("docs/n ä^,!.txt")), "Ann", "by hand", {}));
    }
    const QString folder = space.PackageFolder(uid);
    // Both programs are copied; one overview picture, a real one.
    QVERIFY2(Entries(folder).contains(program), qPrintable(Entries(folder).join(u' ')));
    QVERIFY(companion.isEmpty() || Entries(folder).contains(companion));
    const QStringList overviews = QDir(folder).entryList({"*.gif"}, QDir::Files);
    QCOMPARE(overviews.size(), 1);
    QVERIFY(QFileInfo(folder + u'/' + overviews.first()).size() > 0);

    // Another tool spelt "manifest.xml" otherwise; the program is edited meanwhile.
    if (manifestName != "manifest.xml")
        QVERIFY(QFile::rename(folder + "/manifest.xml", folder + u'/' + manifestName));
    QVERIFY(WriteFile(programPath, MillingProgram("B")) &&
            SetModTime(programPath, QDateTime::currentDateTimeUtc().addSecs(60)));
    cPackageManager registry{QDir(space.root)};
    QVERIFY(registry.GetPackage(uid) && registry.IsAPackage(QDir(folder)));
    QVERIFY(cPackageTestAccess::Scan(registry, {parts}));
    QCOMPARE(ReadFile(folder + u'/' + program), MillingProgram("B"));
    const QStringList manifests =
        Entries(folder).filter(QRegularExpression("^manifest\\.xml$", QRegularExpression::CaseInsensitiveOption));
    QCOMPARE(manifests, QStringList{manifestName});
    QVERIFY(ReadFile(folder + u'/' + manifestName).contains("by hand") && Entries(folder).contains("n ä^,!.txt"));

    // A copy renames every file named after the program, whatever its letters.
    cPackage *copy = registry.CopyPackage(uid, QFileInfo(parts + "/COPY.NC"));
    QVERIFY(copy);
    const QStringList copied = Entries(space.PackageFolder(copy->GetPackageUID()));
    for (const QString &file : copied)
        QVERIFY2(Platform::PrefixLengthNoCase(file, QFileInfo(program).completeBaseName()) < 0, qPrintable(file));
    QVERIFY(copied.contains("COPY" + program.mid(program.indexOf(u'.'))));

    // Removal deletes the program of every spelling.
    QVERIFY(registry.RemovePackage(uid, true));
    QVERIFY(!QFileInfo::exists(programPath) && !QFileInfo::exists(folder) && QFileInfo::exists(note));
    QVERIFY(companion.isEmpty() || !QFileInfo::exists(parts + u'/' + companion));
}

void tst_RegistryOperations::otherSpellingsRefused_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("name");
    QTest::newRow("copy onto a program") << u"copy"_s << u"copy3.nc"_s;
    QTest::newRow("copy onto a conversational program") << u"copy"_s << u"Copy3.CNV"_s;
    QTest::newRow("move beside a program") << u"move"_s << u"copy3.nc"_s;
    QTest::newRow("remove from a folder with a case twin") << u"remove"_s << QString();
}

void tst_RegistryOperations::otherSpellingsRefused()
{
    QFETCH(QString, operation);
    QFETCH(QString, name);
    Workspace space;
    cPackageManager registry{QDir(space.root)};
    const QString uid = registry.CreatePackage(QFileInfo(space.WriteProgram("PROG.NC")));
    cPackage *package = registry.GetPackage(uid);
    QVERIFY(package);
    const QString target = space.parts + "/COPY3.NC";
    if (operation == "copy" || operation == "move")
        QVERIFY(WriteFile(space.parts + u'/' + name, MillingProgram("theirs")));
    if (operation == "move") // the host renames its program first
        QVERIFY(QFile::rename(space.parts + "/PROG.NC", target));
    if (operation == "remove") // "Mill" and "mill" share the identifier's "MILL"
        QVERIFY(WriteFile(space.Path("parts/mill/PROG.NC"), MillingProgram("twin")) &&
                QDir().rename(space.parts, space.Path("parts/MiLL")));
    const auto before = Snapshot(space.dir.path());

    if (operation == "copy")
        QVERIFY(!registry.CopyPackage(uid, QFileInfo(target)));
    else if (operation == "move")
        QVERIFY(!registry.MovePackage(uid, QFileInfo(target)));
    else
        QVERIFY(!registry.RemovePackage(uid, true));
    QCOMPARE(Snapshot(space.dir.path()), before);
    QCOMPARE(registry.GetPackage(uid), package);
}

void tst_RegistryOperations::addFile_data()
{
    QTest::addColumn<QString>("source"); // below the temporary folder
    QTest::addColumn<QString>("targetName");
    QTest::addColumn<QString>("author"); // and comment "spare" when given
    QTest::newRow("automatic attributes") << "new/notes.txt" << QString() << QString();
    QTest::newRow("given author and comment") << "new/notes.txt" << QString() << "Bob";
    QTest::newRow("target name sets the kind") << "new/a.bin" << QString("fixture.pdf") << QString();
    QTest::newRow("over a listed file") << "new/setup.txt" << QString() << "Bob";
    QTest::newRow("over a listed file, other case") << "new/SETUP.TXT" << QString() << QString();
    QTest::newRow("file in the package") << "packages/setup.txt" << QString() << QString(); // in its folder
}

void tst_RegistryOperations::addFile()
{
    PackageWithFiles ws;
    QVERIFY(ws.Made());
    QFETCH(QString, source);
    QFETCH(QString, targetName);
    QFETCH(QString, author);
    if (source.startsWith("packages/"))
        source = QDir(ws.dir.path()).relativeFilePath(ws.folder + "/setup.txt");
    const QString comment = author.isEmpty() ? QString() : "spare";
    const QString name = targetName.isEmpty() ? QFileInfo(source).fileName().toLower() : targetName;
    QStringList expectedFiles = Entries(ws.folder) << name << (name.endsWith(".pdf") ? name + ".thumb" : name);
    expectedFiles.removeDuplicates();
    expectedFiles.sort();
    QVERIFY(WriteFile(ws.Path(source), "second, longer version\n"));

    QVERIFY(ws.package->AddFileToPackage(QFileInfo(ws.Path(source)), author, comment, targetName));

    QCOMPARE(ReadFile(ws.folder + u'/' + name), "second, longer version\n");
    QVERIFY(QFileInfo::exists(ws.Path(source))); // a copy, not a move
    QCOMPARE(Entries(ws.folder), expectedFiles); // no second file, no temporary file left
    QList<cManifestItem *> entries = ws.package->GetManifestItems(Unknown);
    entries.removeIf([&](cManifestItem *each) { return each->GetFileNameString() != name; });
    QVERIFY(entries.size() == 1 && ManifestLists(ws.folder, name));
    const cManifestItem *entry = entries.first();
    QCOMPARE(cPackageTestAccess::Kind(entry), name.endsWith(".pdf") ? PDF : Note);
    // A replaced file keeps its entry's author and comment.
    const bool listed = name == "setup.txt";
    QCOMPARE(entry->GetAuthorString(), listed ? "Ann" : author.isEmpty() ? "Unknown User" : author);
    QCOMPARE(entry->GetCommentString(), listed ? "clamp left" : comment);
}

void tst_RegistryOperations::fileRefusalsReplacementAndRemoval()
{
    PackageWithFiles ws;
    QVERIFY(ws.Made());
    QVERIFY(WriteFile(ws.folder + "/loose.txt", "loose\n") && WriteFile(ws.root + "/outside.txt", "outside\n"));
    const auto before = Snapshot(ws.dir.path());
    // Refused, changing nothing: a missing file, a folder, target names that are no plain file name or
    // that the manifest never lists, and removals of names that are not listed exactly so.
    for (const char *add : {"outside/missing.txt|", "outside|", "outside/setup.txt|../outside.txt",
                            "outside/setup.txt|sub/n.txt", "outside/setup.txt|..\\n.txt", "outside/setup.txt|..",
                            "outside/setup.txt|   ", "outside/setup.txt|manifest.xml", "outside/setup.txt|MANIFEST.XML",
                            "outside/setup.txt|x.jpg.THUMB", "outside/setup.txt|.package.lock"}) {
        const QStringList sourceAndTarget = QString(add).split(u'|');
        QVERIFY2(!ws.package->AddFileToPackage(QFileInfo(ws.Path(sourceAndTarget[0])), {}, {}, sourceAndTarget[1]),
                 add);
    }
    for (const char *name : {"PHOTO.JPG", "loose.txt", "../outside.txt", ""})
        QVERIFY2(!ws.package->RemoveFileFromPackage(name), name);
    QCOMPARE(Snapshot(ws.dir.path()), before);

    // A replaced picture gets a new thumbnail, though the replacement is older than the old thumbnail.
    const QString thumbnail = ws.folder + "/photo.jpg.thumb";
    QVERIFY(QImage(thumbnail).width() > QImage(thumbnail).height());
    QVERIFY(WriteImage(ws.Path("tall/photo.jpg"), 100, 200) &&
            SetModTime(ws.Path("tall/photo.jpg"), QDateTime::currentDateTimeUtc().addDays(-30)));
    QVERIFY(ws.package->AddFileToPackage(QFileInfo(ws.Path("tall/photo.jpg")), {}, {}, {}));
    QVERIFY(QImage(thumbnail).height() > QImage(thumbnail).width());

    // Removing a listed file takes its thumbnail along.
    QVERIFY(ws.package->RemoveFileFromPackage("photo.jpg"));
    QVERIFY(!QFileInfo::exists(ws.folder + "/photo.jpg") && !QFileInfo::exists(thumbnail));
    QVERIFY(!ManifestLists(ws.folder, "photo.jpg") && ManifestLists(ws.folder, "setup.txt"));
    // An entry whose file is already gone: false, and the manifest stays as it was.
    QVERIFY(QFile::remove(ws.folder + "/setup.txt"));
    const QByteArray manifest = ReadFile(ws.folder + "/manifest.xml");
    const QDateTime savedAt = QFileInfo(ws.folder + "/manifest.xml").lastModified();
    QVERIFY(!ws.package->RemoveFileFromPackage("setup.txt"));
    QCOMPARE(ReadFile(ws.folder + "/manifest.xml"), manifest);
    QCOMPARE(QFileInfo(ws.folder + "/manifest.xml").lastModified(), savedAt);
}

QTEST_GUILESS_MAIN(tst_RegistryOperations)
#include "tst_registryoperations.moc"
