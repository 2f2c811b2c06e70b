#include "cPackage.h"
#include "cPackageManager.h"
#include "package/cPackagePrograms_p.h"
#include "registry/PackageUID.h"

#include "TestUtils.h"

#include <QMutexLocker>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

struct cPackageTestAccess
{
    static std::unique_ptr<cPackage> FromProgram(const QString &packageFolder, const QString &program)
    {
        return std::unique_ptr<cPackage>(new cPackage(QFileInfo(packageFolder), QFileInfo(program)));
    }
    static std::unique_ptr<cPackage> FromUID(const QString &uid, const QString &packageFolder, const QDir &parts)
    {
        return std::unique_ptr<cPackage>(new cPackage(uid, QDir(packageFolder), parts));
    }
    static bool Sync(cPackage &package, int priority)
    {
        QMutexLocker locker(&package.Lock());
        return package.SynchronizePartFiles(cPackage::ePartFilePriority(priority));
    }
    static bool AddToPackage(cPackage &package, const QFileInfo &file)
    {
        QMutexLocker locker(&package.Lock());
        return package.AddPartProgramsToPackageFolder(file);
    }
    static QString FindNC(const cPackage &package, const QString &folder)
    {
        return package.FindNCProgram(QDir(folder)).fileName();
    }
    static QString FindCONV(const cPackage &package, const QString &folder)
    {
        return package.FindCONVProgram(QDir(folder)).fileName();
    }
    static QString PartNC(const cPackage &package) { return package.partNCProgramPath; }
    static QString PartCONV(const cPackage &package) { return package.partCONVProgramPath; }
    static bool IsFromPartsPath(const cPackage &package, const QString &folder)
    {
        return package.IsFromPartsPath(folder);
    }
};

namespace {

const QDateTime BaseTime(QDate(2024, 3, 1), QTime(10, 0, 0, 250), Qt::UTC);

QByteArray ManifestXml(const QString &name, const QList<QPair<QString, QString>> &entries)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Manifest package_name=\"" + name.toUtf8() +
                     "\" package_size=\"100\" package_limit=\"104857600\">\n";
    for (const auto &entry : entries) {
        const QByteArray kind = entry.first.toUtf8();
        xml += "    <" + kind + " tab=\"X\" preview=\"\" hidden=\"true\" read_only=\"true\" author=\"\" comment=\"\" " +
               "type=\"text\">" + entry.second.toUtf8() + "</" + kind + ">\n";
    }
    return xml + "</Manifest>\n";
}

QDateTime ModTime(const QString &path)
{
    return QFileInfo(path).lastModified().toUTC();
}

// Every entry of a folder, hidden ones included: leftovers of a copy would show here.
QStringList AllEntries(const QString &folder)
{
    QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    entries.sort();
    return entries;
}

} // namespace

class tst_PackagePrograms : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void sameModTime_data();
    void sameModTime();

    void findPrograms_data();
    void findPrograms();
    void linkInPartsFolderIsFound();
    void partsFolderDecodedWithoutRegardToCase();
    void isFromPartsPath_data();
    void isFromPartsPath();

    void hasPrograms_data();
    void hasPrograms();
    void pgmLines();
    void pgmLinesCutsEndlessLine();
    void pgmFileInfo();
    void registryListsConversationalOnlyPackage();
    void registryStartUpUpdatesCopies();

    void synchronize_data();
    void synchronize();
    void synchronizeConversationalOnly();
    void synchronizeTwiceCopiesNothing();
    void synchronizeReplacesCopyInOtherCase();
    void packagePriorityKeepsPartsFileInOtherCase();
    void failedCopyKeepsOldCopy();

private:
    QString ProgramPath(const QString &name) const { return parts + QLatin1Char('/') + name; }
    QString PackageFolder() const
    {
        return packages + QLatin1Char('/') +
               PackageUID::ForProgramFile(QFileInfo(ProgramPath(QStringLiteral("BRACKET.NC")))) + QLatin1String(".pkg");
    }
    QString Uid() const { return QFileInfo(PackageFolder()).completeBaseName(); }
    QString InPackage(const QString &name) const { return PackageFolder() + QLatin1Char('/') + name; }

    std::unique_ptr<QTemporaryDir> dir;
    QString parts; // mixed case on purpose: identifiers are upper case
    QString packages;
};

