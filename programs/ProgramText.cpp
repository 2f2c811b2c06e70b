#include "programs/ProgramText.h"

#include <QStringDecoder>

namespace ProgramText {

namespace {

// Windows-1252 differs from Latin-1 only in 0x80-0x9F. The five codes it leaves undefined
// pass through as the C1 controls, as Windows itself decodes them.
constexpr char16_t Windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QString DecodeWindows1252(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char byte : bytes) {
        const auto code = static_cast<unsigned char>(byte);
        *out++ = QChar(code >= 0x80 && code < 0xA0 ? Windows1252High[code - 0x80] : char16_t(code));
    }
    return text;
}

} // namespace

std::optional<QStringConverter::Encoding> Utf16ByteOrder(QByteArrayView firstBytes)
{
    if (firstBytes.size() < 2)
        return std::nullopt;
    const auto first = static_cast<unsigned char>(firstBytes.at(0));
    const auto second = static_cast<unsigned char>(firstBytes.at(1));
    if (first == 0xFF && second == 0xFE)
        return QStringConverter::Utf16LE;
    if (first == 0xFE && second == 0xFF)
        return QStringConverter::Utf16BE;
    return std::nullopt;
}

QString Decode(QByteArrayView bytes)
{
    if (const auto utf16 = Utf16ByteOrder(bytes)) {
        QStringDecoder decoder(*utf16, QStringConverter::Flag::Stateless);
        return decoder.decode(bytes.sliced(2));
    }
    // Stateless: a sequence cut off at the end is an error, not held back.
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return DecodeWindows1252(bytes);
}

QStringList DecodeLines(const QByteArrayList &lines)
{
    QStringList decoded;
    decoded.reserve(lines.size());
    bool utf8Valid = true;
    for (const QByteArray &line : lines) {
        QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        decoded.append(utf8.decode(line));
        if (utf8.hasError()) {
            utf8Valid = false;
            break;
        }
    }
    if (utf8Valid)
        return decoded;
    decoded.clear();
    for (const QByteArray &line : lines)
        decoded.append(DecodeWindows1252(line));
    return decoded;
}

} // namespace ProgramText
