#include "ToolUsage.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTest>

namespace {

// "tool offset firstLine calls description", offset "-" when not given.
QStringList Describe(const QList<ToolUse> &tools)
{
    QStringList lines;
    for (const ToolUse &use : tools) {
        const QString offset = use.offset < 0 ? QStringLiteral("-") : QString::number(use.offset);
        lines << QStringLiteral("%1 %2 %3 %4 %5")
                     .arg(use.tool)
                     .arg(offset)
                     .arg(use.firstLine)
                     .arg(use.calls)
                     .arg(use.description)
                     .trimmed();
    }
    return lines;
}

QList<ToolUse> Parse(const QByteArray &program)
{
    QBuffer buffer;
    buffer.setData(program);
    if (!buffer.open(QIODevice::ReadOnly))
        return {};
    return ParseToolUsage(buffer);
}

} // namespace

class tst_ToolUsage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void forms_data();
    void forms();
    void longLineKeepsLineNumbers();
    void latin1Comment();
    void unopenedDeviceGivesNothing();
    void garbageNeverCrashes();
};

void tst_ToolUsage::forms_data()
{
    QTest::addColumn<QByteArray>("program");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("T1 M6 in one block") << QByteArray("%\nT1 M6 (FACE MILL)\n%\n") << QStringList{"1 - 2 1 FACE MILL"};
    QTest::newRow("M06 T01") << QByteArray("M06 T01 (DRILL 5)\n") << QStringList{"1 - 1 1 DRILL 5"};
    QTest::newRow("no spaces") << QByteArray("N10M6T12(CHAMFER)\n") << QStringList{"12 - 1 1 CHAMFER"};
    QTest::newRow("T alone, M6 later; T block's comment")
        << QByteArray("T5 (TAP M8)\nG0 X0 Y0\nM6\n") << QStringList{"5 - 3 1 TAP M8"};
    QTest::newRow("comment of the M6 block wins")
        << QByteArray("T5 (TAP M8)\nM6 (TAPPING)\n") << QStringList{"5 - 2 1 TAPPING"};
    QTest::newRow("preselected next tool counts at its M6")
        << QByteArray("T1 M6\nT2\nG1 X10.\nM6\nT1\nM6\n") << QStringList{"1 - 1 2", "2 - 4 1"};
    QTest::newRow("M6 without a selected tool") << QByteArray("M6\nG0 X0\nT3 M6\nM6\n") << QStringList{"3 - 3 1"};
    QTest::newRow("description from a later call")
        << QByteArray("T1 M6\nT1 M6 (END MILL)\n") << QStringList{"1 - 1 2 END MILL"};
    QTest::newRow("lowercase, CRLF") << QByteArray("t2 m6 (small)\r\nt3\r\nm06\r\n")
                                     << QStringList{"2 - 1 1 small", "3 - 3 1"};
    QTest::newRow("lathe form with offset changes")
        << QByteArray("T0101 (OD ROUGH)\nG0 X50.\nT0100\nT0202 (OD FINISH)\nT0200\nT0101\n")
        << QStringList{"1 1 1 2 OD ROUGH", "2 2 4 1 OD FINISH"};
    QTest::newRow("short T words on a turret") << QByteArray("T1\nT1\nT2\n") << QStringList{"1 - 1 1", "2 - 3 1"};
    QTest::newRow("T in parentheses") << QByteArray("(USE T9 AFTER T1 M6)\nT1 M6\n") << QStringList{"1 - 2 1"};
    QTest::newRow("T after semicolon") << QByteArray("T1 M6 ; T7 NEXT\nM6\n") << QStringList{"1 - 1 1 T7 NEXT"};
    QTest::newRow("unclosed parenthesis ends at the line") << QByteArray("(T3 M6\nT4 M6\n") << QStringList{"4 - 2 1"};
    QTest::newRow("keywords and expressions")
        << QByteArray("GOTO10\nIF[#1GT10]GOTO20\nWHILE[#2LT5]DO1\nMSG(\"T5 LOAD\")\nT6 M6\n") << QStringList{"6 - 5 1"};
    QTest::newRow("quoted text") << QByteArray("MSG \"T5 M6\"\nT6 M6\n") << QStringList{"6 - 2 1"};
    QTest::newRow("fractional, negative and variable T")
        << QByteArray("T1.5 M6\nT-2 M6\nT#3 M6\nT3. M6\n") << QStringList{"3 - 4 1"};
    QTest::newRow("oversized tool number") << QByteArray("T12345678901 M6\nT7 M6\n") << QStringList{"7 - 2 1"};
    QTest::newRow("no tools") << QByteArray("G0 X0 Y0\nM30\n") << QStringList{};
    QTest::newRow("empty program") << QByteArray() << QStringList{};

    QTest::newRow("realistic milling program")
        << QByteArray("%\n"
                      "O1234 (BRACKET)\n"
                      "(T20 IS NOT USED)\n"
                      "G90 G54 G17 G40 G80\n"
                      "N10 T3 M6 (D50 FACE MILL)\n"
                      "T12\n"
                      "S2500 M3\n"
                      "G0 X-30. Y0\n"
                      "G43 H3 Z5. M8\n"
                      "G1 Z0. F800\n"
                      "X130.\n"
                      "G0 Z50.\n"
                      "N20 M6 (D10 END MILL)\n"
                      "T7\n"
                      "G43 H12 Z5.\n"
                      "G41 D12 G1 X0 Y0 F400\n"
                      "N30 T07 M06 ; D6.8 DRILL\n"
                      "G81 X10. Y10. Z-15. R2. F150\n"
                      "G80\n"
                      "N40 T3 M6\n"
                      "G0 Z50.\n"
                      "N50 M06 T12 (FINISH PASS)\n"
                      "M30\n"
                      "%\n")
        << QStringList{"3 - 5 2 D50 FACE MILL", "12 - 13 2 D10 END MILL", "7 - 17 1 D6.8 DRILL"};
}

