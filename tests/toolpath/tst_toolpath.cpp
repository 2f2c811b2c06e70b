#include "ProgramFacts.h"
#include "ToolUsage.h"

#include <QBuffer>
#include <QTest>

// "tool offset firstLine calls description" per tool (offset -1 when not given), joined by ", ".
static QString Tools(QByteArray program)
{
    QBuffer buffer(&program);
    buffer.open(QIODevice::ReadOnly);
    QStringList tools;
    for (const ToolUse &use : ParseToolUsage(buffer))
        tools << QString::asprintf("%d %d %lld %d %s", use.tool, use.offset, use.firstLine, use.calls,
                                   qPrintable(use.description))
                     .trimmed();
    return tools.join(QLatin1String(", "));
}

// "extents | rapid feed time | tools | end": lengths in mm, time in s; an unset axis is "-".
static QString Summary(QByteArray program)
{
    QBuffer buffer(&program);
    buffer.open(QIODevice::ReadOnly);
    const ProgramFacts facts = ReadProgramFacts(buffer);
    const auto range = [](const AxisRange &r) {
        return r.set ? QString::asprintf("%g..%g", r.min, r.max) : QStringLiteral("-");
    };
    const auto round = [](double v) { return QString::number(std::round(v * 1000) / 1000, 'f', 3); };
    QStringList tools;
    for (const ToolFacts &tool : facts.tools)
        tools << QStringLiteral("T%1@%2").arg(tool.tool).arg(range(tool.extents.axis[2]));
    return QStringLiteral("%1 %2 %3 | %4 %5 %6 | %7 | %8")
        .arg(range(facts.extents.axis[0]), range(facts.extents.axis[1]), range(facts.extents.axis[2]),
             round(facts.rapidLengthMm), round(facts.feedLengthMm), round(facts.cycleTimeS), tools.join(' '),
             facts.complete ? (facts.lathe ? QStringLiteral("lathe") : QStringLiteral("whole"))
                            : QStringLiteral("line %1: %2").arg(facts.stoppedAtLine).arg(facts.reason));
}

