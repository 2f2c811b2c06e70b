#include "programs/PartPrograms.h"

#include "TestUtils.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <climits>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <sys/types.h>
#endif

namespace {

// Bytes this process has read through system calls so far; -1 where the kernel does not
// tell.
qint64 BytesReadSoFar()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    // Read in one go: the numbers must not include this read itself.
    const QList<QByteArray> lines = io.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

} // namespace

class tst_PartPrograms : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readNumberAt_data();
    void readNumberAt();
    void recognition_data();
    void recognition();
    void folderIsNoProgram();
    void fifoIsNoProgramAndDoesNotBlock();
    void longLinesAcrossReads_data();
    void longLinesAcrossReads();
    void qualifyingProgramIsNotReadToTheEnd();
    void conversationalTestDoesNotOpenOtherFiles();
};

void tst_PartPrograms::readNumberAt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("expected");

    QTest::newRow("digits after letter") << QStringLiteral("G01 X5") << 1 << 1;
    QTest::newRow("stops at non-digit") << QStringLiteral("X12Y3") << 1 << 12;
    QTest::newRow("leading zeros") << QStringLiteral("N0000000000007") << 1 << 7;
    QTest::newRow("largest int") << QStringLiteral("A2147483647") << 1 << INT_MAX;
    QTest::newRow("too large") << QStringLiteral("A2147483648") << 1 << -1;
    QTest::newRow("no digit") << QStringLiteral("GO") << 1 << -1;
    QTest::newRow("at end") << QStringLiteral("G") << 1 << -1;
    QTest::newRow("past end") << QStringLiteral("G1") << 5 << -1;
    QTest::newRow("negative position") << QStringLiteral("G1") << -1 << -1;
    QTest::newRow("non-ASCII digits") << QStringLiteral("G\u0661\u0662") << 1 << -1;
}

void tst_PartPrograms::readNumberAt()
{
    QFETCH(QString, text);
    QFETCH(int, position);
    QFETCH(int, expected);
    QCOMPARE(ReadNumberAt(text, position), expected);
}

