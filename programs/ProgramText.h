#pragma once

#include <QByteArrayList>
#include <QByteArrayView>
#include <QString>
#include <QStringConverter>
#include <QStringList>

#include <optional>

// How the bytes of a part program become text wherever a program is read for display.
namespace ProgramText {

// UTF-16 (either byte order) when the bytes start with its byte-order mark, which is
// dropped. Otherwise UTF-8 when the bytes are valid UTF-8 (a UTF-8 mark is dropped), else
// Windows-1252, the control's 8-bit code page.
QString Decode(QByteArrayView bytes);

// Lines of one 8-bit program, decoded alike: UTF-8 when all of them are valid UTF-8,
// else Windows-1252.
QStringList DecodeLines(const QByteArrayList &lines);

// The UTF-16 byte order a program's first bytes announce with a byte-order mark.
std::optional<QStringConverter::Encoding> Utf16ByteOrder(QByteArrayView firstBytes);

} // namespace ProgramText
