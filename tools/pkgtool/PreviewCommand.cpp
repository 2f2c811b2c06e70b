#include "CommandLine.h"
#include "Commands.h"
#include "Console.h"
#include "PackageViews.h"

#include "ProgramPreview.h"

#include <QFile>
#include <QJsonArray>

namespace {

QJsonArray Triple(const Extents &extents, bool max)
{
    QJsonArray values;
    for (const AxisRange &axis : extents.axis)
        values.append(axis.set ? QJsonValue(max ? axis.max : axis.min) : QJsonValue());
    return values;
}

QJsonObject ExtentsJson(const Extents &extents)
{
    return QJsonObject{{QStringLiteral("min"), Triple(extents, false)}, {QStringLiteral("max"), Triple(extents, true)}};
}

QJsonValue RangeJson(const AxisRange &range)
{
    return range.set ? QJsonValue(QJsonArray{range.min, range.max}) : QJsonValue();
}

bool ReadNumber(const Invocation &invocation, const QString &option, double *value)
{
    if (!invocation.Has(option))
        return true;
    bool ok = false;
    *value = invocation.Value(option).toDouble(&ok);
    return ok && *value >= 0;
}

} // namespace

QJsonObject PackageViews::ProgramFactsJson(const ProgramFacts &facts)
{
    QJsonArray tools;
    for (const ToolFacts &tool : facts.tools) {
        const AxisRange &z = tool.extents.axis[2];
        tools.append(QJsonObject{{QStringLiteral("tool"), tool.tool},
                                 {QStringLiteral("min_z"), z.set ? QJsonValue(z.min) : QJsonValue()},
                                 {QStringLiteral("extents"), ExtentsJson(tool.extents)},
                                 {QStringLiteral("feed_length_mm"), tool.feedLengthMm},
                                 {QStringLiteral("rapid_length_mm"), tool.rapidLengthMm},
                                 {QStringLiteral("time_s"), tool.timeS}});
    }
    QJsonObject object{{QStringLiteral("complete"), facts.complete},
                       {QStringLiteral("lathe"), facts.lathe},
                       {QStringLiteral("extents"), ExtentsJson(facts.extents)},
                       {QStringLiteral("cycle_time_s"), facts.cycleTimeS},
                       {QStringLiteral("rapid_length_mm"), facts.rapidLengthMm},
                       {QStringLiteral("feed_length_mm"), facts.feedLengthMm},
                       {QStringLiteral("dwell_s"), facts.dwellS},
                       {QStringLiteral("tool_changes"), facts.toolChanges},
                       {QStringLiteral("holes"), facts.holes},
                       {QStringLiteral("feed_mm_per_min"), RangeJson(facts.feedMmPerMin)},
                       {QStringLiteral("spindle_rpm"), RangeJson(facts.spindleRpm)},
                       {QStringLiteral("work_offsets"), QJsonArray::fromStringList(facts.workOffsets)},
                       {QStringLiteral("tools"), tools}};
    if (!facts.complete) {
        object.insert(QStringLiteral("stopped_at_line"), facts.stoppedAtLine);
        object.insert(QStringLiteral("reason"), facts.reason);
    }
    return object;
}

using namespace PackageViews;

namespace Commands {

int Preview(const Invocation &invocation)
{
    InsightSettings settings;
    if (!ReadNumber(invocation, QStringLiteral("rapid-rate"), &settings.rapidRateMmPerMin) ||
        settings.rapidRateMmPerMin <= 0)
        return invocation.UsageError(QStringLiteral("--rapid-rate takes a positive number of mm/min"));
    if (!ReadNumber(invocation, QStringLiteral("tool-change"), &settings.toolChangeS))
        return invocation.UsageError(QStringLiteral("--tool-change takes a number of seconds"));

    const QString path = invocation.args.at(0);
    QFile program(path);
    if (!program.open(QIODevice::ReadOnly))
        return Console::Fail(QStringLiteral("cannot read the program"), path);
    const ProgramFacts facts = ReadProgramFacts(program, settings);

    if (invocation.Has(QStringLiteral("json"))) {
        Console::OutLines(JsonText(ProgramFactsJson(facts)));
    } else {
        const QJsonObject object = ProgramFactsJson(facts);
        const char *names[] = {"X", "Y", "Z"};
        for (int axis = 0; axis < 3; ++axis) {
            const AxisRange &range = facts.extents.axis[axis];
            Console::Out(QStringLiteral("%1 %2").arg(
                QLatin1String(names[axis]),
                range.set ? QStringLiteral("%1 .. %2 mm").arg(range.min).arg(range.max) : QStringLiteral("not set")));
        }
        Console::Out(QStringLiteral("cycle time %1 s (feed %2 mm, rapid %3 mm, %4 tool changes)")
                         .arg(facts.cycleTimeS, 0, 'f', 1)
                         .arg(facts.feedLengthMm, 0, 'f', 1)
                         .arg(facts.rapidLengthMm, 0, 'f', 1)
                         .arg(facts.toolChanges));
        for (const ToolFacts &tool : facts.tools)
            Console::Out(
                QStringLiteral("T%1 lowest Z %2, path %3 mm, %4 s")
                    .arg(tool.tool)
                    .arg(tool.extents.axis[2].set ? QString::number(tool.extents.axis[2].min) : QStringLiteral("-"))
                    .arg(tool.feedLengthMm + tool.rapidLengthMm, 0, 'f', 1)
                    .arg(tool.timeS, 0, 'f', 1));
        if (!facts.workOffsets.isEmpty())
            Console::Out(QStringLiteral("work offsets ") + facts.workOffsets.join(QLatin1String(", ")));
        if (!facts.complete)
            Console::Out(QStringLiteral("partial: stopped at line %1: %2").arg(facts.stoppedAtLine).arg(facts.reason));
    }

    if (invocation.Has(QStringLiteral("out"))) {
        const QString out = invocation.Value(QStringLiteral("out"));
        const QImage picture = ProgramPreview::Draw(facts);
        if (picture.isNull())
            return Console::Fail(QStringLiteral("nothing to draw: the program has no motion in the picture's plane"),
                                 path);
        if (!ProgramPreview::Save(picture, out))
            return Console::Fail(QStringLiteral("cannot write the picture"), out);
    }
    return Console::Success;
}

} // namespace Commands
