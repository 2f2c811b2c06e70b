#include "ToolUsage.h"

#include "ProgramLines.h"

#include <QByteArray>
#include <QHash>
#include <QIODevice>
#include <QStringDecoder>
#include <QVarLengthArray>

#include <limits>

namespace {

// A T word of one block, with the number of digits as written ("T0101" has four).
struct ToolWord
{
    int value = 0;
    int digits = 0;
};

// What one block (line) says about tools. The comment is kept as where it lies in the line
// and joined only for a block that calls a tool.
struct Block
{
    struct Span
    {
        const char *begin;
        qint64 length;
    };
    QVarLengthArray<Span, 2> comments;
    QVarLengthArray<ToolWord, 2> toolWords;
    bool changesTool = false; // M6 in the block

    // All comments of the block, joined by a space.
    QByteArray Comment() const
    {
        QByteArray joined;
        for (const Span &span : comments) {
            if (!joined.isEmpty())
                joined += ' ';
            joined.append(span.begin, span.length);
        }
        return joined;
    }
};

bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Whether the line holds a T or an M at all; most lines of a program hold neither.
bool MayNameTools(const char *line, qint64 length)
{
    for (qint64 i = 0; i < length; ++i) {
        const char upper = char(line[i] & ~0x20);
        if (upper == 'T' || upper == 'M')
            return true;
    }
    return false;
}

// Splits one line into the words that matter here. Only single letters count as addresses,
// so keywords such as GOTO or WHILE never yield a T word.
void ScanBlock(const char *line, qint64 length, Block &block)
{
    qint64 i = 0;
    while (i < length) {
        const char c = line[i];
        if (c == '(') {
            qint64 end = i + 1;
            while (end < length && line[end] != ')')
                ++end;
            if (end - i - 1 > 0)
                block.comments.append({line + i + 1, end - i - 1});
            i = end + 1;
        } else if (c == ';') {
            if (length - i - 1 > 0)
                block.comments.append({line + i + 1, length - i - 1});
            break;
        } else if (c == '[') {
            // Expressions: a T in "[#1GT10]" is an operator, not a tool.
            int depth = 0;
            while (i < length) {
                if (line[i] == '[')
                    ++depth;
                else if (line[i] == ']' && --depth == 0)
                    break;
                ++i;
            }
            ++i;
        } else if (c == '"' || c == '\'') {
            qint64 end = i + 1;
            while (end < length && line[end] != c)
                ++end;
            i = end + 1;
        } else if (IsLetter(c)) {
            qint64 runEnd = i + 1;
            while (runEnd < length && IsLetter(line[runEnd]))
                ++runEnd;
            const bool address = runEnd == i + 1;
            const bool valueFollows = runEnd < length && IsDigit(line[runEnd]);
            if (!address || !valueFollows) {
                i = runEnd;
                continue;
            }
            const char letter = char(c & ~0x20);
            qint64 j = runEnd;
            qint64 value = 0;
            int digits = 0;
            int significant = 0;
            while (j < length && IsDigit(line[j])) {
                if (significant > 0 || line[j] != '0')
                    ++significant;
                if (significant <= 9)
                    value = value * 10 + (line[j] - '0');
                ++digits;
                ++j;
            }
            bool whole = true;
            if (j < length && line[j] == '.') {
                ++j;
                while (j < length && IsDigit(line[j])) {
                    if (line[j] != '0')
                        whole = false;
                    ++j;
                }
            }
            i = j;
            if (!whole || significant > 9)
                continue;
            if (letter == 'M' && value == 6)
                block.changesTool = true;
            else if (letter == 'T')
                block.toolWords.append({int(value), digits});
        } else {
            ++i;
        }
    }
}

QString DescriptionText(const QByteArray &comment)
{
    if (comment.isEmpty())
        return QString();
    QString text = ProgramTextForDisplay(comment).simplified();
    if (text.size() > ToolUsageLimits::maxDescriptionLength)
        text.truncate(ToolUsageLimits::maxDescriptionLength);
    return text;
}

// Tools in order of first call, keyed by tool number.
class ToolList
{
public:
    void Call(int tool, int offset, qint64 line, const QByteArray &comment)
    {
        const auto found = indexOfTool.constFind(tool);
        if (found == indexOfTool.constEnd()) {
            if (tools.size() >= ToolUsageLimits::maxTools) {
                truncated = true;
                return;
            }
            ToolUse use;
            use.tool = tool;
            use.offset = offset;
            use.description = DescriptionText(comment);
            use.firstLine = line;
            use.calls = 1;
            indexOfTool.insert(tool, int(tools.size()));
            tools.append(use);
            return;
        }
        ToolUse &use = tools[*found];
        if (use.calls < std::numeric_limits<int>::max())
            ++use.calls;
        if (use.description.isEmpty())
            use.description = DescriptionText(comment);
    }