void tst_PackagePrograms::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY2(dir->isValid(), qPrintable(dir->errorString()));
    parts = TestUtils::MakeDir(dir->filePath(QStringLiteral("Shop/Parts")));
    packages = TestUtils::MakeDir(dir->filePath(QStringLiteral("packages")));
    QVERIFY(QDir().mkpath(PackageFolder()));
}

void tst_PackagePrograms::sameModTime_data()
{
    QTest::addColumn<QDateTime>("a");
    QTest::addColumn<QDateTime>("b");
    QTest::addColumn<bool>("same");

    const QDateTime whole(QDate(2024, 3, 1), QTime(10, 0, 0), Qt::UTC);
    QTest::newRow("equal") << BaseTime << BaseTime << true;
    QTest::newRow("one millisecond apart") << BaseTime << BaseTime.addMSecs(1) << false;
    QTest::newRow("copy kept whole seconds") << whole.addMSecs(700) << whole << true;
    QTest::newRow("source kept whole seconds") << whole << whole.addMSecs(999) << true;
    QTest::newRow("next second") << whole.addMSecs(1700) << whole << false;
    QTest::newRow("whole seconds apart") << whole << whole.addSecs(1) << false;
    QTest::newRow("before 1970") << QDateTime::fromMSecsSinceEpoch(-500, Qt::UTC)
                                 << QDateTime::fromMSecsSinceEpoch(-1000, Qt::UTC) << true;
    QTest::newRow("both missing") << QDateTime() << QDateTime() << true;
    QTest::newRow("one missing") << QDateTime() << whole << false;
    QTest::newRow("local and UTC of one instant") << BaseTime.toLocalTime() << BaseTime << true;
}

void tst_PackagePrograms::sameModTime()
{
    QFETCH(QDateTime, a);
    QFETCH(QDateTime, b);
    QFETCH(bool, same);
    QCOMPARE(PackagePrograms::SameModTime(a, b), same);
    QCOMPARE(PackagePrograms::SameModTime(b, a), same);
}

void tst_PackagePrograms::findPrograms_data()
{
    QTest::addColumn<QStringList>("files"); // "name=kind"
    QTest::addColumn<QString>("nc");
    QTest::addColumn<QString>("conv");

    QTest::newRow("NC and conversational")
        << QStringList{"BRACKET.NC=nc", "BRACKET.CNV=conv", "BRACKET.gif=binary", "OTHER.NC=nc"} << "BRACKET.NC"
        << "BRACKET.CNV";
    QTest::newRow("names in lower case") << QStringList{"bracket.nc=nc", "bracket.cnv=conv"} << "bracket.nc"
                                         << "bracket.cnv";
    QTest::newRow("no suffix, conversational companion")
        << QStringList{"BRACKET=empty", "BRACKET.CNV=conv"} << "BRACKET"
        << "BRACKET.CNV";
    QTest::newRow("note that is no program") << QStringList{"BRACKET.TXT=text"} << ""
                                             << "";
    QTest::newRow("note holding G-code") << QStringList{"BRACKET.TXT=nc"} << "BRACKET.TXT"
                                         << "";
    QTest::newRow("CNV holding G-code") << QStringList{"BRACKET.CNV=nc"} << ""
                                        << "BRACKET.CNV";
    QTest::newRow("other names") << QStringList{"BRACKET2.NC=nc", "BRACKET.V2.NC=nc", "XBRACKET.CNV=conv"} << ""
                                 << "";
#ifdef Q_OS_UNIX
    QTest::newRow("link leading out of the package") << QStringList{"BRACKET.NC=outside-link"} << ""
                                                     << "";
    QTest::newRow("link inside the package") << QStringList{"ORIGINAL=binary", "BRACKET.NC=inside-link"} << "BRACKET.NC"
                                             << "";
#endif
}

