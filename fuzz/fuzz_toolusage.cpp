// The tool-list builder on arbitrary program text: the parser, then the whole page.
#include "FuzzFile.h"
#include "MetadataGenerator.h"
#include "ToolUsage.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FuzzFile program(QStringLiteral("PROG.NC"));
    static const QString page = program.Folder() + QLatin1String("/PROG.tools.html");
    static MetadataGenerator generator;

    QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<int>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const QList<ToolUse> tools = ParseToolUsage(buffer);
    for (const ToolUse &use : tools) {
        if (use.calls < 1 || use.firstLine < 1)
            __builtin_trap(); // every listed tool was called somewhere
    }

    const QFileInfo ncProgram(program.Write(data, size));
    QFile::remove(page);
    generator.UpdateToolsFile(QStringLiteral("PROG"), QFileInfo(page), ncProgram);
    return 0;
}
