#include "ToolUsage.h"

#include <QByteArray>
#include <QHash>
#include <QIODevice>
#include <QStringDecoder>

#include <limits>

namespace {

// A T word of one block, with the number of digits as written ("T0101" has four).
struct ToolWord
{
    int value = 0;
    int digits = 0;
};

// What one block (line) says about tools.
struct Block
{
    QByteArray comment; // all comments of the block, joined by a space
    QList<ToolWord> toolWords;
    bool changesTool = false; // M6 in the block
};

bool IsLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

void AppendComment(Block &block, const char *begin, qint64 length)
{
    if (length <= 0)
        return;
    if (!block.comment.isEmpty())
        block.comment += ' ';
    block.comment.append(begin, length);
}

// Splits one line into the words that matter here. Only single letters count as addresses,
// so keywords such as GOTO or WHILE never yield a T word.
Block ScanBlock(const char *line, qint64 length)
{
    Block block;
    qint64 i = 0;
    while (i < length) {
        const char c = line[i];
        if (c == '(') {
            qint64 end = i + 1;
            while (end < length && line[end] != ')')
                ++end;
            AppendComment(block, line + i + 1, end - i - 1);
            i = end + 1;
        } else if (c == ';') {
            AppendComment(block, line + i + 1, length - i - 1);
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
    return block;
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
    State &s = *state;
    const Block block = ScanBlock(line, length);
    for (const ToolWord &word : block.toolWords) {
        const bool latheForm = word.digits >= 3;
        const int tool = latheForm ? word.value / 100 : word.value;
        const int offset = latheForm ? word.value % 100 : -1;
        if (tool != 0 && tool != s.turretTool)
            s.turret.Call(tool, offset, lineNumber, block.comment);
        s.turretTool = tool;
    }
    if (block.changesTool) {
        // "T1 M6 T2" changes to T1 and preselects T2; "M6 T1" changes to T1.
        int changedTo = s.selectedTool;
        QByteArray comment = block.comment.isEmpty() ? s.selectedComment : block.comment;
        if (!block.toolWords.isEmpty()) {
            changedTo = block.toolWords.first().value;
            comment = block.comment;
        }
        if (changedTo > 0)
            s.changedByM6.Call(changedTo, -1, lineNumber, comment);
        s.selectedTool = block.toolWords.size() > 1 ? block.toolWords.last().value : -1;
        s.selectedComment = block.comment;
    } else if (!block.toolWords.isEmpty()) {
        s.selectedTool = block.toolWords.last().value;
        s.selectedComment = block.comment;
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
    QByteArray buffer(ToolUsageLimits::maxLineLength + 1, Qt::Uninitialized);
    qint64 lineNumber = 0;
    bool insideLongLine = false;
    for (;;) {
        const qint64 read = program.readLine(buffer.data(), buffer.size());
        if (read <= 0)
            break;
        const bool endsLine = buffer.at(read - 1) == '\n';
        const bool skip = insideLongLine;
        insideLongLine = !endsLine;
        if (skip)
            continue;
        ++lineNumber;

        qint64 length = read;
        while (length > 0 && (buffer.at(length - 1) == '\n' || buffer.at(length - 1) == '\r'))
            --length;
        reader.AddLine(buffer.constData(), length, lineNumber);
    }
    return reader.Tools();
}