void tst_PackagePrograms::findPrograms()
{
    QFETCH(QStringList, files);
    QFETCH(QString, nc);
    QFETCH(QString, conv);

    const QString outside = dir->filePath(QStringLiteral("outside.nc"));
    QVERIFY(TestUtils::WriteFile(outside, TestUtils::MillingProgram(QStringLiteral("OUTSIDE"))));
    for (const QString &file : files) {
        const QString name = file.section(QLatin1Char('='), 0, 0);
        const QString kind = file.section(QLatin1Char('='), 1);
        const QString path = InPackage(name);
        if (kind == QLatin1String("outside-link")) {
            QVERIFY(QFile::link(outside, path));
        } else if (kind == QLatin1String("inside-link")) {
            QVERIFY(TestUtils::WriteFile(InPackage(QStringLiteral("ORIGINAL")),
                                         TestUtils::MillingProgram(QStringLiteral("BRACKET"))));
            QVERIFY(QFile::link(QStringLiteral("ORIGINAL"), path));
        } else {
            QByteArray content;
            if (kind == QLatin1String("nc"))
                content = TestUtils::MillingProgram(QStringLiteral("BRACKET"));
            else if (kind == QLatin1String("conv"))
                content = TestUtils::ConversationalProgram();
            else if (kind == QLatin1String("text"))
                content = "Clamp on the left side.\n";
            else if (kind == QLatin1String("binary"))
                content = QByteArray("GIF89a\x01\0\x01\0\x80\0\0", 13);
            QVERIFY(TestUtils::WriteFile(path, content));
        }
    }

    const auto package = cPackageTestAccess::FromUID(Uid(), PackageFolder(), QDir(parts));
    QCOMPARE(cPackageTestAccess::FindNC(*package, PackageFolder()), nc);
    QCOMPARE(cPackageTestAccess::FindCONV(*package, PackageFolder()), conv);
    // The package's program fields point into the parts folder under the copies' names.
    QCOMPARE(cPackageTestAccess::PartNC(*package), nc.isEmpty() ? QString() : ProgramPath(nc));
    QCOMPARE(cPackageTestAccess::PartCONV(*package), conv.isEmpty() ? QString() : ProgramPath(conv));
}

void tst_PackagePrograms::linkInPartsFolderIsFound()
{
#ifdef Q_OS_UNIX
    // Only the package's own folder refuses links that lead out of it.
    const QString outside = dir->filePath(QStringLiteral("common/BRACKET.NC"));
    QVERIFY(TestUtils::WriteFile(outside, TestUtils::MillingProgram(QStringLiteral("BRACKET"))));
    QVERIFY(QFile::link(outside, ProgramPath(QStringLiteral("BRACKET.NC"))));
    const auto package = cPackageTestAccess::FromUID(Uid(), PackageFolder(), QDir(parts));
    QCOMPARE(cPackageTestAccess::FindNC(*package, parts), QStringLiteral("BRACKET.NC"));
#else
    QSKIP("symbolic links are a Unix matter here");
#endif
}

void tst_PackagePrograms::partsFolderDecodedWithoutRegardToCase()
{
    QVERIFY(TestUtils::WriteFile(InPackage(QStringLiteral("Bracket.nc")),
                                 TestUtils::MillingProgram(QStringLiteral("BRACKET"))));
    QVERIFY(Uid() == Uid().toUpper());
    QVERIFY(!QFileInfo::exists(PackageUID::PartsFolderKey(Uid())));

    const auto package = cPackageTestAccess::FromUID(Uid(), PackageFolder(), QDir(QString()));
    QCOMPARE(cPackageTestAccess::PartNC(*package), ProgramPath(QStringLiteral("Bracket.nc")));
}

void tst_PackagePrograms::isFromPartsPath_data()
{
    QTest::addColumn<QString>("copy");
    QTest::addColumn<bool>("removeParts");
    QTest::addColumn<bool>("fromParts");

    QTest::newRow("NC program") << "BRACKET.NC" << false << true;
    QTest::newRow("conversational only") << "BRACKET.CNV" << false << true;
    QTest::newRow("no program: identifier's folder") << "" << false << true;
    QTest::newRow("no program, parts folder gone") << "" << true << false;
}

void tst_PackagePrograms::isFromPartsPath()
{
    QFETCH(QString, copy);
    QFETCH(bool, removeParts);
    QFETCH(bool, fromParts);

    if (copy.endsWith(QLatin1String(".CNV")))
        QVERIFY(TestUtils::WriteFile(InPackage(copy), TestUtils::ConversationalProgram()));
    else if (!copy.isEmpty())
        QVERIFY(TestUtils::WriteFile(InPackage(copy), TestUtils::MillingProgram(QStringLiteral("BRACKET"))));
    if (removeParts)
        QVERIFY(QDir(parts).removeRecursively());

    const auto package = cPackageTestAccess::FromUID(Uid(), PackageFolder(), QDir(QString()));
    QCOMPARE(cPackageTestAccess::IsFromPartsPath(*package, parts), fromParts);
    QVERIFY(!cPackageTestAccess::IsFromPartsPath(*package, packages));
}

