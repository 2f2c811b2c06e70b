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

static void Row(const char *name, const QByteArray &program, const char *expected)
{
    QTest::newRow(name) << program << QString::fromUtf8(expected);
}

class tst_ToolUsage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void forms_data()
    {
        QTest::addColumn<QByteArray>("program");
        QTest::addColumn<QString>("expected");
        Row("M06 T01, no spaces", "N10M06T01(DRILL 5)\n", "1 -1 1 1 DRILL 5");
        Row("preselection counts at its M6", "M6\nT1 M6\nT2\nG1 X10.\nM6\nT1\nM6\n", "1 -1 2 2, 2 -1 5 1");
        Row("lowercase, CRLF", "t2 m6 (small)\r\nt3\r\nm06\r\n", "2 -1 1 1 small, 3 -1 3 1");
        Row("lathe offsets", "T0101 (OD ROUGH)\nG0 X50.\nT0100\nT0202 (OD FINISH)\nT0200\nT0101\n",
            "1 1 1 2 OD ROUGH, 2 2 4 1 OD FINISH");
        Row("T in comments", "T1 M6 ; T7 NEXT\n(T3 M6\nT4 M6\n", "1 -1 1 1 T7 NEXT, 4 -1 3 1");
        Row("keywords and text", "GOTO10\nWHILE[#2LT5]DO1\nMSG(\"T5 LOAD\")\nMSG \"T5 M6\"\nT6 M6\n", "6 -1 5 1");
        Row("odd T words", "T1.5 M6\nT-2 M6\nT#3 M6\nT12345678901 M6\nT3. M6\n", "3 -1 5 1");
        Row("Latin-1 comment", "T1 M6 (\xD8 20 MILL)\n", "1 -1 1 1 \xC3\x98 20 MILL");
        // Only the start of an endless line is read; the lines after it keep their numbers.
        Row("endless line", "T1 M6\n" + QByteArray(3 * ToolUsageLimits::maxLineLength, 'X') + " T9 M6\nT2 M6\n",
            "1 -1 1 1, 2 -1 3 1");
        Row("milling program",
            "%\nO1234 (BRACKET)\n(T20 IS NOT USED)\nN10 T3 M6 (D50 FACE MILL)\nT12\nG1 X130. F800\nN20 M6 (D10 END "
            "MILL)\n"
            "T7\nN30 T07 M06 ; D6.8 DRILL\nN40 T3 M6\nN50 M06 T12 (FINISH PASS)\nM30\n%\n",
            "3 -1 4 2 D50 FACE MILL, 12 -1 7 2 D10 END MILL, 7 -1 9 1 D6.8 DRILL");
    }

    void forms()
    {
        QFETCH(QByteArray, program);
        QTEST(Tools(program), "expected");
    }
};

QTEST_GUILESS_MAIN(tst_ToolUsage)
#include "tst_toolusage.moc"
