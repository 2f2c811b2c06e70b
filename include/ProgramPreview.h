#pragma once

#include "ProgramFacts.h"
#include "packagemanager_export.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

// Pictures of a program's toolpath: feed moves solid in one colour per tool, rapids thin and
// dashed, drilled holes as marks; seen from the top for milling programs and in the XZ plane
// for lathe programs, scaled to fit, with the extents' dimensions written on it.
namespace ProgramPreview {

// The size of the overview picture (that of the placeholder it replaces).
constexpr QSize overviewSize(160, 120);

// A null picture when the program has no motion in the picture's plane.
PACKAGEMANAGER_EXPORT QImage Draw(const ProgramFacts &facts, const QSize &size = overviewSize);

// The picture as a GIF of a few fixed colours; empty on failure.
PACKAGEMANAGER_EXPORT QByteArray EncodeGif(const QImage &picture);

// Writes the picture atomically, as GIF or PNG by the name's suffix.
PACKAGEMANAGER_EXPORT bool Save(const QImage &picture, const QString &path);

// The overview's GIF bytes for a program, or empty when there is nothing to draw.
PACKAGEMANAGER_EXPORT QByteArray OverviewGif(const ProgramFacts &facts);

} // namespace ProgramPreview