void tst_PackagePrograms::hasPrograms_data()
{
    QTest::addColumn<QStringList>("kinds"); // entries of the hand-written manifest; empty: no file
    QTest::addColumn<bool>("nc");
    QTest::addColumn<bool>("conv");

    QTest::newRow("NC program") << QStringList{"NCProgram", "Overview"} << true << false;
    QTest::newRow("conversational program") << QStringList{"ConvProgram"} << false << true;
    QTest::newRow("both") << QStringList{"NCProgram", "ConvProgram"} << true << true;
    QTest::newRow("no program entry") << QStringList{"Note"} << false << false;
    QTest::newRow("no manifest file") << QStringList() << false << false;
}

void tst_PackagePrograms::hasPrograms()
{
    QFETCH(QStringList, kinds);
    QFETCH(bool, nc);
    QFETCH(bool, conv);

    // The answers come from the manifest, not from the folder: the folder holds both.
    QVERIFY(TestUtils::WriteFile(InPackage(QStringLiteral("BRACKET.NC")),
                                 TestUtils::MillingProgram(QStringLiteral("BRACKET"))));
    QVERIFY(TestUtils::WriteFile(InPackage(QStringLiteral("BRACKET.CNV")), TestUtils::ConversationalProgram()));
    if (!kinds.isEmpty()) {
        QList<QPair<QString, QString>> entries;
        for (const QString &kind : kinds)
            entries.append({kind, kind == QLatin1String("ConvProgram") ? QStringLiteral("BRACKET.CNV")
                                                                       : QStringLiteral("BRACKET.NC")});
        QVERIFY(TestUtils::WriteFile(InPackage(QStringLiteral("manifest.xml")),
                                     ManifestXml(QStringLiteral("BRACKET"), entries)));
    }

    const auto package = cPackageTestAccess::FromUID(Uid(), PackageFolder(), QDir(parts));
    QCOMPARE(package->HasNCProgram(), nc);
    QCOMPARE(package->HasCONVProgram(), conv);
}

void tst_PackagePrograms::pgmLines()
{
    QVERIFY(TestUtils::WriteFile(InPackage(QStringLiteral("BRACKET.NC")),
                                 QByteArray("%\r\nO1000 (BRACKET)\r\nG90 G54\r\nM30\r\n%")));
    // The manifest names the copy in another letter case than the folder holds.
    QVERIFY(TestUtils::WriteFile(InPackage(QStringLiteral("bracket.cnv")), QByteArray("N1\nFACE \xb0\nN2\n")));
    QVERIFY(TestUtils::WriteFile(
        InPackage(QStringLiteral("manifest.xml")),
        ManifestXml(QStringLiteral("BRACKET"), {{"NCProgram", "BRACKET.NC"}, {"ConvProgram", "BRACKET.CNV"}})));
    const auto package = cPackageTestAccess::FromUID(Uid(), PackageFolder(), QDir(parts));

    QCOMPARE(
        package->GetPgmLines(3, NCProgram),
        QStringList({QStringLiteral("%\r\n"), QStringLiteral("O1000 (BRACKET)\r\n"), QStringLiteral("G90 G54\r\n")}));
    QCOMPARE(package->GetPgmLines(100, NCProgram).size(), 5);
    QCOMPARE(package->GetPgmLines(100, NCProgram).last(), QStringLiteral("%"));
    QCOMPARE(package->GetPgmLines(2, ConvProgram),
             QStringList({QStringLiteral("N1\n"), QStringLiteral("FACE \u00b0\n")}));
    QVERIFY(package->GetPgmLines(3, Image).isEmpty());
    QVERIFY(package->GetPgmLines(0, NCProgram).isEmpty());
    QVERIFY(package->GetPgmLines(-1, NCProgram).isEmpty());
}

void tst_PackagePrograms::pgmLinesCutsEndlessLine()
{
    QVERIFY(
        TestUtils::WriteFile(InPackage(QStringLiteral("BRACKET.NC")), QByteArray(3 * 1024 * 1024, 'X') + "\nG1 X0\n"));
    QVERIFY(TestUtils::WriteFile(InPackage(QStringLiteral("manifest.xml")),
                                 ManifestXml(QStringLiteral("BRACKET"), {{"NCProgram", "BRACKET.NC"}})));
    const auto package = cPackageTestAccess::FromUID(Uid(), PackageFolder(), QDir(parts));

    const QStringList lines = package->GetPgmLines(2, NCProgram);
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines.first().size() <= 1024 * 1024);
    QCOMPARE(lines.last(), QStringLiteral("G1 X0\n"));
}