void tst_PartPrograms::recognition_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content"); // a null array: the file is not written
    QTest::addColumn<QString>("companionName");
    QTest::addColumn<QByteArray>("companionContent");
    QTest::addColumn<bool>("nc");
    QTest::addColumn<bool>("conv");
    QTest::addColumn<bool>("part");

    const QByteArray conversational = TestUtils::ConversationalProgram();
    const QString none;
    const QByteArray nothing;

    QTest::newRow("percent, O-number, then G90")
        << "BRACKET.NC" << QByteArray("%\n\nO1000 (BRACKET)\nG90 G54\n") << none << nothing << true << false << true;
    QTest::newRow("comment then M30") << "HOME.NC" << QByteArray("(GO HOME)\nM30\n") << none << nothing << true << false
                                      << true;
    QTest::newRow("first G decides the line, its M is not examined")
        << "HOME.NC" << QByteArray("(GO HOME M30)\n") << none << nothing << false << false << false;
    QTest::newRow("M counts when the line has no G")
        << "END.NC" << QByteArray("(END) M30\n") << none << nothing << true << false << true;
    QTest::newRow("non-Latin first line ends the test")
        << "PLAN" << QByteArray("Программа фрезерования\nG1 X10\n") << none << nothing << false << false << false;
    QTest::newRow("non-ASCII after leading blanks")
        << "PLAN" << QByteArray("   \xc3\xa9t\xc3\xa9\nG1 X10\n") << none << nothing << false << false << false;
    QTest::newRow("invalid UTF-8 at line start")
        << "PLAN" << QByteArray("\xff\xfe G1\nG1\n") << none << nothing << false << false << false;
    QTest::newRow("byte order mark is not text")
        << "BOM.NC" << QByteArray("\xef\xbb\xbfG1 X0\n") << none << nothing << true << false << true;
    QTest::newRow("line ending in its first G decides nothing")
        << "A.NC" << QByteArray("X10 G\n") << none << nothing << false << false << false;
    QTest::newRow("next line decides after a bare G")
        << "A.NC" << QByteArray("X10 G   \r\nG1\r\n") << none << nothing << true << false << true;
    QTest::newRow("lower-case g-code") << "A.NC" << QByteArray("g1 x10\nm30\n") << none << nothing << false << false
                                       << false;
    QTest::newRow("number too large") << "A.NC" << QByteArray("G99999999999\n") << none << nothing << false << false
                                      << false;
    QTest::newRow("no line end after the word")
        << "A.NC" << QByteArray("\n\n   G0") << none << nothing << true << false << true;
    QTest::newRow("tutorial marker") << "T1" << QByteArray("(OVT Tutorial 3: facing)\n") << none << nothing << true
                                     << false << true;
    QTest::newRow("tutorial marker is case-sensitive")
        << "T1" << QByteArray("(ovt tutorial 3)\n") << none << nothing << false << false << false;
    QTest::newRow("note mentioning G54 counts as text")
        << "SETUP.TXT" << QByteArray("Zero the part at G54\n") << none << nothing << true << false << true;
    QTest::newRow("conversational N1 and N2")
        << "BRACKET.CNV" << conversational << none << nothing << false << true << true;
    QTest::newRow("conversational lines are trimmed, any case")
        << "bracket.cnv" << QByteArray("  n1 \r\nFACE\r\n\tN2\r\n") << none << nothing << false << true << true;
    QTest::newRow("block numbers must stand alone")
        << "BRACKET.CNV" << QByteArray("N1 G0 X0\nN2 G0 Y0\n") << none << nothing << true << false << true;
    QTest::newRow("N1 without N2") << "BRACKET.CNV" << QByteArray("N1\nN 2\nN12\n") << none << nothing << false << false
                                   << false;
    QTest::newRow("conversational content without CNV suffix")
        << "BRACKET.TXT" << conversational << none << nothing << false << false << false;
    QTest::newRow("empty file with conversational companion")
        << "BRACKET" << QByteArray("") << "BRACKET.CNV" << conversational << false << false << true;
    QTest::newRow("companion in lower case")
        << "BRACKET" << QByteArray("") << "BRACKET.cnv" << conversational << false << false << true;
    QTest::newRow("companion only counts without suffix")
        << "BRACKET.NC" << QByteArray("") << "BRACKET.NC.CNV" << conversational << false << false << false;
    QTest::newRow("companion that is not conversational")
        << "BRACKET" << QByteArray("") << "BRACKET.CNV" << QByteArray("FACE\n") << false << false << false;
    QTest::newRow("missing file") << "GONE.NC" << QByteArray() << none << nothing << false << false << false;
    QTest::newRow("missing conversational file")
        << "GONE.CNV" << QByteArray() << none << nothing << false << false << false;
    QTest::newRow("binary file") << "PHOTO" << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x10G1M3", 28) << none
                                 << nothing << false << false << false;
    QTest::newRow("empty file") << "EMPTY.NC" << QByteArray("") << none << nothing << false << false << false;
}

void tst_PartPrograms::recognition()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(QString, companionName);
    QFETCH(QByteArray, companionContent);
    QFETCH(bool, nc);
    QFETCH(bool, conv);
    QFETCH(bool, part);

    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.filePath(fileName);
    if (!content.isNull())
        QVERIFY(TestUtils::WriteFile(path, content));
    if (!companionName.isEmpty())
        QVERIFY(TestUtils::WriteFile(dir.filePath(companionName), companionContent));

    const QFileInfo file(path);
    QCOMPARE(IsNCProgramText(file), nc);
    QCOMPARE(IsCONVProgramFile(file), conv);
    QCOMPARE(IsPartProgramFile(file), part);
}

void tst_PartPrograms::folderIsNoProgram()
{
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString folder = TestUtils::MakeDir(dir.filePath(QStringLiteral("G1.CNV")));
    QVERIFY(!IsPartProgramFile(QFileInfo(folder)));
    QVERIFY(!IsNCProgramText(QFileInfo()));
}

