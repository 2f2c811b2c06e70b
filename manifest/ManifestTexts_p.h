#pragma once

#include "cManifestItem.h"

#include <QString>
#include <QStringView>

// The texts keyed by eMetadataType. Every text is static data: an entry that holds one
// shares it instead of carrying its own copy.
namespace ManifestTexts {

QString Category(eMetadataType type);
QString Tab(eMetadataType type);
QString FileType(eMetadataType type);
// The fixed automatic comment; empty for the program kinds, whose comment carries a time.
QString FixedComment(eMetadataType type);
QString Author(eMetadataType type);
bool Hidden(eMetadataType type);
bool ReadOnly(eMetadataType type);

// The kind named by a category text (exact, with case); Unknown when none.
eMetadataType KindOfCategory(QStringView category);

bool IsProgram(eMetadataType type);
// "Program Created "
QString ProgramCreatedPrefix();

// The text as a string, sharing the static copy when it is one of the automatic texts.
QString Shared(QStringView text);

} // namespace ManifestTexts
