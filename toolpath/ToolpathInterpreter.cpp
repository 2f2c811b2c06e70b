#include "ProgramFacts.h"
#include "ProgramLines.h"

#include <QFile>
#include <QHash>
#include <QIODevice>
#include <QVarLengthArray>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

// A reading of NC programs for display and estimates, not for machining: it follows the
// motion it understands and stops, saying where and why, at anything it does not.

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

enum Axis { X = 0, Y = 1, Z = 2 };

bool IsLetter(char c)
{
    return unsigned(static_cast<unsigned char>(c | 0x20)) - 'a' < 26;
}

bool IsDigit(char c)
{
    return unsigned(static_cast<unsigned char>(c)) - '0' < 10;
}

// The words of one block. G and M codes are kept times ten ("G54.1" is 541).
struct Block
{
    QVarLengthArray<int, 8> gCodes;
    QVarLengthArray<int, 8> mCodes;
    quint64 wholeG[2] = {}; // G0 to G127 without a decimal, as bits
    quint32 has = 0;        // letters given, as bits from A
    bool label = false;     // an O-number line
    // Read to its end as plain words with no T or M among them, so it says nothing about tools.
    bool toolFree = false;
    int toolWords = 0; // T words; "T1 M6 T2" has two
    double firstTool = 0;
    int labelNumber = 0;
    QByteArray error; // set when the block cannot be interpreted
    // Only the letters in `has` are set: not cleared for each line, which costs more than the
    // rest of the reading of a short block.
    double value[26];

    Block() {}
    Block(const Block &) = delete;
    Block &operator=(const Block &) = delete;

    bool Has(char letter) const { return (has >> (letter - 'A') & 1) != 0; }
    double Value(char letter) const { return Has(letter) ? value[letter - 'A'] : 0.0; }
    bool HasG(int code) const { return code >= 0 && code < 128 && (wholeG[code / 64] >> (code % 64) & 1) != 0; }
};

// Exact powers of ten: a value of at most 15 digits divided by one of them is the same
// double as when the divisor is built by multiplying by ten.
constexpr double powersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                  1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A number as written: its digits as an integer and how many of them follow the point,
// while that is exact in a double; else only its value.
struct Number
{
    int digits = 0;
    bool exact = true;
    qint64 whole = 0;
    int fraction = 0;
    double value = 0; // when not exact

    // Divided only when used: most blocks begin with a block number that needs no value.
    double Value() const
    {
        if (!exact)
            return value;
        return fraction == 0 ? double(whole) : double(whole) / powersOfTen[fraction];
    }
};

// Reads the digits of a number from line[*at], with an optional fraction. Digits are
// gathered as an integer while it is exact in a double, then as a double.
Number ReadNumber(const char *line, qint64 length, qint64 *at)
{
    Number number;
    qint64 j = *at;
    // At most 15 digits in all on the quick way; a 16th sends the number the long way below.
    qint64 whole = 0;
    const qint64 integerEnd = std::min(length, j + 15);
    while (j < integerEnd && IsDigit(line[j]))
        whole = whole * 10 + (line[j++] - '0');
    int digits = int(j - *at);
    int fraction = 0;
    if (j < length && line[j] == '.' && digits < 15) {
        const qint64 point = j++;
        const qint64 fractionEnd = std::min(length, j + 15 - digits);
        while (j < fractionEnd && IsDigit(line[j]))
            whole = whole * 10 + (line[j++] - '0');
        fraction = int(j - point - 1);
        digits += fraction;
        if (j < length && IsDigit(line[j]))
            j = point;
    }
    if (j >= length || (!IsDigit(line[j]) && line[j] != '.')) {
        *at = j;
        number.digits = digits;
        number.whole = whole;
        number.fraction = fraction;
        return number;
    }
    // Long numbers, digit by digit.
    j = *at;
    whole = 0;
    double mantissa = 0;
    double scale = 1;
    int count = 0;
    const auto addDigit = [&](int digit) {
        if (count < 15)
            whole = whole * 10 + digit;
        else
            mantissa = (count == 15 ? double(whole) : mantissa) * 10 + digit;
        ++count;
    };
    while (j < length && IsDigit(line[j]))
        addDigit(line[j++] - '0');
    if (j < length && line[j] == '.') {
        ++j;
        while (j < length && IsDigit(line[j])) {
            addDigit(line[j++] - '0');
            scale *= 10;
        }
    }
    if (count <= 15)
        mantissa = double(whole);
    *at = j;
    number.exact = false;
    number.digits = count;
    number.value = mantissa / scale;
    return number;
}

