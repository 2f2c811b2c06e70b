#include "cPackage.h"
#include "cPackageManager.h"
#include "package/PackageLock.h"
#include "platform/PlatformFiles.h"
#include "programs/PartPrograms.h"
#include "programs/ProgramText.h"
#include "registry/PackageUID.h"

#include "TestUtils.h"

#include <QMutexLocker>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace Qt::StringLiterals;
using Package = std::unique_ptr<cPackage>;

// Reaches the protected operations of the package; callers hold the package's lock.
struct cPackageTestAccess
{
    static Package FromProgram(const QFileInfo &f, const QFileInfo &p) { return Package(new cPackage(f, p)); }
    // The parts folder is decoded from the identifier.
    static Package FromUID(const QString &u, const QString &f) { return Package(new cPackage(u, f, QDir(QString()))); }
    static PackageLock &Lock(cPackage &p) { return p.Lock(); }
    static bool Sync(cPackage &p, int i) { return p.SynchronizePartFiles(cPackage::ePartFilePriority(i)); }
    static QString Fields(const cPackage &p) { return p.partNCProgramPath + QLatin1Char('|') + p.partCONVProgramPath; }
    static bool FromParts(const cPackage &p, const QString &folder) { return p.IsFromPartsPath(folder); }
};
using Access = cPackageTestAccess;

namespace {

const QDateTime kTime(QDate(2024, 3, 1), QTime(10, 0, 0, 250), Qt::UTC);

// Bytes this process has read through system calls so far; -1 where the kernel does not tell.
qint64 BytesRead()
{
    QFile io(u"/proc/self/io"_s);
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray all = io.readAll(); // in one go: the figure must not include this read
    const qsizetype at = all.indexOf("rchar:");
    return at < 0 ? -1 : all.mid(at + 6, all.indexOf('\n', at) - at - 6).trimmed().toLongLong();
}

// UTF-16 with its byte-order mark.
QByteArray Utf16(const QString &text, bool bigEndian)
{
    return QStringEncoder(bigEndian ? QStringConverter::Utf16BE : QStringConverter::Utf16LE,
                          QStringConverter::Flag::WriteBom)(text);
}

} // namespace

class tst_PartPrograms : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void recognition_data();
    void recognition();
    void readsOnlyWhatItNeeds();
    void findPrograms_data();
    void findPrograms();
    void displayedText_data();
    void displayedText();
    void synchronize_data();
    void synchronize();

private:
    QString Part(const QString &name) const { return parts + QLatin1Char('/') + name; }
    QString Copy(const QString &name) const { return folder + QLatin1Char('/') + name; }
    static QByteArray Manifest(const QByteArray &entry) { return "<Manifest>\n" + entry + "\n</Manifest>\n"; }

    std::unique_ptr<QTemporaryDir> dir;
    QString parts; // mixed case on purpose: identifiers are upper case
    QString packages, folder, uid;
};

void tst_PartPrograms::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    parts = TestUtils::MakeDir(dir->filePath(u"Shop/Parts"_s));
    packages = TestUtils::MakeDir(dir->filePath(u"packages"_s));
    uid = PackageUID::ForProgramFile(QFileInfo(Part(u"BRACKET.NC"_s)));
    folder = TestUtils::MakeDir(packages + QLatin1Char('/') + uid + QLatin1String(".pkg"));
}