void tst_PackagePrograms::pgmFileInfo()
{
    const QString program = ProgramPath(QStringLiteral("BRACKET.NC"));
    QVERIFY(TestUtils::WriteFile(program, TestUtils::MillingProgram(QStringLiteral("BRACKET"))));
    QVERIFY(QFile::copy(program, InPackage(QStringLiteral("BRACKET.NC"))));
    QVERIFY(TestUtils::WriteFile(InPackage(QStringLiteral("manifest.xml")),
                                 ManifestXml(QStringLiteral("BRACKET"), {{"NCProgram", "BRACKET.NC"}})));
    const auto package = cPackageTestAccess::FromUID(Uid(), PackageFolder(), QDir(parts));

    QCOMPARE(package->GetPgmFileInfo(NCProgram).absoluteFilePath(), program);
    QVERIFY(package->GetPgmFileInfo(ConvProgram).filePath().isEmpty());

    QVERIFY(QFile::remove(program));
    QVERIFY(package->GetPgmFileInfo(NCProgram).filePath().isEmpty());
    QVERIFY(QFileInfo::exists(InPackage(QStringLiteral("BRACKET.NC"))));
}

void tst_PackagePrograms::registryListsConversationalOnlyPackage()
{
    QVERIFY(TestUtils::WriteFile(InPackage(QStringLiteral("BRACKET.CNV")), TestUtils::ConversationalProgram()));
    QVERIFY(TestUtils::WriteFile(InPackage(QStringLiteral("manifest.xml")),
                                 ManifestXml(QStringLiteral("BRACKET"), {{"ConvProgram", "BRACKET.CNV"}})));

    cPackageManager registry{QDir(packages)};
    QCOMPARE(registry.GetListOfPackages(parts, cPackageManager::eConvProgram).size(), 1);
    QCOMPARE(registry.GetListOfPackages(parts, cPackageManager::eAnyProgram).size(), 1);
    QCOMPARE(registry.GetListOfPackages(parts, cPackageManager::eNCProgramOnly).size(), 0);
    QCOMPARE(registry.GetListOfPackages(packages, cPackageManager::eConvProgram).size(), 0);
    // The start-up scan copies towards the package only.
    QVERIFY(AllEntries(parts).isEmpty());
}

void tst_PackagePrograms::registryStartUpUpdatesCopies()
{
    const QString program = ProgramPath(QStringLiteral("BRACKET.NC"));
    const QByteArray edited = TestUtils::MillingProgram(QStringLiteral("EDITED"));
    QVERIFY(TestUtils::WriteFile(program, edited));
    QVERIFY(TestUtils::SetModTime(program, BaseTime));
    const QString copy = InPackage(QStringLiteral("BRACKET.NC"));
    QVERIFY(TestUtils::WriteFile(copy, TestUtils::MillingProgram(QStringLiteral("BRACKET"))));
    QVERIFY(TestUtils::SetModTime(copy, BaseTime.addDays(1)));

    cPackageManager registry{QDir(packages)};
    QVERIFY(registry.DoesPackageExist(Uid()));
    QCOMPARE(TestUtils::ReadFile(copy), edited);
    QCOMPARE(ModTime(copy), BaseTime);
}

void tst_PackagePrograms::synchronize_data()
{
    QTest::addColumn<bool>("partExists");
    QTest::addColumn<bool>("copyExists");
    QTest::addColumn<int>("copyAgeSecs"); // package copy's time relative to the parts program
    QTest::addColumn<int>("priority");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QByteArray>("partAfter"); // null: no file
    QTest::addColumn<QByteArray>("copyAfter");

    const int parts = cPackage::PartsFilePriority;
    const int package = cPackage::PackageFilePriority;
    const QByteArray P("G1 (PARTS)\n");
    const QByteArray C("G1 (PACKAGE)\n");
    const QByteArray none;

    QTest::newRow("neither side") << false << false << 0 << parts << true << none << none;
    QTest::newRow("parts wins over a newer copy") << true << true << 3600 << parts << true << P << P;
    QTest::newRow("parts wins over an older copy") << true << true << -3600 << parts << true << P << P;
    QTest::newRow("equal times copy nothing") << true << true << 0 << parts << true << P << C;
    QTest::newRow("new package copy") << true << false << 0 << parts << true << P << P;
    QTest::newRow("parts file gone, copy stays") << false << true << 0 << parts << true << none << C;
    QTest::newRow("package never overwrites parts") << true << true << 3600 << package << false << P << C;
    QTest::newRow("package restores parts file") << false << true << 0 << package << true << C << C;
    QTest::newRow("package side missing") << true << false << 0 << package << true << P << none;
}

