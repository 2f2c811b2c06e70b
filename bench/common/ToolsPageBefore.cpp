// The tools page's reading of a program as it was before the toolpath reading existed
// (QIODevice::readLine per line, each line scanned whole), kept as the benchmarks' reference.
#include "ToolsPageBefore.h"

#include "ToolUsage.h"

#include <QByteArray>
#include <QHash>
#include <QIODevice>
#include <QStringDecoder>

#include <limits>

namespace ToolsPageBefore {

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
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(comment);
    if (decoder.hasError())
        text = QString::fromLatin1(comment);
    text = text.simplified();
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
            if (tools.size() >= ToolUsageLimits::maxTools)
                return;
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

private:
    QList<ToolUse> tools;
    QHash<int, int> indexOfTool;
};

} // namespace

QList<ToolUse> ParseToolUsage(QIODevice &program)
{
    if (!program.isReadable())
        return {};

    // Both readings are kept in one pass; the end of the program tells which applies.
    ToolList changedByM6;
    ToolList turret;
    int selectedTool = -1;
    QByteArray selectedComment;
    int turretTool = -1;

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
        const Block block = ScanBlock(buffer.constData(), length);

        for (const ToolWord &word : block.toolWords) {
            selectedTool = word.value;
            selectedComment = block.comment;

            const bool latheForm = word.digits >= 3;
            const int tool = latheForm ? word.value / 100 : word.value;
            const int offset = latheForm ? word.value % 100 : -1;
            if (tool != 0 && tool != turretTool)
                turret.Call(tool, offset, lineNumber, block.comment);
            turretTool = tool;
        }
        if (block.changesTool && selectedTool > 0) {
            changedByM6.Call(selectedTool, -1, lineNumber, block.comment.isEmpty() ? selectedComment : block.comment);
            selectedTool = -1;
        }
    }
    return changedByM6.IsEmpty() ? turret.Tools() : changedByM6.Tools();
}

} // namespace ToolsPageBefore