void tst_PartPrograms::recognition_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content");   // null: the file is not written
    QTest::addColumn<QByteArray>("companion"); // "BRACKET.CNV" beside it; null: none
    QTest::addColumn<QString>("expected");     // NC, conversational, part program as 0/1
    const auto row = [](const char *tag, const char *file, const QByteArray &content, const char *expected,
                        const QByteArray &companion = QByteArray()) {
        QTest::newRow(tag) << QString::fromUtf8(file) << content << companion << QString::fromLatin1(expected);
    };
    const QByteArray conv = TestUtils::ConversationalProgram();
    row("percent, O-number, then G90", "BRACKET.NC", "%\n\nO1000 (BRACKET)\nG90 G54\n", "101");
    row("comment then M30", "HOME.NC", "(GO HOME)\nM30\n", "101");
    row("first G decides the line", "HOME.NC", "(GO HOME M30)\n", "000");
    row("non-Latin first line ends the test", "PLAN", "Программа фрезерования\nG1 X10\n", "000");
    row("line ending in its first G", "A.NC", "X10 G\n", "000");
    row("lower-case g-code", "A.NC", "g1 x10\nm30\n", "000");
    row("number too large", "A.NC", "G99999999999\n", "000");
    row("G word across the first read", "LONG.NC", QByteArray(4095, 'X') + "G12 Y0\n", "101");
    row("conversational N1 and N2", "BRACKET.CNV", conv, "011");
    row("block numbers must stand alone", "BRACKET.CNV", "N1 G0 X0\nN2 G0 Y0\n", "101");
    row("empty file with conversational companion", "BRACKET", "", "001", conv);
    row("companion that is not conversational", "BRACKET", "", "000", "FACE\n");
    row("missing file", "GONE.NC", QByteArray(), "000");
    row("binary file", "PHOTO", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10G1M3", 24), "000");
    row("UTF-16 with its mark", "WIDE.NC", Utf16(u"(Maß)\r\nG90 G54\r\n"_s, false), "101");
    row("UTF-16 big-endian conversational", "BRACKET.CNV", Utf16(u"N1\nN2\n"_s, true), "011");
    row("UTF-16 without a mark is no text", "WIDE.NC", Utf16(u"G90\n"_s, false).mid(2), "000");
}

void tst_PartPrograms::recognition()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, companion);
    if (!content.isNull())
        QVERIFY(TestUtils::WriteFile(Part(file), content));
    if (!companion.isNull())
        QVERIFY(TestUtils::WriteFile(Part(u"BRACKET.CNV"_s), companion));
    const QFileInfo info(Part(file));
    const auto bit = [](bool value) { return value ? QLatin1Char('1') : QLatin1Char('0'); };
    QTEST(QString(bit(IsNCProgramText(info)) + bit(IsCONVProgramFile(info)) + bit(IsPartProgramFile(info))),
          "expected");
}

void tst_PartPrograms::readsOnlyWhatItNeeds()
{
    QVERIFY(!IsPartProgramFile(QFileInfo(TestUtils::MakeDir(Part(u"G1.CNV"_s)))));
#ifdef Q_OS_UNIX
    // Opened for reading without a writer, a FIFO would block the scan for ever.
    QCOMPARE(::mkfifo(QFile::encodeName(Part(u"PIPE.CNV"_s)).constData(), 0600), 0);
    QVERIFY(!IsPartProgramFile(QFileInfo(Part(u"PIPE.CNV"_s))));
#endif
    if (BytesRead() < 0)
        QSKIP("the kernel does not count bytes read");
    QVERIFY(TestUtils::WriteFile(Part(u"LONG.NC"_s), "%\nO2000 (LONG)\nG90 G54\n" + QByteArray(8 << 20, 'X')));
    QVERIFY(TestUtils::WriteFile(Part(u"LONG.CNV"_s), "N1\nN2\n" + QByteArray(8 << 20, 'F')));
    QVERIFY(TestUtils::WriteFile(Part(u"NOTES.TXT"_s), QByteArray(1 << 20, 'N')));

    qint64 before = BytesRead();
    QVERIFY(IsNCProgramText(QFileInfo(Part(u"LONG.NC"_s))));
    QVERIFY(IsPartProgramFile(QFileInfo(Part(u"LONG.CNV"_s))));
    QVERIFY(BytesRead() - before < 128 * 1024);
    // The conversational test does not open a file without the ".CNV" suffix.
    before = BytesRead();
    QVERIFY(!IsCONVProgramFile(QFileInfo(Part(u"NOTES.TXT"_s))));
    QVERIFY(BytesRead() - before < 1024);
}