void tst_PackagePrograms::synchronize()
{
    QFETCH(bool, partExists);
    QFETCH(bool, copyExists);
    QFETCH(int, copyAgeSecs);
    QFETCH(int, priority);
    QFETCH(bool, result);
    QFETCH(QByteArray, partAfter);
    QFETCH(QByteArray, copyAfter);

    const QString part = ProgramPath(QStringLiteral("BRACKET.NC"));
    const QString copy = InPackage(QStringLiteral("BRACKET.NC"));
    QVERIFY(TestUtils::WriteFile(part, "G1 (PARTS)\n"));
    QVERIFY(TestUtils::SetModTime(part, BaseTime));
    const auto package = cPackageTestAccess::FromProgram(PackageFolder(), part);
    if (!partExists)
        QVERIFY(QFile::remove(part));
    if (copyExists) {
        QVERIFY(TestUtils::WriteFile(copy, "G1 (PACKAGE)\n"));
        QVERIFY(TestUtils::SetModTime(copy, BaseTime.addSecs(copyAgeSecs)));
    }
    const QDateTime partTimeBefore = ModTime(part);
    const QDateTime copyTimeBefore = ModTime(copy);

    QCOMPARE(cPackageTestAccess::Sync(*package, priority), result);

    QCOMPARE(QFileInfo::exists(part), !partAfter.isNull());
    QCOMPARE(TestUtils::ReadFile(part), partAfter);
    QCOMPARE(QFileInfo::exists(copy), !copyAfter.isNull());
    QCOMPARE(TestUtils::ReadFile(copy), copyAfter);
    // A copy takes its source's time, so that both sides compare equal afterwards.
    if (!partAfter.isNull() && partAfter == copyAfter)
        QCOMPARE(ModTime(part), ModTime(copy));
    if (partAfter == "G1 (PARTS)\n" && partExists)
        QCOMPARE(ModTime(part), partTimeBefore);
    if (copyAfter == "G1 (PACKAGE)\n" && copyExists)
        QCOMPARE(ModTime(copy), copyTimeBefore);
    // Neither the companion nor any temporary file appears.
    QStringList expected{QStringLiteral("BRACKET.NC")};
    if (copyAfter.isNull())
        expected.clear();
    QCOMPARE(AllEntries(PackageFolder()), expected);
}

void tst_PackagePrograms::synchronizeConversationalOnly()
{
    const QString part = ProgramPath(QStringLiteral("BRACKET.CNV"));
    QVERIFY(TestUtils::WriteFile(part, TestUtils::ConversationalProgram()));
    const auto package = cPackageTestAccess::FromProgram(PackageFolder(), part);
    QCOMPARE(cPackageTestAccess::PartNC(*package), ProgramPath(QStringLiteral("BRACKET")));

    QVERIFY(cPackageTestAccess::Sync(*package, cPackage::PartsFilePriority));
    QCOMPARE(AllEntries(PackageFolder()), QStringList{QStringLiteral("BRACKET.CNV")});
    QCOMPARE(TestUtils::ReadFile(InPackage(QStringLiteral("BRACKET.CNV"))), TestUtils::ConversationalProgram());

    // The other way round only the conversational program goes back as well.
    QVERIFY(QFile::remove(part));
    QVERIFY(cPackageTestAccess::Sync(*package, cPackage::PackageFilePriority));
    QCOMPARE(AllEntries(parts), QStringList{QStringLiteral("BRACKET.CNV")});
}