class tst_Toolpath : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The tools page's rows: which tool is called where, and what the program calls it.
    void toolUsage_data()
    {
        QTest::addColumn<QByteArray>("program");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QByteArray &program, const char *expected) {
            QTest::newRow(name) << program << QString::fromUtf8(expected);
        };
        row("M06 T01, no spaces", "N10M06T01(DRILL 5)\n", "1 -1 1 1 DRILL 5");
        row("preselection counts at its M6", "M6\nT1 M6\nT2\nG1 X10.\nM6\nT1\nM6\n", "1 -1 2 2, 2 -1 5 1");
        row("lowercase, CRLF", "t2 m6 (small)\r\nt3\r\nm06\r\n", "2 -1 1 1 small, 3 -1 3 1");
        row("lathe offsets", "T0101 (OD ROUGH)\nG0 X50.\nT0100\nT0202 (OD FINISH)\nT0200\nT0101\n",
            "1 1 1 2 OD ROUGH, 2 2 4 1 OD FINISH");
        row("T in comments", "T1 M6 ; T7 NEXT\n(T3 M6\nT4 M6\n", "1 -1 1 1 T7 NEXT, 4 -1 3 1");
        row("keywords and text", "GOTO10\nWHILE[#2LT5]DO1\nMSG(\"T5 LOAD\")\nMSG \"T5 M6\"\nT6 M6\n", "6 -1 5 1");
        row("odd T words", "T1.5 M6\nT-2 M6\nT#3 M6\nT12345678901 M6\nT3. M6\n", "3 -1 5 1");
        row("Latin-1 comment", "T1 M6 (\xD8 20 MILL)\n", "1 -1 1 1 \xC3\x98 20 MILL");
        // Only the start of an endless line is read; the lines after it keep their numbers.
        row("endless line", "T1 M6\n" + QByteArray(3 * ToolUsageLimits::maxLineLength, 'X') + " T9 M6\nT2 M6\n",
            "1 -1 1 1, 2 -1 3 1");
        row("milling program",
            "%\nO1234 (BRACKET)\n(T20 IS NOT USED)\nN10 T3 M6 (D50 FACE MILL)\nT12\nG1 X130. F800\nN20 M6 (D10 END "
            "MILL)\n"
            "T7\nN30 T07 M06 ; D6.8 DRILL\nN40 T3 M6\nN50 M06 T12 (FINISH PASS)\nM30\n%\n",
            "3 -1 4 2 D50 FACE MILL, 12 -1 7 2 D10 END MILL, 7 -1 9 1 D6.8 DRILL");
    }

    void toolUsage()
    {
        QFETCH(QByteArray, program);
        QTEST(Tools(program), "expected");
    }

    void programs_data()
    {
        QTest::addColumn<QByteArray>("program");
        QTest::addColumn<QString>("expected");
        // 46 mm at 100 mm/min, 6 mm rapid, one tool change of 5 s.
        QTest::newRow("square") << QByteArray("%\nO1 (SQUARE)\nG21 G90 G17 G54\nT1 M6\nG0 X0 Y0 Z5\nG1 Z-1 F100\nX10\n"
                                              "Y10\nX0\nY0 ; back\nG0 Z5\nM30\n%\n")
                                << "0..10 0..10 -1..5 | 6.000 46.000 32.636 | T1@-1..5 | whole";
        QTest::newRow("full circle by I J") << QByteArray("G0 X10 Y0 Z0\nG2 X10 Y0 I-10 J0 F600\n")
                                            << "-10..10 -10..10 0..0 | 0.000 62.832 6.283 |  | whole";
        QTest::newRow("full circle by R") << QByteArray("G0 X10 Y0 Z0\nG2 X-10 R10 F600\nX10 R10\n")
                                          << "-10..10 -10..10 0..0 | 0.000 62.832 6.283 |  | whole";
        QTest::newRow("long arc by negative R")
            << QByteArray("G0 X10 Y0 Z0\nG3 X0 Y10 R-10 F600\n") << "0..20 0..20 0..0 | 0.000 47.124 4.712 |  | whole";
        QTest::newRow("helix") << QByteArray("G0 X10 Y0 Z0\nG3 X10 Y0 Z-5 I-10 J0 F100\n")
                               << "-10..10 -10..10 -5..0 | 0.000 63.030 37.818 |  | whole";
        QTest::newRow("incremental pattern")
            << QByteArray("G90 G0 X0 Y0 Z0\nG91 G1 X10 F1000\nX10\nX10\nG28 Z0\nG90 G0 X0\n")
            << "0..30 0..0 0..0 | 30.000 30.000 1.980 |  | whole";
        QTest::newRow("inch") << QByteArray("G20 G0 X0 Y0 Z0\nG1 X1 F10\n")
                              << "0..25.4 0..0 0..0 | 0.000 25.400 6.000 |  | whole";
        QTest::newRow("drilling G98") << QByteArray("G0 X0 Y0 Z10\nG98 G81 X10 Y0 Z-5 R2 F100\nX20\nG80\n")
                                      << "0..20 0..0 -5..10 | 66.000 14.000 8.796 |  | whole";
        QTest::newRow("drilling G99") << QByteArray("G0 X0 Y0 Z10\nG99 G81 X10 Y0 Z-5 R2 F100\nX20\nG80\n")
                                      << "0..20 0..0 -5..10 | 42.000 14.000 8.652 |  | whole";
        QTest::newRow("lathe profile")
            << QByteArray("T0101\nG97 S1000 M3\nG0 X20 Z2\nG95 G1 Z0 F0.1\nG3 X25 Z-5 R5\nG1 Z-20\nG0 X50\nZ2\nM30\n")
            << "20..50 - -20..2 | 47.000 24.854 20.194 | T1@-20..2 | lathe";
        QTest::newRow("subprogram called twice")
            << QByteArray("O1000\nG0 X0 Y0 Z0\nM98 P2000\nM98 P2000\nM30\nO2000\nG91 G1 X10 F600\nG90\nM99\n%\n")
            << "0..20 0..0 0..0 | 0.000 20.000 2.000 |  | whole";
        QTest::newRow("stop at a macro") << QByteArray("G0 X0 Y0 Z0\nG1 X10 F600\n#1=5\nG1 X20\n")
                                         << "0..10 0..0 0..0 | 0.000 10.000 1.000 |  | line 3: variable";
        QTest::newRow("unknown axis") << QByteArray("G0 X0 Y0 Z0\nG1 A90 F100\n")
                                      << "0..0 0..0 0..0 | 0.000 0.000 0.000 |  | line 2: axis A not interpreted";
        QTest::newRow("missing subprogram")
            << QByteArray("G0 X0 Y0 Z0\nM98 P7\nG0 X5\n")
            << "0..0 0..0 0..0 | 0.000 0.000 0.000 |  | line 2: subprogram O7 not in this file";
        QTest::newRow("two tools, T1 M6 T2")
            << QByteArray("T1 M6 T2\nG0 X0 Y0 Z5\nG1 Z-2 F700\nG0 Z5\nM6\nG1 Z-8\nG0 Z5\n")
            << "0..0 0..0 -8..5 | 20.000 20.000 11.834 | T1@-2..5 T2@-8..5 | whole";
        // Lines are kept up to 4096 bytes; a longer one stops the reading.
        const QByteArray start("G0 X0 Y0 Z0\nG1 X10 F600\n");
        QTest::newRow("longest line") << start + "G1 X20" + QByteArray(4089, ' ') + "\nX30\n"
                                      << "0..30 0..0 0..0 | 0.000 30.000 3.000 |  | whole";
        QTest::newRow("line too long") << start + "G1 X20" + QByteArray(4090, ' ') + "\nX30\n"
                                       << "0..10 0..0 0..0 | 0.000 10.000 1.000 |  | line 3: line too long";
        QTest::newRow("last line too long, no end")
            << start + "G1 X20" + QByteArray(9000, ' ')
            << "0..10 0..0 0..0 | 0.000 10.000 1.000 |  | line 3: line too long";
        // The subprogram lies further on than one read of the file reaches.
        QTest::newRow("subprogram far ahead")
            << QByteArray("G0 X0 Y0 Z0\nM98 P100\nG1 X30 F600\nM30\n") + QByteArray("(PADDING)\n").repeated(20000) +
                   "O100\nG1 X10 F600\nM99\n"
            << "0..30 0..0 0..0 | 0.000 30.000 3.000 |  | whole";
    }

    void programs()
    {
        QFETCH(QByteArray, program);
        QTEST(Summary(program), "expected");
    }
};

QTEST_GUILESS_MAIN(tst_Toolpath)
#include "tst_toolpath.moc"