void tst_PartPrograms::findPrograms_data()
{
    QTest::addColumn<QStringList>("files"); // "name=content" in the package; "link" leads out of it
    QTest::addColumn<QString>("fields");    // the package's program fields, in the parts folder
    const auto row = [](const char *tag, const QStringList &files, const char *fields) {
        QTest::newRow(tag) << files << QString::fromLatin1(fields);
    };
    row("NC and conversational", {"BRACKET.NC=G1 X0\n", "BRACKET.CNV=N1\nN2\n", "OTHER.NC=G1\n"},
        "BRACKET.NC|BRACKET.CNV");
    row("names in lower case", {"bracket.nc=G1 X0\n", "bracket.cnv=N1\nN2\n"}, "bracket.nc|bracket.cnv");
    row("conversational only, holding G-code", {"BRACKET.CNV=G1 X0\n"}, "|BRACKET.CNV");
    row("note that is no program", {"BRACKET.TXT=Clamp on the left.\n"}, "|");
    row("link leading out of the package", {"BRACKET.NC=link"}, "|");
}

void tst_PartPrograms::findPrograms()
{
    QFETCH(QStringList, files);
    const QString outside = dir->filePath(u"outside.nc"_s);
    QVERIFY(TestUtils::WriteFile(outside, TestUtils::MillingProgram(u"OUTSIDE"_s)));
    for (const QString &file : files) {
        const QString name = file.section(QLatin1Char('='), 0, 0), content = file.section(QLatin1Char('='), 1);
        if (content == QLatin1String("link"))
            QVERIFY(QFile::link(outside, Copy(name)));
        else
            QVERIFY(TestUtils::WriteFile(Copy(name), content.toUtf8()));
    }
    // Built from its identifier, the package decodes the parts folder without regard to case.
    const auto package = Access::FromUID(uid, folder);
    QTEST(Access::Fields(*package).remove(parts + QLatin1Char('/')), "fields");
    // It belongs to its parts folder whichever program it has, or none.
    QVERIFY(Access::FromParts(*package, parts));
    QVERIFY(!Access::FromParts(*package, packages));
}

void tst_PartPrograms::displayedText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("line ends kept") << QByteArray("%\r\nO1000\r\nG90\r\nM30\r\n") << 3
                                    << QStringList{u"%\r\n"_s, u"O1000\r\n"_s, u"G90\r\n"_s};
    QTest::newRow("last line without end") << QByteArray("G0\nM30") << 5 << QStringList{u"G0\n"_s, u"M30"_s};
    QTest::newRow("UTF-8") << QByteArray("(Ma\xC3\x9F \xE2\x82\xAC)\nG0\n") << 5
                           << QStringList{u"(Maß €)\n"_s, u"G0\n"_s};
    QTest::newRow("UTF-8 mark dropped") << QByteArray("\xEF\xBB\xBFG0\n") << 5 << QStringList{u"G0\n"_s};
    QTest::newRow("Windows-1252, not Latin-1") << QByteArray("(\x80 5\x85 Ma\xDF \x93"
                                                             "A\x94)\n")
                                               << 5 << QStringList{u"(€ 5… Maß “A”)\n"_s};
    // One line that is no UTF-8 decides for the program: its other lines are 8-bit text too.
    QTest::newRow("one 8-bit line decides")
        << QByteArray("(Ma\xC3\x9F)\n(\x96)\n") << 5 << QStringList{u"(MaÃŸ)\n"_s, u"(–)\n"_s};
    QTest::newRow("UTF-16") << Utf16(u"(Maß)\r\nG0\nM30"_s, false) << 5
                            << QStringList{u"(Maß)\r\n"_s, u"G0\n"_s, u"M30"_s};
    QTest::newRow("UTF-16 big-endian") << Utf16(u"(Maß)\nG0\n"_s, true) << 1 << QStringList{u"(Maß)\n"_s};
}