void tst_PackagePrograms::synchronizeTwiceCopiesNothing()
{
    const QString part = ProgramPath(QStringLiteral("BRACKET.NC"));
    const QString copy = InPackage(QStringLiteral("BRACKET.NC"));
    QVERIFY(TestUtils::WriteFile(part, TestUtils::MillingProgram(QStringLiteral("BRACKET"))));
    QVERIFY(TestUtils::WriteFile(ProgramPath(QStringLiteral("BRACKET.CNV")), TestUtils::ConversationalProgram()));
    const auto package = cPackageTestAccess::FromProgram(PackageFolder(), part);
    QVERIFY(cPackageTestAccess::Sync(*package, cPackage::PartsFilePriority));
    QCOMPARE(ModTime(copy), ModTime(part));

    // Mark the copy without changing its time: a second copy would undo the mark.
    const QDateTime time = ModTime(copy);
    QVERIFY(TestUtils::WriteFile(copy, "MARK\n"));
    QVERIFY(TestUtils::SetModTime(copy, time));
    QVERIFY(TestUtils::WriteFile(InPackage(QStringLiteral("BRACKET.CNV")), "MARK\n"));
    QVERIFY(TestUtils::SetModTime(InPackage(QStringLiteral("BRACKET.CNV")),
                                  ModTime(ProgramPath(QStringLiteral("BRACKET.CNV")))));

    for (const int priority : {cPackage::PartsFilePriority, cPackage::PackageFilePriority})
        QVERIFY(cPackageTestAccess::Sync(*package, priority));
    QCOMPARE(TestUtils::ReadFile(copy), QByteArray("MARK\n"));
    QCOMPARE(TestUtils::ReadFile(InPackage(QStringLiteral("BRACKET.CNV"))), QByteArray("MARK\n"));
}

void tst_PackagePrograms::synchronizeReplacesCopyInOtherCase()
{
    const QString part = ProgramPath(QStringLiteral("BRACKET.NC"));
    QVERIFY(TestUtils::WriteFile(part, "G1 (NEW)\n"));
    QVERIFY(TestUtils::WriteFile(InPackage(QStringLiteral("bracket.nc")), "G1 (OLD)\n"));
    QVERIFY(TestUtils::SetModTime(InPackage(QStringLiteral("bracket.nc")), BaseTime));
    const auto package = cPackageTestAccess::FromProgram(PackageFolder(), part);

    QVERIFY(cPackageTestAccess::Sync(*package, cPackage::PartsFilePriority));
    // One copy, as on a file system that ignores case.
    QCOMPARE(AllEntries(PackageFolder()), QStringList{QStringLiteral("BRACKET.NC")});
    QCOMPARE(TestUtils::ReadFile(InPackage(QStringLiteral("BRACKET.NC"))), QByteArray("G1 (NEW)\n"));
}

void tst_PackagePrograms::packagePriorityKeepsPartsFileInOtherCase()
{
    QVERIFY(TestUtils::WriteFile(InPackage(QStringLiteral("BRACKET.NC")), "G1 (PACKAGE)\n"));
    QVERIFY(TestUtils::WriteFile(ProgramPath(QStringLiteral("bracket.nc")), "G1 (PARTS)\n"));
    const auto package = cPackageTestAccess::FromUID(Uid(), PackageFolder(), QDir(parts));
    QCOMPARE(cPackageTestAccess::PartNC(*package), ProgramPath(QStringLiteral("BRACKET.NC")));

    QVERIFY(!cPackageTestAccess::Sync(*package, cPackage::PackageFilePriority));
    QCOMPARE(AllEntries(parts), QStringList{QStringLiteral("bracket.nc")});
    QCOMPARE(TestUtils::ReadFile(ProgramPath(QStringLiteral("bracket.nc"))), QByteArray("G1 (PARTS)\n"));
}

void tst_PackagePrograms::failedCopyKeepsOldCopy()
{
    // /proc/self/mem is a regular file whose first read fails: the copy breaks off.
    const QFileInfo failing(QStringLiteral("/proc/self/mem"));
    if (!failing.isFile())
        QSKIP("needs /proc/self/mem");
    const QString old = InPackage(QStringLiteral("mem"));
    QVERIFY(TestUtils::WriteFile(old, "G1 (OLD)\n"));
    const auto package = cPackageTestAccess::FromProgram(PackageFolder(), QString());

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("cannot copy .*mem")));
    QVERIFY(!cPackageTestAccess::AddToPackage(*package, failing));
    QCOMPARE(TestUtils::ReadFile(old), QByteArray("G1 (OLD)\n"));
    QCOMPARE(AllEntries(PackageFolder()), QStringList{QStringLiteral("mem")});
}

QTEST_GUILESS_MAIN(tst_PackagePrograms)
#include "tst_packageprograms.moc"