void tst_PartPrograms::fifoIsNoProgramAndDoesNotBlock()
{
#ifdef Q_OS_UNIX
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    // Opened for reading without a writer, a FIFO would block the scan for ever.
    const QString fifo = dir.filePath(QStringLiteral("PIPE"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QVERIFY(!IsPartProgramFile(QFileInfo(fifo)));
    QVERIFY(!IsCONVProgramFile(QFileInfo(fifo + QLatin1String(".CNV"))));
#else
    QSKIP("FIFOs are a Unix matter");
#endif
}

void tst_PartPrograms::longLinesAcrossReads_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("nc");

    // The first read is a few KiB: words split between two reads must still be seen.
    for (int offset : {4090, 4094, 4095, 4096, 65530}) {
        QTest::addRow("G word at %d", offset) << (QByteArray(offset, 'X') + "G12 Y0\n") << true;
        QTest::addRow("marker at %d", offset) << (QByteArray(offset, 'X') + "(OVT Tutorial)\n") << true;
        QTest::addRow("digits after %d", offset) << (QByteArray(offset, 'X') + "G" + QByteArray(20, '9')) << false;
    }
    QTest::newRow("long line, decisive word at its end") << (QByteArray(300000, 'X') + " M6\n") << true;
    QTest::newRow("long line without words, then G-code") << (QByteArray(300000, '#') + "\nG1\n") << true;
}

void tst_PartPrograms::longLinesAcrossReads()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, nc);
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString path = dir.filePath(QStringLiteral("LONG.NC"));
    QVERIFY(TestUtils::WriteFile(path, content));
    QCOMPARE(IsNCProgramText(QFileInfo(path)), nc);
}

void tst_PartPrograms::qualifyingProgramIsNotReadToTheEnd()
{
    if (BytesReadSoFar() < 0)
        QSKIP("the kernel does not count bytes read");
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));

    QByteArray program = "%\nO2000 (LONG)\nG90 G54\n";
    const QByteArray block = "X10.123 Y20.456 Z-1.5 F300\n";
    while (program.size() < 8 * 1024 * 1024)
        program += block;
    const QString nc = dir.filePath(QStringLiteral("LONG.NC"));
    QVERIFY(TestUtils::WriteFile(nc, program));

    QByteArray conv = "N1\nN2\n";
    while (conv.size() < 8 * 1024 * 1024)
        conv += "FACE X0 Y0 W100 L50 D1\n";
    const QString cnv = dir.filePath(QStringLiteral("LONG.CNV"));
    QVERIFY(TestUtils::WriteFile(cnv, conv));

    qint64 before = BytesReadSoFar();
    QVERIFY(IsNCProgramText(QFileInfo(nc)));
    qint64 read = BytesReadSoFar() - before;
    QVERIFY2(read < 64 * 1024, qPrintable(QString::number(read)));

    before = BytesReadSoFar();
    QVERIFY(IsPartProgramFile(QFileInfo(cnv)));
    read = BytesReadSoFar() - before;
    QVERIFY2(read < 64 * 1024, qPrintable(QString::number(read)));
}

void tst_PartPrograms::conversationalTestDoesNotOpenOtherFiles()
{
    if (BytesReadSoFar() < 0)
        QSKIP("the kernel does not count bytes read");
    QTemporaryDir dir;
    QVERIFY2(dir.isValid(), qPrintable(dir.errorString()));
    const QString note = dir.filePath(QStringLiteral("NOTES.TXT"));
    QVERIFY(TestUtils::WriteFile(note, QByteArray(1024 * 1024, 'N')));

    // The counter also sees the reads of /proc/self/io; opening the note would add at
    // least a first read of some KiB.
    const qint64 before = BytesReadSoFar();
    QVERIFY(!IsCONVProgramFile(QFileInfo(note)));
    const qint64 read = BytesReadSoFar() - before;
    QVERIFY2(read < 1024, qPrintable(QString::number(read)));
}

QTEST_GUILESS_MAIN(tst_PartPrograms)
#include "tst_partprograms.moc"
