#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <memory>

class QIODevice;

// One tool that an NC program calls.
struct ToolUse
{
    int tool = 0;         // tool number
    int offset = -1;      // offset number of the lathe form "T0101"; -1 when not given
    QString description;  // comment of the first tool-change block that has one
    qint64 firstLine = 0; // 1-based line of the first call
    int calls = 0;        // how often the tool is called
};

// Lists the tools of an NC program in order of first use, reading the program line by line.
//
// A program with M6 anywhere changes tools with M6: a T word only selects the next tool
// ("T1 M6", "M06 T01", "T5" then "M6" later), and the call is counted at the M6. A program
// without M6 indexes a turret with the T word itself; there "T0101" (three or four digits)
// means tool 1 with offset 1, and naming the tool already in use again (an offset change
// such as "T0100") is not a new call. Text in parentheses or after ";" is a comment; a T
// inside it does not count. Lines longer than maxLineLength bytes are read up to that length.
[[nodiscard]] QList<ToolUse> ParseToolUsage(QIODevice &program);

// The same reading fed one line at a time, so that another reader of the program (the
// toolpath interpreter) can list the tools in the same pass. Lines come without their end.
class ToolUsageReader
{
public:
    ToolUsageReader();
    ~ToolUsageReader();
    ToolUsageReader(const ToolUsageReader &) = delete;
    ToolUsageReader &operator=(const ToolUsageReader &) = delete;

    void AddLine(const char *line, qint64 length, qint64 lineNumber);
    [[nodiscard]] QList<ToolUse> Tools() const;
    // True when tools beyond ToolUsageLimits::maxTools were left out.
    [[nodiscard]] bool Truncated() const;

private:
    struct State;
    std::unique_ptr<State> state;
};

// Program text for people: UTF-8 where the bytes are valid UTF-8, else Windows-1252.
QString ProgramTextForDisplay(const QByteArray &bytes);

namespace ToolUsageLimits {
constexpr qint64 maxLineLength = 4096;
constexpr int maxTools = 10000; // distinct tools kept; the rest of a hostile input is ignored
constexpr int maxDescriptionLength = 200;
} // namespace ToolUsageLimits