void tst_PartPrograms::displayedText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, count);
    QFETCH(QStringList, lines);
    QVERIFY(TestUtils::WriteFile(Part(u"BRACKET.NC"_s), bytes) && TestUtils::WriteFile(Copy(u"BRACKET.NC"_s), bytes));
    QVERIFY(TestUtils::WriteFile(Copy(u"BRACKET.CNV"_s), TestUtils::ConversationalProgram()));
    QVERIFY(TestUtils::WriteFile(Copy(u"manifest.xml"_s), Manifest("<NCProgram>BRACKET.NC</NCProgram>")));
    const auto package = Access::FromUID(uid, folder);
    QCOMPARE(package->GetPgmLines(count, NCProgram), lines);
    // The whole program decodes alike in one piece, as the tools page reads it.
    QCOMPARE(ProgramText::Decode(bytes), package->GetPgmLines(1000, NCProgram).join(QString()));
    // The answers come from the manifest, not from the folder: the folder holds both programs.
    QVERIFY(package->HasNCProgram() && !package->HasCONVProgram() && package->GetPgmLines(3, Image).isEmpty());
    QCOMPARE(package->GetPgmFileInfo(NCProgram).absoluteFilePath(), Part(u"BRACKET.NC"_s));
    QVERIFY(QFile::remove(Part(u"BRACKET.NC"_s)) && package->GetPgmFileInfo(NCProgram).filePath().isEmpty());
}

void tst_PartPrograms::synchronize_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("before"); // P: parts file, C: package copy, +: the copy a byte longer
    QTest::addColumn<int>("copyAge");    // seconds, relative to the parts program
    QTest::addColumn<int>("priority");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("after"); // parts side and package side: P, C or - for none
    const auto row = [](const char *tag, const char *file, const char *before, int age, int priority, bool result,
                        const char *after) {
        QTest::newRow(tag) << QString::fromLatin1(file) << QString::fromLatin1(before) << age << priority << result
                           << QString::fromLatin1(after);
    };
    const int parts = cPackage::PartsFilePriority, package = cPackage::PackageFilePriority;
    row("parts wins over a newer copy", "BRACKET.NC", "PC", 3600, parts, true, "PP");
    row("equal times copy nothing", "BRACKET.NC", "PC", 0, parts, true, "PC");
    row("saved twice in one clock tick: equal times, other sizes", "BRACKET.NC", "PC+", 0, parts, true, "PP");
    row("parts file gone, copy stays", "BRACKET.NC", "C", 0, parts, true, "-C");
    row("package never overwrites parts", "BRACKET.NC", "PC", 3600, package, false, "PC");
    row("package restores parts file", "BRACKET.NC", "C", 0, package, true, "CC");
    // Only the conversational pair moves, both ways.
    row("conversational only to the package", "BRACKET.CNV", "P", 0, parts, true, "PP");
    row("conversational only back", "BRACKET.CNV", "C", 0, package, true, "CC");
}

void tst_PartPrograms::synchronize()
{
    QFETCH(QString, file);
    QFETCH(QString, before);
    QFETCH(int, copyAge);
    QFETCH(int, priority);
    const QString part = Part(file), copy = Copy(file);
    QVERIFY(TestUtils::WriteFile(part, "G1 (PARTS)\n") && TestUtils::SetModTime(part, kTime));
    const auto package = Access::FromProgram(QFileInfo(folder), QFileInfo(part));
    QMutexLocker locker(&Access::Lock(*package));
    if (!before.contains(QLatin1Char('P')))
        QVERIFY(QFile::remove(part));
    if (before.contains(QLatin1Char('C')))
        QVERIFY(TestUtils::WriteFile(copy, before.contains(u'+') ? "G1 (COPY12)\n" : "G1 (COPY1)\n") &&
                TestUtils::SetModTime(copy, kTime.addSecs(copyAge)));

    QTEST(Access::Sync(*package, priority), "result");
    const auto side = [](const QString &path) -> QChar {
        return QLatin1Char(QFileInfo::exists(path) ? TestUtils::ReadFile(path).at(4) : '-');
    };
    QTEST(QString(side(part) + side(copy)), "after");
    // Nothing else appears on either side: no companion, no temporary file.
    QStringList left = TestUtils::Entries(folder) + TestUtils::Entries(parts); // temporaries included
    left.removeAll(PackageLock::FileName());
    QCOMPARE(left.size(), qsizetype(QFileInfo::exists(part) + QFileInfo::exists(copy)));
    // A second pass copies nothing.
    const Platform::FileStamp partStamp = Platform::StampOf(part), copyStamp = Platform::StampOf(copy);
    Access::Sync(*package, priority);
    QVERIFY(Platform::StampOf(part) == partStamp && Platform::StampOf(copy) == copyStamp);
}

QTEST_GUILESS_MAIN(tst_PartPrograms)
#include "tst_partprograms.moc"