// Parses one line into `block` (fresh); comments, block numbers and "%" are dropped.
void ParseBlock(const char *line, qint64 length, Block &block)
{
    qint64 i = 0;
    while (i < length && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    if (i < length && (line[i] == '%' || line[i] == '/'))
        return; // tape marks and skipped blocks
    if (i < length && (line[i] == 'O' || line[i] == 'o' || line[i] == ':')) {
        qint64 j = i + 1;
        int number = 0;
        while (j < length && IsDigit(line[j]) && number < 100000000)
            number = number * 10 + (line[j++] - '0');
        if (j > i + 1) {
            block.label = true;
            block.labelNumber = number;
            return;
        }
    }
    bool toolLetters = false;
    while (i < length) {
        const char c = line[i];
        if (c == ' ') {
            ++i;
            continue;
        }
        if (c == '(') {
            while (i < length && line[i] != ')')
                ++i;
            ++i;
            continue;
        }
        if (c == ';')
            break;
        if (c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '#') {
            block.error = "variable";
            return;
        }
        if (c == '[') {
            block.error = "expression";
            return;
        }
        if (!IsLetter(c)) {
            block.error = QByteArray("unexpected character '") + c + '\'';
            return;
        }
        if (i + 1 < length && IsLetter(line[i + 1])) {
            block.error = "macro statement";
            return;
        }
        const char letter = char(c & ~0x20);
        toolLetters = toolLetters || letter == 'T' || letter == 'M';
        qint64 j = i + 1;
        while (j < length && line[j] == ' ')
            ++j;
        bool negative = false;
        if (j < length && (line[j] == '-' || line[j] == '+'))
            negative = line[j++] == '-';
        if (letter == 'N' && j < length && IsDigit(line[j])) {
            // Block numbers are passed over; their value is never used.
            while (j < length && IsDigit(line[j]))
                ++j;
            if (j < length && line[j] == '.')
                ++j;
            while (j < length && IsDigit(line[j]))
                ++j;
            i = j;
            continue;
        }
        const Number number = ReadNumber(line, length, &j);
        if (number.digits == 0) {
            block.error = j < length && (line[j] == '#' || line[j] == '[') ? QByteArray("variable")
                                                                           : QByteArray("address without a value");
            return;
        }
        i = j;
        if (letter == 'N')
            continue;
        if (letter == 'G' || letter == 'M') {
            // Codes are mostly whole or with one decimal: then the code is the digits as written.
            const bool plain = number.exact && ((number.fraction == 0 && number.whole <= 10000) ||
                                                (number.fraction == 1 && number.whole <= 100000));
            const double value = plain ? 0.0 : negative ? -number.Value() : number.Value();
            if ((plain && negative && number.whole != 0) || value < 0 || value > 10000) {
                block.error = "code out of range";
                return;
            }
            const int code =
                plain ? int(number.fraction == 0 ? number.whole * 10 : number.whole) : int(std::lround(value * 10));
            (letter == 'G' ? block.gCodes : block.mCodes).append(code);
            if (letter == 'G' && code % 10 == 0 && code < 1280)
                block.wholeG[code / 640] |= quint64(1) << (code / 10 % 64);
        } else {
            const double value = negative ? -number.Value() : number.Value();
            if (letter == 'T' && block.toolWords++ == 0)
                block.firstTool = value;
            block.value[letter - 'A'] = value;
            block.has |= quint32(1) << (letter - 'A');
        }
    }
    block.toolFree = !toolLetters;
}

// The least whole number not below a value of 0 to 72.
int RoundUp(double value)
{
    const int whole = int(value);
    return whole < value ? whole + 1 : whole;
}

// The cosines and sines of the quadrant angles as the library computes them (that of pi / 2
// is not quite 0), worked out once.
struct QuadrantAngles
{
    double cosine[4];
    double sine[4];

    QuadrantAngles()
    {
        for (int quadrant = 0; quadrant < 4; ++quadrant) {
            cosine[quadrant] = std::cos(quadrant * pi / 2);
            sine[quadrant] = std::sin(quadrant * pi / 2);
        }
    }
};

const QuadrantAngles &Quadrants()
{
    static const QuadrantAngles angles;
    return angles;
}

// Per-tool figures in order of first use, bounded in the number of tools.
class ToolTable
{
public:
    // The tool's place in the list, added when new; -1 for no tool or a full table.
    int IndexOf(int tool)
    {
        if (tool <= 0)
            return -1;
        const auto found = index.constFind(tool);
        if (found != index.constEnd())
            return *found;
        if (list.size() >= ToolUsageLimits::maxTools)
            return -1;
        index.insert(tool, int(list.size()));
        list.append(ToolFacts());
        list.last().tool = tool;
        return int(list.size() - 1);
    }
    QList<ToolFacts> list;

private:
    QHash<int, int> index;
};

// The two ways a program may change tools are followed side by side; the end of the
// program tells which one it used (M6 anywhere, or turret T words).
struct ToolReading
{
    ToolTable table;
    int current = 0;
    // The figures of `current`, looked up once per change: the table grows only then.
    ToolFacts *currentFacts = nullptr;
    int changes = 0;

    void Select(int tool)
    {
        current = tool;
        const int index = table.IndexOf(tool);
        currentFacts = index < 0 ? nullptr : &table.list[index];
    }
    ToolFacts *Current() const { return currentFacts; }
};

struct Frame
{
    qint64 returnOffset = 0;
    qint64 returnLine = 0;
    qint64 labelOffset = 0;
    qint64 labelLine = 0;
    int remaining = 0;
};

struct Label
{
    qint64 offset = 0; // of the line after the label
    qint64 line = 0;   // its number less one
};

struct RawPoint
{
    PathPoint point;
    qint32 turretTool = 0;
};

class Interpreter
{
public:
    Interpreter(QIODevice &device, const InsightSettings &settings)
        : device(device), settings(settings), lines(device, ToolUsageLimits::maxLineLength)
    {
        path.reserve(ToolpathLimits::maxPathPoints + 1);
    }

    ProgramFacts Run();

private:
    bool ReadLine(qint64 *length, bool *tooLong);
    qint64 Pos() const { return lines.Pos(); }
    void Seek(qint64 to, qint64 number);
    void Feed(qint64 length, const Block *parsed = nullptr);
    void Execute(const Block &block, bool tooLong);
    void Stop(const QByteArray &reason);
    void Finish() { running = false; }

    bool SetModes(const Block &block);
    void ChangeTools(const Block &block);
    void LinearMove(const double target[3], const bool specified[3], PathKind kind);
    void ArcMove(const Block &block, bool clockwise, const double target[3], const bool specified[3]);
    void DrillCycle(const Block &block, int cycle);
    void Account(double length, PathKind kind, double seconds, double effectiveFeed);
    void AddPoint(PathKind kind, bool joined);
    void AddToExtents(const double point[3], const bool known[3]);
    bool FeedTime(double length, double *seconds, double *effectiveFeed);
    void CallSubprogram(const Block &block);
    void ReturnFromSubprogram(const Block &block);
    bool FindLabel(int number, Label *label);
    double Unit() const { return inches ? 25.4 : 1.0; }
    double SketchTolerance() const;
    // The turret reading's current tool; a program with M6 drops that reading at its end.
    ToolFacts *TurretTool() { return sawM6 ? nullptr : byTurret.Current(); }

    QIODevice &device;
    InsightSettings settings;
    ProgramLines lines;
    const char *line = nullptr; // the current line
    ProgramFacts facts;
    ToolUsageReader toolUsage;

    // Reading position; lines up to fedUpTo have been listed for the tools page and labels.
    qint64 offset = 0;
    qint64 lineNumber = 0;
    qint64 fedUpTo = 0;
    qint64 fedLines = 0;
    QHash<int, Label> labels;
    QList<Frame> frames;

    bool running = true;
    bool programStarted = false;

    // Modal state.
    double position[3] = {nan, nan, nan};
    int motion = -1; // G code times ten; -1 before any
    int plane = 170;
    bool planeSet = false;
    bool incremental = false;
    bool inches = false;
    int feedMode = 940;
    bool constantSurfaceSpeed = false;
    bool returnToInitial = true; // G98
    double feed = 0;             // mm per minute or per revolution; inverse time for G93
    double spindle = 0;
    double cycleR = nan;
    double cycleZ = nan;
    double initialZ = nan;

    // Tools.
    ToolReading byM6;
    ToolReading byTurret;
    int selected = 0;
    bool sawM6 = false;
    bool turretForm = false;

    double motionTime = 0;
    QList<RawPoint> path;
    bool pathFull = false;
};

bool Interpreter::ReadLine(qint64 *length, bool *tooLong)
{
    if (!lines.Next(&line, length, tooLong))
        return false;
    offset = lines.LineStart();
    ++lineNumber;
    return true;
}

void Interpreter::Seek(qint64 to, qint64 number)
{
    lines.Seek(to);
    lineNumber = number;
}

// First sight of a line: list its tools and remember its label. `parsed` is the line's block
// when the interpreter has already read it.
void Interpreter::Feed(qint64 length, const Block *parsed)
{
    if (offset != fedUpTo)
        return;
    fedUpTo = Pos();
    fedLines = lineNumber;
    if (!parsed || !parsed->toolFree)
        toolUsage.AddLine(line, length, lineNumber);
    if (parsed && !parsed->label)
        return;
    qint64 i = 0;
    while (i < length && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    if (i < length && (line[i] == 'O' || line[i] == 'o' || line[i] == ':') &&
        labels.size() < ToolpathLimits::maxLabels) {
        Block own;
        if (!parsed)
            ParseBlock(line, length, own);
        const Block &block = parsed ? *parsed : own;
        if (block.label && !labels.contains(block.labelNumber))
            labels.insert(block.labelNumber, Label{fedUpTo, lineNumber});
    }
}

ProgramFacts Interpreter::Run()
{
    if (!device.isReadable()) {
        Stop("cannot read the program");
        return facts;
    }
    offset = fedUpTo = lines.Pos();
    qint64 length = 0;
    bool tooLong = false;
    while (ReadLine(&length, &tooLong)) {
        if (!running) {
            Feed(length);
        } else {
            Block block;
            ParseBlock(line, length, block);
            Feed(length, &block);
            Execute(block, tooLong);
        }
        if (!running && Pos() < fedUpTo)
            Seek(fedUpTo, fedLines); // the rest of the file only for the tools page
    }
    if (running && !frames.isEmpty())
        Stop("end of file inside a subprogram");

    const bool m6 = sawM6;
    ToolReading &reading = m6 ? byM6 : byTurret;
    facts.lathe = !m6 && turretForm;
    facts.tools = reading.table.list;
    facts.toolChanges = reading.changes;
    facts.cycleTimeS = motionTime + facts.toolChanges * settings.toolChangeS;
    facts.toolUsage = toolUsage.Tools();
    facts.toolUsageTruncated = toolUsage.Truncated();
    facts.path.reserve(path.size());
    for (const RawPoint &raw : std::as_const(path)) {
        facts.path.append(raw.point);
        if (!m6)
            facts.path.last().tool = raw.turretTool;
    }
    if (!m6)
        for (HoleMark &hole : facts.holeMarks)
            hole.tool = 0; // the turret tool is not kept per hole; drawn in the neutral colour
    return facts;
}

void Interpreter::Stop(const QByteArray &reason)
{
    if (!running)
        return;
    running = false;
    facts.complete = false;
    facts.stoppedAtLine = lineNumber;
    facts.reason = QString::fromLatin1(reason);
}

bool Interpreter::SetModes(const Block &block)
{
    for (const int code : block.gCodes) {
        switch (code) {
        case 0:
        case 10:
        case 20:
        case 30:
        case 730:
        case 810:
        case 820:
        case 830:
        case 840:
        case 850:
        case 860:
        case 870:
        case 880:
        case 890:
            break; // motion, below
        case 500:
            // Scaling off on a mill, speed limit or coordinate setting on a lathe.
            if (block.Has('X') || block.Has('Y') || block.Has('Z')) {
                Stop("coordinate setting not interpreted");
                return false;
            }
            break;
        case 800:
            motion = -1;
            cycleR = cycleZ = initialZ = nan;
            break;
        case 40:
        case 280:
        case 300:
        case 530:
        case 100:
        case 110:
            break; // non-modal, below
        case 170:
        case 180:
        case 190:
            plane = code;
            planeSet = true;
            break;
        case 200:
            inches = true;
            break;
        case 210:
            inches = false;
            break;
        case 900:
            incremental = false;
            break;
        case 910:
            incremental = true;
            break;
        case 930:
        case 940:
        case 950:
            feedMode = code;
            break;
        case 960:
            constantSurfaceSpeed = true;
            break;
        case 970:
            constantSurfaceSpeed = false;
            break;
        case 980:
            returnToInitial = true;
            break;
        case 990:
            returnToInitial = false;
            break;
        case 540:
        case 550:
        case 560:
        case 570:
        case 580:
        case 590:
        case 541: {
            const QString name = code == 541 ? QStringLiteral("G54.1 P%1").arg(int(block.Value('P')))
                                             : QStringLiteral("G%1").arg(code / 10);
            if (!facts.workOffsets.contains(name))
                facts.workOffsets.append(name);
            break;
        }
        case 150:
        case 400:
        case 410:
        case 420:
        case 430:
        case 440:
        case 490:
        case 501:
        case 610:
        case 640:
        case 690:
        case 211:
        case 201:
            break; // compensation, modes and cancellations that leave the programmed path as it is
        default:
            QByteArray name = "G" + QByteArray::number(code / 10);
            if (code % 10)
                name += "." + QByteArray::number(code % 10);
            Stop(name + " not interpreted");
            return false;
        }
    }
    return true;
}

void Interpreter::ChangeTools(const Block &block)
{
    const bool m6 = block.mCodes.contains(60);
    if (block.toolWords > 0) {
        const double value = block.Value('T');
        if (value < 0 || value > 99999999 || value != std::floor(value)) {
            Stop("tool number not understood");
            return;
        }
        const int word = int(value);
        // "T0101": tool 1, offset 1 (written with three or four digits).
        const bool lathe = word >= 100 && !sawM6 && !m6;
        if (lathe && !turretForm) {
            turretForm = true;
            if (!planeSet)
                plane = 180;
        }
        const int tool = word >= 100 ? word / 100 : word;
        if (tool != 0 && tool != byTurret.current)
            ++byTurret.changes;
        byTurret.Select(tool);
        selected = word;
    }
    if (m6) {
        // "T1 M6 T2" changes to T1 and preselects T2; "M6 T1" changes to T1.
        sawM6 = true;
        const int changedTo = block.toolWords > 0 ? int(block.firstTool) : selected;
        if (changedTo > 0) {
            ++byM6.changes;
            byM6.Select(changedTo);
        }
        selected = block.toolWords > 1 ? int(block.Value('T')) : 0;
    }
}

ProgramFacts Fail(const QString &reason)
{
    ProgramFacts facts;
    facts.complete = false;
    facts.reason = reason;
    return facts;
}

void Interpreter::Execute(const Block &block, bool tooLong)
{
    if (tooLong) {
        Stop("line too long");
        return;
    }
    if (!block.error.isEmpty()) {
        Stop(block.error);
        return;
    }
    if (block.label) {
        // The first O-number names the program; another one at the top level starts the
        // subprograms that follow the main program.
        if (frames.isEmpty() && programStarted)
            Finish();
        programStarted = true;
        return;
    }
    if (!block.gCodes.isEmpty() || !block.mCodes.isEmpty() || block.Has('X') || block.Has('Y') || block.Has('Z'))
        programStarted = true;
    if (block.HasG(65) || block.HasG(66) || block.HasG(67)) {
        Stop("macro call");
        return;
    }
    if (!SetModes(block))
        return;

    const double unit = Unit();
    if (block.Has('F'))
        feed = block.Value('F') * (feedMode == 930 ? 1.0 : unit);
    if (block.Has('S') && !block.HasG(50) && !block.HasG(4)) {
        spindle = block.Value('S');
        if (!constantSurfaceSpeed)
            facts.spindleRpm.Add(spindle);
    }
    ChangeTools(block);
    if (!running)
        return;

    // Words of axes this reading does not follow would move the machine where it cannot see.
    constexpr quint32 otherAxes = 1U << ('A' - 'A') | 1U << ('B' - 'A') | 1U << ('C' - 'A') | 1U << ('U' - 'A') |
                                  1U << ('V' - 'A') | 1U << ('W' - 'A');
    if ((block.has & otherAxes) != 0) {
        for (const char letter : {'A', 'B', 'C', 'U', 'V', 'W'}) {
            if (block.Has(letter)) {
                Stop(QByteArray("axis ") + letter + " not interpreted");
                return;
            }
        }
    }

    for (const int code : block.gCodes) {
        if (code == 40) {
            const double seconds = block.Has('P') ? block.Value('P') : block.Has('X') ? block.Value('X') : 0;
            facts.dwellS += seconds;
            motionTime += seconds;
            if (ToolFacts *tool = byM6.Current())
                tool->timeS += seconds;
            if (ToolFacts *tool = TurretTool())
                tool->timeS += seconds;
        }
    }
    // Reference returns and machine coordinates leave the program's picture as it was.
    const bool nonModalAxes =
        block.HasG(4) || block.HasG(28) || block.HasG(30) || block.HasG(53) || block.HasG(10) || block.HasG(11);

    for (const int code : block.gCodes) {
        if (code == 0 || code == 10 || code == 20 || code == 30 || code == 730 || (code >= 810 && code <= 890)) {
            const bool wasCycle = motion == 730 || (motion >= 810 && motion <= 890);
            const bool isCycle = code == 730 || code >= 810;
            if (isCycle && !wasCycle)
                initialZ = position[Z];
            if (!isCycle)
                cycleR = cycleZ = initialZ = nan;
            motion = code;
        }
    }

    const bool hasAxes = block.Has('X') || block.Has('Y') || block.Has('Z');
    if (!nonModalAxes && (hasAxes || block.Has('R'))) {
        const bool cycle = motion == 730 || (motion >= 810 && motion <= 890);
        if (cycle) {
            DrillCycle(block, motion);
        } else if (hasAxes) {
            double target[3];
            bool specified[3];
            for (int axis = 0; axis < 3; ++axis) {
                const char letter = char('X' + axis);
                specified[axis] = block.Has(letter);
                const double value = block.Value(letter) * unit;
                target[axis] = !specified[axis] ? position[axis] : incremental ? position[axis] + value : value;
            }
            if (motion == 0 || motion == 10)
                LinearMove(target, specified, motion == 0 ? PathKind::Rapid : PathKind::Feed);
            else if (motion == 20 || motion == 30)
                ArcMove(block, motion == 20, target, specified);
            else
                Stop("axis words without a motion mode");
        }
    }
    if (!running)
        return;

    for (const int code : block.mCodes) {
        if (code == 20 || code == 300) {
            Finish();
            return;
        }
        if (code == 980) {
            CallSubprogram(block);
            return;
        }
        if (code == 990) {
            ReturnFromSubprogram(block);
            return;
        }
    }
}

void Interpreter::AddToExtents(const double point[3], const bool known[3])
{
    ToolFacts *m6Tool = byM6.Current();
    ToolFacts *turretTool = TurretTool();
    for (int axis = 0; axis < 3; ++axis) {
        if (!known[axis])
            continue;
        facts.extents.axis[axis].Add(point[axis]);
        if (m6Tool)
            m6Tool->extents.axis[axis].Add(point[axis]);
        if (turretTool)
            turretTool->extents.axis[axis].Add(point[axis]);
    }
}

bool Interpreter::FeedTime(double length, double *seconds, double *effectiveFeed)
{
    switch (feedMode) {
    case 930:
        if (feed <= 0) {
            Stop("inverse-time feed without F");
            return false;
        }
        *seconds = 60.0 / feed;
        *effectiveFeed = length * feed;
        return true;
    case 950:
        if (constantSurfaceSpeed) {
            Stop("feed per revolution under constant surface speed");
            return false;
        }
        *effectiveFeed = feed * spindle;
        break;
    default:
        *effectiveFeed = feed;
        break;
    }
    if (*effectiveFeed <= 0) {
        Stop(feedMode == 950 ? "feed per revolution without spindle speed" : "feed move without a feed rate");
        return false;
    }
    *seconds = length / *effectiveFeed * 60.0;
    return true;
}

void Interpreter::Account(double length, PathKind kind, double seconds, double effectiveFeed)
{
    if (kind == PathKind::Rapid) {
        seconds = length / settings.rapidRateMmPerMin * 60.0;
        facts.rapidLengthMm += length;
    } else {
        facts.feedLengthMm += length;
        facts.feedMmPerMin.Add(effectiveFeed);
    }
    motionTime += seconds;
    for (ToolFacts *tool : {byM6.Current(), TurretTool()}) {
        if (!tool)
            continue;
        (kind == PathKind::Rapid ? tool->rapidLengthMm : tool->feedLengthMm) += length;
        tool->timeS += seconds;
    }
}

// The sketch need not be finer than a small part of the picture: 1/1024 of the extents so
// far, which only grow, so it is never coarser than the extents at the end would allow. X is
// in the view of both kinds of program (XY milling, XZ turning).
double Interpreter::SketchTolerance() const
{
    const auto span = [&](int axis) {
        const AxisRange &range = facts.extents.axis[axis];
        return range.set ? range.max - range.min : 0.0;
    };
    return std::min(std::max(span(X), span(Y)), std::max(span(X), span(Z))) / 1024;
}

void Interpreter::AddPoint(PathKind kind, bool joined)
{
    if (pathFull)
        return;
    if (joined && !path.isEmpty()) {
        const RawPoint &last = path.last();
        const bool likeRun = last.point.joined && last.point.kind == kind && last.point.tool == byM6.current &&
                             last.turretTool == byTurret.current;
        const double tolerance = likeRun ? SketchTolerance() : 0.0;
        // A move that stays within the tolerance of the last kept point of a like run adds
        // nothing the sketch could show.
        if (likeRun && std::fabs(position[X] - last.point.x) < tolerance &&
            std::fabs(position[Y] - last.point.y) < tolerance && std::fabs(position[Z] - last.point.z) < tolerance)
            return;
    }
    if (path.size() >= ToolpathLimits::maxPathPoints) {
        // Thin the sketch out: drop every other point inside runs of like moves. In place: a
        // point is judged by its successor, which has not been overwritten yet.
        RawPoint *points = path.data();
        const qsizetype count = path.size();
        qsizetype kept = 0;
        for (qsizetype i = 0; i < count; ++i) {
            const PathPoint &p = points[i].point;
            const bool edge = i + 1 >= count || !p.joined || !points[i + 1].point.joined ||
                              points[i + 1].point.kind != p.kind || points[i + 1].point.tool != p.tool;
            if (edge || i % 2 == 0)
                points[kept++] = points[i];
        }
        path.resize(kept);
        if (path.size() > ToolpathLimits::maxPathPoints * 3 / 4) {
            pathFull = true;
            return;
        }
    }
    RawPoint raw;
    raw.point.x = float(position[X]);
    raw.point.y = float(position[Y]);
    raw.point.z = float(position[Z]);
    raw.point.tool = byM6.current;
    raw.point.kind = kind;
    raw.point.joined = joined;
    raw.turretTool = byTurret.current;
    path.append(raw);
}

void Interpreter::LinearMove(const double target[3], const bool specified[3], PathKind kind)
{
    bool known = true;
    double sum = 0;
    for (int axis = 0; axis < 3; ++axis) {
        if (!specified[axis])
            continue;
        if (std::isnan(position[axis]) || std::isnan(target[axis]))
            known = false;
        else
            sum += (target[axis] - position[axis]) * (target[axis] - position[axis]);
    }
    const double length = std::sqrt(sum);
    double seconds = 0;
    double effectiveFeed = 0;
    if (known && kind == PathKind::Feed && length > 0 && !FeedTime(length, &seconds, &effectiveFeed))
        return;
    if (known && length > 0)
        Account(length, kind, seconds, effectiveFeed);
    for (int axis = 0; axis < 3; ++axis)
        position[axis] = target[axis];
    const bool knownAxes[3] = {!std::isnan(position[X]), !std::isnan(position[Y]), !std::isnan(position[Z])};
    AddToExtents(position, knownAxes);
    AddPoint(kind, known);
}

void Interpreter::ArcMove(const Block &block, bool clockwise, const double target[3], const bool specified[3])
{
    // The plane's two axes in right-handed order and the axis normal to it.
    const int a = plane == 170 ? X : plane == 180 ? Z : Y;
    const int b = plane == 170 ? Y : plane == 180 ? X : Z;
    const int n = plane == 170 ? Z : plane == 180 ? Y : X;
    const double start[3] = {position[X], position[Y], position[Z]};
    if (std::isnan(start[a]) || std::isnan(start[b]) || (specified[n] && std::isnan(start[n]))) {
        LinearMove(target, specified, PathKind::Feed); // adds nothing but the end point
        return;
    }
    const double unit = Unit();
    const double ea = target[a] - start[a];
    const double eb = target[b] - start[b];
    double ca = 0;
    double cb = 0;
    double radius = 0;
    if (block.Has('R')) {
        const double r = block.Value('R') * unit;
        const double chord = std::hypot(ea, eb);
        if (chord < 1e-9) {
            Stop("full circle given by R");
            return;
        }
        radius = std::fabs(r);
        const double half = chord / 2;
        if (radius < half - 1e-4) {
            Stop("arc radius shorter than half its chord");
            return;
        }
        const double h = std::sqrt(std::max(0.0, radius * radius - half * half));
        // Left of the chord for a short counter-clockwise arc; the other side otherwise.
        const bool left = (!clockwise) == (r > 0);
        const double side = left ? 1.0 : -1.0;
        ca = ea / 2 - side * h * eb / chord;
        cb = eb / 2 + side * h * ea / chord;
    } else {
        const char offsetLetter[3] = {'I', 'J', 'K'};
        ca = block.Value(offsetLetter[a]) * unit;
        cb = block.Value(offsetLetter[b]) * unit;
        radius = std::hypot(ca, cb);
        const double endRadius = std::hypot(ea - ca, eb - cb);
        const double difference = std::fabs(radius - endRadius);
        if (difference > 0.1 && difference > 0.005 * std::max(radius, endRadius)) {
            Stop("arc end not on its circle");
            return;
        }
    }
    const double startAngle = std::atan2(-cb, -ca);
    const double endAngle = std::atan2(eb - cb, ea - ca);
    double sweep = clockwise ? startAngle - endAngle : endAngle - startAngle;
    while (sweep <= 1e-9)
        sweep += 2 * pi;
    if (sweep > 2 * pi + 1e-9)
        sweep -= 2 * pi;
    const double rise = specified[n] ? target[n] - start[n] : 0;
    const double length = std::hypot(radius * sweep, rise);
    double seconds = 0;
    double effectiveFeed = 0;
    if (length > 0 && !FeedTime(length, &seconds, &effectiveFeed))
        return;
    if (length > 0)
        Account(length, PathKind::Feed, seconds, effectiveFeed);

    // Points along the arc for the sketch, no further apart than the sketch can show: the
    // chord may leave the arc by the sketch's tolerance (and by no more than 10 degrees).
    // They are stepped by rotation, so the arc costs one sine and cosine.
    const double centre[2] = {start[a] + ca, start[b] + cb};
    const bool knownAxes[3] = {true, true, true};
    const double direction = clockwise ? -1.0 : 1.0;
    // The step angle 2 sqrt(2 t / r) is a little under 2 acos(1 - t / r), the exact one.
    const double tolerance = SketchTolerance();
    int steps = std::clamp(RoundUp(std::min(sweep * (18 / pi), 72.0)), 2, 72);
    if (tolerance >= radius)
        steps = 1;
    else if (tolerance > 0)
        steps = std::min(steps, std::max(1, RoundUp(std::min(sweep * std::sqrt(radius / (8 * tolerance)), 72.0))));
    if (steps > 1) {
        // At most 10 degrees: a few terms of the series are as exact as the sketch's floats.
        const double turn = direction * sweep / steps;
        const double square = turn * turn;
        const double cosTurn =
            1 - square * (1.0 / 2) * (1 - square * (1.0 / 12) * (1 - square * (1.0 / 30) * (1 - square * (1.0 / 56))));
        const double sinTurn =
            turn * (1 - square * (1.0 / 6) *
                            (1 - square * (1.0 / 20) * (1 - square * (1.0 / 42) * (1 - square * (1.0 / 72)))));
        double va = -ca;
        double vb = -cb;
        for (int step = 1; step < steps; ++step) {
            const double next = va * cosTurn - vb * sinTurn;
            vb = va * sinTurn + vb * cosTurn;
            va = next;
            position[a] = centre[0] + va;
            position[b] = centre[1] + vb;
            position[n] = start[n] + rise * step / steps;
            AddPoint(PathKind::Feed, true);
        }
    }
    const QuadrantAngles &quadrants = Quadrants();
    for (int quadrant = 0; quadrant < 4; ++quadrant) {
        const double angle = quadrant * pi / 2;
        double along = direction > 0 ? angle - startAngle : startAngle - angle;
        while (along < 0)
            along += 2 * pi;
        while (along >= 2 * pi)
            along -= 2 * pi;
        if (along <= sweep) {
            double point[3];
            point[a] = centre[0] + radius * quadrants.cosine[quadrant];
            point[b] = centre[1] + radius * quadrants.sine[quadrant];
            point[n] = start[n] + rise * along / sweep;
            const bool axesKnown[3] = {!std::isnan(point[X]), !std::isnan(point[Y]), !std::isnan(point[Z])};
            AddToExtents(point, axesKnown);
        }
    }
    for (int axis = 0; axis < 3; ++axis)
        position[axis] = target[axis];
    const bool endKnown[3] = {!std::isnan(position[X]), !std::isnan(position[Y]), !std::isnan(position[Z])};
    AddToExtents(position, std::isnan(position[n]) ? endKnown : knownAxes);
    AddPoint(PathKind::Feed, true);
}

void Interpreter::DrillCycle(const Block &block, int cycle)
{
    if (plane != 170) {
        Stop("drilling cycle outside the XY plane");
        return;
    }
    const double unit = Unit();
    if (std::isnan(initialZ))
        initialZ = position[Z];
    if (std::isnan(initialZ)) {
        Stop("drilling cycle from an unknown height");
        return;
    }
    if (block.Has('R'))
        cycleR = incremental ? initialZ + block.Value('R') * unit : block.Value('R') * unit;
    if (block.Has('Z')) {
        if (incremental && std::isnan(cycleR)) {
            Stop("drilling cycle without R");
            return;
        }
        cycleZ = incremental ? cycleR + block.Value('Z') * unit : block.Value('Z') * unit;
    }
    if (std::isnan(cycleR) || std::isnan(cycleZ)) {
        Stop(std::isnan(cycleR) ? "drilling cycle without R" : "drilling cycle without depth");
        return;
    }
    const int repeats = block.Has('L') ? int(block.Value('L')) : block.Has('K') ? int(block.Value('K')) : 1;
    const bool feedOut = cycle == 840 || cycle == 850 || cycle == 890;
    const bool dwells = cycle == 820 || cycle == 840 || cycle == 880 || cycle == 890;
    const double clearance = returnToInitial ? std::max(initialZ, cycleR) : cycleR;
    for (int hole = 0; hole < repeats && running; ++hole) {
        double target[3] = {position[X], position[Y], position[Z]};
        bool specified[3] = {block.Has('X'), block.Has('Y'), false};
        for (int axis = X; axis <= Y; ++axis)
            if (specified[axis]) {
                const double value = block.Value(char('X' + axis)) * unit;
                target[axis] = incremental ? position[axis] + value : value;
            }
        LinearMove(target, specified, PathKind::Rapid);
        const bool onlyZ[3] = {false, false, true};
        target[X] = position[X];
        target[Y] = position[Y];
        target[Z] = cycleR;
        LinearMove(target, onlyZ, PathKind::Rapid);
        target[Z] = cycleZ;
        LinearMove(target, onlyZ, PathKind::Feed);
        if (!running)
            return;
        if (dwells && block.Has('P')) {
            facts.dwellS += block.Value('P');
            motionTime += block.Value('P');
        }
        ++facts.holes;
        if (facts.holeMarks.size() < ToolpathLimits::maxHoleMarks && !std::isnan(position[X]) &&
            !std::isnan(position[Y]))
            facts.holeMarks.append(
                HoleMark{float(position[X]), float(position[Y]), float(cycleZ), qint32(byM6.current)});
        target[Z] = cycleR;
        LinearMove(target, onlyZ, feedOut ? PathKind::Feed : PathKind::Rapid);
        if (clearance > cycleR) {
            target[Z] = clearance;
            LinearMove(target, onlyZ, PathKind::Rapid);
        }
    }
}

bool Interpreter::FindLabel(int number, Label *label)
{
    auto found = labels.constFind(number);
    if (found == labels.constEnd()) {
        // Not seen yet: read on from the first unread line, listing as we go.
        Seek(fedUpTo, fedLines);
        qint64 length = 0;
        bool tooLong = false;
        while (!labels.contains(number) && ReadLine(&length, &tooLong))
            Feed(length);
        found = labels.constFind(number);
        if (found == labels.constEnd())
            return false;
    }
    *label = *found;
    return true;
}

void Interpreter::CallSubprogram(const Block &block)
{
    if (!block.Has('P')) {
        Stop("subprogram call without P");
        return;
    }
    if (device.isSequential()) {
        Stop("subprogram call in a program that cannot be read again");
        return;
    }
    if (frames.size() >= ToolpathLimits::maxSubprogramDepth) {
        Stop("subprograms nested too deep");
        return;
    }
    int number = int(block.Value('P'));
    int count = block.Has('L') ? int(block.Value('L')) : 1;
    if (number > 9999 && !block.Has('L')) {
        // "P30100": three times O0100.
        count = number / 10000;
        number %= 10000;
    }
    if (count <= 0)
        return;
    Frame frame;
    frame.returnOffset = Pos();
    frame.returnLine = lineNumber;
    frame.remaining = count - 1;
    Label label;
    if (!FindLabel(number, &label)) {
        Seek(frame.returnOffset, frame.returnLine);
        Stop(QByteArray("subprogram O") + QByteArray::number(number) + " not in this file");
        return;
    }
    frame.labelOffset = label.offset;
    frame.labelLine = label.line;
    frames.append(frame);
    Seek(label.offset, label.line);
}

void Interpreter::ReturnFromSubprogram(const Block &block)
{
    if (frames.isEmpty()) {
        Finish(); // the main program's end (it would start again)
        return;
    }
    if (block.Has('P')) {
        Stop("return to a block number");
        return;
    }
    Frame &frame = frames.last();
    if (frame.remaining > 0) {
        --frame.remaining;
        Seek(frame.labelOffset, frame.labelLine);
        return;
    }
    const Frame done = frames.takeLast();
    Seek(done.returnOffset, done.returnLine);
}

} // namespace

ProgramFacts ReadProgramFacts(QIODevice &program, const InsightSettings &settings)
{
    InsightSettings checked = settings;
    if (!(checked.rapidRateMmPerMin > 0))
        checked.rapidRateMmPerMin = InsightSettings().rapidRateMmPerMin;
    if (!(checked.toolChangeS >= 0))
        checked.toolChangeS = InsightSettings().toolChangeS;
    Interpreter interpreter(program, checked);
    return interpreter.Run();
}

ProgramFacts ReadProgramFacts(const QString &path, const InsightSettings &settings)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Fail(QStringLiteral("cannot read the program"));
    return ReadProgramFacts(file, settings);
}