    bool IsEmpty() const { return tools.isEmpty(); }
    QList<ToolUse> Tools() const { return tools; }
    bool Truncated() const { return truncated; }

private:
    QList<ToolUse> tools;
    bool truncated = false;
    QHash<int, int> indexOfTool;
};

} // namespace

// Both readings are kept in one pass; the end of the program tells which applies.
struct ToolUsageReader::State
{
    ToolList changedByM6;
    ToolList turret;
    int selectedTool = -1;
    QByteArray selectedComment;
    int turretTool = -1;
};

ToolUsageReader::ToolUsageReader() : state(std::make_unique<State>()) {}
ToolUsageReader::~ToolUsageReader() = default;

void ToolUsageReader::AddLine(const char *line, qint64 length, qint64 lineNumber)
{
    if (!MayNameTools(line, length))
        return;
    State &s = *state;
    Block block;
    ScanBlock(line, length, block);
    if (block.toolWords.isEmpty() && !block.changesTool)
        return;
    const QByteArray comment = block.Comment();
    for (const ToolWord &word : block.toolWords) {
        const bool latheForm = word.digits >= 3;
        const int tool = latheForm ? word.value / 100 : word.value;
        const int offset = latheForm ? word.value % 100 : -1;
        if (tool != 0 && tool != s.turretTool)
            s.turret.Call(tool, offset, lineNumber, comment);
        s.turretTool = tool;
    }
    if (block.changesTool) {
        // "T1 M6 T2" changes to T1 and preselects T2; "M6 T1" changes to T1.
        int changedTo = s.selectedTool;
        QByteArray changeComment = comment.isEmpty() ? s.selectedComment : comment;
        if (!block.toolWords.isEmpty()) {
            changedTo = block.toolWords.first().value;
            changeComment = comment;
        }
        if (changedTo > 0)
            s.changedByM6.Call(changedTo, -1, lineNumber, changeComment);
        s.selectedTool = block.toolWords.size() > 1 ? block.toolWords.last().value : -1;
        s.selectedComment = comment;
    } else if (!block.toolWords.isEmpty()) {
        s.selectedTool = block.toolWords.last().value;
        s.selectedComment = comment;
    }
}

QList<ToolUse> ToolUsageReader::Tools() const
{
    return state->changedByM6.IsEmpty() ? state->turret.Tools() : state->changedByM6.Tools();
}

bool ToolUsageReader::Truncated() const
{
    return state->changedByM6.IsEmpty() ? state->turret.Truncated() : state->changedByM6.Truncated();
}

QString ProgramTextForDisplay(const QByteArray &bytes)
{
    // The one place where program text is decoded for display here; to be replaced by the
    // programs subsystem's shared decoder.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder windows1252("windows-1252", QStringDecoder::Flag::Stateless);
    if (windows1252.isValid())
        return windows1252.decode(bytes);
    return QString::fromLatin1(bytes);
}

QList<ToolUse> ParseToolUsage(QIODevice &program)
{
    if (!program.isReadable())
        return {};
    ToolUsageReader reader;
    ProgramLines lines(program, ToolUsageLimits::maxLineLength);
    const char *line = nullptr;
    qint64 length = 0;
    bool tooLong = false;
    qint64 lineNumber = 0;
    while (lines.Next(&line, &length, &tooLong))
        reader.AddLine(line, length, ++lineNumber);
    return reader.Tools();
}
