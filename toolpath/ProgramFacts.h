#pragma once

#include "ToolUsage.h"
#include "packagemetadata_export.h"

#include <QList>
#include <QString>
#include <QStringList>

class QIODevice;

// What the toolpath interpreter learns from an NC program: the figures shown on the pages,
// the tools page's rows and a bounded sketch of the path for the overview picture.
// Lengths are in millimetres, times in seconds, positions in program coordinates.

struct AxisRange
{
    double min = 0;
    double max = 0;
    bool set = false;

    void Add(double value)
    {
        if (!set || value < min)
            min = value;
        if (!set || value > max)
            max = value;
        set = true;
    }
};

struct Extents
{
    AxisRange axis[3]; // X, Y, Z
};

struct ToolFacts
{
    int tool = 0;
    Extents extents;
    double feedLengthMm = 0;
    double rapidLengthMm = 0;
    double timeS = 0; // motion and dwells while the tool is in use
};

enum class PathKind : quint8 { Rapid, Feed };

// One point of the sketch; `joined` tells whether a move of `kind` leads to it from the
// point before. An axis the program has not set yet is NaN.
struct PathPoint
{
    float x = 0;
    float y = 0;
    float z = 0;
    qint32 tool = 0;
    PathKind kind = PathKind::Rapid;
    bool joined = false;
};

struct HoleMark
{
    float x = 0;
    float y = 0;
    float z = 0; // bottom of the hole
    qint32 tool = 0;
};

struct InsightSettings
{
    double rapidRateMmPerMin = 10000;
    double toolChangeS = 5;
};

struct ProgramFacts
{
    bool complete = true;     // false when the interpreter stopped early
    qint64 stoppedAtLine = 0; // 1-based line where it stopped
    QString reason;           // why it stopped
    bool lathe = false;       // turret tools ("T0101"): drawn in the XZ plane
    Extents extents;          // all motion except reference returns
    QList<ToolFacts> tools;   // in order of first use
    QStringList workOffsets;  // "G54" ... in order of first use
    AxisRange feedMmPerMin;   // effective feed of feed moves
    AxisRange spindleRpm;     // programmed speeds under G97
    double rapidLengthMm = 0;
    double feedLengthMm = 0;
    double dwellS = 0;
    int toolChanges = 0;
    double cycleTimeS = 0;
    qint64 holes = 0;

    QList<ToolUse> toolUsage;        // the tools page's rows, in order of first call in the file
    bool toolUsageTruncated = false; // more tools than ToolUsageLimits::maxTools

    QList<PathPoint> path;     // bounded: long programs are thinned out
    QList<HoleMark> holeMarks; // bounded: the first holes only

    bool HasMotion() const { return rapidLengthMm > 0 || feedLengthMm > 0 || holes > 0; }
};

// Reads the program once from its current position to its end. Subprograms of the same file
// are followed by seeking, so a sequential device stops at the first call.
PACKAGEMETADATA_EXPORT ProgramFacts ReadProgramFacts(QIODevice &program, const InsightSettings &settings = {});
// The same for a file; a file that cannot be read gives incomplete facts saying so.
PACKAGEMETADATA_EXPORT ProgramFacts ReadProgramFacts(const QString &path, const InsightSettings &settings = {});

namespace ToolpathLimits {
constexpr int maxPathPoints = 1 << 16;
constexpr int maxHoleMarks = 4096;
constexpr int maxSubprogramDepth = 8;
constexpr int maxLabels = 10000;
} // namespace ToolpathLimits
