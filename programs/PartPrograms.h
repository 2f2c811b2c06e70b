#pragma once

#include <QFileInfo>
#include <QString>

// Recognition of part programs by name and content. The tests read a file only as far as
// they need to decide.

// The number written at `position` of `text`, or -1 when there is none or it overflows.
int ReadNumberAt(const QString &text, int position);

// G-code: a G or M word (or the tutorial marker) before the first line that starts with a
// non-ASCII character.
bool IsNCProgramText(const QFileInfo &file);

// A ".CNV" file with whole lines "N1" and "N2".
bool IsCONVProgramFile(const QFileInfo &file);

// Either test, or a file without suffix whose "<path>.CNV" companion is conversational.
bool IsPartProgramFile(const QFileInfo &file);
