// Part-program recognition on arbitrary file contents, under both kinds of name.
#include "FuzzFile.h"
#include "programs/PartPrograms.h"

#include <QFileInfo>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FuzzFile ncFile(QStringLiteral("PROG"));
    static FuzzFile convFile(QStringLiteral("PROG.CNV"));
    const QFileInfo nc(ncFile.Write(data, size));
    const QFileInfo conv(convFile.Write(data, size));
    (void)IsPartProgramFile(nc);
    (void)IsPartProgramFile(conv);
    (void)IsNCProgramText(nc);
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<int>(size));
    for (int position = 0; position < qMin(8, text.size() + 1); ++position)
        (void)ReadNumberAt(text, position);
    return 0;
}