void tst_ToolUsage::forms()
{
    QFETCH(QByteArray, program);
    QFETCH(QStringList, expected);
    QCOMPARE(Describe(Parse(program)), expected);
}

void tst_ToolUsage::longLineKeepsLineNumbers()
{
    // Only the first part of an endless line is read; the lines after it keep their numbers.
    QByteArray program = "T1 M6\n" + QByteArray(3 * ToolUsageLimits::maxLineLength, 'X') + " T9 M6\nT2 M6\n";
    QCOMPARE(Describe(Parse(program)), (QStringList{"1 - 1 1", "2 - 3 1"}));
}

void tst_ToolUsage::latin1Comment()
{
    const QList<ToolUse> tools = Parse(QByteArray("T1 M6 (\xD8 20 MILL)\n"));
    QCOMPARE(tools.size(), 1);
    QCOMPARE(tools.first().description, QString::fromUtf8("\xC3\x98 20 MILL"));
}

void tst_ToolUsage::unopenedDeviceGivesNothing()
{
    QBuffer buffer;
    buffer.setData("T1 M6\n");
    QVERIFY(ParseToolUsage(buffer).isEmpty());
}

void tst_ToolUsage::garbageNeverCrashes()
{
    QRandomGenerator random(20261206);
    for (int round = 0; round < 20; ++round) {
        QByteArray bytes(64 * 1024, Qt::Uninitialized);
        for (char &c : bytes) {
            // Bias towards the characters the scanner reacts to.
            static const char interesting[] = "TtMm6061([;)\"]#.-\n\r 0123456789";
            c = random.bounded(3) == 0 ? char(random.bounded(256))
                                       : interesting[random.bounded(int(sizeof(interesting) - 1))];
        }
        const QList<ToolUse> tools = Parse(bytes);
        QVERIFY(tools.size() <= ToolUsageLimits::maxTools);
        for (const ToolUse &use : tools) {
            QVERIFY(use.firstLine > 0);
            QVERIFY(use.calls > 0);
            QVERIFY(use.tool > 0);
            QVERIFY(use.description.size() <= ToolUsageLimits::maxDescriptionLength);
        }
    }
}

QTEST_GUILESS_MAIN(tst_ToolUsage)
#include "tst_toolusage.moc"
